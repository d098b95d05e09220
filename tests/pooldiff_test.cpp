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

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

using namespace heapWatch;

// A pool and the model side by side: every address and the byte counters
// after each call, everything (counts and the free-block list) now and then.
struct Pair {
    kavKeptPool pool;
    plainPool model;
    unsigned long calls = 0;

    Pair() { release(); }

    addr_t alloc(unsigned int size)
    {
        watching = true;
        const addr_t got = reinterpret_cast<addr_t>(pool.alloc(size));
        watching = false;
        // The block the model expects, if the pool made just that one.
        const unsigned int n = model.blockFor(size);
        if (n != 0 && blocksMade.size() == model.blocks + 1 && blocksMade.back().second == n)
            model.addblock(blocksMade.back().first, n);
        EXPECT_EQ(got, model.alloc(size)) << "call " << calls << ": alloc(" << size << ")";
        check();
        return got;
    }
    // A block asked for in advance, of at least `size` bytes.
    void establish(unsigned int size)
    {
        watching = true;
        pool.establish(size);
        watching = false;
        model.addblock(blocksMade.back().first, blocksMade.back().second);
        check();
    }
    // Allocates and undoes it at once: the pool must be back where the model
    // still is, and a block added for the piece gone again.
    void allocUndone(unsigned int size)
    {
        const std::size_t made = blocksMade.size();
        watching = true;
        void* p = pool.alloc(size);
        watching = false;
        pool.undoAlloc(p, size);
        blocksMade.resize(made);
        check();
    }
    void free(addr_t p, unsigned int size)
    {
        pool.free(reinterpret_cast<void*>(p), size);
        model.free(p, size);
        check();
    }
    void check(bool all = false)
    {
        ASSERT_EQ((std::array<std::size_t, 5>{pool.amem(), pool.fmem(), pool.rmem(), pool.umem(), blocksMade.size()}),
                  (std::array<std::size_t, 5>{model.amem, model.fmem, model.rmem, model.umem, model.blocks}))
            << "amem fmem rmem umem, blocks made; call " << calls;
        if (++calls % 4096 == 0 || all) {
            ASSERT_EQ((std::array<std::size_t, 3>{pool.ablocks(), pool.fblocks(), pool.rblocks()}),
                      (std::array<std::size_t, 3>{model.blocks, model.freeBlocks.size(), model.recycledCount()}));
            EXPECT_EQ(freeLine(pool), model.freeLine());
        }
    }
    // Both give every block back.
    void release()
    {
        pool.release();
        model = plainPool();
        blocksMade.clear();
        emptyArena();
    }
};

// Sizes 1 to 20 000: half of them small (recycled), a third up to 3504, most
// of the rest up to a block, a few above.
unsigned int randomSize(std::mt19937& rng)
{
    static const unsigned int from[] = {1, 505, 3505, 8105}, count[] = {504, 3000, 4600, 11896};
    const auto band = static_cast<std::size_t>(std::discrete_distribution<>{50, 35, 12, 3}(rng));
    return from[band] + rng() % count[band];
}

// `ops` random calls against the model, pieces given back at random, newest
// or oldest first, and now and then a block asked for in advance or a
// release.
void compare(unsigned int ops, bool placed, unsigned int seed)
{
    std::mt19937 rng(seed);
    placing = placed;
    Pair both;
    std::vector<std::pair<addr_t, unsigned int>> live;
    unsigned int order = 0, releases = 0;
    for (unsigned int i = 0; i < ops && !::testing::Test::HasFailure(); ++i) {
        const unsigned int k = rng() % 10000;
        if (k < 3 || (placed && arenaHigh - arenaLow > arenaSize / 2)) {
            both.check(true);
            both.release();
            live.clear();
            ++releases;
        } else if (k < 20) {
            order = rng() % 3;
        } else if (k < 40) {
            both.establish(randomSize(rng));
        } else if (k < 5200 || live.empty()) {
            const unsigned int size = rng() % 2000 == 0 ? 0 : randomSize(rng);
            if (size != 0 && rng() % 16 == 0) {
                both.allocUndone(size);
                continue;
            }
            const addr_t got = both.alloc(size);
            if (size != 0)
                live.emplace_back(got, size);
        } else {
            const std::size_t at = order == 0 ? rng() % live.size() : order == 1 ? live.size() - 1 : 0;
            // Any size that rounds like the one asked for frees the piece.
            both.free(live[at].first, kavPool::roundSize(live[at].second) - rng() % 8);
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(at));
        }
    }
    both.check(true);
    EXPECT_GT(releases, 2u);
    placing = false;
}

