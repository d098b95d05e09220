// kavlib: pool allocator, registry, reports and the main pool.
//
// Free memory is kept in two shapes.  Pieces below 512 bytes that come back
// wait on one of 64 LIFO recycle lists (handled inline in kavpool.h).
// Everything else is a free block on a singly linked list in strictly
// ascending address order.  A free block carries its header inside itself:
//
//   4-byte pointers: [next][size]          -- exactly the 8-byte rounding unit
//   8-byte pointers: [next | 1]            -- a block of exactly 8 bytes
//                    [next][size][...]     -- a block of 16 bytes or more
//
// With wider pointers an 8-byte free block has no room for its size, so the
// low bit of its link word (always clear: blocks are 8-byte aligned) says
// "this block is 8 bytes long".  No free block needs memory outside itself.
//
// Allocation takes the first free block that is large enough, in address
// order, and leaves the rest of it (however small) as a free block in its
// place.  A large piece that comes back is linked in by address and merged
// with a neighbour that ends where it begins or begins where it ends.  Blocks
// added by addblock() are linked in by address but never merged on insertion.
#include <kavlib/kavpool.h>

#include <kavlib/library.h>

#include <cstdint>
#include <new>
#include <ostream>

struct kavPool::BlockRecord {
    BlockRecord* next;  ///< the next older block record
    void* start;        ///< start of the block
    unsigned int size;  ///< block size in bytes
};

namespace {

using addr_t = std::uintptr_t;

addr_t addr(const void* p) { return reinterpret_cast<addr_t>(p); }
void* ptr(addr_t a) { return reinterpret_cast<void*>(a); }

addr_t loadWord(addr_t at)
{
    addr_t w;
    std::memcpy(&w, ptr(at), sizeof w);
    return w;
}
void storeWord(addr_t at, addr_t w) { std::memcpy(ptr(at), &w, sizeof w); }

unsigned int loadSize(addr_t at)
{
    unsigned int s;
    std::memcpy(&s, ptr(at), sizeof s);
    return s;
}
void storeSize(addr_t at, unsigned int s) { std::memcpy(ptr(at), &s, sizeof s); }

// The free-block header, in whichever layout the pointer width calls for.
constexpr bool tagged = sizeof(void*) > 4;
constexpr addr_t tinyBit = 1; // tagged layout: "exactly 8 bytes"

addr_t nextOf(addr_t block)
{
    return tagged ? loadWord(block) & ~tinyBit : loadWord(block);
}

unsigned int sizeOf(addr_t block)
{
    if (tagged && (loadWord(block) & tinyBit) != 0)
        return 8;
    return loadSize(block + sizeof(addr_t));
}

void writeHeader(addr_t block, addr_t next, unsigned int size)
{
    if (tagged && size == 8) {
        storeWord(block, next | tinyBit);
        return;
    }
    storeWord(block, next);
    storeSize(block + sizeof(addr_t), size);
}

void setNext(addr_t block, addr_t next)
{
    if (tagged)
        storeWord(block, next | (loadWord(block) & tinyBit));
    else
        storeWord(block, next);
}

} // namespace

// ---- the registry ----------------------------------------------------------

kavPool* kavPool::_pools = nullptr;

// The library's only load-time initialiser: the main pool, number 0, on the
// global heap.  It is never destroyed.
kavPool* kavPool::_mainPool = new kavPool;

kavPool::kavPool()
    : _amem(0), _fmem(0), _rmem(0), _umem(0), _recycleList(), _blockList(nullptr),
      _freeList(nullptr), _next(_pools), _num(_pools == nullptr ? 0 : _pools->_num + 1),
      _releaseFlag(true)
{
    _pools = this;
}

kavPool::~kavPool()
{
    release();
    unregister();
}

void kavPool::unregister()
{
    for (kavPool** link = &_pools; *link != nullptr; link = &(*link)->_next) {
        if (*link == this) {
            *link = _next;
            return;
        }
    }
}

void kavPool::setMainPool(kavPool* pool)
{
    if (pool != nullptr)
        _mainPool = pool;
}

unsigned int kavPool::npools()
{
    unsigned int n = 0;
    for (const kavPool* p = _pools; p != nullptr; p = p->_next)
        ++n;
    return n;
}

unsigned int kavPool::apools()
{
    unsigned int sum = 0;
    for (const kavPool* p = _pools; p != nullptr; p = p->_next)
        sum += p->amem();
    return sum;
}

unsigned int kavPool::upools()
{
    unsigned int sum = 0;
    for (const kavPool* p = _pools; p != nullptr; p = p->_next)
        sum += p->umem();
    return sum;
}

void kavPool::releaseAll()
{
    kavPool* p = _pools;
    while (p != nullptr) {
        kavPool* next = p->_next; // p may be deleted below
        if (p->releaseFlag()) {
            if (p == _mainPool)
                p->release();
            else
                delete p;
        }
        p = next;
    }
}

// ---- blocks ------------------------------------------------------------------

void kavPool::establish(unsigned int size)
{
    addblock(size);
}

void kavPool::addblock(unsigned int size)
{
    const unsigned int n = roundSize(size < minBlock ? minBlock : size);
    void* block = ::operator new(n);

    // Link the new block in by address, without merging.
    addr_t prev = 0;
    addr_t cur = addr(_freeList);
    while (cur != 0 && cur < addr(block)) {
        prev = cur;
        cur = nextOf(cur);
    }
    writeHeader(addr(block), cur, n);
    if (prev == 0)
        _freeList = block;
    else
        setNext(prev, addr(block));

    _blockList = new BlockRecord{_blockList, block, n};
    _amem += n;
    _fmem += n;
}

