// kavlib: the list: a singly linked container that puts each new element at its head,
// so that it is walked newest first.
//
// An iterator remembers the head it started from: elements added after it
// was made go in front of that point and are not seen, even after reset().
#ifndef KAVLIB_KAVLIST_H
#define KAVLIB_KAVLIST_H

#include <kavlib/container.h>

/// A list of object references, newest first.
class KAVLIB_API kavList : public kavContainer {
public:
    /// An empty list.
    kavList() : _head(nullptr) {}
    /// Takes out every element.
    ~kavList() override;

    /// True for kavListClass, else kavContainer::isA.
    bool isA(const char* name) const override;
    /// kavListClass ("kavList").
    const char* className() const override;

    /// Holds obj at the head (a new link in obj's pool, one use count on
    /// obj); returns obj.
    kavObject& add(kavObject& obj) override;
    /// The first element from the head with objEqual(element, key), or null.
    kavObject* find(const kavObject& key) const override;
    /// A new kavListIter on the first element, made in the list's pool (the
    /// main pool for an unpooled list); the caller owns it.
    kavIterator* newIterator() const override;
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

private:
    /// Forgets the links that went with a released pool (container.h).
    void checkLinks() const
    {
        if (linksStale())
            const_cast<kavList*>(this)->pruneLinks();
    }
    void pruneLinks();

    friend class kavListIter;
    kavLinkObj* _head; ///< first link, null when empty
};

/// Walks a kavList from the head it had when the iterator was made.
class KAVLIB_API kavListIter : public kavChainIter {
public:
    /// Stands on the list's first element.
    explicit kavListIter(const kavList* list) : kavChainIter(list->_head, kavCheck::listGet, kavCheck::listNext) {}
    /// Leaves the list alone.
    ~kavListIter() override;

    /// True for kavListIterClass, else kavIterator::isA.
    bool isA(const char* name) const override;
    /// kavListIterClass ("kavListIter").
    const char* className() const override;
};

#endif
