// kavlib: string elements, string tables and string handles.
#include <kavlib/kavstr.h>

#include <kavlib/library.h>
#include <kavlib/namedobject.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <ostream>
#include <typeinfo>

namespace {

// Stands in for a null text.
char emptyText[1] = {'\0'};

const kavStrElem& asElem(const kavObject& o) { return static_cast<const kavStrElem&>(o); }

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

// The string hash before its modulo: h = 1; h = h * 257 + (signed) byte,
// wrapping.  `size` receives the bytes of the text with its NUL.
std::uint32_t textHash(const char* text, std::size_t& size)
{
    std::uint32_t h = 1;
    const char* p = text;
    for (; *p != '\0'; ++p) {
        // Bytes count as signed: 0x80 to 0xFF add -128 to -1, modulo 2^32.
        const std::int32_t v = static_cast<signed char>(*p);
        // h * 257 + v, grouped so that the shift and the first addition
        // can run side by side.
        h = (h << 8) + (h + static_cast<std::uint32_t>(v));
    }
    size = static_cast<std::size_t>(p - text) + 1;
    return h;
}

} // namespace

// ---- kavStrElem ------------------------------------------------------------------

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
    const std::uint32_t h = textHash(_text, size);
    // The tables' own chain count, spelled out, divides by multiplication.
    const auto m = static_cast<unsigned int>(n);
    return m == 4191u ? h % 4191u : h % m;
}

std::ostream& kavStrElem::dump(std::ostream& os, int indent, int endLine) const
{
    if (kavLib::get(4)) {
        kavObject::dump(os, indent, 0);
        indent = 0;
    }
    os << kavLib::space(indent) << _text << " ";
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

kavStringTbl::~kavStringTbl() = default;

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
    KAV_ASSERT(_table != nullptr, "_table", "kavstr", 157);
    if (s == nullptr)
        s = emptyText;
    // One pass over the text gives its length and the chain: the chain of
    // the candidate's hash, since the candidate holds a copy of the text.
    // Knowing the chain before the candidate is built lets the processor
    // start on it sooner.
    std::size_t n;
    const unsigned int chain = textHash(s, n) % 4191u;
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
    if (kavStringTbl::_tempTable != nullptr) {
        _elem = &kavStringTbl::_tempTable->addStrElem(s);
        return;
    }
    KAV_ASSERT(kavStringTbl::_table != nullptr, "kavStringTbl::_table", "kavstr", 190);
    _elem = &kavStringTbl::_table->addStrElem(s);
}

kavString::~kavString() = default;

unsigned int kavString::hash(int n) const
{
    return _elem->hash(n);
}

namespace {

// The element of a named object's stored name string.
const kavStrElem* nameElem(const kavObject& named)
{
    return static_cast<const kavString&>(static_cast<const kavNamedObj&>(named)).elem();
}

const kavString& asString(const kavObject& o) { return static_cast<const kavString&>(o); }

} // namespace

bool kavString::isEqual(const kavObject& o) const
{
    if (&o == this)
        return true;
    // A plain string answers the two class tests below with false and true.
    if (typeid(o) == typeid(kavString))
        return _elem == asString(o)._elem;
    if (o.isA(kavNamedObjClass))
        return _elem == nameElem(o);
    if (o.isA(kavStringClass))
        return _elem == asString(o)._elem;
    return false;
}

int kavString::objcmp(const kavObject& o) const
{
    if (&o == this)
        return 0;
    const kavStrElem* other;
    if (o.isA(kavNamedObjClass))
        other = nameElem(o);
    else if (o.isA(kavStringClass))
        other = asString(o)._elem;
    else
        return addressOrder(*this, o);
    if (_elem == other)
        return 0;
    return std::strcmp(*_elem, *other);
}

std::ostream& kavString::dump(std::ostream& os, int indent, int endLine) const
{
    if (kavLib::get(4)) {
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
