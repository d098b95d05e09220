// kavlib: interned strings.
//
// Each distinct text is stored once, as a kavStrElem, in a kavStringTbl, and
// kavString handles refer to elements instead of holding copies: two strings
// of one table are equal exactly when they refer to the same element, a
// pointer comparison.  Strings order by text.
//
// Two tables can exist at once.  The global table is set up by kavLib::init
// (or reInit) in the main pool.  The temporary table, set up by
// kavLib::tempInit, takes every string made from text while it exists; it
// goes away, with all its elements, at kavLib::tempReset.  A table, its
// elements, their texts and the links that hold them all live in the table's
// pool, which is how a table is discarded: its pool is released.
//
// A string owns and counts nothing; a string whose table has gone must not be
// used except to be destroyed.  Strings of equal text from different tables
// are not equal, though they order as equal.
//
// Finding a text without interning it: kavStringTbl::lookup, kavString::lookup
// and kavString::find answer the element (or string) a text already has, and
// null (or nothing) for a text never interned, changing no table and no pool.
//
// Behind the chains, a table keeps a lookup index (internal/strindex.h) so that
// interning and looking up take expected constant time however many texts it
// holds; the chains, the counts, the dumps and the pool's statistics are
// those of the chain walk.
#ifndef KAVLIB_KAVSTR_H
#define KAVLIB_KAVSTR_H

#include <kavlib/kavhash.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#if __cplusplus >= 202002L
#include <compare>
#endif
#include <string_view>
#include <type_traits>

class kavString;
class kavStrIndex;

/// One interned text.
class KAVLIB_API kavStrElem : public kavObject {
public:
    /// Copies `s` (not null) into the element's pool, or the global heap.
    explicit kavStrElem(const char* s);
    /// Gives the text back, sized by its current length.
    ~kavStrElem() override;

    /// One element per text and table: never copied.
    kavStrElem(const kavStrElem&) = delete;
    kavStrElem& operator=(const kavStrElem&) = delete;

    /// The string hash: h = 1; h = h * 257 + (signed) byte, wrapping; h % n.
    unsigned int hash(int n) const override;
    /// Under flag 4 the object line first (then no indentation); then the
    /// indentation, the text and a blank; endl when endLine != 0.
    std::ostream& dump(std::ostream& os, int indent, int endLine) const override;
    /// Equal texts (another kavStrElem only).
    bool isEqual(const kavObject& o) const override;
    /// strcmp's own value against another kavStrElem, else address order.
    int objcmp(const kavObject& o) const override;
    /// True for kavStrElemClass, else kavObject::isA.
    bool isA(const char* name) const override;
    /// kavStrElemClass ("kavStrElem").
    const char* className() const override;

    /// A new handle on this element, made in the element's pool; the caller
    /// owns it.
    operator kavString&();
    /// The text itself; its length must not change.
    operator char*() const { return _text; }
    /// The text, read only.  Having both conversions also keeps `delete e`
    /// from compiling: a delete-expression needs exactly one to a pointer.
    operator const char*() const { return _text; }

private:
    friend class kavStringTbl;
    friend class kavStrIndex;

    /// Copies the `n` bytes of `s`, its NUL included.
    kavStrElem(const char* s, std::size_t n);
    /// A key for comparisons that refers to `s` itself (NUL-terminated)
    /// instead of a copy; unpooled, and its text must be reset to null
    /// before it is destroyed.
    struct borrowed {};
    kavStrElem(const char* s, borrowed) : _text(const_cast<char*>(s)) {}

#if UINTPTR_MAX > 0xffffffffu && !defined(_MSC_VER)
    // Where pointers take 8 bytes the root part ends in 4 bytes of padding,
    // which these fields take (the element's size stays that of the root part
    // and the text pointer): what a table's lookup index needs to compare
    // the element's text as words and to place the element again when it
    // grows, kept so that growing reads no texts.  Set when an index takes
    // the element.
#define KAVLIB_STRELEM_KEY 1
    std::uint16_t _indexKey = 0; ///< see above; internal/strindex.h
    std::uint16_t _indexLen = 0; ///< the same
#endif
    char* _text; ///< the element's copy of its text
};

