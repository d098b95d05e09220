// kavlib: the list, newest first.
#include <kavlib/kavlist.h>

const char* const kavListClass = "kavList";
const char* const kavListIterClass = "kavListIter";

kavList::~kavList()
{
    removeAll();
}

bool kavList::isA(const char* name) const
{
    return name == kavListClass || kavContainer::isA(name);
}

const char* kavList::className() const
{
    return kavListClass;
}

kavObject& kavList::add(kavObject& obj)
{
    checkLinks();
    noteLink(obj);
    kavLinkObj* link = new (obj.getPool()) kavLinkObj(obj);
    link->_next = _head;
    _head = link;
    ++_count;
    return obj;
}

kavObject* kavList::find(const kavObject& key) const
{
    checkLinks();
    return chainFind(_head, key);
}

kavIterator* kavList::newIterator() const
{
    checkLinks();
    return new (getPool()) kavListIter(this);
}

bool kavList::remove(kavObject& obj)
{
    checkLinks();
    return chainRemove(&_head, obj, _count);
}

void kavList::removeAll()
{
    checkLinks();
    _count = 0;
    chainRelease(_head);
    linksForgotten();
}

void kavList::pruneLinks()
{
    kavLinkObj* last;
    _count = pruneChain(_head, last);
    linksChecked();
}

// ---- kavListIter ----------------------------------------------------------------

kavListIter::~kavListIter() = default;

bool kavListIter::isA(const char* name) const
{
    return name == kavListIterClass || kavIterator::isA(name);
}

const char* kavListIter::className() const
{
    return kavListIterClass;
}
