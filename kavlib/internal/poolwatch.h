// kavlib internal: the hooks through which memory checkers watch the pools.
//
// The allocator core calls these hooks at each step; which watchers exist is
// decided when the library is configured (<kavlib/config.h>), and CMake
// compiles the source file of each watcher that is on:
//   poolcheck.cpp     KAVLIB_CHECKED: a table of live pieces, misuse reports
//   poolasan.cpp      AddressSanitizer builds: free memory is poisoned
//   poolvalgrind.cpp  KAVLIB_VALGRIND: each pool a memcheck memory pool
// A watcher that is off is an empty inline function here, so a plain build
// pays nothing for the hooks.  Not installed.
#ifndef KAVLIB_INTERNAL_POOLWATCH_H
#define KAVLIB_INTERNAL_POOLWATCH_H

#include <kavlib/kavpool.h>

#include <cstdint>

// AddressSanitizer poisoning needs both: a library configured as an ASan
// build (so that applications route alloc() and free() to the library) and
// the library compiled with ASan.  If they disagree nothing is poisoned,
// which is safe.
#if defined(__SANITIZE_ADDRESS__)
#  define KAVPOOL_ASAN_COMPILED 1
#elif defined(__has_feature)
#  if __has_feature(address_sanitizer)
#    define KAVPOOL_ASAN_COMPILED 1
#  endif
#endif
#if KAVLIB_ASAN && defined(KAVPOOL_ASAN_COMPILED)
#  define KAVPOOL_POISON 1
#else
#  define KAVPOOL_POISON 0
#endif

#ifndef KAVLIB_POOL_AUDIT
#  define KAVLIB_POOL_AUDIT 0
#endif

namespace kavpool {

/// Is the checked build's table of pieces kept?
constexpr bool checkedPools = KAVLIB_CHECKED;
/// Is the free-block index audited against a plain walk after every change?
constexpr bool auditedPools = KAVLIB_CHECKED || KAVLIB_POOL_AUDIT;

#if KAVPOOL_POISON
void asanOpenWord(std::uintptr_t at);
void asanCloseWord(std::uintptr_t at);
#endif
#if KAVLIB_VALGRIND
/// True when the program runs under valgrind's memcheck; set when the first
/// pool is made.
extern bool underMemcheck;
void memcheckOpenWord(std::uintptr_t at);
void memcheckCloseWord(std::uintptr_t at);
#endif

/// Opens the 8-byte word of free memory that holds `at` for one access by
/// the pool.  Free memory is 8-byte aligned and a multiple of 8 long, so the
/// word never reaches into a piece that is handed out.
inline void openWord([[maybe_unused]] std::uintptr_t at)
{
#if KAVPOOL_POISON
    asanOpenWord(at);
#endif
#if KAVLIB_VALGRIND
    if (underMemcheck)
        memcheckOpenWord(at);
#endif
}

/// Closes the word again.
inline void closeWord([[maybe_unused]] std::uintptr_t at)
{
#if KAVPOOL_POISON
    asanCloseWord(at);
#endif
#if KAVLIB_VALGRIND
    if (underMemcheck)
        memcheckCloseWord(at);
#endif
}

} // namespace kavpool

#endif
