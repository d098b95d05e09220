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
class KAVLIB_API kavSList : public kavChainList {
public:
    /// An empty list.
    kavSList() = default;
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
    /// A new kavSListIter on the first element, made in the list's pool (the
    /// main pool for an unpooled list); the caller owns it.
    kavIterator* newIterator() const override;

private:
    friend class kavSListIter;
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
