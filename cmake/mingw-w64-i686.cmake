# Cross build for 32-bit Windows (i686) with MinGW-w64 on Debian (package g++-mingw-w64-i686):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake -DBUILD_TESTING=OFF
#   cmake --build build-win -j2
# The top-level CMakeLists.txt links MinGW builds statically, so build-win/smfdump.exe needs no DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(SMFDUMP_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${SMFDUMP_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${SMFDUMP_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${SMFDUMP_MINGW_PREFIX}-windres)

# Libraries and headers come from the MinGW tree only; programs run at build time are the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${SMFDUMP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows programs built here run under Wine (tests added with add_test run through it).
find_program(SMFDUMP_WINE wine)
if(SMFDUMP_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SMFDUMP_WINE})
endif()
