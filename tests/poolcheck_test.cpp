// Pools in watched builds (checked, AddressSanitizer, valgrind) behave as in
// plain builds, and the checked build turns misuse and corrupted pool
// memory into assertion reports.
#include "testutil.h"

#include <cstring>
#include <sstream>

namespace {

char* at(void* p, unsigned int offset) { return static_cast<char*>(p) + offset; }

} // namespace

// Every path of the pool, with each piece written over exactly the bytes
// asked for: the instrumentation must leave addresses and statistics as they
// are and let the caller use every byte it asked for.
TEST_F(kavLibTest, WatchedPoolKeepsAddressesAndStatistics)
{
    kavPool pool;
    pool.setReleaseFlag(false);

    void* first = pool.alloc(100);
    std::memset(first, 1, 100);
    EXPECT_EQ(pool.amem(), 8000u);
    EXPECT_EQ(pool.umem(), 104u);
    EXPECT_EQ(pool.fmem(), 7896u);

    void* small = pool.alloc(20);
    EXPECT_EQ(small, at(first, 104));
    std::memset(small, 2, 20);
    pool.free(small, 20);
    EXPECT_EQ(pool.rmem(), 24u);
    EXPECT_EQ(pool.rblocks(), 1u);
    void* again = pool.alloc(17); // the same class: the same piece
    EXPECT_EQ(again, small);
    std::memset(again, 3, 17);
    EXPECT_EQ(pool.rmem(), 0u);

    void* a = pool.alloc(600);
    void* b = pool.alloc(601);
    EXPECT_EQ(a, at(first, 128));
    EXPECT_EQ(b, at(first, 728));
    std::memset(a, 4, 600);
    std::memset(b, 5, 601);
    pool.free(a, 600);
    pool.free(b, 608);            // rounds like 601
    EXPECT_EQ(pool.fblocks(), 1u); // both merged with the rest
    EXPECT_EQ(pool.fmem(), 8000u - 128u);
    EXPECT_EQ(pool.alloc(0), a);  // the lowest free block, still free
    EXPECT_EQ(pool.fmem(), 8000u - 128u);

    void* big = pool.alloc(20000);
    std::memset(big, 6, 20000);
    EXPECT_EQ(pool.ablocks(), 2u);
    EXPECT_EQ(pool.amem(), 28000u);
    pool.free(big, 20000);
    pool.free(first, 100);
    pool.free(again, 24);
    EXPECT_EQ(pool.amem(), pool.fmem() + pool.rmem() + pool.umem());
    EXPECT_EQ(pool.umem(), 0u);

    kavLib::set(0);
    std::ostringstream report;
    pool.print(report);
    EXPECT_NE(report.str().find("Recycled Element: size=24 Number=1 Bytes=24"), std::string::npos);

    pool.release();
    EXPECT_EQ(pool.amem() + pool.fmem() + pool.rmem() + pool.umem(), 0u);
    EXPECT_EQ(pool.ablocks() + pool.fblocks() + pool.rblocks(), 0u);
}

#if KAVLIB_CHECKED

namespace {

// Writes a free-block header as the pool keeps it for blocks of 16 bytes or
// more: the next free block, then the size.  Only user bugs write there; the
// tests below play such bugs.
void forgeHeader(void* block, const void* next, unsigned int size)
{
    std::memcpy(block, &next, sizeof next);
    std::memcpy(at(block, sizeof next), &size, sizeof size);
}

void forgeLink(void* element, const void* next) { std::memcpy(element, &next, sizeof next); }

// A fresh pool cut into `n` pieces of 1000 bytes from the front of its first
// block, p[0] at the block start; the rest of the block stays free.
struct Carved {
    kavPool pool;
    void* p[6];
    char* rest;
    explicit Carved(int n)
    {
        pool.setReleaseFlag(false);
        for (int i = 0; i < n; ++i)
            p[i] = pool.alloc(1000);
        rest = at(p[0], 1000u * static_cast<unsigned int>(n));
    }
};

} // namespace

TEST_F(kavLibTest, CheckedPoolReportsPieceFreedTwice)
{
    const std::string report = assertionReport("ptr not freed twice", "kavpool", 301);
    EXPECT_DEATH(
        {
            kavPool pool;
            void* p = pool.alloc(24);
            pool.free(p, 24);
            pool.free(p, 24); // on its recycle list already
        },
        report);
    EXPECT_DEATH(
        {
            Carved c(2);
            c.pool.free(c.p[0], 1000);
            c.pool.free(c.p[0], 1000); // inside a free block already
        },
        report);
}

