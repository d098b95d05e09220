// kavlib: the list: a singly linked container that puts each new element at its head,
// so that it is walked newest first.
//
// An iterator remembers the head it started from: elements added after it
// was made go in front of that point and are not seen, even after reset().
#ifndef KAVLIB_KAVLIST_H
#define KAVLIB_KAVLIST_H

#include <kavlib/container.h>

/// A list of object references, newest first.
class KAVLIB_API kavList : public kavChainList {
public:
    /// An empty list.
    kavList() = default;
    /// Takes out every element.
    ~kavList() override;

    /// True for kavListClass, else kavContainer::isA.
    bool isA(const char* name) const override;
    /// kavListClass ("kavList").
    const char* className() const override;

    /// Holds obj at the head (a new link in obj's pool, one use count on
    /// obj); returns obj.
    kavObject& add(kavObject& obj) override;
    /// A new kavListIter on the first element, made in the list's pool (the
    /// main pool for an unpooled list); the caller owns it.
    kavIterator* newIterator() const override;

private:
    friend class kavListIter;
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
