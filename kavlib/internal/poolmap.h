// kavlib internal: the map from addresses to the blocks of a large pool.
//
// Part of the free-block index (poolindex.h).  The index's tree finds a
// block by address in a descent of logarithmic depth, each step a record
// somewhere on the heap; a pool of many blocks that gets pieces back in no
// particular order pays a cache miss at nearly every step.  The map answers
// the two questions that every such piece asks in a few loads:
//
//  * which block holds an address: memory is cut into granules of 4096
//    bytes, and every granule knows the highest block that meets it.  A
//    block has at least 8000 bytes, so at most two blocks meet a granule:
//    the one that starts in it, if any, and the one that runs into it from
//    below (that one's lower neighbour in address order);
//  * which is the nearest block below a given one that holds a free block:
//    every granule has a bit, set when a block starts in it and holds free
//    memory (its largest free block is not 0).
//
// Granules are grouped in leaves of 256 (1 MB of address space), found
// through a hash table by the address's leaf number and chained in address
// order.  The map lives in pages from the system (syspages.h), so it makes
// no heap call and moves no block; a pool takes one only when it has grown
// to `minBytes`.  When the system has no pages the pool drops its map and
// the tree answers alone: the map only makes the answers faster.
#ifndef KAVLIB_INTERNAL_POOLMAP_H
#define KAVLIB_INTERNAL_POOLMAP_H

#include <kavlib/internal/poolblocks.h>

#include <cstdint>

struct kavPool::BlockMap {
    using addr_t = kavpool::addr_t;

    static constexpr unsigned int granuleBits = 12;
    static constexpr unsigned int leafBits = 8;
    static constexpr unsigned int leafGranules = 1u << leafBits;
    static constexpr unsigned int minBytes = 16 * minBlock; ///< a pool of this many bytes takes a map
    /// Leaves that holdingBelow() looks through before it leaves the answer
    /// to the tree.
    static constexpr unsigned int nearLeaves = 4;

    struct Leaf {
        addr_t key;                                // address >> (granuleBits + leafBits)
        Leaf* lower;                               // the leaf of the next lower key, null if none
        std::uint64_t holding[leafGranules / 64];  // granules where a block with free memory starts
        BlockRecord* top[leafGranules];            // the highest block meeting each granule
    };

    /// A map of the pool's blocks (its record chain), each marked as holding
    /// free memory or not; null when the system has no pages.
    static BlockMap* make(BlockRecord* blocks);
    /// Gives every page of the map back.
    void drop();

    /// Enters a block (not overlapping any other); false when the system had
    /// no pages for it (the map is then incomplete and must be dropped).
    bool insert(BlockRecord* record);
    /// Takes a block out; its lower neighbour link must still be valid.
    void remove(const BlockRecord* record);
    /// The block holding address `a`, null if none.
    BlockRecord* owner(addr_t a) const
    {
        const Leaf* leaf = leafOf(a);
        return leaf != nullptr ? holderIn(leaf, a) : nullptr;
    }
    /// owner(a); when that block holds no free block, `below` becomes the
    /// nearest block below it that holds free memory if one starts in the
    /// same leaf (else, and otherwise, null).  Both answers that a piece
    /// coming back into a full block needs, from one leaf.
    BlockRecord* ownerAndBelow(addr_t a, const BlockRecord*& below) const
    {
        below = nullptr;
        const Leaf* leaf = leafOf(a);
        if (leaf == nullptr)
            return nullptr;
        BlockRecord* b = holderIn(leaf, a);
        // The block's own mark is clear: a mark below a's granule is of a
        // block below it.
        if (b != nullptr && b->firstFree == 0)
            below = markedBelow(leaf, (a >> granuleBits) & (leafGranules - 1));
        return b;
    }
    /// Marks the block as holding free memory (its maxFree is not 0), or
    /// no longer.
    static void mark(const BlockRecord* record)
    {
        *record->holdingWord |= std::uint64_t{1} << ((record->begin() >> granuleBits) & 63);
    }
    static void unmark(const BlockRecord* record)
    {
        *record->holdingWord &= ~(std::uint64_t{1} << ((record->begin() >> granuleBits) & 63));
    }
    /// The nearest block below `record` that holds free memory, null when
    /// there is none; `known` is false when the map gave up after
    /// nearLeaves leaves without an answer.
    BlockRecord* holdingBelow(const BlockRecord* record, bool& known) const;
    /// Bytes of the map's pages.
    std::size_t bytes() const;
    /// Checks the map against the pool's blocks (audited builds).
    void audit(const BlockRecord* blocks) const;

private:
    /// The leaf of address `a`, null if none; remembered for the next call.
    const Leaf* leafOf(addr_t a) const
    {
        const addr_t key = a >> (granuleBits + leafBits);
        const Leaf* leaf = _recent;
        if (leaf->key != key) {
            leaf = find(key);
            if (leaf != nullptr)
                _recent = leaf;
        }
        return leaf;
    }
    /// The block of `leaf` holding address `a` (in the leaf), null if none.
    static BlockRecord* holderIn(const Leaf* leaf, addr_t a)
    {
        BlockRecord* b = leaf->top[(a >> granuleBits) & (leafGranules - 1)];
        if (b != nullptr && a < b->begin())
            b = b->lower;
        return b != nullptr && b->holds(a) ? b : nullptr;
    }
    /// The marked block that starts nearest below granule `g` of `leaf`
    /// (g up to leafGranules: below the leaf's end), null if none.
    static BlockRecord* markedBelow(const Leaf* leaf, unsigned int g)
    {
        unsigned int word = g >> 6;
        std::uint64_t bits = 0;
        if (word < leafGranules / 64)
            bits = leaf->holding[word] & ((std::uint64_t{1} << (g & 63)) - 1);
        while (bits == 0 && word > 0)
            bits = leaf->holding[--word];
        if (bits == 0)
            return nullptr;
        return leaf->top[word * 64 + 63 - static_cast<unsigned int>(__builtin_clzll(bits))];
    }
    Leaf* find(addr_t key) const
    {
        for (std::uint32_t i = slotOf(key);; i = (i + 1) & _mask) {
            Leaf* leaf = _slots[i];
            if (leaf == nullptr || leaf->key == key)
                return leaf;
        }
    }
    std::uint32_t slotOf(addr_t key) const
    {
        return static_cast<std::uint32_t>((static_cast<std::uint64_t>(key) * 0x9E3779B97F4A7C15u) >> 32) & _mask;
    }
    Leaf* leafFor(addr_t key);
    Leaf* newLeaf(addr_t key);
    bool grow();
    void place(Leaf* leaf);
    bool moreLeaves();

    struct Chunk {
        Chunk* next;
        std::size_t bytes;
    };
    Leaf** _slots;        // the hash table of leaves, in pages of its own
    std::size_t _slotBytes;
    std::uint32_t _mask;  // slots - 1
    std::uint32_t _leaves;
    Leaf* _highest;       // the leaf of the highest key
    mutable const Leaf* _recent; // the leaf of the last owner() found
    Chunk* _chunks;       // the pages of the leaves, newest first; this
                          // header lies in the oldest
    char* _spare;         // room for more leaves in the newest chunk
    char* _spareEnd;
};

#endif
