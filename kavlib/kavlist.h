// kavlib: the list: a singly linked container that puts each new element at its head,
// so that it is walked newest first.
//
// An iterator remembers the head it started from: elements added after it
// was made go in front of that point and are not seen, even after reset().
#ifndef KAVLIB_KAVLIST_H
#define KAVLIB_KAVLIST_H

#include <kavlib/container.h>

class KAVLIB_API kavList : public kavContainer {
public:
    kavList() : _head(nullptr) {}
    /// Takes out every element.
    ~kavList() override;

    bool isA(const char* name) const override;
    const char* className() const override;

    kavObject& add(kavObject& obj) override;
    kavObject* find(const kavObject& key) const override;
    kavIterator* newIterator() const override;
    bool remove(kavObject& obj) override;
    void removeAll() override;

private:
    friend class kavListIter;
    kavLinkObj* _head; ///< first link, null when empty
};

/// Walks a kavList from the head it had when the iterator was made.
class KAVLIB_API kavListIter : public kavIterator {
public:
    /// Stands on the list's first element.
    explicit kavListIter(const kavList* list) : _current(list->_head), _first(list->_head) {}
    ~kavListIter() override;

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
