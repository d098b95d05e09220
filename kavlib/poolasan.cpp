// kavlib: the AddressSanitizer watcher of the pools.
//
// All memory of a pool that is not handed out is poisoned: free blocks,
// recycled elements and the rounding tail of every piece.  The pool opens
// just the word it reads or writes in free memory.  A piece given back whose
// first byte is poisoned is already free (report 301).
#include <kavlib/internal/poolblocks.h>

#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>

using kavpool::addr_t;
using kavpool::ptr;

namespace {
constexpr addr_t wordMask = ~addr_t(7);
}

void kavPool::AsanWatch::openWord(addr_t at) { ASAN_UNPOISON_MEMORY_REGION(ptr(at & wordMask), 8); }

void kavPool::AsanWatch::closeWord(addr_t at) { ASAN_POISON_MEMORY_REGION(ptr(at & wordMask), 8); }

void kavPool::AsanWatch::blockAdded(void* block, unsigned int n) { ASAN_POISON_MEMORY_REGION(block, n); }

void kavPool::AsanWatch::blockReturned(void* block, unsigned int n) { ASAN_UNPOISON_MEMORY_REGION(block, n); }

void kavPool::AsanWatch::handOut(void* piece, unsigned int size) { ASAN_UNPOISON_MEMORY_REGION(piece, size); }

void kavPool::AsanWatch::takeBack(void* piece, unsigned int r)
{
    kavpool::misuse(!__asan_address_is_poisoned(piece), kavCheck::poolFreedTwice);
    ASAN_POISON_MEMORY_REGION(piece, r);
}

void kavPool::AsanWatch::undone(void* piece, unsigned int r) { ASAN_POISON_MEMORY_REGION(piece, r); }

void kavPool::AsanWatch::reporting() { __sanitizer_print_stack_trace(); }
