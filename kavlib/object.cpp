// kavlib: the object root, comparison functions and class-name constants.
//
// How an object learns its pool.  operator new cannot leave a note inside the
// storage it returns: the object's lifetime starts with its constructor, and
// an optimising compiler may drop stores made to the storage before then.  So
// operator new records (address, pool) on a small stack of pending
// allocations, and the root constructor looks for its own address there.  An
// object found there is pooled; any other (automatic, static, member, array
// element) is not.  A stack, because allocations nest: arguments of a
// new-expression are evaluated after its allocation, and constructors make
// pooled objects of their own.
//
// Likewise at deletion, the root destructor notes (address, pool) for
// operator delete, which runs after the destructors have ended the object's
// lifetime and so should not read the object any more.
#include <kavlib/object.h>

#include <kavlib/library.h>

#include <cstdint>
#include <new>
#include <ostream>

const char* const kavObjectClass = "kavObject";
const char* const kavContainerClass = "kavContainer";
const char* const kavListClass = "kavList";
const char* const kavSListClass = "kavSList";
const char* const kavFifoClass = "kavFifo";
const char* const kavHashClass = "kavHash";
const char* const kavStringTblClass = "kavStringTblClass";
const char* const kavIteratorClass = "kavIterator";
const char* const kavListIterClass = "kavListIter";
const char* const kavSListIterClass = "kavSListIter";
const char* const kavFifoIterClass = "kavFifoIter";
const char* const kavHashIterClass = "kavHashIter";
const char* const kavNamedObjClass = "kavNamedObj";
const char* const kavStringClass = "kavStringClass";
const char* const kavStrElemClass = "kavStrElem";
const char* const kavPoolClass = "kavPool";
const char* const kavLinkObjClass = "kavLinkObj";
const char* const kavIterPtrClass = "kavIterPtr";
const char* const kavSptrClass = "kavSptr";

namespace {

struct Pending {
    const void* where;
    kavPool* pool;
};

// Allocations whose root constructor has not run yet, newest on top.  Depth
// is the nesting of new-expressions, a handful at most; should storage be
// allocated and never constructed, the oldest entries give way.
constexpr int maxPending = 64;
Pending pending[maxPending];
int npending = 0;

void pushPending(const void* where, kavPool* pool)
{
    if (npending == maxPending) {
        for (int i = 1; i < maxPending; ++i)
            pending[i - 1] = pending[i];
        --npending;
    }
    pending[npending++] = Pending{where, pool};
}

// Takes the entry for `where` off the stack below its top; false when there
// is none.
bool takeOlderPending(const void* where, kavPool*& pool)
{
    for (int i = npending - 2; i >= 0; --i) {
        if (pending[i].where == where) {
            pool = pending[i].pool;
            for (int j = i + 1; j < npending; ++j)
                pending[j - 1] = pending[j];
            --npending;
            return true;
        }
    }
    return false;
}

// Takes the entry for `where` off the stack; false when there is none.  The
// constructor of a pooled object nearly always finds its entry on top: its
// operator new ran just before.
inline bool takePending(const void* where, kavPool*& pool)
{
    if (npending == 0)
        return false;
    const Pending& top = pending[npending - 1];
    if (top.where == where) {
        pool = top.pool;
        --npending;
        return true;
    }
    return takeOlderPending(where, pool);
}

// The object whose root destructor ran last, for operator delete.
Pending destroyed = {nullptr, nullptr};

kavPool* poolFor(kavPool* pool)
{
    return pool != nullptr ? pool : kavPool::mainPool();
}

} // namespace

kavObject::kavObject() : _pool(nullptr), _useCount(0)
{
    kavPool* pool;
    if (takePending(this, pool))
        _pool = pool;
}

kavObject::kavObject(const kavObject&) : kavObject() {}

kavObject::~kavObject()
{
    destroyed = Pending{this, _pool};
}

void* kavObject::operator new(std::size_t size, kavPool* pool)
{
    pool = poolFor(pool);
    void* p = pool != nullptr ? pool->alloc(static_cast<unsigned int>(size)) : ::operator new(size);
    pushPending(p, pool);
    return p;
}

void kavObject::operator delete(void* p, std::size_t size)
{
    kavPool* pool = destroyed.where == p ? destroyed.pool : nullptr;
    destroyed = Pending{nullptr, nullptr};
    if (pool != nullptr)
        pool->free(p, static_cast<unsigned int>(size));
    else
        ::operator delete(p);
}

void kavObject::operator delete(void* p, kavPool* pool)
{
    kavPool* owner;
    takePending(p, owner); // the constructor never ran
    pool = poolFor(pool);
    if (pool != nullptr)
        pool->free(p, sizeof(kavObject));
    else
        ::operator delete(p);
}

unsigned int kavObject::hash(int n) const
{
    const std::uintptr_t a = reinterpret_cast<std::uintptr_t>(this) >> 3;
    return static_cast<unsigned int>(a % static_cast<unsigned int>(n));
}

std::ostream& kavObject::dump(std::ostream& os, int indent, int endLine) const
{
    os << kavLib::space(indent) << className() << " ";
    if (kavLib::get(1))
        os << "@[" << static_cast<const void*>(this) << "] ";
    if (kavLib::get(0))
        os << "P[" << (_pool != nullptr ? _pool->getNum() : -1) << "] ";
    if (kavLib::get(3))
        os << "RC[" << _useCount << "] ";
    if (endLine != 0)
        os << std::endl;
    return os;
}

bool kavObject::isEqual(const kavObject& other) const
{
    return &other == this;
}

int kavObject::objcmp(const kavObject& other) const
{
    if (&other == this)
        return 0;
    return addressOrder(*this, other);
}

int kavObject::addressOrder(const kavObject& a, const kavObject& b)
{
    return reinterpret_cast<std::uintptr_t>(&a) < reinterpret_cast<std::uintptr_t>(&b) ? -1 : 1;
}

bool kavObject::isA(const char* name) const
{
    return name == kavObjectClass;
}

const char* kavObject::className() const
{
    return kavObjectClass;
}

bool objEqual(const kavObject& a, const kavObject& b)
{
    return a.isEqual(b);
}

bool objLess(const kavObject& a, const kavObject& b)
{
    return a.objcmp(b) < 0;
}

std::ostream& operator<<(std::ostream& os, const kavObject& obj)
{
    return obj.dump(os, 0, 0);
}