/// A table of interned texts: a hash container of 4191 chains.  Tables are
/// made by establish() and establishTemp() and discarded by releasing their
/// pool (kavLib::reset, reInit, tempReset), never deleted by the library.
class KAVLIB_API kavStringTbl : public kavHash<4191> {
public:
    /// Takes out every element (each then deleted with its text).
    ~kavStringTbl() override;

    /// The global table, made in pool `p` (null: the main pool) if there is
    /// none yet; an existing table is returned unchanged.
    static kavStringTbl* establish(kavPool* p);
    /// The same for the temporary table.
    static kavStringTbl* establishTemp(kavPool* p);
    /// The global table, or null.
    static const kavStringTbl* table() { return _table; }
    /// The temporary table, or null.
    static const kavStringTbl* tempTable() { return _tempTable; }

    /// The element of this table for `s` (null means the empty text), made
    /// when the text is new.  The global table must be established, even
    /// when this is the temporary table (check stringTempOnly).
    kavStrElem& addStrElem(const char* s);

    /// The element that addStrElem(text) would answer if the text is held
    /// already, else null; interns nothing and changes nothing.  A text with
    /// a NUL byte in it is never held.
    kavStrElem* lookup(std::string_view text) const;
    /// The same for a NUL-terminated text; null means the empty text.
    kavStrElem* lookup(const char* text) const;

    /// Holds obj at the head of its chain (kavHash::add), index kept in step.
    kavObject& add(kavObject& obj) override;
    /// Takes out the first element of obj's chain equal to obj
    /// (kavHash::remove), index kept in step.
    bool remove(kavObject& obj) override;
    /// Takes out every element (kavHash::removeAll), index emptied.
    void removeAll() override;

    /// True when the lookup index (if the table has one) holds, for each
    /// text of a plain kavStrElem element, the one its chain walk meets
    /// first, nothing else, and the right number of elements of other
    /// classes.  For tests: it walks the whole table.
    bool checkIndex() const;
    /// Bytes of system pages that this table's lookup index takes (0 when it
    /// has none); they are not part of any pool.
    std::size_t indexBytes() const;
    /// Turns the use of lookup indexes on (the default) or off.  Off, every
    /// interning and look-up walks the chain, as the written algorithm does;
    /// indexes that exist are still kept in step.  For tests and measurements.
    static void useIndex(bool on) { _indexOn = on; }

    /// True for kavStringTblClass, else kavHash<4191>::isA.
    bool isA(const char* name) const override;
    /// kavStringTblClass ("kavStringTblClass").
    const char* className() const override;

protected:
    /// An empty table; made only through establish() and establishTemp().
    kavStringTbl() = default;
    /// Forgets both tables (nothing is freed).
    static void pool();
    /// Forgets the temporary table (nothing is freed).
    static void tempPool();

private:
    friend class kavLib;
    friend class kavString;

    // What find(candidate) answers, with the plain elements that make up
    // nearly every table compared inline instead of through isEqual.
    kavObject* findElem(const kavStrElem& candidate, unsigned int chain) const;
    // find(candidate) for a candidate of the `len` bytes at `text` (hash
    // `h`), walking the chain without making the candidate.
    kavStrElem* walkFor(std::uint32_t h, const char* text, std::size_t len, bool terminated) const;
    // The index attached for this table, or null (always for derived tables).
    kavStrIndex* attachedIndex() const;
    // The index when it may answer: in use, and no element of another class.
    kavStrIndex* answeringIndex() const;
    // The same, made from the chains first when the table has none.
    kavStrIndex* answeringIndexMade();
    // Keeps an existing index in step with an element just added.
    static void noteAdded(kavStrIndex* index, kavObject& obj);
    // addStrElem(s) once the global table is known to exist.
    kavStrElem& intern(const char* s);
    // addStrElem(s) without the lookup index: the chain walk.
    kavStrElem& addByChain(const char* s);
    // add(candidate) for a new text, the lookup index (hash h) told.
    kavStrElem& addIndexed(kavStrIndex& index, std::uint64_t h, std::uint32_t empty, const char* s, std::size_t n);
    // What building and deleting a candidate of `n` text bytes does to the
    // table's pool, without building it, where the pool's recycle lists do
    // not already hold both pieces.
    void candidateRound(std::size_t n) const;

