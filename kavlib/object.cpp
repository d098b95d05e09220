// kavlib: the object root and comparison functions.
//
// How an object learns its pool (the pending stack and the note of the last
// destroyed object) is described in object.h, where its common steps are
// inline; the rare ones are here.
#include <kavlib/object.h>

#include <kavlib/services.h>

#include <cstdint>
#include <new>
#include <ostream>

const char* const kavObjectClass = "kavObject";
const char* const kavSptrClass = "kavSptr";

kavObject::Pending kavObject::_pending[kavObject::maxPending];
int kavObject::_npending = 0;
kavObject::Pending kavObject::_built[kavObject::maxBuilt];
unsigned int kavObject::_nbuilt = 0;
kavObject::Pending kavObject::_destroyed = {nullptr, nullptr, 0};

// The stack is full: the oldest entry gives way.
void kavObject::pushPendingFull(const Pending& entry)
{
    for (int i = 1; i < maxPending; ++i)
        _pending[i - 1] = _pending[i];
    _pending[maxPending - 1] = entry;
}

// Takes the entry for `where` off the stack below its top; false when there
// is none.
bool kavObject::takeOlderPending(const void* where, Pending& entry)
{
    for (int i = _npending - 2; i >= 0; --i) {
        if (_pending[i].where == where) {
            entry = _pending[i];
            for (int j = i + 1; j < _npending; ++j)
                _pending[j - 1] = _pending[j];
            --_npending;
            return true;
        }
    }
    return false;
}

void* kavObject::heapAlloc(std::size_t size)
{
    return ::operator new(size);
}

void kavObject::heapFree(void* p)
{
    ::operator delete(p);
}

namespace {

kavPool* poolFor(kavPool* pool)
{
    return pool != nullptr ? pool : kavPool::mainPool();
}

} // namespace

void kavObject::operator delete(void* p, kavPool* pool)
{
    // The size operator new was asked for: on the pending stack when the
    // root constructor never ran, else in the ring of objects it built
    // (newest first).  Beyond the ring, the root's own size is all we know.
    std::size_t size = sizeof(kavObject);
    Pending entry;
    if (takePending(p, entry)) {
        size = entry.size;
    } else {
        for (unsigned int i = 0; i < maxBuilt && i < _nbuilt; ++i) {
            Pending& built = _built[(_nbuilt - 1 - i) % maxBuilt];
            if (built.where == p) {
                size = built.size;
                built.where = nullptr;
                break;
            }
        }
    }
    if (_destroyed.where == p)
        _destroyed = Pending{nullptr, nullptr, 0};
    pool = poolFor(pool);
    if (pool != nullptr)
        pool->undoAlloc(p, static_cast<unsigned int>(size));
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
    os << kavServices::space(indent) << className() << " ";
    if (kavServices::get(kavFlagAddress))
        os << "@[" << static_cast<const void*>(this) << "] ";
    if (kavServices::get(kavFlagPool))
        os << "P[" << (_pool != nullptr ? _pool->getNum() : -1) << "] ";
    if (kavServices::get(kavFlagUseCount))
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
