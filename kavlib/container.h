// kavlib: links, the abstract container and iterator, the iterator handle.
//
// Containers hold references to objects, never copies.  Each element is held
// through one kavLinkObj, made in the element's own pool (the global heap for
// an unpooled element).  Making a link calls the element's up(); giving the
// link back calls down(), so a pooled element whose last holder was a
// container is deleted when it leaves it.  Unpooled elements are never
// counted and never deleted.  The same object may be held several times.
//
// Iterators are made by newIterator() in the container's own pool and belong
// to the caller, normally a kavIterPtr that deletes them:
//
//     for (kavIterPtr it(list); it; it++)
//         use(it());
//
// or, the same walk with range-for (the loop deletes its iterator itself):
//
//     for (kavObject& o : list)
//         use(o);
//
// An iterator holds plain pointers: it is valid while its container lives and
// the link it stands on is still held.
#ifndef KAVLIB_CONTAINER_H
#define KAVLIB_CONTAINER_H

#include <kavlib/export.h>
#include <kavlib/kavassert.h>
#include <kavlib/object.h>

#include <cstddef>
#include <iterator>
#include <new>
#include <utility>

/// The chain node through which a container holds one element.  Final: it
/// has virtual functions and no virtual destructor, so nothing derives from it.
class KAVLIB_API kavLinkObj final {
public:
    /// Refers to obj and takes a use-count reference on it.
    explicit kavLinkObj(kavObject& obj) noexcept : _next(nullptr), _obj(obj) { obj.up(); }

    /// A link is the one holder of its reference: never copied.
    kavLinkObj(const kavLinkObj&) = delete;
    kavLinkObj& operator=(const kavLinkObj&) = delete;

    /// The referenced object.
    kavObject& getObj() const { return _obj; }

    /// True only for kavLinkObjClass: a link is not a kavObject.
    virtual bool isA(const char* name) const;
    /// kavLinkObjClass.
    virtual const char* className() const;

    /// Storage from `pool`, or from the global heap when `pool` is null.
    static void* operator new(std::size_t size, kavPool* pool)
    {
        return pool != nullptr ? pool->alloc(static_cast<unsigned int>(size)) : heapAlloc(size);
    }
    /// Gives the reference back (which may delete the element), then the
    /// storage to the element's pool, read before the reference goes.
    static void operator delete(void* p, std::size_t) { release(static_cast<kavLinkObj*>(p)); }
    /// Counterpart of operator new; the constructor cannot throw, so no
    /// expression of the library reaches it.  Gives the reference back and
    /// the storage to `pool`.
    static void operator delete(void* p, kavPool* pool);

    /// What `delete link` does, inline, for the containers.
    static void release(kavLinkObj* link)
    {
        kavObject& obj = link->_obj;
        kavPool* pool = obj.getPool();
        obj.down();
        giveBack(link, pool);
    }

    /// True when `p` is a link on the global heap that was made while
    /// kavPool::releaseCount() was at most `stamp`.  Walks every such link.
    static bool onHeapSince(const void* p, unsigned int stamp);

    kavLinkObj* _next; ///< next link of the same chain, null at the end

private:
    // Links on the global heap (of unpooled elements) are kept in a list of
    // their own, so that a container can tell them from links in memory a
    // pool gave back (container.cpp).
    static void* heapAlloc(std::size_t size);
    static void heapFree(void* p);
    /// A link's storage back to `pool`, or to the global heap when null.
    static void giveBack(void* p, kavPool* pool)
    {
        if (pool != nullptr)
            pool->free(p, sizeof(kavLinkObj));
        else
            heapFree(p);
    }

    kavObject& _obj;   ///< the element
};

class kavIterator;
class kavRangeIter;
struct kavChainPos;

/// The abstract container: count, generic find, the nested dump.
class KAVLIB_API kavContainer : public kavObject {
public:
    /// An empty container.
    kavContainer() : _count(0), _stamp(0), _heapLinks(false) {}
    /// Nothing beyond the root's; each concrete container's destructor has
    /// already taken out every element.
    ~kavContainer() override;

