// kavlib: the FIFO: a singly linked container that appends each new element
// at its tail, so that it is walked in order of arrival.
//
// An iterator made on a non-empty FIFO also sees elements added later, until
// it has run off the end; after reset() it walks again from the element it
// started on.  An iterator made on an empty FIFO stays done for good.
#ifndef KAVLIB_KAVFIFO_H
#define KAVLIB_KAVFIFO_H

#include <kavlib/container.h>

class KAVLIB_API kavFifo : public kavContainer {
public:
    kavFifo() : _head(nullptr), _tail(nullptr) {}
    /// Takes out every element.
    ~kavFifo() override;

    bool isA(const char* name) const override;
    const char* className() const override;

    kavObject& add(kavObject& obj) override;
    kavObject* find(const kavObject& key) const override;
    kavIterator* newIterator() const override;
    bool remove(kavObject& obj) override;
    void removeAll() override;

private:
    friend class kavFifoIter;
    kavLinkObj* _head; ///< first link, null when empty
    kavLinkObj* _tail; ///< last link, null when empty
};

/// Walks a kavFifo in order of arrival.
class KAVLIB_API kavFifoIter : public kavIterator {
public:
    /// Stands on the FIFO's first element.
    explicit kavFifoIter(const kavFifo* fifo) : _current(fifo->_head), _first(fifo->_head) {}
    ~kavFifoIter() override;

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
