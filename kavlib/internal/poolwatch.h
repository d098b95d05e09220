// kavlib internal: the hooks through which memory checkers watch the pools.
//
// The allocator core calls kavPool::Watch at each step.  Which watchers
// exist is decided when the library is configured (<kavlib/config.h>), and
// CMake compiles the source file of each watcher that is on:
//   poolcheck.cpp     KAVLIB_CHECKED: a table of live pieces, misuse reports
//   poolasan.cpp      AddressSanitizer builds: free memory is poisoned
//   poolvalgrind.cpp  KAVLIB_VALGRIND: each pool a memcheck memory pool
// Watch calls only the watchers that are on (if constexpr), so a watcher
// that is off costs nothing and its file is not even compiled.
//
// The checked build's reports (file "kavpool"):
//   301 "ptr not freed twice"          a piece given back while already free
//   302 "size rounds as allocated"     given back with a size that rounds otherwise
//   303 "ptr comes from this pool"     not the start of a piece of this pool
//   304 "free blocks in ascending order"
//   305 "free blocks do not touch"     except where two heap blocks meet
//   306 "recycled element intact"      a recycle list overwritten after free
//   307 "pool counters add up"         the free blocks add up to fmem
//   308 "piece overlaps no other"      a free block reaching into a piece
//   309 "index ..."                    the free-block index disagrees with the
//                                      free-block list (also KAVLIB_POOL_AUDIT)
// AddressSanitizer builds report 301 too: the first byte of every piece
// handed out is addressable, of every free one poisoned.  Not installed.
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

/// Is the index audited against the free-block list after every change?
constexpr bool auditedPools = KAVLIB_CHECKED || KAVLIB_POOL_AUDIT;

/// Stops with the report of `check` (its expression `text` when given) unless `ok`.
void misuse(bool ok, kavCheck check, const char* text = nullptr);

} // namespace kavpool

// The checked build (poolcheck.cpp).
struct kavPool::CheckedWatch {
    static void created(kavPool& pool);
    static void destroyed(kavPool& pool);
    static void releasing(kavPool& pool);
    static void prepare(const kavPool& pool);
    static void popping(const kavPool& pool, unsigned int c);
    static void handOut(kavPool& pool, void* piece, unsigned int r);
    static void takeBack(kavPool& pool, void* piece, unsigned int r);
    static void undone(kavPool& pool, void* piece);
    static void changed(const kavPool& pool);
    static void clearOfPieces(const kavPool& pool, std::uintptr_t piece, unsigned int r);
    static bool inFreeBlock(const kavPool& pool, std::uintptr_t p);
    static bool blockStart(const kavPool& pool, std::uintptr_t p);
};

// AddressSanitizer (poolasan.cpp).
struct kavPool::AsanWatch {
    static void openWord(std::uintptr_t at);
    static void closeWord(std::uintptr_t at);
    static void blockAdded(void* block, unsigned int n);
    static void blockReturned(void* block, unsigned int n);
    static void handOut(void* piece, unsigned int size);
    static void takeBack(void* piece, unsigned int r);
    static void undone(void* piece, unsigned int r);
    static void reporting();
};

// Valgrind's memcheck (poolvalgrind.cpp); `active` only under memcheck.
struct kavPool::MemcheckWatch {
    static bool active;
    static void openWord(std::uintptr_t at);
    static void closeWord(std::uintptr_t at);
    static void created(kavPool& pool);
    static void destroyed(kavPool& pool);
    static void releasing(kavPool& pool);
    static void blockAdded(void* block, unsigned int n);
    static void blockReturned(void* block, unsigned int n);
    static void handOut(kavPool& pool, void* piece, unsigned int size);
    static bool takeBack(kavPool& pool, void* piece, unsigned int r);
    static void undone(kavPool& pool, void* piece);
};

// What each watcher that is on does at each step of a pool.
struct kavPool::Watch {
    static constexpr bool checked = KAVLIB_CHECKED;
    static constexpr bool asan = KAVPOOL_POISON;
    static constexpr bool memcheck = KAVLIB_VALGRIND;

    // Around every access of the pool to a word of free memory.
    // With `memcheckToo` false the caller has made sure that memcheck is
    // not watching (memcheckOn()), and the access skips asking again.
    template <bool memcheckToo = true>
    static void openWord([[maybe_unused]] std::uintptr_t at)
    {
        if constexpr (asan)
            AsanWatch::openWord(at);
        if constexpr (memcheck && memcheckToo)
            if (MemcheckWatch::active)
                MemcheckWatch::openWord(at);
    }
    template <bool memcheckToo = true>
    static void closeWord([[maybe_unused]] std::uintptr_t at)
    {
        if constexpr (asan)
            AsanWatch::closeWord(at);
        if constexpr (memcheck && memcheckToo)
            if (MemcheckWatch::active)
                MemcheckWatch::closeWord(at);
    }
    // Whether valgrind's memcheck watches free memory now.
    static bool memcheckOn()
    {
        if constexpr (memcheck)
            return MemcheckWatch::active;
        return false;
    }