    static kavStringTbl* _table;     ///< the global table, or null
    static kavStringTbl* _tempTable; ///< the temporary table, or null
    static bool _indexOn;            ///< lookup indexes answer (useIndex)
};

/// A handle on an interned text.
class KAVLIB_API kavString : public kavObject {
public:
    /// Interns `s` in the temporary table if there is one, else in the global
    /// table, which must then exist (check "kavStringTbl::_table", kavstr,
    /// 190).  Null means the empty text.
    kavString(const char* s);
    /// The string of the empty text, as for a null text.
    kavString(std::nullptr_t) : kavString(static_cast<const char*>(nullptr)) {}
    /// Refers to o's element.
    kavString(const kavString& o) : kavObject(), _elem(o._elem) {}
    /// Refers to `e` (not null).
    explicit kavString(kavStrElem* e) : _elem(e) {}
    /// Leaves the element alone.
    ~kavString() override = default;

    /// Refers to o's element from now on; the root part stays as it was.
    kavString& operator=(const kavString&) = default;

    /// The element that kavString(text) would refer to (in the temporary
    /// table if there is one, else in the global table) when the text is
    /// interned there already; null otherwise, also when no table exists.
    /// Interns nothing.
    static kavStrElem* lookup(std::string_view text);
    /// The same for a NUL-terminated text; null means the empty text.
    static kavStrElem* lookup(const char* text);
    /// A string of `text` when lookup(text) finds its element, else none.
    static std::optional<kavString> find(std::string_view text);
    /// The same for a NUL-terminated text; null means the empty text.
    static std::optional<kavString> find(const char* text);
    /// The text as a view (without its NUL).
    std::string_view view() const;

    /// The element's text.  Every string of that text shares it: never
    /// write through it.
    operator char*() const { return static_cast<char*>(*_elem); }
    /// The element's text, read only: what `const char* p = s` and the
    /// functions that take a const char* use.  Having both conversions also
    /// keeps `delete s` from compiling: a delete-expression needs exactly one
    /// to a pointer.
    operator const char*() const { return static_cast<const char*>(*_elem); }
    /// The element.
    kavStrElem* elem() const { return _elem; }

    /// The element's hash.
    unsigned int hash(int n) const override;
    /// Same element as another string or as a named object's name.
    bool isEqual(const kavObject& o) const override;
    /// Text order against strings and named objects, else address order.
    int objcmp(const kavObject& o) const override;
    /// Under flag 4 the string's object line (ended) and the element one
    /// blank deeper; otherwise the element's dump.
    std::ostream& dump(std::ostream& os, int indent, int endLine) const override;
    /// True for kavStringClass, else kavObject::isA.
    bool isA(const char* name) const override;
    /// kavStringClass ("kavStringClass").
    const char* className() const override;

private:
    friend class kavNamedObj;
    /// The element of `o`'s stored name when `o` is a named object, else
    /// null.  Named objects are built on strings, a layer above them: their
    /// constructor sets this, so it is null until the first one is made.
    static const kavStrElem* (*_nameOf)(const kavObject& o);
    static const kavStrElem* nameElemOf(const kavObject& o);

    kavStrElem* _elem; ///< the interned element, never owned
};

// ---- comparing with texts, writing to streams --------------------------------

/// A text as a view; a null pointer is the empty text, as for kavString.
inline std::string_view kavTextView(const char* s)
{
    return s != nullptr ? std::string_view(s) : std::string_view();
}
/// A text as a view.
inline std::string_view kavTextView(std::string_view s)
{
    return s;
}
/// The string's text as a view; a named object gives its name's this way.
inline std::string_view kavTextView(const kavString& s)
{
    return kavTextView(static_cast<const char*>(s));
}
/// The element's text.
inline std::string_view kavTextView(const kavStrElem& e)
{
    return kavTextView(static_cast<const char*>(e));
}

