# Toolchain file: 32-bit Windows (x86) with MinGW-w64 (Debian:
# g++-mingw-w64-i686-posix).  Programs built here run under 32-bit Wine.
#
#   cmake -B build/mingw-x86 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(KAVLIB_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
