// kavlib: the lookup index of a string table.
//
// A kavStringTbl keeps its elements in 4191 chains, as every hash container
// of that size does, and every answer the table gives is the one a walk of
// those chains gives.  With many thousands of texts a chain is long, so the
// table also keeps this index: open addressing over the table's plain
// kavStrElem elements, keyed by the full 32-bit string hash, which finds the
// element for a text in expected constant time.
//
// What it holds: for each text that a plain element of the table holds, the
// plain element of that text that a walk of its chain from the head meets
// first.  While the table holds plain elements only, that is exactly what
// find(candidate) answers.  Elements of any other class are only counted
// (foreign()); while one is held the table walks its chains instead.
//
// Where it lives: in pages from the system, neither in the table's pool,
// whose statistics must stay those of the chains alone, nor on the global
// heap, where it would move the addresses of the pool's later blocks (and so
// what first fit hands out).  The pages are attached to the table's pool and
// go when the pool is released, which is how a table is discarded.
//
// Slots are 8 bytes: the element's address, and in the bits an address
// leaves free (16 on 64-bit targets, 32 on 32-bit ones) bits of the mixed
// hash, so that a probe rarely reads an element of another text.  Linear
// probing, at most 7 slots in 8 used, grown by a quarter (so 10 to 12 bytes
// a text); removal shifts the
// following entries back, so there are no tombstones.
#ifndef KAVLIB_STRINDEX_H
#define KAVLIB_STRINDEX_H

#include <kavlib/kavpool.h>
#include <kavlib/kavstr.h>

#include <cstddef>
#include <cstdint>

/// The string hash before its modulo: h = 1; h = h * 257 + (signed) byte,
/// wrapping, over the text up to its NUL.  `size` receives the bytes of the
/// text with its NUL.
inline std::uint32_t kavTextHash(const char* text, std::size_t& size)
{
    std::uint32_t h = 1;
    const char* p = text;
    for (; *p != '\0'; ++p) {
        // Bytes count as signed: 0x80 to 0xFF add -128 to -1, modulo 2^32.
        const std::int32_t v = static_cast<signed char>(*p);
        // h * 257 + v, grouped so that the shift and the first addition can
        // run side by side.
        h = (h << 8) + (h + static_cast<std::uint32_t>(v));
    }
    size = static_cast<std::size_t>(p - text) + 1;
    return h;
}

/// The same hash over exactly `len` bytes.
inline std::uint32_t kavTextHash(const char* text, std::size_t len, int)
{
    std::uint32_t h = 1;
    for (std::size_t i = 0; i < len; ++i)
        h = (h << 8) + (h + static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(text[i]))));
    return h;
}

/// The lookup index of one string table (see above).  Made, grown and
/// dropped by the table; never copied.
class alignas(std::uint64_t) kavStrIndex {
public:
    /// A new, empty index for `owner` (a table living in `pool`), attached to
    /// `pool`; null when the system gives no pages.
    static kavStrIndex* make(kavPool& pool, const void* owner);
    /// The index attached to `pool` for `owner`, or null.
    static kavStrIndex* of(const kavPool* pool, const void* owner)
    {
        // The index asked for last, remembered: nearly every call asks for
        // the global table's.
        if (owner == _lastOwner && pool == _lastPool)
            return _last;
        kavPoolAttachment* a = pool != nullptr ? pool->attached(owner) : nullptr;
        if (a == nullptr || a->_drop != &dropAttached)
            return nullptr;
        _last = reinterpret_cast<kavStrIndex*>(a);
        _lastOwner = owner;
        _lastPool = pool;
        return _last;
    }

    /// The index of() answered last, when it is `owner`'s; else null.
    static kavStrIndex* remembered(const void* owner) { return owner == _lastOwner ? _last : nullptr; }

    kavStrIndex(const kavStrIndex&) = delete;
    kavStrIndex& operator=(const kavStrIndex&) = delete;

    /// Takes the index off its pool and gives its pages back.
    void drop();

    /// The element held for the `len` bytes at `text` (no NUL among them),
    /// whose string hash is `h`; null when there is none.
    kavStrElem* find(std::uint32_t h, const char* text, std::size_t len) const
    {
        const std::uint32_t m = mix(h);
        const std::uint64_t tag = tagOf(m);
        const std::uint64_t* slots = slotArray();
        for (std::uint32_t i = home(m);; i = i + 1 == _capacity ? 0 : i + 1) {
            const std::uint64_t s = slots[i];
            if (s == 0)
                return nullptr;
            if ((s & tagMask) == tag && sameText(elemText(s), text, len))
                return elemOf(s);
        }
    }