TEST_F(kavLibTest, CheckedPoolReportsSizeThatRoundsOtherwise)
{
    const std::string report = assertionReport("size rounds as allocated", "kavpool", 302);
    EXPECT_DEATH(
        {
            kavPool pool;
            pool.free(pool.alloc(16), 17);
        },
        report);
    EXPECT_DEATH(
        {
            kavPool pool;
            pool.free(pool.alloc(600), 601);
        },
        report);

    kavPool pool; // a size that rounds alike is the same size
    pool.free(pool.alloc(512), 505);
    pool.free(pool.alloc(9), 16);
    EXPECT_EQ(pool.umem(), 0u);
}

TEST_F(kavLibTest, CheckedPoolReportsForeignPieces)
{
    const std::string report = assertionReport("ptr comes from this pool", "kavpool", 303);
    EXPECT_DEATH(
        {
            kavPool mine;
            kavPool other;
            void* p = mine.alloc(40);
            other.alloc(40);
            other.free(p, 40);
        },
        report);
    EXPECT_DEATH(
        {
            kavPool pool;
            char* p = static_cast<char*>(pool.alloc(40));
            pool.free(p + 8, 32); // inside a piece, not its start
        },
        report);
    EXPECT_DEATH(
        {
            kavPool pool;
            long onStack[4] = {};
            pool.free(onStack, sizeof onStack);
        },
        report);
}

TEST_F(kavLibTest, CheckedPoolReportsFreeBlocksOutOfOrder)
{
    EXPECT_DEATH(
        {
            // Free list p1 -> p3 -> rest, rewritten by stray writes into
            // p1 -> rest -> p3.
            Carved c(5);
            c.pool.free(c.p[1], 1000);
            c.pool.free(c.p[3], 1000);
            forgeHeader(c.p[1], c.rest, 1000);
            forgeHeader(c.rest, c.p[3], 3000);
            forgeHeader(c.p[3], nullptr, 1000);
            c.pool.alloc(8);
        },
        assertionReport("free blocks in ascending order", "kavpool", 304));
}

TEST_F(kavLibTest, CheckedPoolReportsTouchingFreeBlocks)
{
    EXPECT_DEATH(
        {
            // p1 grows over the live p2 up to the free block at p3.
            Carved c(4);
            c.pool.free(c.p[1], 1000);
            c.pool.free(c.p[3], 1000); // merges with the rest
            forgeHeader(c.p[1], c.p[3], 2000);
            c.pool.alloc(8);
        },
        assertionReport("free blocks do not touch", "kavpool", 305));
}

TEST_F(kavLibTest, CheckedPoolReportsOverwrittenRecycleLink)
{
    EXPECT_DEATH(
        {
            kavPool pool;
            void* a = pool.alloc(16);
            void* b = pool.alloc(16);
            pool.free(a, 16);
            forgeLink(a, b); // a use after free links the live b in
            pool.alloc(16);
        },
        assertionReport("recycled element intact", "kavpool", 306));
}

TEST_F(kavLibTest, CheckedPoolReportsCountersThatDoNotAddUp)
{
    EXPECT_DEATH(
        {
            Carved c(3);
            c.pool.free(c.p[1], 1000);
            forgeHeader(c.p[1], c.rest, 992); // shrinks a free block
            c.pool.alloc(8);
        },
        assertionReport("pool counters add up", "kavpool", 307));
}

TEST_F(kavLibTest, CheckedPoolReportsFreeBlockReachingIntoPiece)
{
    EXPECT_DEATH(
        {
            // Free list p1 -> p3 -> rest becomes p1 -> (inside p2) -> rest,
            // with the sizes still adding up and no blocks touching.
            Carved c(5);
            c.pool.free(c.p[1], 1000);
            c.pool.free(c.p[3], 1000);
            forgeHeader(c.p[1], at(c.p[2], 8), 992);
            forgeHeader(at(c.p[2], 8), c.rest, 1008);
            c.pool.alloc(1008);
        },
        assertionReport("piece overlaps no other", "kavpool", 308));
}

#endif
