// kavlib: the object root.
//
// kavObject is the root of every class whose instances can be stored in a
// container, hashed, compared or dumped.  It gives each object
//   * class identity by exported class-name constants (className, isA);
//   * hashing, equality and ordering, by default by address;
//   * a one-line dump whose fields are switched by library flags 1, 0, 3;
//   * pool-aware creation: `new (pool) T(...)` places the object in `pool`
//     (a null or omitted pool means the main pool), and such a pooled object
//     carries its pool and a use count.  Containers call up() and down(); the
//     step of down() from 1 to 0 deletes the object back into its pool.
//
// Objects made any other way (automatic, static, member, array element,
// placement into a buffer) have no pool, are never counted and never deleted
// by the library.  A pooled class must have kavObject as its first base.
//
// Class identity compares pointers, never texts: pass the exported constants
// (kavListClass, ...), not string literals.
#ifndef KAVLIB_OBJECT_H
#define KAVLIB_OBJECT_H

#include <kavlib/export.h>
#include <kavlib/kavpool.h>

#include <cstddef>
#include <iosfwd>
#include <type_traits>

// Class-name constants: what className() returns and dumps print.
extern KAVLIB_API const char* const kavObjectClass;     ///< "kavObject"
extern KAVLIB_API const char* const kavContainerClass;  ///< "kavContainer"
extern KAVLIB_API const char* const kavListClass;       ///< "kavList"
extern KAVLIB_API const char* const kavSListClass;      ///< "kavSList"
extern KAVLIB_API const char* const kavFifoClass;       ///< "kavFifo"
extern KAVLIB_API const char* const kavHashClass;       ///< "kavHash"
extern KAVLIB_API const char* const kavStringTblClass;  ///< "kavStringTblClass"
extern KAVLIB_API const char* const kavIteratorClass;   ///< "kavIterator"
extern KAVLIB_API const char* const kavListIterClass;   ///< "kavListIter"
extern KAVLIB_API const char* const kavSListIterClass;  ///< "kavSListIter"
extern KAVLIB_API const char* const kavFifoIterClass;   ///< "kavFifoIter"
extern KAVLIB_API const char* const kavHashIterClass;   ///< "kavHashIter"
extern KAVLIB_API const char* const kavNamedObjClass;   ///< "kavNamedObj"
extern KAVLIB_API const char* const kavStringClass;     ///< "kavStringClass"
extern KAVLIB_API const char* const kavStrElemClass;    ///< "kavStrElem"
extern KAVLIB_API const char* const kavLinkObjClass;    ///< "kavLinkObj"
extern KAVLIB_API const char* const kavIterPtrClass;    ///< "kavIterPtr"
extern KAVLIB_API const char* const kavSptrClass;       ///< "kavSptr" (no class answers to it)

/// The root of every class whose objects can be stored in a container,
/// hashed, compared or dumped.
class KAVLIB_API kavObject {
public:
    /// Pooled when made by operator new below; otherwise unpooled.  Count 0.
    inline kavObject();
    /// Builds the root part afresh: no pool or count is taken from `other`.
    kavObject(const kavObject&) : kavObject() {}
    /// Leaves the root part (pool and use count) unchanged.
    kavObject& operator=(const kavObject&) { return *this; }
    /// Releases nothing itself; a pooled object's storage goes back to its
    /// pool through operator delete.
    inline virtual ~kavObject();

    /// Address >> 3, modulo n (n > 0).
    virtual unsigned int hash(int n) const;
    /// Indentation, class name, a blank, then "@[addr] " (flag 1),
    /// "P[pool] " (flag 0), "RC[count] " (flag 3); endl when endLine != 0.
    virtual std::ostream& dump(std::ostream& os, int indent, int endLine) const;
    /// True when `other` is this very object.
    virtual bool isEqual(const kavObject& other) const;
    /// 0 for this very object, else -1/+1 by address.
    virtual int objcmp(const kavObject& other) const;
    /// True when `name` is kavObjectClass (pointer comparison).
    virtual bool isA(const char* name) const;
    /// kavObjectClass.
    virtual const char* className() const;

