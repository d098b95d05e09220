// In AddressSanitizer builds the pools poison every byte that is not handed
// out, so that a use after free, a read past a piece and a use after release
// are reported like misuse of heap memory.  Built only in ASan builds.
#include "testutil.h"

#include <sanitizer/asan_interface.h>

#include <cstring>

namespace {

// Reads one byte where the compiler cannot drop the read.
int touch(const void* p) { return *static_cast<const volatile char*>(p); }

// The first poisoned byte of [p, p + n), or null when all are addressable.
const void* firstPoisoned(const void* p, std::size_t n) { return __asan_region_is_poisoned(const_cast<void*>(p), n); }

} // namespace

// Exactly the bytes asked for are addressable; the rounding tail, free
// blocks and recycled elements are not, so that a read past a piece, a use
// after free and a use after release are reported like misuse of heap memory.
TEST_F(kavLibTest, PoolPoisonsAllButTheBytesHandedOut)
{
    kavPool pool;
    char* p = static_cast<char*>(pool.alloc(20));
    EXPECT_EQ(firstPoisoned(p, 24), p + 20);        // the rounding tail
    EXPECT_EQ(firstPoisoned(p + 24, 7976), p + 24); // the free rest of the block
    EXPECT_TRUE(__asan_address_is_poisoned(p + 7999));
    EXPECT_DEATH(touch(p + 20), "use-after-poison"); // past the piece, inside its rounding
    EXPECT_DEATH(touch(p + 24), "use-after-poison"); // past the piece, in free memory
    EXPECT_EQ(pool.alloc(1), p + 24);
    pool.free(p, 20); // recycled: all of it poisoned, link included
    EXPECT_EQ(firstPoisoned(p, 24), p);
    EXPECT_EQ(firstPoisoned(p + 8, 16), p + 8);
    EXPECT_DEATH(pool.free(p, 20), assertionReport("ptr not freed twice", "kavpool", 301));
    EXPECT_EQ(pool.alloc(24), p);
    EXPECT_EQ(firstPoisoned(p, 32), p + 25); // the piece behind it has its tail poisoned
    char* big = static_cast<char*>(pool.alloc(600));
    std::memset(big, 7, 600);
    pool.free(big, 600); // back among the free blocks
    EXPECT_EQ(firstPoisoned(big, 600), big);
    kavObject* obj = new kavObject; // a pooled object of the main pool
    delete obj;
    EXPECT_DEATH(touch(obj), "use-after-poison");
    pool.release();
    EXPECT_DEATH(touch(p), "heap-use-after-free");
}
