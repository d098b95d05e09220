// kavlib internal: the index that finds first fits and neighbours in a pool.
//
// The free-block list in address order is the record of a pool's free memory
// (fblocks() and the report walk it), but walking it from the lowest address
// costs time linear in the number of free blocks.  The index answers the
// same questions in time logarithmic in the number of blocks:
//
//  * Each free block belongs to the block in which it starts (merging looks
//    at addresses only, so it may run on into a neighbouring block placed
//    right after).  A block record knows the lowest free block that starts
//    in it and a size that no free block starting in it exceeds: exactly
//    the largest after a search has walked the block, possibly more after
//    pieces were cut (finding the new largest would mean a walk every time),
//    and 0 exactly when the block has no free block.
//  * The block records form a treap by address whose nodes also know a
//    bound on the free blocks in their subtree: raised at once, lowered
//    when a search finds it out of date (poolindex.cpp says why).  A
//    first-fit search goes straight to the lowest block that holds a large
//    enough free block and walks only that block's free blocks.
//  * The answer of the last search (a block, and a bound on every free block
//    below it) serves the common growth pattern at once: requests met from
//    the newest block while every lower block is too full.  When that block
//    is full, the next search starts from it and climbs the tree only as far
//    as the next block that can serve, usually the next one up.
//  * Two fingers into the free-block list serve the calls that follow one
//    another in address order (the pool keeps them, the index audits them):
//    the free block where the last cut left off (or, when the cut took the
//    rest of its block, the free block just after it in the next block up),
//    with its list predecessor and a bound on every free block below it,
//    serves the next request without a search when it is large enough; the free block where the last
//    large piece went (the rover, with its block and, when known, its list
//    predecessor), and that piece's block, serve a piece coming back next
//    to the last one without a descent.
//
//  * A pool of 128 000 bytes or more also keeps a map from addresses to its
//    blocks (poolmap.h): the block that holds a piece coming back, and the
//    nearest block below one that holds free memory, in a few loads instead
//    of a descent of the tree, whose records are scattered over the heap.
//
// The index lives in the block records and the map in pages from the
// system: it makes no heap call of its own.
#ifndef KAVLIB_INTERNAL_POOLINDEX_H
#define KAVLIB_INTERNAL_POOLINDEX_H

#include <kavlib/internal/poolblocks.h>
#include <kavlib/internal/poolmap.h>

struct kavPool::Index {
    using addr_t = kavpool::addr_t;

    /// Empties the index (release()).
    static void clear(kavPool& pool);
    /// Enters a new block record whose whole block is one free block.
    static void insert(kavPool& pool, BlockRecord* record);
    /// Enters a new record into the pool's block map, making the map when
    /// the pool has grown large enough for one.
    static void mapped(kavPool& pool, BlockRecord* record);
    /// Takes out a record whose block holds no free block of the list any
    /// more, leaving the tree as if it had never been entered.
    static void remove(kavPool& pool, BlockRecord* record);
    /// The record of the block that holds address `a`.
    static BlockRecord* owner(kavPool& pool, addr_t a)
    {
        BlockRecord* h = pool._hint;
        if (h != nullptr && h->holds(a))
            return h;
        BlockRecord* f = pool._finger;
        if (f != nullptr && f->holds(a))
            return f;
        return ownerNear(pool, a);
    }
    /// owner() where neither the remembered block nor the finger's holds
    /// `a`: the map, else the finger's neighbours or a descent.
    static BlockRecord* ownerNear(kavPool& pool, addr_t a);
    /// The block just above `record`'s when it holds address `a`, else null.
    static BlockRecord* holderAbove(BlockRecord* record, addr_t a);
    /// The lowest block holding a free block of at least `need` (> 0) bytes.
    static BlockRecord* firstFit(kavPool& pool, unsigned int need);
    /// The free block just below `record`'s block (the last one that starts
    /// below it), 0 when there is none.  Remembered for the last fit's block
    /// and for the finger's.
    static addr_t freeBelow(kavPool& pool, BlockRecord* record)
    {
        if (record == pool._hint && pool._predKnown)
            return kavpool::addr(pool._pred);
        if (record == pool._finger && pool._fingerPredKnown)
            return kavpool::addr(pool._fingerPred);
        return findBelow(pool, record);
    }
    /// freeBelow() when it is not remembered: a climb from the record.
    static addr_t findBelow(kavPool& pool, BlockRecord* record);
    /// The record's maxFree has grown: bring the tree up to date.
    static void grew(kavPool& pool, BlockRecord* record)
    {
        const unsigned int m = record->maxFree;
        if (record->subMax < m)
            raise(record);
        if (pool._map != nullptr)
            BlockMap::mark(record);
        if (pool._hint != nullptr && record->begin() < pool._hint->begin() && m > pool._hintBelow)
            pool._hintBelow = m;
    }
    /// The tree's part of grew(): the bounds of the record and of its
    /// ancestors rise to its maxFree.
    static void raise(BlockRecord* record);
    /// The record's largest free block is known to be `largest` (0: it has
    /// none left).  The tree's bounds above it stay as they are.
    static void shrank(kavPool& pool, BlockRecord* record, unsigned int largest)
    {
        if (largest == 0 && pool._map != nullptr)
            BlockMap::unmark(record);
        record->maxFree = largest;
    }
    /// A free block was made or taken away at `a` (the last one below the
    /// remembered block or the finger's may have changed).
    static void touched(kavPool& pool, addr_t a)
    {
        if (pool._hint != nullptr && a < pool._hint->begin())
            pool._predKnown = false;
        if (pool._finger != nullptr && a < pool._finger->begin())
            pool._fingerPredKnown = false;
    }
    /// The first fit for r bytes by a plain walk of the list (audits).
    static addr_t plainFit(const kavPool& pool, unsigned int r);
    /// Checks every record, the tree and the remembered search against the
    /// free-block list (audited builds); stops with an assertion report.
    static void audit(const kavPool& pool);
};

#endif
