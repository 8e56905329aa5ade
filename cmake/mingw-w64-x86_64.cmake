# Cross-compiling for 64-bit Windows with Debian's mingw-w64 tool chain.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZELK_MINGW_PREFIX x86_64-w64-mingw32)
# Debian ships the compiler in two flavours. The "posix" one carries
# std::mutex and std::thread, which GoogleTest needs for the Windows port
# tests; the manager uses neither, and with -static nothing of the thread
# library ends up as a DLL. Take the posix flavour when it is there.
find_program(ZELK_MINGW_CXX NAMES ${ZELK_MINGW_PREFIX}-g++-posix ${ZELK_MINGW_PREFIX}-g++ REQUIRED)
# C is needed only by third-party code built alongside (GoogleTest declares it).
find_program(ZELK_MINGW_CC NAMES ${ZELK_MINGW_PREFIX}-gcc-posix ${ZELK_MINGW_PREFIX}-gcc REQUIRED)
set(CMAKE_CXX_COMPILER ${ZELK_MINGW_CXX})
set(CMAKE_C_COMPILER ${ZELK_MINGW_CC})
find_program(CMAKE_RC_COMPILER NAMES ${ZELK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZELK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests that run a built program do so under Wine.
find_program(ZELK_WINE NAMES wine64 wine)
if(ZELK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZELK_WINE})
endif()
