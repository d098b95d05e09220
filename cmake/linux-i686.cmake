# Toolchain file: 32-bit x86 Linux with the host's GCC in -m32 mode (Debian:
# g++-multilib).
#
#   cmake -B build/linux-x86 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i686.cmake
#   cmake -B build/linux-x86 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i686.cmake \
#         -DKAVLIB_LINUX32_EMULATOR=qemu-i386
#
# Declared as a cross build, so that nothing runs the new programs while they
# are built (tests are listed when CTest runs them).  Some x86-64 kernels
# cannot execute 32-bit programs; KAVLIB_LINUX32_EMULATOR then names a
# user-mode emulator (Debian: qemu-user's qemu-i386) that CTest and the test
# listing run every program through.  Empty: run them natively.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
# Search the 32-bit library directories, never the 64-bit ones.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(FIND_LIBRARY_USE_LIB64_PATHS OFF)

set(KAVLIB_LINUX32_EMULATOR "" CACHE STRING "Emulator that runs the 32-bit test programs (empty: natively)")
if(KAVLIB_LINUX32_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KAVLIB_LINUX32_EMULATOR})
else()
  unset(CMAKE_CROSSCOMPILING_EMULATOR)
endif()