inline std::string_view kavString::view() const
{
    return kavTextView(*this);
}

/// Enables the text comparisons below between H, a library object that
/// stands for a text (kavString, kavStrElem, a named object, or a class
/// derived from one of them), and T, a character pointer or array, a
/// std::string or std::string_view, or anything else that converts to one
/// of those and is no library object.
template <class H, class T>
using kavIfText = std::enable_if_t<
    std::is_base_of<kavObject, H>::value &&
        (std::is_convertible<const H&, const kavString&>::value ||
         std::is_convertible<const H&, const kavStrElem&>::value) &&
        !std::is_base_of<kavObject, T>::value &&
        (std::is_convertible<const T&, const char*>::value || std::is_convertible<const T&, std::string_view>::value),
    bool>;

/// `s == "abc"`: compares the string's text with a plain text, byte for
/// byte.  Nothing is interned and no table is needed.  (Two kavStrings, or a
/// string and a named object, compare by interned element instead: see
/// operator== in object.h.)  A named object compares its name's text this
/// way too: `named == "abc"`, and an element its own: `elem == "abc"`.
template <class H, class T, kavIfText<H, T> = true>
bool operator==(const H& s, const T& text)
{
    return kavTextView(s) == kavTextView(text);
}
/// `"abc" == s`: the same test.
template <class T, class H, kavIfText<H, T> = true>
bool operator==(const T& text, const H& s)
{
    return s == text;
}
/// `s != "abc"`: the texts differ.
template <class H, class T, kavIfText<H, T> = true>
bool operator!=(const H& s, const T& text)
{
    return !(s == text);
}
/// `"abc" != s`: the texts differ.
template <class T, class H, kavIfText<H, T> = true>
bool operator!=(const T& text, const H& s)
{
    return !(s == text);
}

/// Enables the text order below between two strings: kavString or classes
/// derived from it.
template <class A, class B>
using kavIfStrings =
    std::enable_if_t<std::is_base_of<kavString, A>::value && std::is_base_of<kavString, B>::value, bool>;

#if defined(__cpp_impl_three_way_comparison) && defined(__cpp_lib_three_way_comparison)
/// Text order of two strings, byte by byte as strcmp orders them (objcmp's
/// order).  Strings of equal text are equivalent, not always equal: == asks
/// for the same interned element, and two tables intern a text apart.
template <class A, class B, kavIfStrings<A, B> = true>
std::weak_ordering operator<=>(const A& a, const B& b)
{
    const int c = a.view().compare(b.view());
    return c < 0 ? std::weak_ordering::less : c > 0 ? std::weak_ordering::greater : std::weak_ordering::equivalent;
}
#else
/// `a < b`: a's text sorts before b's, byte by byte as strcmp orders them
/// (objcmp's order), not by address.
template <class A, class B, kavIfStrings<A, B> = true>
bool operator<(const A& a, const B& b)
{
    return a.view() < b.view();
}
/// `a > b`: b's text sorts before a's.
template <class A, class B, kavIfStrings<A, B> = true>
bool operator>(const A& a, const B& b)
{
    return b.view() < a.view();
}
/// `a <= b`: a's text does not sort after b's.
template <class A, class B, kavIfStrings<A, B> = true>
bool operator<=(const A& a, const B& b)
{
    return !(b.view() < a.view());
}
/// `a >= b`: a's text does not sort before b's.
template <class A, class B, kavIfStrings<A, B> = true>
bool operator>=(const A& a, const B& b)
{
    return !(a.view() < b.view());
}
#endif

/// Writes the string's text alone, as `os << static_cast<char*>(s)` does.
/// For the string's dump (a trailing blank, and more under flag 4) call
/// s.dump(os, 0, 0).
inline std::ostream& operator<<(std::ostream& os, const kavString& s)
{
    return os << static_cast<const char*>(s);
}
/// Writes the element's text alone.
inline std::ostream& operator<<(std::ostream& os, const kavStrElem& e)
{
    return os << static_cast<const char*>(e);
}

#endif