    // A pool is made (before it joins the registry: this may need the heap).
    static void created([[maybe_unused]] kavPool& pool)
    {
        if constexpr (checked)
            CheckedWatch::created(pool);
        if constexpr (memcheck)
            MemcheckWatch::created(pool);
    }
    // A pool is destroyed.
    static void destroyed([[maybe_unused]] kavPool& pool)
    {
        if constexpr (checked)
            CheckedWatch::destroyed(pool);
        if constexpr (memcheck)
            MemcheckWatch::destroyed(pool);
    }
    // release(): every piece goes away at once.  No heap call.
    static void releasing([[maybe_unused]] kavPool& pool)
    {
        if constexpr (checked)
            CheckedWatch::releasing(pool);
        if constexpr (memcheck)
            MemcheckWatch::releasing(pool);
    }
    // A new block from the heap: all of it is free memory.
    static void blockAdded([[maybe_unused]] void* block, [[maybe_unused]] unsigned int n)
    {
        if constexpr (asan)
            AsanWatch::blockAdded(block, n);
        if constexpr (memcheck)
            MemcheckWatch::blockAdded(block, n);
    }
    // A block goes back to the heap as the heap gave it: clean.
    static void blockReturned([[maybe_unused]] void* block, [[maybe_unused]] unsigned int n)
    {
        if constexpr (asan)
            AsanWatch::blockReturned(block, n);
        if constexpr (memcheck)
            MemcheckWatch::blockReturned(block, n);
    }
    // Before an allocation changes the pool: obtains what handOut() will
    // need, so that a failing heap leaves the pool as it was.
    static void prepare([[maybe_unused]] const kavPool& pool)
    {
        if constexpr (checked)
            CheckedWatch::prepare(pool);
    }
    // The head of recycle list c is about to be handed out again.
    static void popping([[maybe_unused]] const kavPool& pool, [[maybe_unused]] unsigned int c)
    {
        if constexpr (checked)
            CheckedWatch::popping(pool, c);
    }
    // A piece of `size` bytes (r rounded) is handed out.
    static void handOut([[maybe_unused]] kavPool& pool, [[maybe_unused]] void* piece,
                        [[maybe_unused]] unsigned int size, [[maybe_unused]] unsigned int r)
    {
        if (size == 0)
            return; // nothing to use and nothing to give back
        if constexpr (checked)
            CheckedWatch::handOut(pool, piece, r);
        if constexpr (asan)
            AsanWatch::handOut(piece, size);
        if constexpr (memcheck)
            MemcheckWatch::handOut(pool, piece, size);
    }
    // A piece of r rounded bytes comes back.  False when it must be left
    // alone: valgrind has reported it as not a live piece.
    static bool takeBack([[maybe_unused]] kavPool& pool, [[maybe_unused]] void* piece,
                         [[maybe_unused]] unsigned int r)
    {
        if constexpr (checked)
            CheckedWatch::takeBack(pool, piece, r);
        if constexpr (asan)
            AsanWatch::takeBack(piece, r);
        if constexpr (memcheck)
            return MemcheckWatch::takeBack(pool, piece, r);
        return true;
    }
    // The newest piece (r rounded bytes), cut from a free block, goes back
    // as if it had never been handed out (undoAlloc()).
    static void undone([[maybe_unused]] kavPool& pool, [[maybe_unused]] void* piece, [[maybe_unused]] unsigned int r)
    {
        if constexpr (checked)
            CheckedWatch::undone(pool, piece);
        if constexpr (asan)
            AsanWatch::undone(piece, r);
        if constexpr (memcheck)
            MemcheckWatch::undone(pool, piece);
    }
    // After every operation that changed the pool; `freeList` when it
    // changed the free-block list.
    static void changed([[maybe_unused]] const kavPool& pool, [[maybe_unused]] bool freeList)
    {
        if constexpr (checked)
            if (freeList)
                CheckedWatch::changed(pool);
    }
    // The index and a plain walk of the free-block list disagree on the
    // first fit of r bytes: a stray write into free memory breaks the list
    // that way, and the walk's answer then reaches into a piece in use.
    static void misled([[maybe_unused]] const kavPool& pool, [[maybe_unused]] std::uintptr_t plain,
                       [[maybe_unused]] unsigned int r)
    {
        if constexpr (checked)
            CheckedWatch::clearOfPieces(pool, plain, r);
    }
    // Just before an assertion report of the pool.
    static void reporting()
    {
        if constexpr (asan)
            AsanWatch::reporting();
    }
};

#endif
