// kavlib: the index of a pool's free memory (see internal/poolindex.h).
//
// A treap of block records by block address: a binary search tree in address
// order that is also a heap in the records' priorities.  Priorities are a
// mix of each record's address, so that blocks at evenly spaced addresses
// (the common case) still give a tree of logarithmic depth.  Every node
// knows a size that no free block starting in its subtree exceeds (subMax).
//
// A bound that grows is brought up to date at once, up to the root: a
// search must never pass over a subtree that can serve it.  A bound that
// shrinks is not: the record's own maxFree changes, its ancestors keep the
// old, larger bound.  Taking a block's last free block is then one store,
// not a climb that reads two children at every level, and a block that is
// filled and emptied again (pieces of a block's size, a batch given back)
// costs nothing in the tree at all.  A search that follows such a bound
// into a subtree that cannot serve it finds out at the bottom, corrects the
// bounds from there up, and starts again; each correction lowers at least
// one bound for good, so the work is paid for by the shrinks that left the
// bounds behind.
#include <kavlib/internal/poolindex.h>

#include <kavlib/kavassert.h>

using kavpool::addr;
using kavpool::audited;
using kavpool::addr_t;
using kavpool::nextOf;
using kavpool::ptr;
using kavpool::sizeOf;
using Record = kavPool::BlockRecord;

namespace {

unsigned int subMaxOf(const Record* r) { return r == nullptr ? 0 : r->subMax; }

unsigned int larger(unsigned int a, unsigned int b) { return a < b ? b : a; }

// Sets a node's subMax from its own free blocks and its children's bounds;
// true when it changed.
bool pull(Record* r)
{
    const unsigned int m = larger(r->maxFree, larger(subMaxOf(r->left), subMaxOf(r->right)));
    if (m == r->subMax)
        return false;
    r->subMax = m;
    return true;
}

// A well-mixed 32-bit priority from an address (the finaliser of SplitMix64).
unsigned int mix(addr_t a)
{
    std::uint64_t z = static_cast<std::uint64_t>(a) + 0x9E3779B97F4A7C15u;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return static_cast<unsigned int>(z ^ (z >> 31));
}

// The last free block that starts in `r`'s block.
addr_t lastFreeOf(const Record* r)
{
    addr_t f = r->firstFree;
    for (addr_t g = nextOf(f); g != 0 && g < r->end(); g = nextOf(g))
        f = g;
    return f;
}

} // namespace

void kavpool::audited(bool ok, const char* text)
{
    if (!ok)
        kavCheckFail(kavCheck::poolIndex, text);
}

void kavPool::Index::clear(kavPool& pool)
{
    if (pool._map != nullptr)
        pool._map->drop();
    pool._map = nullptr;
    pool._root = nullptr;
    pool._hint = nullptr;
    pool._hintBelow = 0;
    pool._predKnown = false;
    pool._pred = nullptr;
    pool._cut = nullptr;
    pool._cutPrev = nullptr;
    pool._cutHome = nullptr;
    pool._cutBelow = 0;
    pool._rover = nullptr;
    pool._roverHome = nullptr;
    pool._roverPrevKnown = false;
    pool._finger = nullptr;
    pool._fingerPred = nullptr;
    pool._fingerPredKnown = false;
}

namespace {

// Makes `lower` and `higher` neighbours in address order (either may be null).
void link(Record* lower, Record* higher)
{
    if (lower != nullptr)
        lower->higher = higher;
    if (higher != nullptr)
        higher->lower = lower;
}

// Lifts x above its parent, keeping the address order.
void rotateUp(Record*& root, Record* x)
{
    Record* p = x->parent;
    if (p->left == x) {
        p->left = x->right;
        if (x->right != nullptr)
            x->right->parent = p;
        x->right = p;
    } else {
        p->right = x->left;
        if (x->left != nullptr)
            x->left->parent = p;
        x->left = p;
    }
    x->parent = p->parent;
    if (p->parent == nullptr)
        root = x;
    else if (p->parent->left == p)
        p->parent->left = x;
    else
        p->parent->right = x;
    p->parent = x;
    pull(p);
    pull(x);
}

} // namespace

