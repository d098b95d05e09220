// kavlib: the FIFO: a singly linked container that appends each new element
// at its tail, so that it is walked in order of arrival.
//
// An iterator made on a non-empty FIFO also sees elements added later, until
// it has run off the end; after reset() it walks again from the element it
// started on.  An iterator made on an empty FIFO stays done for good.
#ifndef KAVLIB_KAVFIFO_H
#define KAVLIB_KAVFIFO_H

#include <kavlib/container.h>

/// A queue of object references, walked in order of arrival.  Elements
/// leave by remove() or removeAll(); there is no "take the head" operation.
class KAVLIB_API kavFifo : public kavContainer {
public:
    /// An empty FIFO.
    kavFifo() : _head(nullptr), _tail(nullptr) {}
    /// Takes out every element.
    ~kavFifo() override;

    /// True for kavFifoClass, else kavContainer::isA.
    bool isA(const char* name) const override;
    /// kavFifoClass ("kavFifo").
    const char* className() const override;

    /// Holds obj at the tail (a new link in obj's pool, one use count on
    /// obj); returns obj.
    kavObject& add(kavObject& obj) override;
    /// The first element from the head with objEqual(element, key), or null.
    kavObject* find(const kavObject& key) const override;
    /// A new kavFifoIter on the first element, made in the FIFO's pool (the
    /// main pool for an unpooled FIFO); the caller owns it.
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
        return chainRemoveIf(&_head, pred, _count, _tail);
    }

private:
    /// Forgets the links that went with a released pool (container.h).
    void checkLinks() const
    {
        if (linksStale())
            const_cast<kavFifo*>(this)->pruneLinks();
    }
    void pruneLinks();

    friend class kavFifoIter;
    kavLinkObj* _head; ///< first link, null when empty
    kavLinkObj* _tail; ///< last link, null when empty
};

/// Walks a kavFifo in order of arrival.
class KAVLIB_API kavFifoIter : public kavChainIter {
public:
    /// Stands on the FIFO's first element.
    explicit kavFifoIter(const kavFifo* fifo) : kavChainIter(fifo->_head, kavCheck::fifoGet, kavCheck::fifoNext) {}
    /// Leaves the FIFO alone.
    ~kavFifoIter() override;

    /// True for kavFifoIterClass, else kavIterator::isA.
    bool isA(const char* name) const override;
    /// kavFifoIterClass ("kavFifoIter").
    const char* className() const override;
};

#endif
