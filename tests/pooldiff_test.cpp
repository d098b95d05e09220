// The pool against a plain model of its written algorithm, call by call:
// recycle lists last in first out, free blocks in an address-ordered list
// walked from the lowest address for the first fit, split and merged.  A
// million random calls compare every address and statistic, once with blocks
// where the heap puts them and once with blocks that this program places side
// by side, above, below and with gaps, so that free blocks run on from one
// block into the next; a stored heap trace of a real program is replayed
// against it too.  It replaces the global operator new (plainpool.h) to see
// (and place) the blocks, which is why it is a program of its own.
#include "plainpool.h"
#include "testutil.h"

#include "../bench/trace.h"

#include <cstdlib>
#include <random>
#include <vector>

namespace {

using namespace heapWatch;

// alloc(size) of the model, with the block the pool made, if it needed one.
addr_t modelAlloc(plainPool& model, unsigned int size)
{
    if (const unsigned int n = model.blockFor(size)) {
        EXPECT_EQ(model.blocks + 1, blocksMade.size()) << "the pool made no block of " << n;
        if (model.blocks + 1 != blocksMade.size())
            return 0;
        EXPECT_EQ(blocksMade.back().second, n);
        model.addblock(blocksMade.back().first, n);
    }
    return model.alloc(size);
}

// Every count and the free-block list.
void compareAll(const kavPool& pool, const plainPool& model)
{
    ASSERT_EQ(pool.ablocks(), model.blocks);
    ASSERT_EQ(pool.fblocks(), model.freeBlocks.size());
    ASSERT_EQ(pool.rblocks(), model.recycledCount());
    ASSERT_EQ(freeLine(pool), model.freeLine());
}

// The byte counters.
void compareBytes(const kavPool& pool, const plainPool& model)
{
    ASSERT_EQ(pool.amem(), model.amem);
    ASSERT_EQ(pool.fmem(), model.fmem);
    ASSERT_EQ(pool.rmem(), model.rmem);
    ASSERT_EQ(pool.umem(), model.umem);
    ASSERT_EQ(model.blocks, blocksMade.size());
}

// Sizes 1 to 20 000: mostly small, some large, a few above a block.
unsigned int randomSize(std::mt19937& rng)
{
    const unsigned int m = rng() % 100;
    if (m < 50)
        return 1 + rng() % 504;
    if (m < 85)
        return 505 + rng() % 3000;
    if (m < 97)
        return 3505 + rng() % 4600;
    return 8105 + rng() % 11896;
}

// `ops` random calls against the model; every address and the byte counters
// after each call, everything (counts and the free-block list) now and then.
void compare(unsigned int ops, bool placed, unsigned int seed)
{
    std::mt19937 rng(seed);
    kavPool pool;
    pool.setReleaseFlag(false);
    plainPool model;
    std::vector<std::pair<addr_t, unsigned int>> live;
    placing = placed;
    emptyArena();
    blocksMade.clear();
    unsigned int order = 0; // how pieces are given back: at random, newest or oldest first
    unsigned int releases = 0;
    for (unsigned int i = 0; i < ops; ++i) {
        const unsigned int k = rng() % 10000;
        if (k < 3 || (placed && arenaHigh - arenaLow > arenaSize / 2)) {
            ASSERT_NO_FATAL_FAILURE(compareAll(pool, model));
            watching = true;
            pool.release();
            watching = false;
            model = plainPool();
            blocksMade.clear();
            emptyArena();
            live.clear();
            ++releases;
        } else if (k < 20) {
            order = rng() % 3;
        } else if (k < 5200 || live.empty()) {
            const unsigned int size = rng() % 2000 == 0 ? 0 : randomSize(rng);
            watching = true;
            const addr_t got = reinterpret_cast<addr_t>(pool.alloc(size));
            watching = false;
            const addr_t expected = modelAlloc(model, size);
            ASSERT_EQ(got, expected) << "call " << i << ": alloc(" << size << ")";
            if (size != 0)
                live.emplace_back(got, size);
        } else {
            const std::size_t at = order == 0 ? rng() % live.size() : order == 1 ? live.size() - 1 : 0;
            const auto [p, size] = live[at];
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(at));
            pool.free(reinterpret_cast<void*>(p), size);
            model.free(p, size);
        }
        ASSERT_NO_FATAL_FAILURE(compareBytes(pool, model)) << "call " << i;
        if (i % 4096 == 0) {
            ASSERT_NO_FATAL_FAILURE(compareAll(pool, model)) << "call " << i;
        }
    }
    ASSERT_NO_FATAL_FAILURE(compareAll(pool, model));
    EXPECT_GT(releases, 2u);
    watching = true;
    pool.release();
    watching = false;
    placing = false;
}

// Sanitized and checked builds run a quarter of the calls.
#if KAVLIB_CHECKED || KAVLIB_ASAN
constexpr unsigned int manyOps = 250000;
#else
constexpr unsigned int manyOps = 1000000;
#endif

} // namespace

TEST_F(kavLibTest, MatchesThePlainWalkWithBlocksFromTheHeap)
{
    compare(manyOps, false, 1);
}

TEST_F(kavLibTest, MatchesThePlainWalkWithPlacedBlocks)
{
    useArena(std::size_t(96) << 20);
    ASSERT_NE(arena, nullptr);
    compare(manyOps, true, 2);
    useArena(0);
}

// A real program's heap trace (a C++ front end), blocks from the heap: every
// address and byte counter after each call, everything now and then.
TEST_F(kavLibTest, MatchesThePlainWalkOnAHeapTrace)
{
#ifndef KAVLIB_TRACE_DIR
    GTEST_SKIP() << "no xz program found at configure time to read the stored traces";
#else
    HeapTrace trace;
    std::string error;
    ASSERT_TRUE(loadTrace(KAVLIB_TRACE_DIR "/cxx.trace.xz", trace, &error)) << error;
    kavPool pool;
    pool.setReleaseFlag(false);
    plainPool model;
    blocksMade.clear();
    std::vector<addr_t> at(trace.pieces);
    for (std::size_t i = 0; i < trace.ops.size(); ++i) {
        const TraceOp& op = trace.ops[i];
        if (op.isFree) {
            pool.free(reinterpret_cast<void*>(at[op.piece]), op.size);
            model.free(at[op.piece], op.size);
        } else {
            watching = true;
            at[op.piece] = reinterpret_cast<addr_t>(pool.alloc(op.size));
            watching = false;
            ASSERT_EQ(at[op.piece], modelAlloc(model, op.size)) << "operation " << i << ": alloc(" << op.size << ")";
        }
        ASSERT_NO_FATAL_FAILURE(compareBytes(pool, model)) << "operation " << i;
        if (i % 4096 == 0) {
            ASSERT_NO_FATAL_FAILURE(compareAll(pool, model)) << "operation " << i;
        }
    }
    ASSERT_NO_FATAL_FAILURE(compareAll(pool, model));
    pool.release();
#endif
}
