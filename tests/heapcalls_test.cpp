// Global heap calls made through pools.  A pool takes memory from the global
// heap one block of at least 8000 bytes at a time (plus one record per
// block) and gives it back only when it is released; recycled pieces never
// reach the heap.  This program replaces the global operator new and delete
// to count the calls, which is why it is an executable of its own.
#include "testutil.h"

#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

long long newCalls = 0;
long long deleteCalls = 0;

// The heap calls made since it was constructed.
class heapCalls {
public:
    heapCalls() : _news(newCalls), _deletes(deleteCalls) {}
    long long news() const { return newCalls - _news; }
    long long deletes() const { return deleteCalls - _deletes; }

private:
    long long _news;
    long long _deletes;
};

class pooledItem : public kavObject {
public:
    long long _payload = 0;
};

} // namespace

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
// 8000 bytes of pieces, give or take the block ends that no piece filled;
// releasing the pool gives every one of them back.
TEST_F(kavLibTest, SmallPiecesCostOneHeapCallPerBlock)
{
    kavPool pool;
    pool.setReleaseFlag(false);
    std::mt19937 random(2024);
    std::uniform_int_distribution<unsigned int> size(1, 504);
    unsigned long long bytes = 0;

    const heapCalls calls;
    for (int i = 0; i < 100000; ++i) {
        const unsigned int n = size(random);
        ASSERT_NE(pool.alloc(n), nullptr);
        bytes += kavPool::roundSize(n);
    }
    const long long news = calls.news();
    const unsigned int blocks = pool.ablocks();

    EXPECT_EQ(news, 2 * static_cast<long long>(blocks)) << "one block and one record each";
    EXPECT_LE(blocks, bytes / 8000 + 1) << "bytes in pieces: " << bytes;
    EXPECT_EQ(calls.deletes(), 0);

    pool.release();
    EXPECT_EQ(calls.deletes(), news);
}

// A million frees and allocations on a live set of 1000 pieces, each slot
// keeping its size: every request after the first round is met from a
// recycle list, without a heap call.
TEST_F(kavLibTest, RecycledPiecesNeverReachTheHeap)
{
    kavPool pool;
    pool.setReleaseFlag(false);
    std::mt19937 random(7);
    std::vector<std::pair<void*, unsigned int>> live(1000);
    for (auto& [p, n] : live) {
        n = 1 + random() % 504;
        p = pool.alloc(n);
    }

    const heapCalls calls;
    for (int i = 0; i < 1000000; ++i) {
        auto& [p, n] = live[random() % live.size()];
        pool.free(p, n);
        p = pool.alloc(n);
    }
    EXPECT_EQ(calls.news(), 0);
    EXPECT_EQ(calls.deletes(), 0);
}

// Objects that live and die in containers, and texts interned again and
// again: once the pool holds what one round needs, later rounds make no heap
// call at all (links, iterators, candidates and their texts are recycled).
TEST_F(kavInitTest, ObjectsContainersAndInterningRecycleTheirPieces)
{
    kavPool pool;
    pool.setReleaseFlag(false);
    std::vector<std::string> words;
    for (int i = 0; i < 500; ++i)
        words.push_back("word" + std::to_string(i * 7919 % 1000));

    auto round = [&] {
        kavList list;
        kavFifo fifo;
        for (int i = 0; i < 1000; ++i) {
            auto* item = new (&pool) pooledItem;
            list.add(*item);
            fifo.add(*item);
        }
        for (kavIterPtr it(list); it; it++)
            it().hash(4191);
        list.removeAll();
        fifo.removeAll(); // the last holder: every item is deleted here
        for (const std::string& w : words)
            kavString s(w.c_str());
    };

    const unsigned int blocksBefore = pool.ablocks() + kavPool::mainPool()->ablocks();
    const heapCalls first;
    round();
    const long long firstNews = first.news();
    const unsigned int blocks = pool.ablocks() + kavPool::mainPool()->ablocks() - blocksBefore;

    const heapCalls later;
    for (int i = 0; i < 20; ++i)
        round();
    EXPECT_EQ(later.news(), 0);
    EXPECT_EQ(later.deletes(), 0);
    EXPECT_EQ(firstNews, 2 * static_cast<long long>(blocks)) << "the first round: blocks and records only";
}
