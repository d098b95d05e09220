# Toolchain file: 64-bit Windows (x86-64) with MinGW-w64 (Debian:
# g++-mingw-w64-x86-64-posix).  Programs built here run under Wine.
#
#   cmake -B build/mingw-x64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(KAVLIB_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