    /// A container owns its links: it is neither copied nor assigned.
    kavContainer(const kavContainer&) = delete;
    kavContainer& operator=(const kavContainer&) = delete;

    /// The container line ("CT[n]" under flag 6, always ended by "\n"), then
    /// every element 4 blanks deeper with the caller's endLine.
    std::ostream& dump(std::ostream& os, int indent, int endLine) const override;

    /// Number of elements held.
    int count() const { return _count; }
    /// True when nothing is held.
    bool empty() const { return _count == 0; }

    /// Holds a new reference to obj; returns obj.
    virtual kavObject& add(kavObject& obj) = 0;
    /// The first element e with objEqual(e, key), or null.
    virtual kavObject* find(const kavObject& key) const;
    /// A new iterator on the first element, owned by the caller.
    virtual kavIterator* newIterator() const = 0;
    /// Takes out the first element equal to obj; false when none matched.
    virtual bool remove(kavObject& obj) = 0;
    /// Takes out every element.
    virtual void removeAll() = 0;

    /// The standard iteration: `for (kavObject& o : container)`, the standard
    /// algorithms and std::ranges walk the elements in the container's own
    /// iteration order.  The rules of the container's iterator apply: do not
    /// take out the element a walk stands on (removeIf does that safely).
    kavRangeIter begin() const;
    /// The end of every walk.
    kavRangeIter end() const;

protected:
    /// True for kavContainerClass, else kavObject::isA.  (Protected here;
    /// the concrete containers make theirs public.)
    bool isA(const char* name) const override;
    /// kavContainerClass ("kavContainer").
    const char* className() const override;

    /// The first element e of the chain at `head` with objEqual(e, key).
    /// objEqual is spelled out as e.isEqual(key): one call per element.
    static kavObject* chainFind(const kavLinkObj* head, const kavObject& key)
    {
        for (; head != nullptr; head = head->_next)
            if (head->getObj().isEqual(key))
                return &head->getObj();
        return nullptr;
    }
    /// The link field (head or a _next) that leads to the first link of the
    /// chain whose element equals `key`; null when none does.
    static kavLinkObj** chainFindField(kavLinkObj** field, const kavObject& key)
    {
        for (; *field != nullptr; field = &(*field)->_next)
            if ((*field)->getObj().isEqual(key))
                return field;
        return nullptr;
    }
    /// Takes the first link whose element equals `obj` out of the chain at
    /// `head` and releases it, lowering `count` first; false when none does.
    static bool chainRemove(kavLinkObj** head, const kavObject& obj, int& count)
    {
        kavLinkObj** field = chainFindField(head, obj);
        if (field == nullptr)
            return false;
        kavLinkObj* link = *field;
        --count;
        *field = link->_next;
        kavLinkObj::release(link);
        return true;
    }
    /// Takes out of the chain at `head` every link whose element satisfies
    /// `pred`, each unlinked before it is released, lowering `count` as it
    /// goes; returns how many went and sets `last` to the last link kept
    /// (null when none is).
    template <class Pred>
    static int chainRemoveIf(kavLinkObj** head, Pred& pred, int& count, kavLinkObj*& last)
    {
        int removed = 0;
        last = nullptr;
        kavLinkObj** field = head;
        while (*field != nullptr) {
            kavLinkObj* link = *field;
            if (pred(link->getObj())) {
                *field = link->_next;
                --count;
                ++removed;
                kavLinkObj::release(link);
            } else {
                last = link;
                field = &link->_next;
            }
        }
        return removed;
    }
    /// Releases every link of the chain at `head`, in chain order.
    static void chainRelease(kavLinkObj*& head)
    {
        while (head != nullptr) {
            kavLinkObj* link = head;
            head = link->_next;
            kavLinkObj::release(link);
        }
    }

    // ---- links that outlived their pool ----------------------------------
    // A link lives in its element's pool, so releasing that pool (reset,
    // tempReset, release, delete) takes the link with it.  A container
    // notes kavPool::releaseCount() when it takes its first pooled link;
    // while the figure is unchanged every link is valid.  Otherwise, before
    // touching its links, it keeps those still allocated and forgets the
    // rest (see pruneChain).

