// A plain model of the pool's written algorithm, and a replacement of the
// global operator new that sees (and may place) the pool's blocks, and counts
// and fails heap calls; shared by the differential test, the heap-call test
// and the pool fuzzer.
//
// The model: recycle lists last in first out, free blocks in an
// address-ordered list walked from the lowest address for the first fit,
// split and merged by address.  It is told where each new block is.
//
// The replacement records every request of 8000 bytes or more made while
// `heapWatch::watching` (the pool's blocks; block records are smaller) and,
// while `heapWatch::placing`, places those blocks in an arena: growing up
// from its middle and down from it, side by side or with a gap, so that free
// blocks run on from one block into the next (with `placingDown`, each right
// below the one before).  It counts the heap calls that
// succeed, and while `heapWatch::armed` fails the `failAt`th call with
// std::bad_alloc.  It defines operator new and delete: include this header in
// one file of a program only.
#ifndef KAVLIB_TESTS_PLAINPOOL_H
#define KAVLIB_TESTS_PLAINPOOL_H

#include <kavlib/kavlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <new>
#include <numeric>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using addr_t = std::uintptr_t;

namespace heapWatch {

inline bool watching = false;
inline bool placing = false;
inline bool placingDown = false; // with placing: each block right below the one before
inline std::vector<std::pair<addr_t, std::size_t>> blocksMade; // address, size
inline char* arena = nullptr;
inline std::size_t arenaSize = 0, arenaLow = 0, arenaHigh = 0;
// Where blocks go: a small generator (splitmix64), cheap to seed again for
// every fuzz input.
struct placementGen {
    std::uint64_t state;
    explicit placementGen(std::uint64_t seed) : state(seed) {}
    void seed(std::uint64_t s) { state = s; }
    std::uint64_t operator()()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }
};
inline placementGen placement(7);
inline long long newCalls = 0, deleteCalls = 0; // heap calls that succeeded
inline bool armed = false;       // failing is on (inside a library call)
inline long long armedCalls = 0; // heap calls made while armed
inline long long failAt = 0;     // the armed call that fails (0: none)

inline bool inArena(void* p) { return arena != nullptr && p >= arena && p < arena + arenaSize; }

// The arena is emptied with the pool (after release).
inline void emptyArena() { arenaLow = arenaHigh = arenaSize / 2; }

// Takes an arena of `size` bytes from the heap (0: gives it back).
inline void useArena(std::size_t size)
{
    std::free(arena);
    arena = size == 0 ? nullptr : static_cast<char*>(std::malloc(size));
    arenaSize = arena == nullptr ? 0 : size;
    emptyArena();
}

// Room for `n` bytes in the arena, or null when it is full.
inline void* place(std::size_t n)
{
    if (placingDown) { // a layout that a test spells out
        if (arenaLow < n)
            return nullptr;
        arenaLow -= n;
        return arena + arenaLow;
    }
    // Mostly side by side or a few bytes apart; now and then megabytes apart,
    // so that a pool's blocks lie far from each other in its block map.
    const std::uint64_t kind = placement() % 64;
    const std::size_t gap = kind == 0 ? (1 + placement() % 6) << 20 : kind % 3 == 0 ? 8 * (1 + placement() % 1000) : 0;
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

} // namespace heapWatch

// These replacements are malloc and free underneath; GCC cannot see that
// the pair is matched once operator delete inlines into a delete-expression.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t n)
{
    using namespace heapWatch;
    if (armed && ++armedCalls == failAt)
        throw std::bad_alloc();
    void* p = watching && placing && n >= 8000 && arena != nullptr ? place(n) : nullptr;
    if (p == nullptr)
        p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr)
        throw std::bad_alloc();
    if (watching && n >= 8000) {
        // The list's own growth is not one of the pool's blocks.
        watching = false;
        blocksMade.emplace_back(reinterpret_cast<addr_t>(p), n);
        watching = true;
    }
    ++newCalls;
    return p;
}

void operator delete(void* p) noexcept
{
    heapWatch::deleteCalls += p != nullptr;
    if (!heapWatch::inArena(p))
        std::free(p);
}

void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