void kavPool::Index::insert(kavPool& pool, Record* record)
{
    record->left = record->right = record->parent = nullptr;
    record->subMax = record->maxFree;
    record->priority = mix(addr(record));
    if (pool._root == nullptr) {
        pool._root = record;
    } else {
        // The descent passes the record's neighbours in address order: the
        // last node it leaves to the right is the one below, the last it
        // leaves to the left the one above.
        Record* n = pool._root;
        Record* lower = nullptr;
        Record* higher = nullptr;
        for (;;) {
            if (n->subMax < record->maxFree)
                n->subMax = record->maxFree;
            const bool below = record->begin() < n->begin();
            (below ? higher : lower) = n;
            Record*& child = below ? n->left : n->right;
            if (child == nullptr) {
                child = record;
                record->parent = n;
                break;
            }
            n = child;
        }
        link(lower, record);
        link(record, higher);
        while (record->parent != nullptr && record->priority > record->parent->priority)
            rotateUp(pool._root, record);
    }
    if (pool._hint != nullptr && record->begin() < pool._hint->begin() && record->maxFree > pool._hintBelow)
        pool._hintBelow = record->maxFree;
    touched(pool, record->begin());
    mapped(pool, record);
}

// A pool that has grown large enough gets a map of its blocks; without
// pages for it, the tree goes on alone.
void kavPool::Index::mapped(kavPool& pool, Record* record)
{
    if (pool._map == nullptr && pool._amem + std::uint64_t{record->size} >= BlockMap::minBytes)
        pool._map = BlockMap::make(pool._blockList); // the new record is not on the chain yet
    if (pool._map != nullptr && !pool._map->insert(record)) {
        pool._map->drop();
        pool._map = nullptr;
    }
}

void kavPool::Index::remove(kavPool& pool, Record* record)
{
    if (pool._map != nullptr)
        pool._map->remove(record);
    // Down below its children, the one of higher priority first, to a leaf
    // (a treap's shape depends on its keys and priorities alone), then off.
    while (record->left != nullptr || record->right != nullptr) {
        Record* l = record->left;
        Record* r = record->right;
        rotateUp(pool._root, r == nullptr || (l != nullptr && l->priority > r->priority) ? l : r);
    }
    link(record->lower, record->higher);
    Record* parent = record->parent;
    if (parent == nullptr)
        pool._root = nullptr;
    else
        (parent->left == record ? parent->left : parent->right) = nullptr;
    for (Record* n = parent; n != nullptr && pull(n);)
        n = n->parent;

    // Nothing remembered may point into the block any more.
    if (pool._hint == record) {
        pool._hint = nullptr;
        pool._hintBelow = 0;
        pool._predKnown = false;
    }
    if (pool._finger == record) {
        pool._finger = nullptr;
        pool._fingerPredKnown = false;
    }
    if (pool._cutHome == record) {
        pool._cut = nullptr;
        pool._cutHome = nullptr;
    }
    if (pool._roverHome == record) {
        pool._rover = nullptr;
        pool._roverHome = nullptr;
    }
    touched(pool, record->begin());
}

namespace {

// A search found that n's subtree holds less than its bound said: corrects
// the bounds from n up, as far as they change.
void correct(Record* n)
{
    while (n != nullptr && pull(n))
        n = n->parent;
}



// The lowest record in n's subtree (whose subMax is at least `need`) that
// holds a free block of `need` bytes; `below` takes in the bound of every
// record and subtree passed over.  Null when the subtree turns out to hold
// none: its bounds are then corrected, and the caller asks again.
Record* descend(Record* n, unsigned int need, unsigned int& below)
{
    for (;;) {
        if (subMaxOf(n->left) >= need) {
            n = n->left;
            continue;
        }
        below = larger(below, subMaxOf(n->left));
        if (n->maxFree >= need)
            return n;
        below = larger(below, n->maxFree);
        if (subMaxOf(n->right) < need) {
            correct(n);
            return nullptr;
        }
        n = n->right;
    }
}

// descend() into `n`, again after each correction, while its bound says it
// can serve; null when it cannot.
Record* descendWhile(Record* n, unsigned int need, unsigned int& below)
{
    while (subMaxOf(n) >= need)
        if (Record* fit = descend(n, need, below))
            return fit;
    return nullptr;
}

// The lowest record above `h` that holds a free block of `need` bytes, or
// null; `between` takes in the largest free block of every record passed
// over.  It climbs from h only as far as the subtree that holds the answer.
Record* fitAbove(Record* h, unsigned int need, unsigned int& between)
{
    if (Record* fit = descendWhile(h->right, need, between))
        return fit;
    between = larger(between, subMaxOf(h->right));
    for (Record* n = h; n->parent != nullptr; n = n->parent) {
        Record* p = n->parent;
        if (p->left != n)
            continue; // p and its left subtree lie below h
        if (p->maxFree >= need)
            return p;
        between = larger(between, p->maxFree);
        if (Record* fit = descendWhile(p->right, need, between))
            return fit;
        between = larger(between, subMaxOf(p->right));
    }
    return nullptr;
}

} // namespace