    /// True when a pool was released since the links were last known valid.
    bool linksStale() const { return _stamp != 0 && _stamp != kavPool::releaseCount(); }
    /// Notes where the link for `obj` will live; call before making it.
    void noteLink(const kavObject& obj)
    {
        if (obj.getPool() == nullptr)
            _heapLinks = true;
        else if (_stamp == 0)
            _stamp = kavPool::releaseCount();
    }
    /// Empty again: nothing to check until the next pooled link.
    void linksForgotten()
    {
        _stamp = 0;
        _heapLinks = false;
    }
    /// Cuts the chain at `head` before its first link that is no longer
    /// allocated; returns the links kept and sets `last` to the last of them.
    int pruneChain(kavLinkObj*& head, kavLinkObj*& last) const;
    /// The links are valid again as of now (after pruning every chain).
    void linksChecked() { _stamp = _count == 0 ? 0 : kavPool::releaseCount(); }

    int _count; ///< elements held

private:
    unsigned int _stamp; ///< kavPool::releaseCount() when the links were valid; 0 with no pooled link
    bool _heapLinks;     ///< may hold links on the global heap
};

/// The abstract iterator.
class KAVLIB_API kavIterator : public kavObject {
public:
    /// True when there is no current element.
    virtual bool done() const = 0;
    /// The current element; the iterator must not be done.
    virtual kavObject& get() const = 0;
    /// Steps to the following element; the iterator must not be done.
    virtual void next() = 0;
    /// Stands again on the first element.
    virtual void reset() = 0;
    /// Tells where the iterator stands in links, for kavRangeIter; false (the
    /// default) when it cannot, and the walk then goes through get() and next().
    virtual bool chainPos(kavChainPos& pos) const;

    /// True for kavIteratorClass, else kavObject::isA.
    bool isA(const char* name) const override;
    /// kavIteratorClass ("kavIterator").
    const char* className() const override;

    /// 1 while not done, 0 when done.
    operator int() const { return done() ? 0 : 1; }
    /// get(), then next(): the element before the step.
    kavObject& operator++(int)
    {
        kavObject& current = get();
        next();
        return current;
    }
    /// next(), then get(): the element after the step (not past the last).
    kavObject& operator++()
    {
        next();
        return get();
    }

protected:
    /// Only concrete iterators are made.
    kavIterator() = default;
};

/// Where a library iterator stands, told in links: what a kavRangeIter copies
/// so that it can walk on its own.  A chain container leaves `chains` null; a
/// hash container gives its chain array, the chain of `link` and the number
/// of chains.
struct kavChainPos {
    const kavLinkObj* link = nullptr;         ///< the current link, null when done
    kavLinkObj* const* chains = nullptr;      ///< chain heads (hash containers), else null
    unsigned int index = 0;                   ///< chain of `link` (hash containers)
    unsigned int nchains = 0;                 ///< number of chains (hash containers)
};

/// The iterator of a chain container (kavList, kavSList, kavFifo): walks the
/// links from the head the container had when the iterator was made.
class KAVLIB_API kavChainIter : public kavIterator {
public:
    /// True when there is no current element.
    bool done() const override { return _current == nullptr; }
    /// The current element; stops with the class's get check when done.
    kavObject& get() const override;
    /// Steps to the next element; stops with the class's next check when done.
    void next() override;
    /// Stands again where the walk began.
    void reset() override { _current = _first; }
    /// The current link, for kavRangeIter.
    bool chainPos(kavChainPos& pos) const override
    {
        pos = kavChainPos{_current, nullptr, 0, 0};
        return true;
    }

protected:
    /// Stands on `head`; `getCheck` and `nextCheck` name the reports.
    kavChainIter(kavLinkObj* head, kavCheck getCheck, kavCheck nextCheck)
        : _getCheck(getCheck), _nextCheck(nextCheck), _current(head), _first(head)
    {
    }

private:
    // The two reports first: they fit in the root's tail padding, so the
    // iterator is no larger than one with the links alone.
    kavCheck _getCheck;   ///< report of get() when done
    kavCheck _nextCheck;  ///< report of next() when done
    kavLinkObj* _current; ///< link of the current element, null when done
    kavLinkObj* _first;   ///< where the walk began; reset() returns here
};