    /// Takes storage from `pool`, or from the main pool when it is null, or
    /// from the global heap when there is no main pool either.
    inline static void* operator new(std::size_t size, kavPool* pool = nullptr);
    /// `new (nullptr) T`: the main pool, as for any null pool.  Without it
    /// the literal would be ambiguous between the pool and placement forms.
    static void* operator new(std::size_t size, std::nullptr_t)
    {
        return operator new(size, static_cast<kavPool*>(nullptr));
    }
    /// Builds an unpooled object in caller-supplied storage.
    static void* operator new(std::size_t, void* where) noexcept { return where; }
    /// Gives the storage back to the object's pool (or the global heap).
    inline static void operator delete(void* p, std::size_t size);
    /// Undoes operator new(size, pool) when a constructor throws: gives the
    /// whole piece back with kavPool::undoAlloc, with the size that operator
    /// new was asked for (the record of the pending construction keeps it;
    /// see below), so the pool is as before the new-expression.
    static void operator delete(void* p, kavPool* pool);
    /// Undoes operator new(size, nullptr) when a constructor throws.
    static void operator delete(void* p, std::nullptr_t) { operator delete(p, static_cast<kavPool*>(nullptr)); }
    /// Counterpart of the placement form; nothing to give back.
    static void operator delete(void*, void*) noexcept {}

    /// Arrays are never pooled: their storage comes from the global heap and
    /// their elements are unpooled.  The pool forms are deleted, so that
    /// `new (pool) T[n]` does not compile (without them the standard
    /// placement form would build the array over the kavPool object itself).
    static void* operator new[](std::size_t size, kavPool* pool) = delete;
    static void* operator new[](std::size_t size, std::nullptr_t) = delete;
    static void operator delete[](void* p, kavPool* pool) = delete;
    /// `new T[n]`: the global heap.
    static void* operator new[](std::size_t size) { return ::operator new[](size); }
    /// Builds an array of unpooled objects in caller-supplied storage.
    static void* operator new[](std::size_t, void* where) noexcept { return where; }
    /// `delete[] p`: back to the global heap.
    static void operator delete[](void* p) noexcept { ::operator delete[](p); }
    /// Counterpart of the placement form; nothing to give back.
    static void operator delete[](void*, void*) noexcept {}

    /// One more holder (pooled objects only).
    void up()
    {
        if (_pool != nullptr)
            ++_useCount;
    }
    /// One holder fewer; the step from 1 to 0 deletes a pooled object.
    void down()
    {
        if (_pool != nullptr && --_useCount == 0)
            delete this;
    }
    /// The owning pool; null for an unpooled object.
    kavPool* getPool() const { return _pool; }
    /// The use count (always 0 for an unpooled object).
    int useCount() const { return _useCount; }

protected:
    /// The address order of two objects: -1 when `a` lies below `b`, else +1.
    static int addressOrder(const kavObject& a, const kavObject& b);

private:
    // How an object learns its pool.  operator new cannot leave a note inside
    // the storage it returns: the object's lifetime starts with its
    // constructor, and an optimising compiler may drop stores made to the
    // storage before then.  So operator new records (address, pool) on a
    // small stack of pending allocations, and the root constructor looks for
    // its own address there.  An object found there is pooled; any other
    // (automatic, static, member, array element) is not.  A stack, because
    // allocations nest: arguments of a new-expression are evaluated after its
    // allocation, and constructors make pooled objects of their own.
    //
    // Likewise at deletion, the root destructor notes (address, pool) for
    // operator delete, which runs after the destructors have ended the
    // object's lifetime and so must not read the object any more.
    //
    // The common steps are inline below, so that making and deleting a
    // pooled object costs no call into the library; the rare ones (a full
    // stack, an entry below the top) are out of line.  They are declared
    // inline in the class too: a DLL import of the class must know before
    // their first use that they are not imported.
    //
    // A constructor that throws sends the storage back through the
    // placement form of operator delete, which C++ gives no size.  So the
    // root constructor moves its record, size included, into a small ring of
    // objects under construction; the placement delete finds the size there
    // (or still on the pending stack, when the root constructor never ran).
    struct Pending {
        const void* where; ///< storage handed out by operator new
        kavPool* pool;     ///< its pool, null for the global heap
        std::size_t size;  ///< the size operator new was asked for
    };
    /// Depth of the pending stack: the nesting of new-expressions, a handful
    /// at most.  Should storage be allocated and never constructed, the
    /// oldest entries give way.
    static constexpr int maxPending = 64;
    /// Objects whose root part was built most recently, newest last: a
    /// constructor that throws finds its size here as long as it made fewer
    /// than maxBuilt pooled objects of its own before throwing.
    static constexpr unsigned int maxBuilt = 64;

