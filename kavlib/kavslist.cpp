// kavlib: the sorted list, ascending by the elements' objcmp.
#include <kavlib/kavslist.h>

const char* const kavSListClass = "kavSList";
const char* const kavSListIterClass = "kavSListIter";

kavSList::~kavSList() = default;

bool kavSList::isA(const char* name) const
{
    return name == kavSListClass || kavContainer::isA(name);
}

const char* kavSList::className() const
{
    return kavSListClass;
}

kavObject& kavSList::add(kavObject& obj)
{
    checkLinks();
    // Pass every element that the new object does not compare below, so that
    // it goes after all its equals.  The place is found before the link is
    // made: should objcmp throw, nothing has changed.
    kavLinkObj** field = &_head;
    while (*field != nullptr && !objLess(obj, (*field)->getObj()))
        field = &(*field)->_next;
    return linkIn(field, obj);
}

kavIterator* kavSList::newIterator() const
{
    checkLinks();
    return new (getPool()) kavSListIter(this);
}

// ---- kavSListIter ----------------------------------------------------------------

kavSListIter::~kavSListIter() = default;

bool kavSListIter::isA(const char* name) const
{
    return name == kavSListIterClass || kavIterator::isA(name);
}

const char* kavSListIter::className() const
{
    return kavSListIterClass;
}