/// The singly linked list that kavList and kavSList share: everything but
/// where add() puts a new element.
class KAVLIB_API kavChainList : public kavContainer {
public:
    /// The first element from the head with objEqual(element, key), or null;
    /// the whole list is walked.
    kavObject* find(const kavObject& key) const override;
    /// Takes out the first element from the head with objEqual(element,
    /// obj), giving back its use count; false when none matched.
    bool remove(kavObject& obj) override;
    /// Takes out every element, from the head on.
    void removeAll() override;
    /// Takes out every element e for which pred(e) is true (pred is called
    /// with a kavObject&, once per element, in iteration order), giving back
    /// each one's use count; returns how many went.  The way to remove
    /// elements while walking.
    template <class Pred>
    int removeIf(Pred pred)
    {
        kavLinkObj* last;
        return chainRemoveIf(&_head, pred, _count, last);
    }

protected:
    /// An empty list.
    kavChainList() : _head(nullptr) {}
    /// Takes out every element.
    ~kavChainList() override;

    /// Holds obj in a new link at `*field` (in obj's pool, one use count on
    /// obj); returns obj.
    kavObject& linkIn(kavLinkObj** field, kavObject& obj);
    /// Forgets the links that went with a released pool (see kavContainer).
    void checkLinks() const
    {
        if (linksStale())
            const_cast<kavChainList*>(this)->pruneLinks();
    }

    kavLinkObj* _head; ///< first link, null when empty

private:
    void pruneLinks();
};

/// The standard iterator of every container: a forward iterator over the
/// elements, in the container's own iteration order, yielding kavObject&.
/// begin() and end() give this one type, so range-for, the standard
/// algorithms and std::ranges work.  It is a plain copyable position (a
/// link, and for a hash container its chain); it allocates nothing and owns
/// nothing.  Like every iterator it is valid while its container lives and
/// the link it stands on is still held: to take elements out while walking,
/// use the container's removeIf.
///
/// A container whose own iterator does not tell its position in links (one
/// written outside the library) is walked through its newIterator(); a copy
/// of such a position makes a new iterator and replays the steps.
class kavRangeIter {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = kavObject;
    using reference = kavObject&;
    using pointer = kavObject*;
    using difference_type = std::ptrdiff_t;

    /// The end of every walk.
    kavRangeIter() noexcept = default;
    /// Stands where `pos` says.
    explicit kavRangeIter(const kavChainPos& pos) noexcept : _pos(pos) {}
    /// Walks `c` through its newIterator(), standing at its start.
    KAVLIB_API explicit kavRangeIter(const kavContainer* c);
    /// The same position, walked on independently.
    kavRangeIter(const kavRangeIter& other) : _pos(other._pos)
    {
        if (other._walk != nullptr)
            replay(other);
    }
    kavRangeIter& operator=(const kavRangeIter& other)
    {
        if (this != &other) {
            kavRangeIter copy(other);
            swap(copy);
        }
        return *this;
    }
    kavRangeIter(kavRangeIter&& other) noexcept { swap(other); }
    kavRangeIter& operator=(kavRangeIter&& other) noexcept
    {
        swap(other);
        return *this;
    }
    /// Gives back the iterator of a replayed walk, if any.
    ~kavRangeIter()
    {
        if (_walk != nullptr)
            dropWalk();
    }
    /// Exchanges two positions.
    void swap(kavRangeIter& other) noexcept
    {
        std::swap(_pos, other._pos);
        std::swap(_walk, other._walk);
        std::swap(_owner, other._owner);
        std::swap(_steps, other._steps);
    }

