# Cross-compiling the 32-bit Windows host with mingw-w64 (Debian's
# g++-mingw-w64-i686-posix). Only the posix thread variant has std::thread
# and std::mutex, so it is named directly.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

# Dependencies built for this target by tools/windows-deps.sh.
set(VORNETH_WINDOWS_DEPS "" CACHE PATH "Prefix holding the Windows builds of the dependencies")
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32 ${VORNETH_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A static runtime: the executable imports system libraries only.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and tools run on the build machine and drive the .exe under wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
