// kavlib: string elements, string tables and string handles.
#include <kavlib/kavstr.h>

#include <kavlib/services.h>
#include <kavlib/internal/strindex.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <ostream>
#include <string>
#include <typeinfo>

const char* const kavStringTblClass = "kavStringTblClass";
const char* const kavStringClass = "kavStringClass";
const char* const kavStrElemClass = "kavStrElem";

namespace {

// Stands in for a null text.
char emptyText[1] = {'\0'};

const kavStrElem& asElem(const kavObject& o) { return static_cast<const kavStrElem&>(o); }
kavStrElem& asElem(kavObject& o) { return static_cast<kavStrElem&>(o); }

// strcmp(a, b) == 0, inline: interned texts are mostly short words, and most
// pairs met on a chain differ in their first byte.
bool sameText(const char* a, const char* b)
{
    while (*a == *b) {
        if (*a == '\0')
            return true;
        ++a;
        ++b;
    }
    return false;
}

// A plain kavStrElem (nearly every element of every table is one).  An
// element of any other class, a derived one included, is asked through its
// own virtual functions.
bool isPlain(const kavObject& o)
{
    return &typeid(o) == &typeid(kavStrElem);
}

} // namespace

// ---- kavStrElem ------------------------------------------------------------------

#if KAVLIB_STRELEM_KEY
static_assert(sizeof(kavStrElem) == 4 * sizeof(void*), "the index key must fit in the root part's padding");
#endif

kavStrElem::kavStrElem(const char* s) : kavStrElem(s, std::strlen(s) + 1) {}

kavStrElem::kavStrElem(const char* s, std::size_t n) : _text(nullptr)
{
    kavPool* pool = getPool();
    void* text = pool != nullptr ? pool->alloc(static_cast<unsigned int>(n)) : ::operator new(n);
    _text = static_cast<char*>(std::memcpy(text, s, n));
}

kavStrElem::~kavStrElem()
{
    kavPool* pool = getPool();
    if (pool != nullptr)
        pool->free(_text, static_cast<unsigned int>(std::strlen(_text) + 1));
    else
        ::operator delete(_text);
}

unsigned int kavStrElem::hash(int n) const
{
    if (_text == nullptr)
        return 0;
    std::size_t size;
    const std::uint32_t h = kavTextHash(_text, size);
    // The tables' own chain count, spelled out, divides by multiplication.
    const auto m = static_cast<unsigned int>(n);
    return m == 4191u ? h % 4191u : h % m;
}

std::ostream& kavStrElem::dump(std::ostream& os, int indent, int endLine) const
{
    if (kavServices::get(kavFlagObjectLine)) {
        kavObject::dump(os, indent, 0);
        indent = 0;
    }
    os << kavServices::space(indent) << _text << " ";
    if (endLine != 0)
        os << std::endl;
    return os;
}

bool kavStrElem::isEqual(const kavObject& o) const
{
    if (&o == this)
        return true;
    // A plain element (every candidate of addStrElem is one) answers the
    // class test with true; only other classes are asked through isA.
    if (typeid(o) == typeid(kavStrElem) || o.isA(kavStrElemClass)) {
        return sameText(_text, asElem(o)._text);
    }
    return false;
}

int kavStrElem::objcmp(const kavObject& o) const
{
    if (&o == this)
        return 0;
    if (o.isA(kavStrElemClass))
        return std::strcmp(_text, asElem(o)._text);
    return addressOrder(*this, o);
}

bool kavStrElem::isA(const char* name) const
{
    return name == kavStrElemClass || kavObject::isA(name);
}

const char* kavStrElem::className() const
{
    return kavStrElemClass;
}

kavStrElem::operator kavString&()
{
    return *new (getPool()) kavString(this);
}

// ---- kavStringTbl ----------------------------------------------------------------

kavStringTbl* kavStringTbl::_table = nullptr;
kavStringTbl* kavStringTbl::_tempTable = nullptr;
bool kavStringTbl::_indexOn = true;

