# Cross build for 64-bit Windows (x86_64) with MinGW-w64 on Debian (package g++-mingw-w64-x86-64).
# The same code as the 32-bit build; .ci/windows runs it under wine64 on a machine whose kernel can't
# run 32-bit programs, where 32-bit Wine does not start.
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SMFDUMP_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
