// kavlib: the index of a pool's free memory (see internal/poolindex.h).
//
// A treap of block records by block address: a binary search tree in address
// order that is also a heap in the records' priorities.  Priorities are a
// mix of each record's address, so that blocks at evenly spaced addresses
// (the common case) still give a tree of logarithmic depth.  Every node
// knows the largest free block that starts in its subtree (subMax).
#include <kavlib/internal/poolindex.h>

#include <kavlib/kavassert.h>

using kavpool::addr;
using kavpool::addr_t;
using kavpool::nextOf;
using kavpool::ptr;
using kavpool::sizeOf;
using Record = kavPool::BlockRecord;

namespace {

unsigned int subMaxOf(const Record* r) { return r == nullptr ? 0 : r->subMax; }

unsigned int larger(unsigned int a, unsigned int b) { return a < b ? b : a; }

// Sets a node's subMax from its own free blocks and its children; true when
// it changed.
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

void audited(bool ok, const char* text)
{
    if (!ok)
        kavCheckFail(kavCheck::poolIndex, text);
}

} // namespace

void kavPool::Index::clear(kavPool& pool)
{
    pool._root = nullptr;
    pool._hint = nullptr;
    pool._hintBelow = 0;
    pool._predKnown = false;
    pool._pred = nullptr;
}

namespace {

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
        Record* n = pool._root;
        for (;;) {
            if (n->subMax < record->maxFree)
                n->subMax = record->maxFree;
            Record*& child = record->begin() < n->begin() ? n->left : n->right;
            if (child == nullptr) {
                child = record;
                record->parent = n;
                break;
            }
            n = child;
        }
        while (record->parent != nullptr && record->priority > record->parent->priority)
            rotateUp(pool._root, record);
    }
    if (pool._hint != nullptr && record->begin() < pool._hint->begin() && record->maxFree > pool._hintBelow)
        pool._hintBelow = record->maxFree;
    touched(pool, record->begin());
}

Record* kavPool::Index::owner(kavPool& pool, addr_t a)
{
    Record* h = pool._hint;
    if (h != nullptr && h->begin() <= a && a < h->end())
        return h;
    Record* best = nullptr;
    for (Record* n = pool._root; n != nullptr;) {
        if (n->begin() <= a) {
            best = n;
            n = n->right;
        } else {
            n = n->left;
        }
    }
    return best;
}

Record* kavPool::Index::firstFit(kavPool& pool, unsigned int need)
{
    Record* h = pool._hint;
    if (h != nullptr && need > pool._hintBelow && h->maxFree >= need)
        return h;
    Record* n = pool._root;
    if (n == nullptr || n->subMax < need)
        return nullptr;
    unsigned int below = 0; // the largest free block below n's subtree, and in it below n
    for (;;) {
        if (n->left != nullptr && n->left->subMax >= need) {
            n = n->left;
            continue;
        }
        below = larger(below, subMaxOf(n->left));
        if (n->maxFree >= need)
            break;
        below = larger(below, n->maxFree);
        n = n->right;
    }
    if (n != h) {
        pool._hint = n;
        pool._predKnown = false;
    }
    pool._hintBelow = below;
    return n;
}

addr_t kavPool::Index::freeBelow(kavPool& pool, Record* record)
{
    if (record == pool._hint && pool._predKnown)
        return addr(pool._pred);
    // The highest record below `record` that holds a free block: either a
    // node where the search turns right, or the highest such record in the
    // left subtree of one.
    const addr_t key = record->begin();
    Record* node = nullptr;
    Record* subtree = nullptr;
    for (Record* n = pool._root; n != nullptr;) {
        if (n->begin() < key) {
            if (n->maxFree != 0) {
                node = n;
                subtree = nullptr;
            } else if (subMaxOf(n->left) != 0) {
                node = nullptr;
                subtree = n->left;
            }
            n = n->right;
        } else {
            n = n->left;
        }
    }
    while (subtree != nullptr) {
        if (subMaxOf(subtree->right) != 0) {
            subtree = subtree->right;
        } else if (subtree->maxFree != 0) {
            node = subtree;
            subtree = nullptr;
        } else {
            subtree = subtree->left;
        }
    }
    const addr_t below = node == nullptr ? 0 : lastFreeOf(node);
    if (record == pool._hint) {
        pool._pred = ptr(below);
        pool._predKnown = true;
    }
    return below;
}

void kavPool::Index::grew(kavPool& pool, Record* record)
{
    for (Record* n = record; n != nullptr && pull(n);)
        n = n->parent;
    if (pool._hint != nullptr && record->begin() < pool._hint->begin() && record->maxFree > pool._hintBelow)
        pool._hintBelow = record->maxFree;
}

void kavPool::Index::shrank(kavPool&, Record* record, unsigned int largest)
{
    record->maxFree = largest;
    for (Record* n = record; n != nullptr && pull(n);)
        n = n->parent;
}

void kavPool::Index::touched(kavPool& pool, addr_t a)
{
    if (pool._hint != nullptr && a < pool._hint->begin())
        pool._predKnown = false;
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
// subMax.  Returns the number of nodes.
unsigned int auditTree(const Record* n, const Record* parent, addr_t lo, addr_t hi)
{
    if (n == nullptr)
        return 0;
    audited(n->parent == parent, "index parent links");
    audited(lo <= n->begin() && n->end() <= hi, "index in address order");
    audited(parent == nullptr || n->priority <= parent->priority, "index priorities");
    audited(n->subMax == larger(n->maxFree, larger(subMaxOf(n->left), subMaxOf(n->right))), "index subtree maxima");
    return 1 + auditTree(n->left, n, lo, n->begin()) + auditTree(n->right, n, n->end(), hi);
}

} // namespace

void kavPool::Index::audit(const kavPool& pool)
{
    unsigned int records = 0;
    for (const Record* b = pool._blockList; b != nullptr; b = b->next) {
        ++records;
        // The free blocks that start in b, by a plain walk of the list.
        addr_t first = 0;
        unsigned int largest = 0;
        for (addr_t f = addr(pool._freeList); f != 0; f = nextOf(f)) {
            if (f < b->begin() || f >= b->end())
                continue;
            if (first == 0)
                first = f;
            largest = larger(largest, sizeOf(f));
        }
        audited(b->firstFree == first, "index first free block of a block");
        audited(b->maxFree >= largest && (b->maxFree == 0) == (largest == 0), "index largest free block of a block");
    }
    audited(auditTree(pool._root, nullptr, 0, ~addr_t(0)) == records, "index holds every block");

    if (const Record* h = pool._hint) {
        addr_t last = 0;
        for (addr_t f = addr(pool._freeList); f != 0 && f < h->begin(); f = nextOf(f))
            last = f;
        audited(!pool._predKnown || addr(pool._pred) == last, "index free block below the last fit");
        for (const Record* b = pool._blockList; b != nullptr; b = b->next)
            audited(b->begin() >= h->begin() || b->maxFree <= pool._hintBelow, "index bound below the last fit");
    }
}
