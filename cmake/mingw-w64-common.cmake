# What the MinGW-w64 toolchain files share; each sets SMFDUMP_MINGW_PREFIX and CMAKE_SYSTEM_PROCESSOR
# first. The top-level CMakeLists.txt links MinGW builds statically, so smfdump.exe needs no DLLs.
set(CMAKE_SYSTEM_NAME Windows)

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