    /// The current element; the walk must not be at its end (check iterGet).
    kavObject& operator*() const
    {
        if (_walk != nullptr)
            return _walk->get();
        KAV_CHECK(_pos.link != nullptr, iterGet);
        return _pos.link->getObj();
    }
    /// The current element's address; as operator*.
    kavObject* operator->() const { return &**this; }
    /// Steps to the following element; the walk must not be at its end
    /// (check iterNext).
    kavRangeIter& operator++()
    {
        if (_walk != nullptr) {
            stepWalk();
            return *this;
        }
        KAV_CHECK(_pos.link != nullptr, iterNext);
        _pos.link = _pos.link->_next;
        if (_pos.link == nullptr && _pos.chains != nullptr) {
            unsigned int i = _pos.index + 1;
            while (i < _pos.nchains && _pos.chains[i] == nullptr)
                ++i;
            _pos.index = i;
            _pos.link = i < _pos.nchains ? _pos.chains[i] : nullptr;
        }
        return *this;
    }
    /// Steps; returns the position before the step.
    kavRangeIter operator++(int)
    {
        kavRangeIter before(*this);
        ++*this;
        return before;
    }

    /// Two positions of one walk are equal when they stand on the same link
    /// (or both at the end).
    friend bool operator==(const kavRangeIter& a, const kavRangeIter& b) noexcept
    {
        if (a._walk == nullptr || b._walk == nullptr)
            return a._walk == b._walk && a._pos.link == b._pos.link;
        return a._steps == b._steps;
    }
    friend bool operator!=(const kavRangeIter& a, const kavRangeIter& b) noexcept { return !(a == b); }

private:
    // The walk through newIterator() (_walk not null), for containers whose
    // iterator does not tell its position in links.  At its end the walk is
    // given back, so that it equals the end position.
    KAVLIB_API void replay(const kavRangeIter& other);
    KAVLIB_API void stepWalk();
    KAVLIB_API void dropWalk() noexcept;

    kavChainPos _pos;                        ///< where a walk by links stands
    kavIterator* _walk = nullptr;            ///< owned iterator of a replayed walk, else null
    const kavContainer* _owner = nullptr;    ///< the container of a replayed walk
    std::ptrdiff_t _steps = 0;               ///< steps made by a replayed walk
};

/// Exchanges two positions.
inline void swap(kavRangeIter& a, kavRangeIter& b) noexcept
{
    a.swap(b);
}

inline kavRangeIter kavContainer::begin() const
{
    return kavRangeIter(this);
}

inline kavRangeIter kavContainer::end() const
{
    return kavRangeIter();
}

/// Owns one iterator and deletes it at the end of its scope.  Final: it has
/// virtual functions and no virtual destructor, so nothing derives from it.
class KAVLIB_API kavIterPtr final {
public:
    /// Owns `it`.
    kavIterPtr(kavIterator* it) : _iter(it) {}
    /// Owns c->newIterator().
    kavIterPtr(const kavContainer* c) : _iter(c->newIterator()) {}
    /// Owns c.newIterator().
    kavIterPtr(const kavContainer& c) : _iter(c.newIterator()) {}
    /// Deletes the owned iterator (back into its pool).
    ~kavIterPtr()
    {
        if (_iter != nullptr)
            delete _iter;
    }

    /// The only owner of its iterator: neither copied nor assigned.
    kavIterPtr(const kavIterPtr&) = delete;
    kavIterPtr& operator=(const kavIterPtr&) = delete;

    /// 1 while the iterator is not done, 0 when done.
    operator int() { return _iter->done() ? 0 : 1; }
    /// The current element.
    kavObject& operator()() { return _iter->get(); }
    /// The owned iterator.
    kavIterator* operator->() { return _iter; }
    /// Postfix step: the element before the step.
    kavObject& operator++(int) { return (*_iter)++; }
    /// Prefix step: the element after the step.
    kavObject& operator++() { return ++(*_iter); }
    /// Restarts the iterator.
    void reset() { _iter->reset(); }

    /// True only for kavIterPtrClass: a handle is not a kavObject.
    virtual bool isA(const char* name) const;
    /// kavIterPtrClass.
    virtual const char* className() const;

private:
    kavIterator* _iter; ///< the owned iterator
};

#endif
