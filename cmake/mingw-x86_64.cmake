# Cross-compiling the 64-bit Windows host with mingw-w64 (Debian's
# g++-mingw-w64-x86-64-posix). Its programs run under wine's 64-bit loader,
# which works where the kernel runs no 32-bit program; Debian installs it
# as /usr/lib/wine/wine64 and puts no wine64 on the PATH.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VORNETH_MINGW_TARGET x86_64-w64-mingw32)
set(VORNETH_MINGW_EMULATOR /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