kavStringTbl::~kavStringTbl()
{
    // The index goes first: the hash container's destructor then empties
    // the chains on its own.
    if (kavStrIndex* index = kavStrIndex::of(getPool(), this))
        index->drop();
}

kavStringTbl* kavStringTbl::establish(kavPool* p)
{
    if (_table == nullptr)
        _table = new (p) kavStringTbl;
    return _table;
}

kavStringTbl* kavStringTbl::establishTemp(kavPool* p)
{
    if (_tempTable == nullptr)
        _tempTable = new (p) kavStringTbl;
    return _tempTable;
}

void kavStringTbl::pool()
{
    _table = nullptr;
    _tempTable = nullptr;
}

void kavStringTbl::tempPool()
{
    _tempTable = nullptr;
}

kavStrElem& kavStringTbl::addStrElem(const char* s)
{
    KAV_CHECK(_table != nullptr, stringTempOnly);
    return intern(s);
}

// addStrElem(s) past its check; made inline in kavString(const char*) too,
// where interning a text already held is nearly all the work.
KAV_STRINDEX_INLINE kavStrElem& kavStringTbl::intern(const char* s)
{
    if (s == nullptr)
        s = emptyText;
    kavStrIndex* index = kavStrIndex::remembered(this);
    if (index == nullptr || !_indexOn || index->foreign() != 0)
        index = answeringIndexMade();
    if (index != nullptr) {
        // The index answers what the chain walk would; the candidate that the
        // walk needs is built only when it stays, and otherwise leaves in the
        // pool the trace its building and deletion would.
        const kavStrIndex::Text t = kavStrIndex::textOf(s, std::strlen(s));
        std::uint32_t empty = 0; // set when nothing is found
        if (kavStrElem* found = index->findToHome(t, empty)) {
            kavPool* pool = getPool(); // not null: only a pooled table has an index
            if (!pool->recyclesPair(sizeof(kavStrElem), static_cast<unsigned int>(t.len + 1)))
                candidateRound(t.len + 1);
            return *found;
        }
        return addIndexed(*index, t.h, empty, s, t.len + 1);
    }
    return addByChain(s);
}

// addStrElem(s) as written: a candidate, found in its chain or added.
kavStrElem& kavStringTbl::addByChain(const char* s)
{
    // One pass over the text gives its length and its hash, which gives the
    // chain: the chain of the candidate's hash, since the candidate holds a
    // copy of the text.
    std::size_t n;
    const unsigned int chain = kavTextHash(s, n) % 4191u;
#if defined(__GNUC__)
    // The chain's first element is fetched while the candidate is built.
    if (const kavLinkObj* head = chainHead(chain))
        __builtin_prefetch(&head->getObj());
#endif
    kavStrElem* candidate = new (getPool()) kavStrElem(s, n);
    if (kavObject* found = findElem(*candidate, chain)) {
        delete candidate;
        return static_cast<kavStrElem&>(*found);
    }
    try {
        add(*candidate);
    } catch (...) {
        delete candidate; // no link could be made: the table stays as it was
        throw;
    }
    return *candidate;
}

// add(candidate) for a text the index does not hold (index hash `h`, `n`
// bytes with its NUL, `empty` the slot where the index's search ended): the
// string hash is needed only now, for the chain.
kavStrElem& kavStringTbl::addIndexed(kavStrIndex& index, std::uint64_t h, std::uint32_t empty, const char* s,
                                      std::size_t n)
{
    kavStrElem* candidate = new (getPool()) kavStrElem(s, n);
    kavLinkObj* link;
    try {
        link = new (candidate->getPool()) kavLinkObj(*candidate);
    } catch (...) {
        delete candidate; // no link could be made: the table stays as it was
        throw;
    }
    pushLink(link, kavTextHash(s, n - 1, 0) % 4191u);
    index.putNew(h, candidate, n - 1, empty); // on failure the index is gone: the chains answer
    return *candidate;
}

