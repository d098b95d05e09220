// kavlib: the sorted list: a singly linked container kept in ascending order of the
// elements' own objcmp.  A new element goes after every element that compares
// equal to it, so equal elements keep their order of addition.  The new
// object is the one asked to compare: objLess(newObject, storedElement).
//
// An iterator remembers the head it started from; an element added later is
// seen if it lands after the current position (or, after reset(), after the
// starting point).
#ifndef KAVLIB_KAVSLIST_H
#define KAVLIB_KAVSLIST_H

#include <kavlib/container.h>

/// A list of object references in ascending objcmp order.
class KAVLIB_API kavSList : public kavContainer {
public:
    /// An empty list.
    kavSList() : _head(nullptr) {}
    /// Takes out every element.
    ~kavSList() override;

    /// True for kavSListClass, else kavContainer::isA.
    bool isA(const char* name) const override;
    /// kavSListClass ("kavSList").
    const char* className() const override;

    /// Holds obj before the first element e with obj.objcmp(e) < 0 (after
    /// every equal one); a new link in obj's pool, one use count on obj.
    /// The place is found by walking from the head.  Returns obj.
    kavObject& add(kavObject& obj) override;
    /// The first element from the head with objEqual(element, key), or null;
    /// the whole list is walked, the order is not used to stop early.
    kavObject* find(const kavObject& key) const override;
    /// A new kavSListIter on the first element, made in the list's pool (the
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
            const_cast<kavSList*>(this)->pruneLinks();
    }
    void pruneLinks();

    friend class kavSListIter;
    kavLinkObj* _head; ///< first link, null when empty
};

/// Walks a kavSList from the head it had when the iterator was made.
class KAVLIB_API kavSListIter : public kavChainIter {
public:
    /// Stands on the list's first element.
    explicit kavSListIter(const kavSList* list) : kavChainIter(list->_head, kavCheck::slistGet, kavCheck::slistNext) {}
    /// Leaves the list alone.
    ~kavSListIter() override;

    /// True for kavSListIterClass, else kavIterator::isA.
    bool isA(const char* name) const override;
    /// kavSListIterClass ("kavSListIter").
    const char* className() const override;
};

#endif
