// kavlib: the hash container.
//
// kavHash<size> spreads object references over `size` chains by the elements'
// own hash: element e lives in chain e.hash(size), which must lie in 0 to
// size - 1 and stay the same while e is held.  A hash of size or more stops
// add, find and remove (check hashRange).  New links go to the head of
// their chain; no test for an equal element is made on add.  The chain array
// is part of the container object, so a container is one allocation.
//
// The collision counter counts the elements held beyond the first of their
// chain: it always equals count() minus the number of non-empty chains.
//
// Iteration runs from chain 0 upwards and, within a chain, newest first.
// reset() scans the current contents, so it sees every element then held.
//
// The library instantiates kavHash<4191> (the base of kavStringTbl); the
// template is defined here so that an application can use other sizes.
#ifndef KAVLIB_KAVHASH_H
#define KAVLIB_KAVHASH_H

#include <kavlib/container.h>
#include <kavlib/services.h>

#include <ostream>

template <unsigned int size>
class KAVLIB_TEMPLATE_API kavHashIter;

/// A container of object references in `size` chains, by the elements' own
/// hash.  The chain array is part of the object (8 bytes a chain): make a
/// large one with new (pool), not on the stack.
template <unsigned int size>
class KAVLIB_TEMPLATE_API kavHash : public kavContainer {
    static_assert(size > 0, "a hash container needs at least one chain");

public:
    /// An empty container: every chain empty, no collision.
    kavHash() : _collisions(0), _chains() {}
    /// Takes out every element.
    ~kavHash() override { removeAll(); }

    /// Under flag 5: the object line, "CT[count] CL[collisions]" and "\n",
    /// then the elements 4 blanks deeper; otherwise the container dump.
    std::ostream& dump(std::ostream& os, int indent, int endLine) const override;
    /// True for kavHashClass, else kavContainer::isA.
    bool isA(const char* name) const override { return name == kavHashClass || kavContainer::isA(name); }
    /// kavHashClass ("kavHash").
    const char* className() const override { return kavHashClass; }

    /// Holds obj at the head of chain obj.hash(size) (a new link in obj's
    /// pool, one use count on obj), without looking for an equal element;
    /// counts a collision when the chain was not empty.  Returns obj.
    kavObject& add(kavObject& obj) override;
    /// The first element of chain key.hash(size), from its head, with
    /// objEqual(element, key), or null.  Only that chain is walked.
    kavObject* find(const kavObject& key) const override
    {
        checkLinks();
        return chainFind(_chains[chainOf(key)], key);
    }
    /// A new kavHashIter on the first element, made in the container's pool
    /// (the main pool for an unpooled container); the caller owns it.
    kavIterator* newIterator() const override;
    /// Takes out the first element of chain obj.hash(size) with
    /// objEqual(element, obj), giving back its use count; false when none.
    bool remove(kavObject& obj) override;
    /// Empties every chain, chain 0 first; count and collisions become 0.
    void removeAll() override;
    /// Takes out every element e for which pred(e) is true (pred is called
    /// with a kavObject&, once per element, in iteration order), giving back
    /// each one's use count; returns how many went.  The way to remove
    /// elements while walking.
    template <class Pred>
    int removeIf(Pred pred)
    {
        int removed = 0;
        for (kavLinkObj*& chain : _chains) {
            kavLinkObj* last;
            int n = chainRemoveIf(&chain, pred, _count, last);
            // A chain that keeps elements loses n collisions; one emptied
            // by the removal had n - 1.
            if (n > 0)
                _collisions -= static_cast<unsigned int>(last != nullptr ? n : n - 1);
            removed += n;
        }
        return removed;
    }

    /// Elements held beyond the first of their chain.
    virtual unsigned int collisions() const { return _collisions; }

protected:
    /// obj.hash(size); a hash of size or more would index past the chain
    /// array, so it stops (check hashRange).
    static unsigned int chainOf(const kavObject& obj)
    {
        const unsigned int i = obj.hash(static_cast<int>(size));
        KAV_CHECK(i < size, hashRange);
        return i;
    }
    /// The head link of chain i (i < size), null when the chain is empty.
    const kavLinkObj* chainHead(unsigned int i) const { return _chains[i]; }
    /// The link field of chain i (its head or a _next) that leads to the
    /// first link, from the head, whose element equals `key`; null when none.
    kavLinkObj** chainField(unsigned int i, const kavObject& key) { return chainFindField(&_chains[i], key); }
    /// Puts a new link at the head of chain i, which must be its element's
    /// hash(size), and updates the counters: add()'s last steps.
    void pushLink(kavLinkObj* link, unsigned int i);
    /// Takes the link at `field` (found by chainField(i, ...)) out of chain
    /// i, updates the counters and releases the link: remove()'s last steps.
    void unlinkAt(unsigned int i, kavLinkObj** field);

private:
    friend class kavHashIter<size>;

    /// Forgets the links that went with a released pool (container.h).
    void checkLinks() const
    {
        if (linksStale())
            const_cast<kavHash*>(this)->pruneLinks();
    }
    void pruneLinks();

    unsigned int _collisions;    ///< count() minus the non-empty chains
    kavLinkObj* _chains[size];   ///< chain heads, null when empty
};