// A candidate of n text bytes takes its own piece (operator new), then its
// text's; its deletion gives back the text, then its own piece.  The same
// calls with the same sizes, in the same order, leave the pool exactly as
// the candidate would: unchanged when both classes have recycled pieces
// waiting (kavPool::recyclesPair, which the caller asks first), otherwise
// with the pieces moved onto their recycle lists (or back among the free
// blocks).  Only what the pieces contain differs.
void kavStringTbl::candidateRound(std::size_t n) const
{
    kavPool* pool = getPool();
    void* elem = pool->alloc(sizeof(kavStrElem));
    void* text = pool->alloc(static_cast<unsigned int>(n));
    pool->free(text, static_cast<unsigned int>(n));
    pool->free(elem, sizeof(kavStrElem));
}

kavStrIndex* kavStringTbl::attachedIndex() const
{
    if (&typeid(*this) != &typeid(kavStringTbl))
        return nullptr;
    return kavStrIndex::of(getPool(), this);
}

kavStrIndex* kavStringTbl::answeringIndex() const
{
    kavStrIndex* index = _indexOn ? attachedIndex() : nullptr;
    return index != nullptr && index->foreign() == 0 ? index : nullptr;
}

// Made on first use: for each chain, every element from the head; the first
// plain element of each text is the one held.  A table that holds nothing yet
// (every new one) is not walked: its 4191 chains are all empty.
kavStrIndex* kavStringTbl::answeringIndexMade()
{
    if (kavStrIndex* index = kavStrIndex::remembered(this)) // only an exact table has one
        return _indexOn && index->foreign() == 0 ? index : nullptr;
    if (!_indexOn || getPool() == nullptr || &typeid(*this) != &typeid(kavStringTbl))
        return nullptr;
    kavStrIndex* index = kavStrIndex::of(getPool(), this);
    if (index == nullptr) {
        index = kavStrIndex::make(*getPool(), this);
        for (unsigned int i = 0; i < 4191u && index != nullptr && count() > 0; ++i) {
            for (const kavLinkObj* link = chainHead(i); link != nullptr && index != nullptr; link = link->_next) {
                kavObject& o = link->getObj();
                if (!isPlain(o)) {
                    index->addForeign(1);
                    continue;
                }
                kavStrElem& e = asElem(o);
                const kavStrIndex::Text t = kavStrIndex::textOf(e._text, std::strlen(e._text));
                if (index->find(t) == nullptr)
                    index = index->putNew(t.h, &e, t.len);
            }
        }
    }
    return index != nullptr && index->foreign() == 0 ? index : nullptr;
}

void kavStringTbl::noteAdded(kavStrIndex* index, kavObject& obj)
{
    if (!isPlain(obj)) {
        index->addForeign(1);
        return;
    }
    kavStrElem& e = asElem(obj);
    // On failure the index is gone: the chains answer.
    index->put(kavStrIndex::textOf(e._text, std::strlen(e._text)), &e);
}

kavObject& kavStringTbl::add(kavObject& obj)
{
    kavHash<4191>::add(obj);
    if (kavStrIndex* index = attachedIndex())
        noteAdded(index, obj);
    return obj;
}

bool kavStringTbl::remove(kavObject& obj)
{
    kavStrIndex* index = attachedIndex();
    if (index == nullptr)
        return kavHash<4191>::remove(obj);
    const unsigned int chain = chainOf(obj);
    kavLinkObj** field = chainField(chain, obj);
    if (field == nullptr)
        return false;
    const kavLinkObj* link = *field;
    const kavObject& gone = link->getObj();
    if (!isPlain(gone)) {
        index->addForeign(-1);
    } else {
        // The first plain element of a text is the one held; the next one of
        // the same text further down the chain (maybe the same element, held
        // twice) takes its place.  Settled before the link goes, which may
        // delete the element.
        const kavStrElem& e = asElem(gone);
        kavStrElem* next = nullptr;
        for (const kavLinkObj* l = link->_next; l != nullptr && next == nullptr; l = l->_next)
            if (isPlain(l->getObj()) && sameText(asElem(l->getObj())._text, e._text))
                next = &asElem(l->getObj());
        const std::size_t len = std::strlen(e._text);
        index->replace(kavStrIndex::hashOf(e._text, len), len, &e, next);
    }
    unlinkAt(chain, field);
    return true;
}