// A pool of megabytes of large pieces, most of them filling their blocks
// exactly, given back in random order with new ones now and then: a piece
// that comes back early finds the free block below it only past megabytes of
// full blocks, and the pool's blocks are spread over many leaves of its block
// map.
constexpr unsigned int largePieces = 1500;

void compareLarge(bool placed, unsigned int seed)
{
    std::mt19937 rng(seed);
    placing = placed;
    Pair both;
    std::vector<std::pair<addr_t, unsigned int>> live;
    for (int round = 0; round < 3 && !::testing::Test::HasFailure(); ++round) {
        // Pieces of a block each, then of sizes that mostly fill their
        // blocks exactly, then of any size.
        for (unsigned int i = 0; i < largePieces; ++i) {
            const unsigned int size = round == 0 ? 8000 : round == 2 && rng() % 8 == 0 ? 512 + rng() % 12000 : 2000u << rng() % 4;
            live.emplace_back(both.alloc(size), size);
        }
        while (!live.empty() && !::testing::Test::HasFailure()) {
            if (rng() % 4 == 0) {
                const unsigned int size = 512 + rng() % 12000;
                live.emplace_back(both.alloc(size), size);
                continue;
            }
            const std::size_t at = rng() % live.size();
            both.free(live[at].first, live[at].second);
            live[at] = live.back();
            live.pop_back();
        }
        both.check(true);
        both.release();
    }
    placing = false;
}

// Sanitized and checked builds run a quarter of the calls.
constexpr unsigned int manyOps = KAVLIB_CHECKED || KAVLIB_ASAN ? 250000 : 1000000;

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

TEST_F(kavLibTest, MatchesThePlainWalkInALargePool)
{
    compareLarge(false, 3);
    useArena(std::size_t(96) << 20);
    ASSERT_NE(arena, nullptr);
    compareLarge(true, 4);
    useArena(0);
}

// A piece that takes a whole free block is no cut that leaves the rest of
// it at the finger, even where the next free block begins right after it
// (the blocks side by side, never merged when added): that free block is
// then no remainder, and may be the rover, the free block where the last
// large piece went.  A run of cuts started there left the rover on a piece
// that it cut, and a piece given back above it in its block was linked in
// after that piece, through the program's data.
TEST_F(kavLibTest, AWholeFreeBlockTakenNextToAnotherStartsNoRun)
{
    useArena(std::size_t(1) << 20);
    ASSERT_NE(arena, nullptr);
    placing = placingDown = true;
    {
        Pair both;
        const addr_t rover = both.alloc(16000);
        both.free(rover, 16000);               // the rover, a block of its own
        both.establish(8000);                  // a free block that ends where it begins
        both.establish(8000);                  // and one below that,
        both.alloc(16);                        // cut from the front
        const addr_t whole = both.alloc(8000); // the free block below the rover, whole
        EXPECT_EQ(whole + 8000, rover);
        const addr_t front = both.alloc(8000); // the rover's front
        EXPECT_EQ(front, rover);
        std::memset(reinterpret_cast<void*>(front), 0, 8000);
        const addr_t back = both.alloc(8000);  // the rest of its block
        both.free(back, 8000);
        both.check(true);
        const auto* data = reinterpret_cast<const unsigned char*>(front);
        EXPECT_EQ(std::count(data, data + 8000, 0), 8000) << "the pool wrote into a live piece";
    }
    placing = placingDown = false;
    useArena(0);
}

// A real program's heap trace (a C++ front end), blocks from the heap.
TEST_F(kavLibTest, MatchesThePlainWalkOnAHeapTrace)
{
#ifndef KAVLIB_TRACE_DIR
    GTEST_SKIP() << "no xz program found at configure time to read the stored traces";
#else
    HeapTrace trace;
    std::string error;
    ASSERT_TRUE(loadTrace(KAVLIB_TRACE_DIR "/cxx.trace.xz", trace, &error)) << error;
    Pair both;
    std::vector<addr_t> at(trace.pieces);
    for (std::size_t i = 0; i < trace.ops.size() && !HasFailure(); ++i) {
        const TraceOp& op = trace.ops[i];
        if (op.isFree)
            both.free(at[op.piece], op.size);
        else
            at[op.piece] = both.alloc(op.size);
    }
    both.check(true);
#endif
}
