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
const void* firstPoisoned(const void* p, std::size_t n)
{
    return __asan_region_is_poisoned(const_cast<void*>(p), n);
}

} // namespace

// Exactly the bytes asked for are addressable; the rounding tail, free
// blocks and recycled elements are not.
TEST_F(kavLibTest, PoolPoisonsAllButTheBytesHandedOut)
{
    kavPool pool;
    char* p = static_cast<char*>(pool.alloc(20));
    EXPECT_EQ(firstPoisoned(p, 20), nullptr);
    EXPECT_EQ(firstPoisoned(p, 24), p + 20);      // the rounding tail
    EXPECT_EQ(firstPoisoned(p + 24, 7976), p + 24); // the free rest of the block
    EXPECT_TRUE(__asan_address_is_poisoned(p + 7999));

    char* q = static_cast<char*>(pool.alloc(1)); // cut right behind p
    EXPECT_EQ(q, p + 24);
    EXPECT_EQ(firstPoisoned(q, 8), q + 1);

    pool.free(p, 20); // recycled: all of it poisoned, link included
    EXPECT_EQ(firstPoisoned(p, 24), p);
    EXPECT_EQ(pool.alloc(24), p);
    EXPECT_EQ(firstPoisoned(p, 24), nullptr);
    EXPECT_EQ(firstPoisoned(p, 32), q + 1); // q is next, its tail poisoned

    char* big = static_cast<char*>(pool.alloc(600));
    std::memset(big, 7, 600);
    pool.free(big, 600); // back among the free blocks
    EXPECT_EQ(firstPoisoned(big, 600), big);

    // Walking the lists for statistics and reports touches free memory
    // without a report.
    kavLib::set(0);
    std::ostringstream report;
    pool.print(report);
    EXPECT_EQ(pool.fblocks(), 1u);
    EXPECT_EQ(pool.rblocks(), 0u);
}

TEST_F(kavLibTest, PoolMisuseIsReportedByAddressSanitizer)
{
    EXPECT_DEATH(
        {
            kavObject* obj = new kavObject; // a pooled object of the main pool
            delete obj;
            volatile int count = obj->useCount();
            (void)count;
        },
        "use-after-poison");
    EXPECT_DEATH(
        {
            kavPool pool;
            char* p = static_cast<char*>(pool.alloc(20));
            touch(p + 20); // one byte past the piece, inside its rounding
        },
        "use-after-poison");
    EXPECT_DEATH(
        {
            kavPool pool;
            char* p = static_cast<char*>(pool.alloc(24));
            touch(p + 24); // one byte past the piece, in free memory
        },
        "use-after-poison");
    EXPECT_DEATH(
        {
            kavPool pool;
            char* p = static_cast<char*>(pool.alloc(100));
            pool.release();
            touch(p);
        },
        "heap-use-after-free");
    EXPECT_DEATH(
        {
            kavPool pool;
            void* p = pool.alloc(40);
            pool.free(p, 40);
            pool.free(p, 40);
        },
        assertionReport("ptr not freed twice", "kavpool", 301));
}