void kavPool::release()
{
    while (_blockList != nullptr) {
        BlockRecord* record = _blockList;
        _blockList = record->next;
        ::operator delete(record->start);
        delete record;
    }
    for (void*& head : _recycleList)
        head = nullptr;
    _umem = _rmem = _fmem = _amem = 0;
    _freeList = nullptr;
}

// ---- allocation ----------------------------------------------------------------

void* kavPool::allocSlow(unsigned int r)
{
    for (;;) {
        if (_blockList == nullptr)
            establish(r);
        const unsigned int c = r >> 3;
        if (c < nclasses && _recycleList[c] != nullptr) {
            void* piece = _recycleList[c];
            _recycleList[c] = loadLink(piece);
            _rmem -= r;
            _umem += r;
            return piece;
        }
        if (void* piece = takeFree(r))
            return piece;
        // The new block is the only free block large enough: the next pass
        // cuts the piece from its front.
        addblock(r);
    }
}

void* kavPool::takeFree(unsigned int r)
{
    addr_t prev = 0;
    for (addr_t cur = addr(_freeList); cur != 0; prev = cur, cur = nextOf(cur)) {
        const unsigned int size = sizeOf(cur);
        if (size < r)
            continue;
        addr_t successor = nextOf(cur);
        if (size > r) {
            // The remainder, however small, takes the block's place.
            writeHeader(cur + r, successor, size - r);
            successor = cur + r;
        }
        if (prev == 0)
            _freeList = ptr(successor);
        else
            setNext(prev, successor);
        _fmem -= r;
        _umem += r;
        return ptr(cur);
    }
    return nullptr;
}

void kavPool::freeLarge(void* piece, unsigned int r)
{
    _fmem += r;
    _umem -= r;

    const addr_t p = addr(piece);
    addr_t left = 0;
    addr_t right = addr(_freeList);
    while (right != 0 && right <= p) {
        left = right;
        right = nextOf(right);
    }

    writeHeader(p, right, r);
    addr_t merged = p;
    if (left == 0) {
        _freeList = piece;
    } else if (left + sizeOf(left) == p) {
        writeHeader(left, right, sizeOf(left) + r);
        merged = left;
    } else {
        setNext(left, p);
    }

    if (right != 0 && merged + sizeOf(merged) == right)
        writeHeader(merged, nextOf(right), sizeOf(merged) + sizeOf(right));
}

// ---- statistics ------------------------------------------------------------------

unsigned int kavPool::ablocks() const
{
    unsigned int n = 0;
    for (const BlockRecord* b = _blockList; b != nullptr; b = b->next)
        ++n;
    return n;
}

unsigned int kavPool::fblocks() const
{
    unsigned int n = 0;
    for (addr_t b = addr(_freeList); b != 0; b = nextOf(b))
        ++n;
    return n;
}

unsigned int kavPool::rblocks() const
{
    unsigned int n = 0;
    for (void* head : _recycleList)
        for (void* e = head; e != nullptr; e = loadLink(e))
            ++n;
    return n;
}

// ---- identity and reports ------------------------------------------------------

bool kavPool::isA(const char* name) const
{
    return name == kavPoolClass;
}

const char* kavPool::className() const
{
    return kavPoolClass;
}

std::ostream& kavPool::print(std::ostream& os) const
{
    os << "Pool " << _num << " @" << static_cast<const void*>(this) << " Alloc=" << amem()
       << " Used=" << umem() << " FreeB=" << fmem() << " FreeR=" << rmem() << std::endl;
    if (!kavLib::get(0))
        return os;

    os << "  Allocated blocks: ";
    for (const BlockRecord* b = _blockList; b != nullptr; b = b->next)
        os << " @" << static_cast<const void*>(b) << "(" << b->size << ")";
    os << std::endl;

    os << "  Free blocks: ";
    for (addr_t b = addr(_freeList); b != 0; b = nextOf(b))
        os << " @" << static_cast<const void*>(ptr(b)) << "(" << sizeOf(b) << ")";
    os << std::endl;

    for (unsigned int c = 0; c < nclasses; ++c) {
        unsigned int number = 0;
        for (void* e = _recycleList[c]; e != nullptr; e = loadLink(e))
            ++number;
        if (number != 0)
            os << "  Recycled Element: size=" << c * 8 << " Number=" << number
               << " Bytes=" << c * 8 * number << std::endl;
    }
    return os;
}

std::ostream& operator<<(std::ostream& os, const kavPool& pool)
{
    return pool.print(os);
}

void kavPool::printAll(std::ostream& os)
{
    unsigned int alloc = 0, used = 0, freeB = 0, recycled = 0;
    os << "*** List of all Pools ***" << std::endl;
    for (const kavPool* p = _pools; p != nullptr; p = p->_next) {
        os << "  " << *p;
        alloc += p->amem();
        used += p->umem();
        freeB += p->fmem();
        recycled += p->rmem();
    }
    os << "*** Total: Alloc=" << alloc << " Used=" << used << " Free=" << freeB
       << " Recycled=" << recycled << " ***" << std::endl;
}
