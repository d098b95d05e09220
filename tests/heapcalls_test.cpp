// Global heap calls made through pools.  A pool takes memory from the global
// heap one block of at least 8000 bytes at a time (plus one record per
// block) and gives it back only when it is released; recycled pieces never
// reach the heap.  This program replaces the global operator new and delete
// to count the calls, which is why it is an executable of its own.
#include "testutil.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>
#include <utility>
#include <vector>

static long long newCalls = 0, deleteCalls = 0;

// These replacements are malloc and free underneath; GCC cannot see that
// the pair is matched once operator delete inlines into a delete-expression.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t n)
{
    ++newCalls;
    if (void* p = std::malloc(n == 0 ? 1 : n))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    if (p == nullptr)
        return;
    ++deleteCalls;
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// 100 000 small pieces of random sizes: one block and one block record per
// 8000 bytes of pieces, give or take the block ends that no piece filled.
// Then a million frees and allocations, each slot keeping its size, are all
// met from the recycle lists; releasing the pool gives every block back.
TEST_F(kavLibTest, SmallPiecesCostOneHeapCallPerBlock)
{
    kavPool pool;
    pool.setReleaseFlag(false);
    std::mt19937 random(2024);
    std::vector<std::pair<void*, unsigned int>> live(100000);
    unsigned long long bytes = 0;

    const long long news = newCalls, deletes = deleteCalls;
    for (auto& [p, n] : live) {
        n = 1 + random() % 504;
        ASSERT_NE(p = pool.alloc(n), nullptr);
        bytes += kavPool::roundSize(n);
    }
    const long long blockNews = newCalls - news;
    EXPECT_EQ(blockNews, 2 * static_cast<long long>(pool.ablocks())) << "one block and one record each";
    EXPECT_LE(pool.ablocks(), bytes / 8000 + 1) << "bytes in pieces: " << bytes;

    for (int i = 0; i < 1000000; ++i) {
        auto& [p, n] = live[random() % live.size()];
        pool.free(p, n);
        p = pool.alloc(n);
    }
    EXPECT_EQ(newCalls - news, blockNews);
    EXPECT_EQ(deleteCalls, deletes);
    pool.release();
    EXPECT_EQ(deleteCalls - deletes, blockNews);
}

// Objects that live and die in containers, and texts interned again and
// again: once the pool holds what one round needs, later rounds make no heap
// call at all (links, iterators, candidates and their texts are recycled).
TEST_F(kavInitTest, ObjectsContainersAndInterningRecycleTheirPieces)
{
    kavPool pool;
    pool.setReleaseFlag(false);
    auto round = [&] {
        kavList list;
        kavFifo fifo;
        for (int i = 0; i < 1000; ++i) {
            auto* item = new (&pool) kavObject;
            list.add(*item);
            fifo.add(*item);
        }
        for (kavIterPtr it(list); it; it++)
            it().hash(4191);
        list.removeAll();
        fifo.removeAll(); // the last holder: every item is deleted here
        for (int i = 0; i < 500; ++i) {
            char w[16];
            std::snprintf(w, sizeof w, "word%d", i * 7919 % 1000);
            kavString s(w);
        }
    };

    const unsigned int blocksBefore = pool.ablocks() + kavPool::mainPool()->ablocks();
    const long long news = newCalls;
    round();
    const long long firstNews = newCalls - news;
    EXPECT_EQ(firstNews, 2 * static_cast<long long>(pool.ablocks() + kavPool::mainPool()->ablocks() - blocksBefore))
        << "the first round: blocks and records only";
    const long long later = newCalls, laterDeletes = deleteCalls;
    for (int i = 0; i < 20; ++i)
        round();
    EXPECT_EQ(newCalls, later);
    EXPECT_EQ(deleteCalls, laterDeletes);
}

// Look-ups of texts never interned make no heap call and intern nothing.
TEST_F(kavInitTest, FailedLookupsMakeNoHeapCall)
{
    kavString known("known");
    kavList named;
    named.add(*new kavNamedObj(known));
    const long long news = newCalls;
    const int count = kavStringTbl::table()->count();
    for (int i = 0; i < 1000; ++i) {
        char w[16];
        std::snprintf(w, sizeof w, "absent%d", i);
        EXPECT_TRUE(kavString::lookup(w) == nullptr && !kavString::find(std::string_view(w)) &&
                    kavNamedObj::findIn(named, w) == nullptr);
    }
    EXPECT_EQ(newCalls, news);
    EXPECT_EQ(kavStringTbl::table()->count(), count);
}