void kavStringTbl::removeAll()
{
    kavHash<4191>::removeAll();
    if (kavStrIndex* index = attachedIndex())
        index->clear();
}

bool kavStringTbl::checkIndex() const
{
    const kavStrIndex* index = attachedIndex();
    if (index == nullptr)
        return true;
    std::uint32_t foreign = 0, texts = 0;
    for (unsigned int i = 0; i < 4191u; ++i) {
        for (const kavLinkObj* link = chainHead(i); link != nullptr; link = link->_next) {
            if (!isPlain(link->getObj())) {
                ++foreign;
                continue;
            }
            const kavStrElem& e = asElem(link->getObj());
            bool first = true;
            for (const kavLinkObj* l = chainHead(i); l != link && first; l = l->_next)
                first = !(isPlain(l->getObj()) && sameText(asElem(l->getObj())._text, e._text));
            if (!first)
                continue;
            ++texts;
            if (e.hash(4191) != i || index->find(kavStrIndex::textOf(e._text, std::strlen(e._text))) != &e)
                return false;
        }
    }
    return foreign == index->foreign() && texts == index->count() && index->wellPlaced();
}

std::size_t kavStringTbl::indexBytes() const
{
    const kavStrIndex* index = attachedIndex();
    return index != nullptr ? index->bytes() : 0;
}

kavStrElem* kavStringTbl::lookup(std::string_view text) const
{
    if (text.find('\0') != std::string_view::npos)
        return nullptr; // every held text ends at its first NUL
    if (const kavStrIndex* index = answeringIndex())
        return index->find(kavStrIndex::textOf(text.data(), text.size()));
    return walkFor(kavTextHash(text.data(), text.size(), 0), text.data(), text.size(), false);
}

kavStrElem* kavStringTbl::lookup(const char* text) const
{
    if (text == nullptr)
        text = emptyText;
    const std::size_t len = std::strlen(text);
    if (const kavStrIndex* index = answeringIndex())
        return index->find(kavStrIndex::textOf(text, len));
    return walkFor(kavTextHash(text, len, 0), text, len, true);
}

// The chain of hash h, from its head: a plain element is compared by text
// inline; any other element is asked isEqual with a key element that
// borrows the text (NUL-terminated: as given when `terminated`, else a copy).
kavStrElem* kavStringTbl::walkFor(std::uint32_t h, const char* text, std::size_t len, bool terminated) const
{
    std::string copy;
    for (const kavLinkObj* link = chainHead(h % 4191u); link != nullptr; link = link->_next) {
        kavObject& e = link->getObj();
        if (isPlain(e)) {
            if (kavStrIndex::sameText(asElem(e)._text, text, len))
                return &asElem(e);
            continue;
        }
        if (!terminated && copy.empty())
            copy.assign(text, len);
        kavStrElem key(terminated ? text : copy.c_str(), kavStrElem::borrowed{});
        const bool equal = e.isEqual(key);
        key._text = nullptr; // borrowed: nothing to give back
        if (equal)
            return static_cast<kavStrElem*>(&e);
    }
    return nullptr;
}

