// kavlib: the FIFO, in order of arrival.
#include <kavlib/kavfifo.h>

const char* const kavFifoClass = "kavFifo";
const char* const kavFifoIterClass = "kavFifoIter";

kavFifo::~kavFifo()
{
    removeAll();
}

bool kavFifo::isA(const char* name) const
{
    return name == kavFifoClass || kavContainer::isA(name);
}

const char* kavFifo::className() const
{
    return kavFifoClass;
}

kavObject& kavFifo::add(kavObject& obj)
{
    checkLinks();
    noteLink(obj);
    kavLinkObj* link = new (obj.getPool()) kavLinkObj(obj);
    if (_tail != nullptr)
        _tail->_next = link;
    else
        _head = link;
    link->_next = nullptr;
    _tail = link;
    ++_count;
    return obj;
}

kavObject* kavFifo::find(const kavObject& key) const
{
    checkLinks();
    return chainFind(_head, key);
}

kavIterator* kavFifo::newIterator() const
{
    checkLinks();
    return new (getPool()) kavFifoIter(this);
}

bool kavFifo::remove(kavObject& obj)
{
    checkLinks();
    kavLinkObj* before = nullptr;
    for (kavLinkObj* link = _head; link != nullptr; before = link, link = link->_next) {
        if (!objEqual(link->getObj(), obj))
            continue;
        --_count;
        if (before != nullptr)
            before->_next = link->_next;
        else
            _head = link->_next;
        if (link == _tail)
            _tail = before;
        kavLinkObj::release(link);
        return true;
    }
    return false;
}

void kavFifo::removeAll()
{
    checkLinks();
    _count = 0;
    chainRelease(_head);
    _tail = nullptr;
    linksForgotten();
}

void kavFifo::pruneLinks()
{
    _count = pruneChain(_head, _tail);
    linksChecked();
}

// ---- kavFifoIter ----------------------------------------------------------------

kavFifoIter::~kavFifoIter() = default;

bool kavFifoIter::isA(const char* name) const
{
    return name == kavFifoIterClass || kavIterator::isA(name);
}

const char* kavFifoIter::className() const
{
    return kavFifoIterClass;
}