    inline static void pushPending(const void* where, kavPool* pool, std::size_t size);
    inline static bool takePending(const void* where, Pending& entry);
    static void pushPendingFull(const Pending& entry);
    static bool takeOlderPending(const void* where, Pending& entry);
    // The global heap when there is no pool (no main pool either).  Out of
    // line: inlined, GCC would see the global operator delete applied to
    // what the class's operator new returned and warn about a mismatch.
    static void* heapAlloc(std::size_t size);
    static void heapFree(void* p);

    kavPool* _pool;  ///< owning pool, null when unpooled
    int _useCount;   ///< holders that called up() and not yet down()

    static Pending _pending[maxPending]; ///< pending allocations, oldest first
    static int _npending;                ///< entries in _pending
    static Pending _built[maxBuilt];     ///< ring of objects under construction
    static unsigned int _nbuilt;         ///< entries ever put in _built
    static Pending _destroyed;           ///< the object whose root destructor ran last
};

inline void kavObject::pushPending(const void* where, kavPool* pool, std::size_t size)
{
    if (_npending == maxPending) {
        pushPendingFull(Pending{where, pool, size});
        return;
    }
    _pending[_npending] = Pending{where, pool, size};
    ++_npending;
}

// Takes the entry for `where` off the stack; false when there is none.  The
// constructor of a pooled object nearly always finds its entry on top: its
// operator new ran just before.
inline bool kavObject::takePending(const void* where, Pending& entry)
{
    if (_npending == 0)
        return false;
    const Pending& top = _pending[_npending - 1];
    if (top.where == where) {
        entry = top;
        --_npending;
        return true;
    }
    return takeOlderPending(where, entry);
}

inline kavObject::kavObject() : _pool(nullptr), _useCount(0)
{
    // Field by field: each read meets the single write that made it, which
    // the processor forwards at once (a whole-entry copy reads across two
    // writes and waits for them to reach the cache).
    if (_npending == 0)
        return; // not made by operator new: unpooled
    if (_pending[_npending - 1].where == this) {
        const Pending& top = _pending[--_npending];
        Pending& built = _built[_nbuilt++ % maxBuilt];
        _pool = top.pool;
        built.size = top.size;
        built.pool = _pool;
        built.where = this;
        return;
    }
    Pending entry;
    if (takeOlderPending(this, entry)) {
        _pool = entry.pool;
        _built[_nbuilt++ % maxBuilt] = entry;
    }
}

inline kavObject::~kavObject()
{
    _destroyed.where = this;
    _destroyed.pool = _pool;
}

inline void* kavObject::operator new(std::size_t size, kavPool* pool)
{
    if (pool == nullptr)
        pool = kavPool::mainPool();
    void* p = pool != nullptr ? pool->alloc(static_cast<unsigned int>(size)) : heapAlloc(size);
    pushPending(p, pool, size);
    return p;
}

inline void kavObject::operator delete(void* p, std::size_t size)
{
    kavPool* pool = _destroyed.where == p ? _destroyed.pool : nullptr;
    _destroyed.where = nullptr;
    if (pool != nullptr)
        pool->free(p, static_cast<unsigned int>(size));
    else
        heapFree(p);
}

/// a.isEqual(b): `a` is the stored element, so its class decides.
KAVLIB_API bool objEqual(const kavObject& a, const kavObject& b);
/// a.objcmp(b) < 0: `a` is the object being added to a sorted list.
KAVLIB_API bool objLess(const kavObject& a, const kavObject& b);

/// `a == b` for any two library objects is a.isEqual(b), the test that
/// every container's find and remove make: identity for plain objects, the
/// interned element for strings and named objects.  The left operand's class
/// decides, as the stored element's does in a container.
template <class A, class B,
          class = std::enable_if_t<std::is_base_of<kavObject, A>::value && std::is_base_of<kavObject, B>::value>>
bool operator==(const A& a, const B& b)
{
    return a.isEqual(b);
}

/// `a != b` is !a.isEqual(b).
template <class A, class B,
          class = std::enable_if_t<std::is_base_of<kavObject, A>::value && std::is_base_of<kavObject, B>::value>>
bool operator!=(const A& a, const B& b)
{
    return !a.isEqual(b);
}

/// Writes the object's dump line without indentation and without a line
/// end: exactly what obj.dump(os, 0, 0) writes, and nothing more.  Its fields
/// follow the library flags; a container writes its header line (ended by a
/// newline, as every container dump does) and then its elements one after
/// the other, each 4 blanks in.  kavString and kavStrElem write their bare
/// text instead (kavstr.h).
KAVLIB_API std::ostream& operator<<(std::ostream& os, const kavObject& obj);

#endif