    /// Makes `e` (a plain element: text of `len` bytes, hash `h`) the
    /// element held for its text, in place of one held before.  Answers the
    /// index to use from now on (growing moves it), or null when it could not
    /// take `e`: it is then dropped.
    kavStrIndex* put(std::uint32_t h, kavStrElem* e, std::size_t len);
    /// put() of an element whose text is not held (find() just said so).
    kavStrIndex* putNew(std::uint32_t h, kavStrElem* e);
    /// Where `old` is the element held for its text (hash `h`): holds `next`
    /// instead, or nothing for that text when `next` is null.
    void replace(std::uint32_t h, const kavStrElem* old, kavStrElem* next);
    /// Holds nothing any more; foreign() becomes 0.
    void clear();

    /// True when the NUL-terminated `elem` is exactly the `len` bytes at
    /// `text`, which hold no NUL.
    static bool sameText(const char* elem, const char* text, std::size_t len)
    {
        for (std::size_t i = 0; i < len; ++i)
            if (elem[i] != text[i])
                return false; // also at the element's NUL: text has none
        return elem[len] == '\0';
    }

    /// Elements held (texts).
    std::uint32_t count() const { return _count; }
    /// Bytes of system pages taken.
    std::size_t bytes() const { return _bytes; }
    /// Elements of other classes than kavStrElem that the table holds.
    std::uint32_t foreign() const { return _foreign; }
    /// One more or one fewer element of another class.
    void addForeign(int delta) { _foreign += static_cast<std::uint32_t>(delta); }

    /// Calls f(element) for every element held, in slot order.
    template <class F>
    void forEach(F f) const
    {
        const std::uint64_t* slots = slotArray();
        for (std::uint32_t i = 0; i < _capacity; ++i)
            if (slots[i] != 0)
                f(elemOf(slots[i]));
    }

private:
    // Address bits of a slot: all but the top 16 on 64-bit targets.
    static constexpr unsigned ptrBits = sizeof(void*) == 4 ? 32 : 48;
    static constexpr std::uint64_t ptrMask = (std::uint64_t{1} << ptrBits) - 1;
    static constexpr std::uint64_t tagMask = ~ptrMask;

    kavStrIndex(kavPool& pool, const void* owner, std::size_t bytes);
    static void dropAttached(kavPoolAttachment* a);
    static kavStrIndex* map(kavPool& pool, const void* owner, std::size_t slots);

    // A bijective 32-bit finaliser: the string hash's low bits depend on few
    // bytes (the lowest 8 on their sum alone), so slots are chosen by mixed bits.
    static std::uint32_t mix(std::uint32_t h)
    {
        h ^= h >> 16;
        h *= 0x85ebca6bu;
        h ^= h >> 13;
        h *= 0xc2b2ae35u;
        h ^= h >> 16;
        return h;
    }
    // The home slot takes the high bits of the mixed hash, the tag the low.
    std::uint32_t home(std::uint32_t m) const
    {
        return static_cast<std::uint32_t>((static_cast<std::uint64_t>(m) * _capacity) >> 32);
    }
    static std::uint64_t tagOf(std::uint32_t m) { return (static_cast<std::uint64_t>(m) << ptrBits) & tagMask; }
    static kavStrElem* elemOf(std::uint64_t s)
    {
        return reinterpret_cast<kavStrElem*>(static_cast<std::uintptr_t>(s & ptrMask));
    }
    static const char* elemText(std::uint64_t s) { return static_cast<const char*>(*elemOf(s)); }

    const std::uint64_t* slotArray() const { return reinterpret_cast<const std::uint64_t*>(this + 1); }
    std::uint64_t* slotArray() { return reinterpret_cast<std::uint64_t*>(this + 1); }
    // The slot holding `e`, whose mixed hash is `m`; _capacity when none.
    std::uint32_t slotOf(std::uint32_t m, const kavStrElem* e) const;
    // Puts `s` into the first empty slot from its home on (no equal text held).
    void insert(std::uint32_t m, std::uint64_t s);
    // Room for one more entry (grown if need be): the index to use, or null
    // (then dropped).
    kavStrIndex* roomForOne();
    // Forgets the remembered index when it is this one.
    void forget() const;
    // Empties slot i and moves back the entries that probed past it.
    void erase(std::uint32_t i);

    kavPoolAttachment _node; ///< the record attached to the pool; first member
    kavPool* _pool;          ///< the pool it is attached to
    std::size_t _bytes;      ///< bytes of the pages, this header included
    std::uint32_t _capacity; ///< slots
    std::uint32_t _count;    ///< slots in use
    std::uint32_t _foreign;  ///< elements of other classes in the table

    static kavStrIndex* _last;         ///< the index that of() answered last
    static const void* _lastOwner;     ///< its owner
    static const kavPool* _lastPool;   ///< its pool
};

#endif
