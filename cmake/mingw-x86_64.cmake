# Cross toolchain: 64-bit Windows (x86_64) with mingw-w64, run under Wine's 64-bit loader.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
# The posix thread model gives the tests and benchmarks std::thread and std::mutex;
# the library itself calls the Win32 API directly.
set(CMAKE_C_COMPILER   ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_AR           ${TOOLCHAIN_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       ${TOOLCHAIN_PREFIX}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Debian's `wine` command starts the 32-bit loader first, which fails on machines that cannot
# run 32-bit code: 64-bit programs go to wine64 by its full path (it is not on PATH).
find_program(WINE64_EXECUTABLE NAMES wine64
             PATHS /usr/lib/wine /usr/lib/x86_64-linux-gnu/wine /opt/wine-stable/bin REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE64_EXECUTABLE})