Record* kavPool::Index::ownerNear(kavPool& pool, addr_t a)
{
    if (pool._map != nullptr)
        return pool._map->owner(a);
    // Pieces often come back next to the last one: in the block on either
    // side of its block (owner() has looked in that block itself).
    if (Record* f = pool._finger) {
        Record* g = a < f->begin() ? f->lower : f->higher;
        if (g != nullptr && g->holds(a))
            return g;
    }
    Record* best = nullptr;
    for (Record* n = pool._root; n != nullptr;) {
        if (a < n->begin()) {
            n = n->left;
        } else {
            best = n;
            if (a < n->end())
                break;
            n = n->right;
        }
    }
    return best;
}

Record* kavPool::Index::holderAbove(Record* record, addr_t a)
{
    Record* next = record->higher;
    return next != nullptr && next->holds(a) ? next : nullptr;
}

Record* kavPool::Index::firstFit(kavPool& pool, unsigned int need)
{
    Record* n = pool._root;
    if (subMaxOf(n) < need)
        return nullptr;
    Record* h = pool._hint;
    if (h != nullptr && need > pool._hintBelow) {
        // Nothing below h is large enough: the answer is h or above it.
        if (h->maxFree >= need)
            return h;
        unsigned int between = 0; // the largest free block from h up to the answer
        Record* fit = fitAbove(h, need, between);
        if (fit == nullptr)
            return nullptr; // not reached while the bound holds
        // The last free block below the answer is known without a search
        // when every block between the two has none.
        if (between != 0 || (h->maxFree == 0 && !pool._predKnown)) {
            pool._predKnown = false;
        } else {
            if (h->maxFree != 0)
                pool._pred = ptr(lastFreeOf(h));
            pool._predKnown = true;
        }
        pool._hintBelow = larger(pool._hintBelow, larger(h->maxFree, between));
        pool._hint = fit;
        return fit;
    }
    unsigned int below = 0; // the largest free block below the answer
    n = descendWhile(n, need, below);
    if (n == nullptr)
        return nullptr;
    if (n != h) {
        pool._hint = n;
        pool._predKnown = false;
    }
    pool._hintBelow = below;
    return n;
}

addr_t kavPool::Index::findBelow(kavPool& pool, Record* record)
{
    // The highest record below `record` that holds a free block: most
    // often the block just below; else the map's answer; else (no map, or
    // the map gave up) the highest such in its left subtree, or, climbing,
    // the first ancestor reached from its right that holds one itself or
    // has one in its left subtree.  The nearest candidates come first, so
    // the climb stops as soon as one is found.
    // A subtree whose bound is out of date may hold none: its bounds are
    // corrected and the search starts again.
    Record* node = nullptr;
    bool known = false;
    if (record->lower != nullptr && record->lower->maxFree != 0) {
        node = record->lower; // the common case: the block just below
        known = true;
    } else if (pool._map != nullptr) {
        node = pool._map->holdingBelow(record, known);
    }
    for (bool again = !known; again;) {
        again = false;
        Record* subtree = nullptr;
        if (subMaxOf(record->left) != 0) {
            subtree = record->left;
        } else {
            for (Record* x = record; x->parent != nullptr && subtree == nullptr && node == nullptr; x = x->parent) {
                Record* p = x->parent;
                if (p->right != x)
                    continue;
                if (p->maxFree != 0)
                    node = p;
                else if (subMaxOf(p->left) != 0)
                    subtree = p->left;
            }
        }
        while (subtree != nullptr) {
            if (subMaxOf(subtree->right) != 0) {
                subtree = subtree->right;
            } else if (subtree->maxFree != 0) {
                node = subtree;
                subtree = nullptr;
            } else if (subMaxOf(subtree->left) != 0) {
                subtree = subtree->left;
            } else {
                correct(subtree);
                again = true;
                subtree = nullptr;
            }
        }
    }
    const addr_t below = node == nullptr ? 0 : lastFreeOf(node);
    if (record == pool._hint) {
        pool._pred = ptr(below);
        pool._predKnown = true;
    }
    if (record == pool._finger) {
        pool._fingerPred = ptr(below);
        pool._fingerPredKnown = true;
    }
    return below;
}

void kavPool::Index::raise(Record* record)
{
    // A subtree's largest can only grow to the new value: no child to read.
    const unsigned int m = record->maxFree;
    for (Record* n = record; n != nullptr && n->subMax < m; n = n->parent)
        n->subMax = m;
}

addr_t kavPool::Index::plainFit(const kavPool& pool, unsigned int r)
{
    for (addr_t f = addr(pool._freeList); f != 0; f = nextOf(f))
        if (sizeOf(f) >= r)
            return f;
    return 0;
}