/// Walks a kavHash chain by chain, newest first within a chain.
template <unsigned int size>
class KAVLIB_TEMPLATE_API kavHashIter : public kavIterator {
public:
    /// Stands on the first element of the lowest non-empty chain.
    explicit kavHashIter(const kavHash<size>* container) : _current(nullptr), _index(0), _container(container)
    {
        reset();
    }

    /// True when there is no current element.
    bool done() const override { return _current == nullptr; }
    /// The current element; stops (check hashGet) when done.
    kavObject& get() const override
    {
        KAV_CHECK(_current != nullptr, hashGet);
        return _current->getObj();
    }
    /// Steps to the next element of the chain, else to the head of the next
    /// non-empty chain; stops (check hashNext) when done.
    void next() override;
    /// Stands on the first element of the lowest non-empty chain, looking at
    /// the container's contents as they are now.
    void reset() override
    {
        _index = 0;
        seek();
    }

    /// The current link and chain, for kavRangeIter.
    bool chainPos(kavChainPos& pos) const override
    {
        pos = kavChainPos{_current, _container->_chains, _index, size};
        return true;
    }

    /// True for kavHashIterClass, else kavIterator::isA.
    bool isA(const char* name) const override { return name == kavHashIterClass || kavIterator::isA(name); }
    /// kavHashIterClass ("kavHashIter").
    const char* className() const override { return kavHashIterClass; }

    /// The chain of the current element; `size` when done.
    unsigned int index() const { return _index; }

private:
    // Stands on the head of the first non-empty chain from _index on.
    void seek()
    {
        unsigned int i = _index;
        while (i < size && _container->_chains[i] == nullptr)
            ++i;
        _current = i < size ? _container->_chains[i] : nullptr;
        _index = i;
    }

    kavLinkObj* _current;              ///< link of the current element, null when done
    unsigned int _index;               ///< chain of _current; size when done
    const kavHash<size>* _container;   ///< the container walked
};

template <unsigned int size>
kavObject& kavHash<size>::add(kavObject& obj)
{
    checkLinks();
    // The chain is chosen before the link is made: should hash throw,
    // nothing has changed.
    const unsigned int i = chainOf(obj);
    pushLink(new (obj.getPool()) kavLinkObj(obj), i);
    return obj;
}

template <unsigned int size>
void kavHash<size>::pushLink(kavLinkObj* link, unsigned int i)
{
    noteLink(link->getObj());
    kavLinkObj*& chain = _chains[i];
    if (chain != nullptr)
        ++_collisions;
    link->_next = chain;
    chain = link;
    ++_count;
}

template <unsigned int size>
kavIterator* kavHash<size>::newIterator() const
{
    checkLinks();
    return new (getPool()) kavHashIter<size>(this);
}

template <unsigned int size>
bool kavHash<size>::remove(kavObject& obj)
{
    checkLinks();
    const unsigned int i = chainOf(obj);
    kavLinkObj** field = chainField(i, obj);
    if (field == nullptr)
        return false;
    unlinkAt(i, field);
    return true;
}

template <unsigned int size>
void kavHash<size>::unlinkAt(unsigned int i, kavLinkObj** field)
{
    kavLinkObj* link = *field;
    --_count;
    *field = link->_next;
    if (_chains[i] != nullptr)
        --_collisions;
    kavLinkObj::release(link);
}

template <unsigned int size>
void kavHash<size>::removeAll()
{
    checkLinks();
    for (kavLinkObj*& chain : _chains)
        chainRelease(chain);
    _count = 0;
    _collisions = 0;
    linksForgotten();
}

template <unsigned int size>
void kavHash<size>::pruneLinks()
{
    kavLinkObj* last;
    int kept = 0, chains = 0;
    for (kavLinkObj*& chain : _chains) {
        kept += pruneChain(chain, last);
        chains += chain != nullptr ? 1 : 0;
    }
    _count = kept;
    _collisions = static_cast<unsigned int>(kept - chains);
    linksChecked();
}

template <unsigned int size>
std::ostream& kavHash<size>::dump(std::ostream& os, int indent, int endLine) const
{
    if (!kavServices::get(kavFlagHashCounts))
        return kavContainer::dump(os, indent, endLine);
    checkLinks();
    kavObject::dump(os, indent, 0);
    os << "CT[" << _count << "] CL[" << _collisions << "]\n";
    for (kavIterPtr it(this); it; it++)
        it().dump(os, indent + 4, endLine);
    return os;
}

template <unsigned int size>
void kavHashIter<size>::next()
{
    KAV_CHECK(_index < size, hashNext);
    if (_current != nullptr && _current->_next != nullptr) {
        _current = _current->_next;
        return;
    }
    ++_index;
    seek();
}

// The library's own instantiation, compiled once into the library.  MinGW
// (GCC's Windows ABI) exports only the out-of-line members of an explicit
// instantiation, not those defined in the class, so its applications make
// their own instantiation instead of importing an incomplete one.
#if defined(_WIN32) || defined(__CYGWIN__)
#  if !defined(KAVLIB_BUILDING) && !defined(KAVLIB_STATIC) && defined(_MSC_VER)
extern template class __declspec(dllimport) kavHash<4191>;
extern template class __declspec(dllimport) kavHashIter<4191>;
#  endif
#else
extern template class kavHash<4191>;
extern template class kavHashIter<4191>;
#endif

#endif
