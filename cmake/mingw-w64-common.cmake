# Shared part of the MinGW-w64 toolchain files; KAVLIB_MINGW_TRIPLET names the
# target.  The -posix compilers (POSIX thread model) are the ones GoogleTest
# builds with.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KAVLIB_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KAVLIB_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KAVLIB_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KAVLIB_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built for Windows run under Wine here: CTest and GoogleTest's test
# discovery go through it.  Debian keeps the loaders in /usr/lib/wine: wine64
# for 64-bit programs and wine (from wine32) for 32-bit ones.  The generic
# "wine" command is not taken for 32-bit programs on purpose: without the
# 32-bit loader it hands them to wine64, which runs nothing and exits 0.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    find_program(KAVLIB_WINE NAMES wine64 wine PATHS /usr/lib/wine /usr/lib64/wine)
  else()
    find_program(KAVLIB_WINE NAMES wine PATHS /usr/lib/wine /usr/lib/i386-linux-gnu/wine NO_DEFAULT_PATH)
  endif()
  if(KAVLIB_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KAVLIB_WINE})
  endif()
endif()
