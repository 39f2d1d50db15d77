# Cross build for 32-bit Windows (i686), the home platform, with MinGW-w64 on Debian (package
# g++-mingw-w64-i686):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
#   cmake --build build-win -j2
set(CMAKE_SYSTEM_PROCESSOR i686)
set(SMFDUMP_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
