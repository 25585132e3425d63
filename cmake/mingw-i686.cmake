# Cross-compiling the 32-bit Windows host, the one users install, with
# mingw-w64 (Debian's g++-mingw-w64-i686-posix). Its programs run under
# wine's 32-bit loader, which needs a kernel that runs 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VORNETH_MINGW_TARGET i686-w64-mingw32)
set(VORNETH_MINGW_EMULATOR wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
