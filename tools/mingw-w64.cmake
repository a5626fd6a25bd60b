# Cross build for 64-bit Windows with the MinGW-w64 toolchain:
#   cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=tools/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QLR_MINGW_PREFIX x86_64-w64-mingw32)
# The POSIX thread model: GoogleTest needs std::mutex, which the win32
# thread model of this GCC lacks. -static links winpthread in as well.
set(CMAKE_C_COMPILER ${QLR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QLR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QLR_MINGW_PREFIX}-windres)

# Headers and libraries from the target's sysroot only; build tools from
# the host.
set(CMAKE_FIND_ROOT_PATH /usr/${QLR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
