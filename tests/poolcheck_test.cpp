// The checked build turns misuse of a pool and corrupted pool memory into
// assertion reports.  (pool_test runs in every watched build too: there it
// shows that watching leaves addresses, statistics and reports unchanged.)
#include "testutil.h"

#include <cstring>

#if KAVLIB_CHECKED

namespace {

char* at(void* p, unsigned int offset) { return static_cast<char*>(p) + offset; }

// Writes a free-block header as the pool keeps it for blocks of 16 bytes or
// more: the next free block, then the size.  Only user bugs write there; the
// cases below play such bugs.
void forgeHeader(void* block, const void* next, unsigned int size)
{
    std::memcpy(block, &next, sizeof next);
    std::memcpy(at(block, sizeof next), &size, sizeof size);
}

// A fresh pool cut into `n` pieces of 1000 bytes from the front of its first
// block, p[0] at the block start, and the pieces `freed` given back; the rest
// of the block stays free.
struct carved {
    kavPool pool;
    void* p[6];
    char* rest;
    carved(int n, std::initializer_list<int> freed)
    {
        for (int i = 0; i < n; ++i)
            p[i] = pool.alloc(1000);
        rest = at(p[0], 1000u * static_cast<unsigned int>(n));
        for (int i : freed)
            pool.free(p[i], 1000);
    }
};

} // namespace

// Every misuse stops the program with its own report.  (A size that rounds
// like the request is the same size: pooldiff_test frees with such sizes.)
TEST_F(kavLibTest, CheckedPoolReportsMisuse)
{
    const std::vector<std::tuple<const char*, int, std::function<void()>>> cases = {
        // On its recycle list already; inside a free block already.
        {"ptr not freed twice", 301, [] { kavPool q; void* p = q.alloc(24); q.free(p, 24); q.free(p, 24); }},
        {"ptr not freed twice", 301, [] { carved c(2, {0}); c.pool.free(c.p[0], 1000); }},
        {"size rounds as allocated", 302, [] { kavPool pool; pool.free(pool.alloc(16), 17); }},
        // Another pool's piece; a place inside a piece.
        {"ptr comes from this pool", 303, [] { kavPool mine, other; other.alloc(40); other.free(mine.alloc(40), 40); }},
        {"ptr comes from this pool", 303, [] { kavPool pool; pool.free(at(pool.alloc(40), 8), 32); }},
        {"free blocks in ascending order", 304, [] { // p1 -> p3 -> rest becomes p1 -> rest -> p3
             carved c(5, {1, 3});
             forgeHeader(c.p[1], c.rest, 1000);
             forgeHeader(c.rest, c.p[3], 3000);
             forgeHeader(c.p[3], nullptr, 1000);
             c.pool.alloc(8);
         }},
        {"free blocks do not touch", 305, [] { // p1 grows over the live p2 up to the free p3
             carved c(4, {1, 3}); // p3 merges with the rest
             forgeHeader(c.p[1], c.p[3], 2000);
             c.pool.alloc(8);
         }},
        {"recycled element intact", 306, [] { // a use after free links the live b in
             kavPool pool;
             void* a = pool.alloc(16);
             void* b = pool.alloc(16);
             pool.free(a, 16);
             std::memcpy(a, &b, sizeof b);
             pool.alloc(16);
         }},
        {"pool counters add up", 307, [] { // a free block shrinks
             carved c(3, {1});
             forgeHeader(c.p[1], c.rest, 992);
             c.pool.alloc(8);
         }},
        {"piece overlaps no other", 308, [] { // p1 -> (inside p2) -> rest; sizes add up, nothing touches
             carved c(5, {1, 3});
             forgeHeader(c.p[1], at(c.p[2], 8), 992);
             forgeHeader(at(c.p[2], 8), c.rest, 1008);
             c.pool.alloc(1008);
         }},
    };
    for (const auto& [expr, line, commit] : cases)
        EXPECT_DEATH(commit(), assertionReport(expr, "kavpool", line)) << expr;
}

#endif
