// kavlib: the registry of all pools, the main pool and the pool reports.
//
// Every pool joins the registry, a chain from the newest pool to the oldest,
// when it is made and leaves it when it is destroyed.  The main pool is made
// when the library is loaded, by the library's only load-time initialiser.
#include <kavlib/internal/poolblocks.h>

#include <kavlib/services.h>

#include <ostream>

using kavpool::addr;
using kavpool::addr_t;
using kavpool::nextOf;
using kavpool::ptr;
using kavpool::readLink;
using kavpool::sizeOf;

kavPool* kavPool::_pools = nullptr;

// Watched builds send every alloc() and free() out of line; a valgrind build
// does so only under memcheck, which its watcher finds out when the main
// pool is made.
bool kavPool::_watched = KAVLIB_POOL_ALWAYS_WATCHED;

// The library's only load-time initialiser: the main pool, number 0, on the
// global heap.  It is never destroyed.
kavPool* kavPool::_mainPool = new kavPool;

unsigned int kavPool::_releases = 1;
const void* kavPool::_newPool = nullptr;

// A pool made with new says so to its constructor, which notes it: only such
// a pool may releaseAll() delete.
void* kavPool::operator new(std::size_t size)
{
    void* p = ::operator new(size);
    _newPool = p;
    return p;
}

void kavPool::operator delete(void* p)
{
    ::operator delete(p);
}

// Enters a pool at the head of the registry with the number after the newest.
void kavPool::enlist()
{
    _next = _pools;
    _num = _pools == nullptr ? 0 : _pools->_num + 1;
    _pools = this;
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
            // A pool that new did not make cannot be deleted: it is emptied
            // and stays registered, like the main pool.
            if (p == _mainPool || !p->_onHeap)
                p->release();
            else
                delete p;
        }
        p = next;
    }
}

bool kavPool::holdsSince(const void* p, unsigned int stamp)
{
    const addr_t a = addr(p);
    for (const kavPool* pool = _pools; pool != nullptr; pool = pool->_next)
        for (const BlockRecord* b = pool->_blockList; b != nullptr; b = b->next)
            if (a >= b->begin() && a < b->end())
                return b->stamp <= stamp;
    return false;
}

// ---- identity and reports ------------------------------------------------

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
    if (!kavServices::get(kavFlagPool))
        return os;

    os << "  Allocated blocks: ";
    for (const BlockRecord* b = _blockList; b != nullptr; b = b->next)
        os << " @" << static_cast<const void*>(b) << "(" << b->size << ")";
    os << std::endl;

    os << "  Free blocks: ";
    writeRunIfAny();
    for (addr_t b = addr(_freeList); b != 0; b = nextOf(b))
        os << " @" << static_cast<const void*>(ptr(b)) << "(" << sizeOf(b) << ")";
    os << std::endl;

    for (unsigned int c = 0; c < nclasses; ++c) {
        unsigned int number = 0;
        for (void* e = _recycleList[c]; e != nullptr; e = readLink(e))
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