namespace {

// Checks a subtree: address order within (lo, hi), parents, priorities and
// the bounds (subMax).  Returns the number of nodes.
unsigned int auditTree(const Record* n, const Record* parent, addr_t lo, addr_t hi)
{
    if (n == nullptr)
        return 0;
    audited(n->parent == parent, "index parent links");
    audited(lo <= n->begin() && n->end() <= hi, "index in address order");
    audited(parent == nullptr || n->priority <= parent->priority, "index priorities");
    audited(n->subMax >= larger(n->maxFree, larger(subMaxOf(n->left), subMaxOf(n->right))), "index subtree bounds");
    return 1 + auditTree(n->left, n, lo, n->begin()) + auditTree(n->right, n, n->end(), hi);
}

// Checks that every node's neighbour links name the nodes before and after
// it in the tree's order; `prev` is the node last visited.
void auditOrder(const Record* n, const Record*& prev)
{
    if (n == nullptr)
        return;
    auditOrder(n->left, prev);
    audited(n->lower == prev && (prev == nullptr || prev->higher == n), "index neighbours in address order");
    prev = n;
    auditOrder(n->right, prev);
}

} // namespace

void kavPool::Index::audit(const kavPool& pool)
{
    unsigned int records = 0;
    for (const Record* b = pool._blockList; b != nullptr; b = b->next)
        ++records;
    audited(auditTree(pool._root, nullptr, 0, ~addr_t(0)) == records, "index holds every block");
    if (pool._map != nullptr)
        pool._map->audit(pool._blockList);
    const Record* highest = nullptr;
    auditOrder(pool._root, highest);
    audited(highest == nullptr || highest->higher == nullptr, "index neighbours in address order");

    // The free blocks that start in each block, by a plain walk of the
    // list beside the blocks in address order (their links are checked
    // above): one pass over each.  Every free block lies in a block.
    const Record* b = highest;
    while (b != nullptr && b->lower != nullptr)
        b = b->lower;
    addr_t f = addr(pool._freeList);
    for (; b != nullptr; b = b->higher) {
        audited(f == 0 || f >= b->begin(), "index free blocks within the blocks");
        addr_t first = 0;
        unsigned int largest = 0;
        for (; f != 0 && f < b->end(); f = nextOf(f)) {
            if (first == 0)
                first = f;
            largest = larger(largest, sizeOf(f));
        }
        audited(b->firstFree == first, "index first free block of a block");
        audited(b->maxFree >= largest && (b->maxFree == 0) == (largest == 0), "index largest free block of a block");
    }
    audited(f == 0, "index free blocks within the blocks");

    if (const Record* h = pool._hint) {
        addr_t last = 0;
        for (addr_t f = addr(pool._freeList); f != 0 && f < h->begin(); f = nextOf(f))
            last = f;
        audited(!pool._predKnown || addr(pool._pred) == last, "index free block below the last fit");
        for (const Record* b = pool._blockList; b != nullptr; b = b->next)
            audited(b->begin() >= h->begin() || b->maxFree <= pool._hintBelow, "index bound below the last fit");
    }

    // The fingers into the list: each a free block of the list, the cut
    // with its predecessor, its block and a bound on every free block below.
    const addr_t cut = addr(pool._cut);
    const addr_t rover = addr(pool._rover);
    bool cutSeen = cut == 0, roverSeen = rover == 0;
    addr_t prev = 0;
    for (addr_t f = addr(pool._freeList); f != 0; prev = f, f = nextOf(f)) {
        if (f == cut) {
            cutSeen = true;
            audited(addr(pool._cutPrev) == prev, "index free block before the cut");
            audited(pool._cutHome->holds(cut), "index block of the cut");
        }
        if (!cutSeen)
            audited(sizeOf(f) <= pool._cutBelow, "index bound below the cut");
        roverSeen = roverSeen || f == rover;
    }
    audited(cutSeen && roverSeen, "index fingers on free blocks");
    if (rover != 0) {
        audited(pool._roverHome->holds(rover), "index block of the rover");
        audited(pool._roverEnd == rover + sizeOf(rover), "index end of the rover");
        addr_t last = 0;
        for (addr_t f = addr(pool._freeList); f != rover; f = nextOf(f))
            last = f;
        audited(!pool._roverPrevKnown || addr(pool._roverPrev) == last, "index free block before the rover");
    }
    bool fingerSeen = pool._finger == nullptr;
    for (const Record* b = pool._blockList; b != nullptr; b = b->next)
        fingerSeen = fingerSeen || b == pool._finger;
    audited(fingerSeen, "index finger on a block");
    if (pool._finger != nullptr && pool._fingerPredKnown) {
        addr_t last = 0;
        for (addr_t f = addr(pool._freeList); f != 0 && f < pool._finger->begin(); f = nextOf(f))
            last = f;
        audited(addr(pool._fingerPred) == last, "index free block below the finger");
    }
}