// The other forms go the same way, so that no piece is given back to an
// allocator other than the one it came from (sanitizers check the pairing).
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
    try {
        return operator new(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { operator delete(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { operator delete(p); }

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// The written algorithm, walked as written.
struct plainPool {
    std::vector<addr_t> recycled[64];
    // The free blocks, in address order: a sorted vector, which keeps its
    // memory from use to use (a map took a heap call for most steps).
    std::vector<std::pair<addr_t, unsigned int>> freeBlocks;
    unsigned int amem = 0, fmem = 0, rmem = 0, umem = 0, blocks = 0;

    static unsigned int blockSize(unsigned int size) { return kavPool::roundSize(std::max(size, 8000u)); }

    // Back to an empty pool; the lists keep their memory.
    void clear()
    {
        for (auto& list : recycled)
            list.clear();
        freeBlocks.clear();
        amem = fmem = rmem = umem = blocks = 0;
    }

    // The first free block of at least r bytes (the first fit), or end().
    std::vector<std::pair<addr_t, unsigned int>>::const_iterator firstFit(unsigned int r) const
    {
        return std::find_if(freeBlocks.begin(), freeBlocks.end(), [r](const auto& b) { return b.second >= r; });
    }

    // The size of the block that alloc(size) adds first, or 0 when it needs none.
    unsigned int blockFor(unsigned int size) const
    {
        const unsigned int r = kavPool::roundSize(size);
        return (r < 512 && !recycled[r / 8].empty()) || firstFit(r) != freeBlocks.end() ? 0 : blockSize(r);
    }

    // A new block of n bytes at `at`: linked in by address, never merged.
    void addblock(addr_t at, unsigned int n)
    {
        freeBlocks.emplace(below(at), at, n);
        amem += n, fmem += n, ++blocks;
    }

    // After the block blockFor(size) names, if any, was added.
    addr_t alloc(unsigned int size)
    {
        const unsigned int r = kavPool::roundSize(size);
        if (r < 512 && !recycled[r / 8].empty()) {
            const addr_t a = recycled[r / 8].back();
            recycled[r / 8].pop_back();
            rmem -= r, umem += r;
            return a;
        }
        const auto fit = firstFit(r);
        if (fit == freeBlocks.end())
            return 0;
        const auto [a, n] = *fit;
        const auto at = freeBlocks.begin() + (fit - freeBlocks.cbegin());
        if (n > r)
            *at = {a + r, n - r}; // the rest keeps its place in the order
        else
            freeBlocks.erase(at);
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
        auto it = freeBlocks.emplace(below(p), p, r);
        if (it != freeBlocks.begin() && std::prev(it)->first + std::prev(it)->second == p) {
            std::prev(it)->second += r;
            it = std::prev(freeBlocks.erase(it));
        }
        if (const auto next = std::next(it); next != freeBlocks.end() && it->first + it->second == next->first) {
            it->second += next->second;
            freeBlocks.erase(next);
        }
    }

    // Where a free block at `a` goes in the order.
    std::vector<std::pair<addr_t, unsigned int>>::iterator below(addr_t a)
    {
        return std::lower_bound(freeBlocks.begin(), freeBlocks.end(), a,
                                [](const auto& b, addr_t x) { return b.first < x; });
    }

    unsigned int recycledCount() const
    {
        return std::accumulate(std::begin(recycled), std::end(recycled), 0u,
                               [](unsigned int n, const auto& list) { return n + static_cast<unsigned int>(list.size()); });
    }

    // The free-block line of the pool's report, as the pool must write it.
    std::string freeLine() const
    {
        std::ostringstream os;
        os << "  Free blocks: ";
        for (const auto& [a, n] : freeBlocks)
            os << " @" << reinterpret_cast<const void*>(a) << "(" << n << ")";
        return os.str();
    }
};

// The free-block line of the pool's report (library flag 0 lists them; it
// is clear afterwards).
inline std::string freeLine(const kavPool& p)
{
    std::ostringstream os;
    kavLib::set(0);
    os << p;
    kavLib::clr(0);
    const std::string text = os.str();
    const std::size_t at = text.find("  Free blocks:");
    return at == std::string::npos ? std::string() : text.substr(at, text.find('\n', at) - at);
}

#endif
