// kavlib internal: the memory layout of a pool's blocks and free blocks.
//
// A free block carries its header inside itself, in whichever layout the
// pointer width calls for:
//
//   4-byte pointers: [next][size]          -- exactly the 8-byte rounding unit
//   8-byte pointers: [next | 1]            -- a block of exactly 8 bytes
//                    [next][size][...]     -- a block of 16 bytes or more
//
// With wider pointers an 8-byte free block has no room for its size, so the
// low bit of its link word (always clear: blocks are 8-byte aligned) says
// "this block is 8 bytes long".  No free block needs memory outside itself.
//
// Every access to a word of free memory goes through Watch::openWord() and
// closeWord(), which the memory-checker builds use to open just that 8-byte
// word for the access (see poolwatch.h).  Not installed: only the pool's own sources include it.
#ifndef KAVLIB_INTERNAL_POOLBLOCKS_H
#define KAVLIB_INTERNAL_POOLBLOCKS_H

#include <kavlib/kavpool.h>
#include <kavlib/internal/poolwatch.h>

#include <cstdint>
#include <cstring>

namespace kavpool {

using addr_t = std::uintptr_t;

inline addr_t addr(const void* p) { return reinterpret_cast<addr_t>(p); }
inline void* ptr(addr_t a) { return reinterpret_cast<void*>(a); }

template <bool memcheckToo = true>
inline addr_t loadWord(addr_t at)
{
    addr_t w;
    kavPool::Watch::openWord<memcheckToo>(at);
    std::memcpy(&w, ptr(at), sizeof w);
    kavPool::Watch::closeWord<memcheckToo>(at);
    return w;
}
template <bool memcheckToo = true>
inline void storeWord(addr_t at, addr_t w)
{
    kavPool::Watch::openWord<memcheckToo>(at);
    std::memcpy(ptr(at), &w, sizeof w);
    kavPool::Watch::closeWord<memcheckToo>(at);
}
template <bool memcheckToo = true>
inline unsigned int loadSize(addr_t at)
{
    unsigned int s;
    kavPool::Watch::openWord<memcheckToo>(at);
    std::memcpy(&s, ptr(at), sizeof s);
    kavPool::Watch::closeWord<memcheckToo>(at);
    return s;
}
template <bool memcheckToo = true>
inline void storeSize(addr_t at, unsigned int s)
{
    kavPool::Watch::openWord<memcheckToo>(at);
    std::memcpy(ptr(at), &s, sizeof s);
    kavPool::Watch::closeWord<memcheckToo>(at);
}

// The link of a recycled element, which lies in free memory too.
inline void* readLink(const void* piece) { return ptr(loadWord(addr(piece))); }
inline void writeLink(void* piece, void* link) { storeWord(addr(piece), addr(link)); }

constexpr bool tagged = sizeof(void*) > 4;
constexpr addr_t tinyBit = 1; // tagged layout: "exactly 8 bytes"

/// The next free block (the one at the next higher address), 0 at the end.
template <bool memcheckToo = true>
inline addr_t nextOf(addr_t block) { return tagged ? loadWord<memcheckToo>(block) & ~tinyBit : loadWord<memcheckToo>(block); }

/// The size of a free block.
template <bool memcheckToo = true>
inline unsigned int sizeOf(addr_t block)
{
    if (tagged && (loadWord<memcheckToo>(block) & tinyBit) != 0)
        return 8;
    return loadSize<memcheckToo>(block + sizeof(addr_t));
}

/// Writes the whole header of a free block.
template <bool memcheckToo = true>
inline void writeHeader(addr_t block, addr_t next, unsigned int size)
{
    if (tagged && size == 8) {
        storeWord<memcheckToo>(block, next | tinyBit);
        return;
    }
    storeWord<memcheckToo>(block, next);
    storeSize<memcheckToo>(block + sizeof(addr_t), size);
}

/// Changes only the link of a free block.
template <bool memcheckToo = true>
inline void setNext(addr_t block, addr_t next)
{
    if (tagged)
        storeWord<memcheckToo>(block, next | (loadWord<memcheckToo>(block) & tinyBit));
    else
        storeWord<memcheckToo>(block, next);
}

/// Audited builds: stops with the report of a broken index (line 309, `text`
/// saying how) unless `ok`.  The tree and the block map check themselves
/// with it.
void audited(bool ok, const char* text);

} // namespace kavpool

// One record per block, obtained from the heap with its block.  Three fields
// are the written record: the chain, newest first, that ablocks(), release()
// and the report walk (next), and the block (start, size); the rest place the
// record in the pool's index of free memory (poolindex.h).  The fields that
// a large piece's alloc() and free() read come first, so that they share as
// few cache lines as the record's place on the heap allows.
struct kavPool::BlockRecord {
    void* start = nullptr;             ///< start of the block
    unsigned int size = 0;             ///< block size in bytes
    unsigned int maxFree = 0;          ///< no free block starting here is larger; 0 if none
    kavpool::addr_t firstFree = 0;     ///< lowest free block starting in this block, 0 if none
    BlockRecord* higher = nullptr;     ///< the block at the next higher address, null if none
    BlockRecord* lower = nullptr;      ///< the block at the next lower address, null if none
    std::uint64_t* holdingWord = nullptr; ///< its word of the block map's marks (poolmap.h), while mapped
    unsigned int subMax = 0;           ///< no maxFree in this subtree is larger (poolindex.cpp)
    unsigned int priority = 0;         ///< tree priority, above every child's
    BlockRecord* next = nullptr;       ///< the next older block record
    BlockRecord* left = nullptr;       ///< subtree of the blocks at lower addresses
    BlockRecord* right = nullptr;      ///< subtree of the blocks at higher addresses
    BlockRecord* parent = nullptr;     ///< null at the root
    unsigned int stamp = 0;            ///< kavPool::releaseCount() when the block was added

    kavpool::addr_t begin() const { return kavpool::addr(start); }
    kavpool::addr_t end() const { return kavpool::addr(start) + size; }
    /// Whether address a lies in the block.  One unsigned comparison (an
    /// address below the start wraps to a large offset), so that the
    /// question costs one branch, not two that follow the addresses.
    bool holds(kavpool::addr_t a) const { return a - begin() < size; }
};

#endif
