// The pool against a plain model of its written algorithm, call by call:
// recycle lists last in first out, free blocks in an address-ordered list
// walked from the lowest address for the first fit, split and merged.  A
// million random calls compare every address and statistic, once with blocks
// where the heap puts them and once with blocks that this program places side
// by side, above, below and with gaps, so that free blocks run on from one
// block into the next.  It replaces the global operator new to see (and
// place) the blocks, which is why it is a program of its own.
#include "testutil.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <map>
#include <new>
#include <random>
#include <vector>

namespace {

using addr_t = std::uintptr_t;

// The blocks the pool asks for while `watching` (requests of 8000 bytes or
// more; block records are smaller), and, while `placing`, where they go.
bool watching = false;
bool placing = false;
std::vector<std::pair<addr_t, std::size_t>> blocksMade;

// Placed blocks come from one arena, growing up from its middle and down
// from it, side by side or with a gap.  It is emptied with the pool.
constexpr std::size_t arenaSize = std::size_t(96) << 20;
char* arena = nullptr;
std::size_t arenaLow = 0, arenaHigh = 0;
std::mt19937 placement(7);

bool inArena(void* p) { return arena != nullptr && p >= arena && p < arena + arenaSize; }

void* place(std::size_t n)
{
    const std::size_t gap = placement() % 3 == 0 ? 8 * (1 + placement() % 1000) : 0;
    if (placement() % 2 == 0 && arenaLow >= n + gap) {
        arenaLow -= n + gap;
        return arena + arenaLow;
    }
    if (arenaHigh + gap + n <= arenaSize) {
        arenaHigh += gap + n;
        return arena + arenaHigh - n;
    }
    return nullptr;
}

void emptyArena() { arenaLow = arenaHigh = arenaSize / 2; }

} // namespace

// These replacements are malloc and free underneath; GCC cannot see that
// the pair is matched once operator delete inlines into a delete-expression.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t n)
{
    void* p = nullptr;
    if (watching && n >= 8000 && placing)
        p = place(n);
    if (p == nullptr)
        p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr)
        throw std::bad_alloc();
    if (watching && n >= 8000)
        blocksMade.emplace_back(reinterpret_cast<addr_t>(p), n);
    return p;
}

void operator delete(void* p) noexcept
{
    if (!inArena(p))
        std::free(p);
}

void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace {

// The written algorithm, walked as written.
struct plainPool {
    std::vector<addr_t> recycled[64];
    std::map<addr_t, unsigned int> freeBlocks; // in address order
    unsigned int amem = 0, fmem = 0, rmem = 0, umem = 0, blocks = 0;
    std::size_t nextBlock = 0; // the next of blocksMade that a new block must be

    void addblock(unsigned int size)
    {
        const unsigned int n = kavPool::roundSize(std::max(size, 8000u));
        EXPECT_LT(nextBlock, blocksMade.size()) << "the pool made no block of " << n;
        EXPECT_EQ(blocksMade[nextBlock].second, n);
        freeBlocks[blocksMade[nextBlock++].first] = n; // never merged on insertion
        amem += n, fmem += n, ++blocks;
    }

    addr_t alloc(unsigned int size)
    {
        const unsigned int r = kavPool::roundSize(size);
        if (blocks == 0)
            addblock(r);
        if (r < 512 && !recycled[r / 8].empty()) {
            const addr_t a = recycled[r / 8].back();
            recycled[r / 8].pop_back();
            rmem -= r, umem += r;
            return a;
        }
        auto fit = freeBlocks.begin();
        while (fit != freeBlocks.end() && fit->second < r)
            ++fit;
        if (fit == freeBlocks.end())
            return addblock(r), alloc(size);
        const auto [a, n] = *fit;
        freeBlocks.erase(fit);
        if (n > r)
            freeBlocks[a + r] = n - r;
        fmem -= r, umem += r;
        return a;
    }

    void free(addr_t p, unsigned int size)
    {
        const unsigned int r = kavPool::roundSize(size);
        umem -= r;
        if (r < 512) {
            recycled[r / 8].push_back(p);
            rmem += r;
            return;
        }
        fmem += r;
        auto it = freeBlocks.emplace(p, r).first;
        if (it != freeBlocks.begin() && std::prev(it)->first + std::prev(it)->second == p) {
            std::prev(it)->second += r;
            it = std::prev(freeBlocks.erase(it));
        }
        if (const auto next = std::next(it); next != freeBlocks.end() && it->first + it->second == next->first) {
            it->second += next->second;
            freeBlocks.erase(next);
        }
    }

    std::string freeLine() const
    {
        std::ostringstream os;
        os << "  Free blocks: ";
        for (const auto& [a, n] : freeBlocks)
            os << " @" << reinterpret_cast<const void*>(a) << "(" << n << ")";
        return os.str();
    }
};

std::string freeLine(const kavPool& p)
{
    kavLib::set(0);
    std::ostringstream os;
    os << p;
    kavLib::clr(0);
    const std::string text = os.str();
    const std::size_t at = text.find("  Free blocks:");
    return text.substr(at, text.find('\n', at) - at);
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
    const auto full = [&] {
        ASSERT_EQ(pool.ablocks(), model.blocks);
        ASSERT_EQ(pool.fblocks(), model.freeBlocks.size());
        unsigned int recycled = 0;
        for (const auto& list : model.recycled)
            recycled += static_cast<unsigned int>(list.size());
        ASSERT_EQ(pool.rblocks(), recycled);
        ASSERT_EQ(freeLine(pool), model.freeLine());
    };
    for (unsigned int i = 0; i < ops; ++i) {
        const unsigned int k = rng() % 10000;
        if (k < 3 || (placed && arenaHigh - arenaLow > arenaSize / 2)) {
            ASSERT_NO_FATAL_FAILURE(full());
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
            const addr_t expected = model.alloc(size);
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
        ASSERT_EQ(pool.amem(), model.amem) << "call " << i;
        ASSERT_EQ(pool.fmem(), model.fmem) << "call " << i;
        ASSERT_EQ(pool.rmem(), model.rmem) << "call " << i;
        ASSERT_EQ(pool.umem(), model.umem) << "call " << i;
        ASSERT_EQ(model.nextBlock, blocksMade.size()) << "call " << i;
        if (i % 4096 == 0) {
            ASSERT_NO_FATAL_FAILURE(full()) << "call " << i;
        }
    }
    ASSERT_NO_FATAL_FAILURE(full());
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
    arena = static_cast<char*>(std::malloc(arenaSize));
    ASSERT_NE(arena, nullptr);
    compare(manyOps, true, 2);
    std::free(arena);
    arena = nullptr;
}
