// kavlib: the list, newest first.
#include <kavlib/kavlist.h>

const char* const kavListClass = "kavList";
const char* const kavListIterClass = "kavListIter";

kavList::~kavList() = default;

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
    return linkIn(&_head, obj);
}

kavIterator* kavList::newIterator() const
{
    checkLinks();
    return new (getPool()) kavListIter(this);
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
