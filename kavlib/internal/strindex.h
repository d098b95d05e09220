// kavlib: the lookup index of a string table.
//
// A kavStringTbl keeps its elements in 4191 chains, as every hash container
// of that size does, and every answer the table gives is the one a walk of
// those chains gives.  With many thousands of texts a chain is long, so the
// table also keeps this index: open addressing over the table's plain
// kavStrElem elements, which finds the element for a text in expected
// constant time.
//
// What it holds: for each text that a plain element of the table holds, the
// plain element of that text that a walk of its chain from the head meets
// first.  While the table holds plain elements only, that is exactly what
// find(candidate) answers.  Elements of any other class are only counted
// (foreign()); while one is held the table walks its chains instead.
//
// Its key is a hash of its own over the text (hashOf: a few multiplications
// over 8-byte words), not the table's string hash, whose byte-by-byte chain
// of multiplications is slow and whose low bits depend on few bytes; the
// string hash is needed only when an element is made or taken out.
//
// Where it lives: in pages from the system, neither in the table's pool,
// whose statistics must stay those of the chains alone, nor on the global
// heap, where it would move the addresses of the pool's later blocks (and so
// what first fit hands out).  The pages are attached to the table's pool and
// go when the pool is released, which is how a table is discarded.
//
// Slots are 8 bytes: the element's address (divided by 8: 44 bits, enough
// for every address of 47 bits) and a tag of 20 bits of the text's hash, so
// that a probe rarely reads an element of another text.  Where each element
// has room (see kavStrElem), it keeps its text's length and 16 more bits of
// the hash: a tag that matches is confirmed by the length, in the line of
// the element that is read anyway, and the texts are then compared as
// words, neither read past its end (elsewhere byte by byte up to the
// element's NUL).  Up to 1 048 576 slots (some 917 000 texts) the home slot
// comes from the tag alone, so growing moves entries without reading their
// elements; beyond that from the element's 16 bits and then the tag's, so
// that growing reads elements but no texts, and the tag's last bits still
// tell apart the texts of one home.  Linear probing, at most 7 slots in 8
// used, grown by a quarter (so 10 to 12 bytes a text); removal shifts the
// following entries back, so there are no tombstones.  An interning that
// finds its text beyond its home slot moves its entry there, so that the
// texts met most often are found at the first probe.
#ifndef KAVLIB_STRINDEX_H
#define KAVLIB_STRINDEX_H

#include <kavlib/kavpool.h>
#include <kavlib/kavstr.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

