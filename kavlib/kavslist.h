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

class KAVLIB_API kavSList : public kavContainer {
public:
    kavSList() : _head(nullptr) {}
    /// Takes out every element.
    ~kavSList() override;

    bool isA(const char* name) const override;
    const char* className() const override;

    kavObject& add(kavObject& obj) override;
    kavObject* find(const kavObject& key) const override;
    kavIterator* newIterator() const override;
    bool remove(kavObject& obj) override;
    void removeAll() override;

private:
    friend class kavSListIter;
    kavLinkObj* _head; ///< first link, null when empty
};

/// Walks a kavSList from the head it had when the iterator was made.
class KAVLIB_API kavSListIter : public kavIterator {
public:
    /// Stands on the list's first element.
    explicit kavSListIter(const kavSList* list) : _current(list->_head), _first(list->_head) {}
    ~kavSListIter() override;

    bool done() const override { return _current == nullptr; }
    kavObject& get() const override;
    void next() override;
    void reset() override { _current = _first; }

    bool isA(const char* name) const override;
    const char* className() const override;

private:
    kavLinkObj* _current; ///< link of the current element, null when done
    kavLinkObj* _first;   ///< where the walk began; reset() returns here
};

#endif