// find(candidate), spelled out for a table that is a kavStringTbl itself:
// the first element e of the candidate's chain (`chain`, its hash modulo
// 4191) with e.isEqual(candidate).
// For a plain element (same type_info object as kavStrElem's: nearly every
// element is one) that is a comparison of texts, since the candidate is a
// plain element too; it is made inline.  Any other element is asked through
// its own isEqual, as find() would.
kavObject* kavStringTbl::findElem(const kavStrElem& candidate, unsigned int chain) const
{
    if (typeid(*this) != typeid(kavStringTbl))
        return find(candidate);
    for (const kavLinkObj* link = chainHead(chain); link != nullptr; link = link->_next) {
        kavObject& e = link->getObj();
        if (&typeid(e) == &typeid(kavStrElem)) {
            const kavStrElem& elem = asElem(e);
            if (&elem == &candidate || sameText(elem._text, candidate._text))
                return &e;
        } else if (e.isEqual(candidate)) {
            return &e;
        }
    }
    return nullptr;
}

bool kavStringTbl::isA(const char* name) const
{
    return name == kavStringTblClass || kavHash<4191>::isA(name);
}

const char* kavStringTbl::className() const
{
    return kavStringTblClass;
}

// ---- kavString ----------------------------------------------------------------

kavString::kavString(const char* s) : _elem(nullptr)
{
    kavStringTbl* table = kavStringTbl::_tempTable;
    if (table != nullptr) {
        KAV_CHECK(kavStringTbl::_table != nullptr, stringTempOnly); // addStrElem's own check
    } else {
        KAV_CHECK(kavStringTbl::_table != nullptr, stringNoTable);
        table = kavStringTbl::_table;
    }
    _elem = &table->intern(s);
}

namespace {

// The table that kavString(text) interns in, or null.
const kavStringTbl* currentTable()
{
    return kavStringTbl::tempTable() != nullptr ? kavStringTbl::tempTable() : kavStringTbl::table();
}

} // namespace

kavStrElem* kavString::lookup(std::string_view text)
{
    const kavStringTbl* table = currentTable();
    return table != nullptr ? table->lookup(text) : nullptr;
}

kavStrElem* kavString::lookup(const char* text)
{
    const kavStringTbl* table = currentTable();
    return table != nullptr ? table->lookup(text) : nullptr;
}

std::optional<kavString> kavString::find(std::string_view text)
{
    if (kavStrElem* e = lookup(text))
        return kavString(e);
    return std::nullopt;
}

std::optional<kavString> kavString::find(const char* text)
{
    if (kavStrElem* e = lookup(text))
        return kavString(e);
    return std::nullopt;
}

unsigned int kavString::hash(int n) const
{
    return _elem->hash(n);
}

const kavStrElem* (*kavString::_nameOf)(const kavObject&) = nullptr;

namespace {

const kavString& asString(const kavObject& o) { return static_cast<const kavString&>(o); }

} // namespace

const kavStrElem* kavString::nameElemOf(const kavObject& o)
{
    return _nameOf != nullptr ? _nameOf(o) : nullptr;
}

bool kavString::isEqual(const kavObject& o) const
{
    if (&o == this)
        return true;
    // A plain string answers the two class tests below with false and true.
    if (typeid(o) == typeid(kavString))
        return _elem == asString(o)._elem;
    if (const kavStrElem* name = nameElemOf(o))
        return _elem == name;
    if (o.isA(kavStringClass))
        return _elem == asString(o)._elem;
    return false;
}

int kavString::objcmp(const kavObject& o) const
{
    if (&o == this)
        return 0;
    const kavStrElem* other = nameElemOf(o);
    if (other == nullptr) {
        if (!o.isA(kavStringClass))
            return addressOrder(*this, o);
        other = asString(o)._elem;
    }
    if (_elem == other)
        return 0;
    return std::strcmp(*_elem, *other);
}

std::ostream& kavString::dump(std::ostream& os, int indent, int endLine) const
{
    if (kavServices::get(kavFlagObjectLine)) {
        kavObject::dump(os, indent, 1);
        indent += 1;
    }
    return _elem->dump(os, indent, endLine);
}

bool kavString::isA(const char* name) const
{
    return name == kavStringClass || kavObject::isA(name);
}

const char* kavString::className() const
{
    return kavStringClass;
}