// The probe of a look-up is made inline where it is used: the hit path of
// interning is a few dozen instructions, and a call would add a tenth.
#if defined(__GNUC__)
#define KAV_STRINDEX_INLINE inline __attribute__((always_inline))
#else
#define KAV_STRINDEX_INLINE inline
#endif

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

    /// A text as a probe uses it: the `len` bytes at `text` (no NUL among
    /// them), its hashOf(), and, up to 16 bytes, the words of it that the
    /// hash read, which a probe compares with an element's text instead of
    /// reading the text again.
    struct Text {
        const char* text;
        std::size_t len;
        std::uint64_t a; ///< 4 to 16 bytes: cover(text); 1 to 3: the sampled bytes
        std::uint64_t b; ///< 4 to 16 bytes: the cover from the end
        std::uint64_t h; ///< hashOf()
    };

    /// The `len` bytes at `text`, hashed.
    static Text textOf(const char* text, std::size_t len)
    {
        constexpr std::uint64_t k0 = 0xa0761d6478bd642full, k1 = 0xe7037ed1a0b428dbull,
                                k2 = 0x8ebc6af09c88c6e3ull;
        Text t{text, len, 0, 0, 0};
        if (len <= 16) {
            // From 4 to 16 bytes, four 4-byte loads that together cover the
            // text, the same code for every length; below 4, three bytes.
            // One multiplication mixes them with the length.
            if (len >= 4) {
                t.a = cover(text, len);
                t.b = cover(text + len - 4, len, -1);
            } else if (len > 0) {
                t.a = sample(text, len);
            }
            t.h = mum(t.a ^ k1, t.b ^ k0 ^ (static_cast<std::uint64_t>(len) * k2));
            return t;
        }
        std::uint64_t seed = k0;
        for (std::size_t i = 0; i + 16 < len; i += 16)
            seed = mum(load64(text + i) ^ k1, load64(text + i + 8) ^ seed);
        t.h = mum(mum(load64(text + len - 16) ^ k1, load64(text + len - 8) ^ seed) ^ k2,
                  static_cast<std::uint64_t>(len) ^ k1);
        return t;
    }
    /// The index's hash of the `len` bytes at `text`.
    static std::uint64_t hashOf(const char* text, std::size_t len) { return textOf(text, len).h; }

    /// The element held for `t`; null when there is none.
    kavStrElem* find(const Text& t) const
    {
        std::uint32_t empty;
        return find(t, empty);
    }
    /// The same; when there is none, `empty` receives the empty slot that
    /// ended the search, where putNew() can put the text's element.
    KAV_STRINDEX_INLINE kavStrElem* find(const Text& t, std::uint32_t& empty) const
    {
        const std::uint32_t i = slotOf(home(t.h), t, empty);
        return i == _capacity ? nullptr : elemOf(slotArray()[i]);
    }
    /// find(), for a text about to be interned: a hit found beyond its home
    /// slot changes places with the entry there, so that the texts met most
    /// often come to sit where a probe starts.  (Any entry may move forward
    /// within its run of used slots; the one at the home slot is in that run.)
    KAV_STRINDEX_INLINE kavStrElem* findToHome(const Text& t, std::uint32_t& empty)
    {
        const std::uint32_t first = home(t.h);
        const std::uint32_t i = slotOf(first, t, empty);
        if (i == _capacity)
            return nullptr;
        std::uint64_t* slots = slotArray();
        const std::uint64_t s = slots[i];
        if (i != first) {
            slots[i] = slots[first];
            slots[first] = s;
        }
        return elemOf(s);
    }
    /// The probe of find(): the slot holding `t`, searched from `first`, or
    /// _capacity when an empty slot comes first (then in `empty`).
    KAV_STRINDEX_INLINE std::uint32_t slotOf(std::uint32_t first, const Text& t, std::uint32_t& empty) const
    {
        const std::uint64_t tag = tagOf(t.h);
        const std::uint64_t* slots = slotArray();
        // Up to the last slot, then on from the first: the wrap is not
        // tested at every slot.
        for (std::uint32_t i = first;; i = 0) {
            for (; i < _capacity; ++i) {
                const std::uint64_t s = slots[i];
                if (s == 0) {
                    empty = i;
                    return _capacity;
                }
                if ((s & tagMask) == tag && sameTagged(elemOf(s), t))
                    return i;
            }
        }
    }

    /// Makes `e` (a plain element whose text is `t`) the element held for
    /// its text, in place of one held before.  Answers the index to use from
    /// now on (growing moves it), or null when it could not take `e`: it is
    /// then dropped.
    kavStrIndex* put(const Text& t, kavStrElem* e);
    /// put() of an element whose text is not held (find() just said so;
    /// `empty`, when given, is the slot it named, and nothing changed since).
    kavStrIndex* putNew(std::uint64_t h, kavStrElem* e, std::size_t len, std::uint32_t empty = noSlot);
    /// Where `old` is the element held for its text (`len` bytes, hashOf()
    /// `h`): holds `next` instead, or nothing for that text when `next` is
    /// null.
    void replace(std::uint64_t h, std::size_t len, const kavStrElem* old, kavStrElem* next);
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
    /// True when the `len` bytes at `a` and at `b` are the same, for `len`
    /// of 8 or more: words compared, the last overlapping, and nothing read
    /// beyond either.
    static bool sameBytes(const char* a, const char* b, std::size_t len)
    {
        for (std::size_t i = 0; i + 8 < len; i += 8)
            if (load64(a + i) != load64(b + i))
                return false;
        return load64(a + len - 8) == load64(b + len - 8);
    }

    /// True when every entry carries its text's tag and is found by a probe
    /// from its text's home slot, and count() is the number of entries.
    /// For tests: it reads every element held.
    bool wellPlaced() const;

    /// Elements held (texts).
    std::uint32_t count() const { return _count; }
    /// Slots.
    std::uint32_t capacity() const { return _capacity; }
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
    // The index's hash h of a text: its top 16 bits are the key kept in
    // the element, the 20 below them the tag.  A slot: the tag in its top 20
    // bits, the element's address divided by 8 in the others.
    static constexpr unsigned hashBits = 20;
    static constexpr unsigned ptrBits = 64 - hashBits;
    static constexpr std::uint64_t ptrMask = (std::uint64_t{1} << ptrBits) - 1;
    static constexpr std::uint64_t tagMask = ~ptrMask;
    // The key's bits, and where the tag comes from in h.
    static constexpr unsigned keyBits = 16;
    static constexpr std::uint64_t hashTagMask = tagMask >> keyBits;
    // No slot named.
    static constexpr std::uint32_t noSlot = ~std::uint32_t{0};
    // Capacities up to which the home slot comes from the tag.
    static constexpr std::uint32_t tagHomeLimit = std::uint32_t{1} << hashBits;
    // Beyond, the key and the tag's bits together choose it, the key's
    // first: the tag's last bits stay apart from the home and tell the texts
    // of one home apart.
    static constexpr std::uint64_t keyHomeMask = ~((std::uint64_t{1} << (64 - keyBits - hashBits)) - 1);
    // The length as an element keeps it: its low 16 bits.
    static std::uint16_t lenKey(std::size_t len) { return static_cast<std::uint16_t>(len); }
    bool homeFromTag() const { return _capacity <= tagHomeLimit; }
    // The hash bits that choose a home beyond tagHomeLimit (h's top 36),
    // from the entry in slot s alone where its element keeps its key (else
    // from its text).
    static std::uint64_t homeBitsOfSlot(std::uint64_t s)
    {
#if KAVLIB_STRELEM_KEY
        return std::uint64_t{elemOf(s)->_indexKey} << (64 - keyBits) | (s & tagMask) >> keyBits;
#else
        const char* text = elemText(s);
        return hashOf(text, std::strlen(text));
#endif
    }
    // Records in `e` the key of its text's hash h and its length (where
    // elements keep them).
    static void keep([[maybe_unused]] kavStrElem* e, [[maybe_unused]] std::uint64_t h,
                     [[maybe_unused]] std::size_t len)
    {
#if KAVLIB_STRELEM_KEY
        e->_indexKey = static_cast<std::uint16_t>(h >> (64 - keyBits));
        e->_indexLen = lenKey(len);
#endif
    }
    // True when `e` keeps the key of hash h and the length `len`, or keeps
    // none.
    static bool keeps(const kavStrElem* e, [[maybe_unused]] std::uint64_t h, [[maybe_unused]] std::size_t len)
    {
#if KAVLIB_STRELEM_KEY
        return e->_indexKey == static_cast<std::uint16_t>(h >> (64 - keyBits)) && e->_indexLen == lenKey(len);
#else
        return e != nullptr;
#endif
    }

    // True when the element `e` holds the text `t`, where their tags match.
    // Where elements keep their length, equal lengths are known before any
    // byte is read, and the texts are compared as words: up to 16 bytes with
    // the words the hash read.  Elsewhere, byte by byte up to the NUL.
    KAV_STRINDEX_INLINE static bool sameTagged(const kavStrElem* e, const Text& t)
    {
        const char* elem = static_cast<const char*>(*e);
#if KAVLIB_STRELEM_KEY
        if (e->_indexLen != lenKey(t.len))
            return false;
        if (t.len > 16)
            return t.len <= 0xffffu ? sameBytes(elem, t.text, t.len) : sameText(elem, t.text, t.len);
        if (t.len >= 4)
            return ((cover(elem, t.len) ^ t.a) | (cover(elem + t.len - 4, t.len, -1) ^ t.b)) == 0;
        return t.len == 0 || sample(elem, t.len) == t.a;
#else
        return sameText(elem, t.text, t.len);
#endif
    }

    kavStrIndex(kavPool& pool, const void* owner, std::size_t bytes);
    static void dropAttached(kavPoolAttachment* a);
    static kavStrIndex* map(kavPool& pool, const void* owner, std::size_t slots);

    static std::uint64_t load64(const char* p)
    {
        std::uint64_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    static std::uint64_t load32(const char* p)
    {
        std::uint32_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    static std::uint64_t byteAt(const char* p, std::size_t i) { return static_cast<unsigned char>(p[i]); }
    // For a text of 1 to 3 bytes: its first, middle and last byte.
    static std::uint64_t sample(const char* p, std::size_t len)
    {
        return (byteAt(p, 0) << 16) | (byteAt(p, len >> 1) << 8) | byteAt(p, len - 1);
    }
    // For a text of 4 to 16 bytes: two 4-byte words, at `p` and `step`
    // times 0 or 4 bytes further (4 from 8 bytes on), in one 8-byte value.
    // cover(text, len) and cover(text + len - 4, len, -1) read every byte.
    static std::uint64_t cover(const char* p, std::size_t len, std::ptrdiff_t step = 1)
    {
        const std::ptrdiff_t off = step * static_cast<std::ptrdiff_t>((len >> 3) << 2);
        return (load32(p) << 32) | load32(p + off);
    }
    // The 128-bit product of a and b: its low half, and its high half in
    // `high`.
    static std::uint64_t mul128(std::uint64_t a, std::uint64_t b, std::uint64_t& high)
    {
#if defined(__SIZEOF_INT128__)
        __extension__ typedef unsigned __int128 wide;
        const wide r = static_cast<wide>(a) * b;
        high = static_cast<std::uint64_t>(r >> 64);
        return static_cast<std::uint64_t>(r);
#else
        const std::uint64_t al = a & 0xffffffffu, ah = a >> 32, bl = b & 0xffffffffu, bh = b >> 32;
        const std::uint64_t ll = al * bl, lh = al * bh, hl = ah * bl, hh = ah * bh;
        const std::uint64_t mid = (ll >> 32) + (lh & 0xffffffffu) + (hl & 0xffffffffu);
        high = hh + (lh >> 32) + (hl >> 32) + (mid >> 32);
        return (mid << 32) | (ll & 0xffffffffu);
#endif
    }
    // The 128-bit product of a and b, its halves added together by xor.
    static std::uint64_t mum(std::uint64_t a, std::uint64_t b)
    {
        std::uint64_t high;
        const std::uint64_t low = mul128(a, b, high);
        return low ^ high;
    }
    // The high half of the 128-bit product of a and b.
    static std::uint64_t mulHigh(std::uint64_t a, std::uint64_t b)
    {
        std::uint64_t high;
        mul128(a, b, high);
        return high;
    }

    // The home slot: the bits of h that _homeMask keeps, as a fraction of
    // 2^64, times _homeScale: up to tagHomeLimit the tag's 20 bits times the
    // capacity times 2^16 (they sit 16 bits below the top), beyond it h's top
    // 36 bits (key, then tag) times the capacity.
    std::uint32_t home(std::uint64_t h) const { return static_cast<std::uint32_t>(mulHigh(h & _homeMask, _homeScale)); }
    // The home of the entry in slot s while the home comes from the tag.
    std::uint32_t homeOfTag(std::uint64_t s) const
    {
        return static_cast<std::uint32_t>(mulHigh(s & tagMask, _capacity));
    }
    // The tag of a text of hash h: its bits of h moved to the top.
    static std::uint64_t tagOf(std::uint64_t h) { return (h << keyBits) & tagMask; }
    // The home of the entry in slot s.
    std::uint32_t homeOfSlot(std::uint64_t s) const;
    static kavStrElem* elemOf(std::uint64_t s)
    {
        return reinterpret_cast<kavStrElem*>(static_cast<std::uintptr_t>((s & ptrMask) << 3));
    }
    static const char* elemText(std::uint64_t s) { return static_cast<const char*>(*elemOf(s)); }
    // True when `e` has an address a slot can hold.
    static bool fits(const kavStrElem* e)
    {
        const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(e));
        return (address & 7) == 0 && (address >> (ptrBits + 3)) == 0;
    }
    static std::uint64_t slotFor(std::uint64_t h, std::size_t len, kavStrElem* e)
    {
        keep(e, h, len);
        return tagOf(h) | static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(e)) >> 3;
    }

    const std::uint64_t* slotArray() const { return reinterpret_cast<const std::uint64_t*>(this + 1); }
    std::uint64_t* slotArray() { return reinterpret_cast<std::uint64_t*>(this + 1); }
    // The slot holding `e`, whose hash is `h`; _capacity when none.
    std::uint32_t slotOf(std::uint64_t h, const kavStrElem* e) const;
    // Puts `s` into the first empty slot from `home` on (no equal text held).
    void insert(std::uint32_t home, std::uint64_t s);
    // Room for one more entry (grown if need be): the index to use, or null
    // (then dropped).
    kavStrIndex* roomForOne();
    // Moves every entry of this index into `to`, an empty larger one.
    void moveTo(kavStrIndex& to) const;
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
    std::uint64_t _homeMask;  ///< the hash bits that choose the home slot
    std::uint64_t _homeScale; ///< what they are multiplied by (home())

    static kavStrIndex* _last;         ///< the index that of() answered last
    static const void* _lastOwner;     ///< its owner
    static const kavPool* _lastPool;   ///< its pool
};

#endif
