# What the two mingw-w64 toolchain files share. Each sets before including
# it: VORNETH_MINGW_TARGET (the compiler's target triple) and
# VORNETH_MINGW_EMULATOR (the wine loader that runs the target's programs).
# Only the posix thread variant of Debian's cross compilers has std::thread
# and std::mutex, so it is named directly.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VORNETH_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORNETH_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${VORNETH_MINGW_TARGET}-windres)

# Dependencies built for this target by tools/windows-deps.sh.
set(VORNETH_WINDOWS_DEPS "" CACHE PATH "Prefix holding the Windows builds of the dependencies")
set(CMAKE_FIND_ROOT_PATH /usr/${VORNETH_MINGW_TARGET} ${VORNETH_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A static runtime: the executable imports system libraries only.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and tools run on the build machine and drive the .exe under wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${VORNETH_MINGW_EMULATOR})
