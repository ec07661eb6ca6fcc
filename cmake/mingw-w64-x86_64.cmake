# Cross-builds 64-bit Windows programs with Debian's mingw-w64 GCC, posix threads variant
# (g++-mingw-w64-x86-64-posix): the win32 variant has no std::thread or std::mutex. The
# programs it builds run here under Wine (wine-run.sh beside this file), which is how CTest
# runs the tests.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QIM_MINGW_TARGET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QIM_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QIM_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${QIM_MINGW_TARGET}-windres)

# Libraries and headers come from the target's tree only; programs run at build time are this
# machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${QIM_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh")
