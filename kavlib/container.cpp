// kavlib: links, the abstract container and iterator, the iterator handle.
#include <kavlib/container.h>

#include <kavlib/services.h>

#include <ostream>

const char* const kavContainerClass = "kavContainer";
const char* const kavIteratorClass = "kavIterator";
const char* const kavLinkObjClass = "kavLinkObj";
const char* const kavIterPtrClass = "kavIterPtr";

// ---- kavLinkObj ----------------------------------------------------------------

namespace {

// The header in front of a link on the global heap: the list of all such
// links, and kavPool::releaseCount() when the link was made.  A link in
// memory that a pool gave back may later share its address with a new heap
// link; the count tells them apart.
struct HeapLink {
    HeapLink* prev;
    HeapLink* next;
    unsigned int stamp;
};
HeapLink heapLinks = {&heapLinks, &heapLinks, 0};

} // namespace

void* kavLinkObj::heapAlloc(std::size_t size)
{
    auto* h = static_cast<HeapLink*>(::operator new(sizeof(HeapLink) + size));
    h->prev = &heapLinks;
    h->next = heapLinks.next;
    h->stamp = kavPool::releaseCount();
    heapLinks.next->prev = h;
    heapLinks.next = h;
    return h + 1;
}

void kavLinkObj::heapFree(void* p)
{
    HeapLink* h = static_cast<HeapLink*>(p) - 1;
    h->prev->next = h->next;
    h->next->prev = h->prev;
    ::operator delete(h);
}

bool kavLinkObj::onHeapSince(const void* p, unsigned int stamp)
{
    for (const HeapLink* h = heapLinks.next; h != &heapLinks; h = h->next)
        if (h + 1 == p)
            return h->stamp <= stamp;
    return false;
}

bool kavLinkObj::isA(const char* name) const
{
    return name == kavLinkObjClass;
}

const char* kavLinkObj::className() const
{
    return kavLinkObjClass;
}

void kavLinkObj::operator delete(void* p, kavPool* pool)
{
    static_cast<kavLinkObj*>(p)->_obj.down();
    giveBack(p, pool);
}

// ---- kavChainList ----------------------------------------------------------------

kavChainList::~kavChainList()
{
    kavChainList::removeAll();
}

kavObject& kavChainList::linkIn(kavLinkObj** field, kavObject& obj)
{
    noteLink(obj);
    kavLinkObj* link = new (obj.getPool()) kavLinkObj(obj);
    link->_next = *field;
    *field = link;
    ++_count;
    return obj;
}

kavObject* kavChainList::find(const kavObject& key) const
{
    checkLinks();
    return chainFind(_head, key);
}

bool kavChainList::remove(kavObject& obj)
{
    checkLinks();
    return chainRemove(&_head, obj, _count);
}

void kavChainList::removeAll()
{
    checkLinks();
    _count = 0;
    chainRelease(_head);
    linksForgotten();
}

void kavChainList::pruneLinks()
{
    kavLinkObj* last;
    _count = pruneChain(_head, last);
    linksChecked();
}

// ---- kavChainIter ----------------------------------------------------------------

kavObject& kavChainIter::get() const
{
    if (_current == nullptr)
        kavCheckFail(_getCheck);
    return _current->getObj();
}

void kavChainIter::next()
{
    if (_current == nullptr)
        kavCheckFail(_nextCheck);
    _current = _current->_next;
}

// ---- kavContainer ----------------------------------------------------------------

kavContainer::~kavContainer() = default;

int kavContainer::pruneChain(kavLinkObj*& head, kavLinkObj*& last) const
{
    int kept = 0;
    last = nullptr;
    for (kavLinkObj** field = &head; *field != nullptr; field = &(*field)->_next) {
        const bool held = kavPool::holdsSince(*field, _stamp) ||
                          (_heapLinks && kavLinkObj::onHeapSince(*field, _stamp));
        if (!held) {
            *field = nullptr; // the rest went with a released pool
            break;
        }
        last = *field;
        ++kept;
    }
    return kept;
}

kavObject* kavContainer::find(const kavObject& key) const
{
    for (kavIterPtr it(this); it; it++) {
        kavObject& e = it();
        if (objEqual(e, key))
            return &e;
    }
    return nullptr;
}

std::ostream& kavContainer::dump(std::ostream& os, int indent, int endLine) const
{
    kavIterPtr it(this); // first: it forgets links that went with their pool
    kavObject::dump(os, indent, 0);
    if (kavServices::get(kavFlagCount))
        os << "CT[" << _count << "]\n";
    else
        os << "\n";
    for (; it; it++)
        it().dump(os, indent + 4, endLine);
    return os;
}

bool kavContainer::isA(const char* name) const
{
    return name == kavContainerClass || kavObject::isA(name);
}

const char* kavContainer::className() const
{
    return kavContainerClass;
}

// ---- kavIterator ----------------------------------------------------------------

bool kavIterator::isA(const char* name) const
{
    return name == kavIteratorClass || kavObject::isA(name);
}

const char* kavIterator::className() const
{
    return kavIteratorClass;
}

// ---- kavIterPtr ----------------------------------------------------------------

bool kavIterPtr::isA(const char* name) const
{
    return name == kavIterPtrClass;
}

const char* kavIterPtr::className() const
{
    return kavIterPtrClass;
}

// ---- kavIterator, kavRangeIter ----------------------------------------------------

bool kavIterator::chainPos(kavChainPos&) const
{
    return false;
}

kavRangeIter::kavRangeIter(const kavContainer* c)
{
    kavIterator* it = c->newIterator();
    if (it->chainPos(_pos)) {
        delete it;
        return;
    }
    _walk = it;
    _owner = c;
    if (_walk->done())
        dropWalk();
}

void kavRangeIter::replay(const kavRangeIter& other)
{
    _owner = other._owner;
    _walk = _owner->newIterator();
    for (_steps = 0; _steps < other._steps; ++_steps)
        _walk->next();
}

void kavRangeIter::stepWalk()
{
    _walk->next();
    ++_steps;
    if (_walk->done())
        dropWalk();
}

void kavRangeIter::dropWalk() noexcept
{
    delete _walk;
    _walk = nullptr;
    _owner = nullptr;
    _steps = 0;
}
