// kavlib: the lookup index of a string table (pages, growth, removal).
#include <kavlib/internal/strindex.h>
#include <kavlib/internal/syspages.h>

#include <kavlib/kavstr.h>

#include <cstring>
#include <new>

namespace {

constexpr std::size_t pageSize = 4096;
constexpr std::size_t firstSlots = (pageSize - sizeof(kavStrIndex)) / sizeof(std::uint64_t);

} // namespace

kavStrIndex* kavStrIndex::_last = nullptr;
const void* kavStrIndex::_lastOwner = nullptr;
const kavPool* kavStrIndex::_lastPool = nullptr;

void kavStrIndex::forget() const
{
    if (_last == this) {
        _last = nullptr;
        _lastOwner = nullptr;
        _lastPool = nullptr;
    }
}

kavStrIndex::kavStrIndex(kavPool& pool, const void* owner, std::size_t bytes)
    : _node{owner, &dropAttached, nullptr}, _pool(&pool), _bytes(bytes),
      _capacity(static_cast<std::uint32_t>((bytes - sizeof(kavStrIndex)) / sizeof(std::uint64_t))), _count(0),
      _foreign(0), _homeMask(homeFromTag() ? hashTagMask : keyHomeMask),
      _homeScale(homeFromTag() ? std::uint64_t{_capacity} << keyBits : _capacity)
{
}

kavStrIndex* kavStrIndex::map(kavPool& pool, const void* owner, std::size_t slots)
{
    std::size_t bytes = sizeof(kavStrIndex) + slots * sizeof(std::uint64_t);
    bytes = (bytes + pageSize - 1) / pageSize * pageSize;
    void* pages = kavpages::take(bytes); // may give more
    return pages != nullptr ? new (pages) kavStrIndex(pool, owner, bytes) : nullptr;
}

kavStrIndex* kavStrIndex::make(kavPool& pool, const void* owner)
{
    kavStrIndex* index = map(pool, owner, firstSlots);
    if (index != nullptr)
        pool.attach(&index->_node);
    return index;
}

void kavStrIndex::dropAttached(kavPoolAttachment* a)
{
    kavStrIndex* index = reinterpret_cast<kavStrIndex*>(a);
    index->forget();
    kavpages::give(index, index->_bytes);
}

void kavStrIndex::drop()
{
    forget();
    _pool->detach(&_node);
    kavpages::give(this, _bytes);
}

std::uint32_t kavStrIndex::homeOfSlot(std::uint64_t s) const
{
    if (homeFromTag())
        return homeOfTag(s); // the tag's hash bits are all the home needs
    return home(homeBitsOfSlot(s));
}

std::uint32_t kavStrIndex::slotOf(std::uint64_t h, const kavStrElem* e) const
{
    const std::uint64_t* slots = slotArray();
    for (std::uint32_t i = home(h);; i = i + 1 == _capacity ? 0 : i + 1) {
        if (slots[i] == 0)
            return _capacity;
        if (elemOf(slots[i]) == e)
            return i;
    }
}

void kavStrIndex::insert(std::uint32_t home, std::uint64_t s)
{
    std::uint64_t* slots = slotArray();
    std::uint32_t i = home;
    while (slots[i] != 0)
        i = i + 1 == _capacity ? 0 : i + 1;
    slots[i] = s;
    ++_count;
}

kavStrIndex* kavStrIndex::put(const Text& t, kavStrElem* e)
{
    // An element of the same text gives way: `e` is nearer its chain's head.
    std::uint32_t empty = noSlot;
    const std::uint32_t i = slotOf(home(t.h), t, empty);
    if (i != _capacity && fits(e)) {
        slotArray()[i] = slotFor(t.h, t.len, e);
        return this;
    }
    return putNew(t.h, e, t.len, empty); // drops the index when `e` does not fit
}

kavStrIndex* kavStrIndex::putNew(std::uint64_t h, kavStrElem* e, std::size_t len, std::uint32_t empty)
{
    if (!fits(e)) {
        drop(); // an address the slots cannot hold: the table walks its chains
        return nullptr;
    }
    kavStrIndex* index = roomForOne();
    if (index == this && empty != noSlot)
        insert(empty, slotFor(h, len, e)); // the probe from the home ends there
    else if (index != nullptr)
        index->insert(index->home(h), index->slotFor(h, len, e));
    return index;
}

// While the new capacity takes the home from the tag, an entry's new home
// comes from its slot alone; otherwise from its element's key (or, where
// elements keep none, its text's hash), which costs a read of the element
// (and its text): they are fetched a few entries ahead, so that the reads of
// many entries overlap.  An entry's slot value stays the same.
void kavStrIndex::moveTo(kavStrIndex& to) const
{
    const std::uint64_t* old = slotArray();
    if (to.homeFromTag()) {
        for (std::uint32_t i = 0; i < _capacity; ++i)
            if (old[i] != 0)
                to.insert(to.homeOfTag(old[i]), old[i]);
        return;
    }
    constexpr std::uint32_t elemAhead = 16;
#if !KAVLIB_STRELEM_KEY
    constexpr std::uint32_t textAhead = 8;
#endif
    for (std::uint32_t i = 0; i < _capacity; ++i) {
#if defined(__GNUC__)
        if (i + elemAhead < _capacity && old[i + elemAhead] != 0)
            __builtin_prefetch(elemOf(old[i + elemAhead]));
#if !KAVLIB_STRELEM_KEY
        if (i + textAhead < _capacity && old[i + textAhead] != 0)
            __builtin_prefetch(elemText(old[i + textAhead]));
#endif
#endif
        if (old[i] != 0)
            to.insert(to.home(homeBitsOfSlot(old[i])), old[i]);
    }
}

// Grows by a quarter into new pages when one more entry would pass 7 in 8
// slots, moving every entry.
kavStrIndex* kavStrIndex::roomForOne()
{
    if ((static_cast<std::uint64_t>(_count) + 1) * 8 <= static_cast<std::uint64_t>(_capacity) * 7)
        return this;
    kavStrIndex* index = map(*_pool, _node._owner, _capacity + _capacity / 4);
    if (index == nullptr) {
        drop();
        return nullptr;
    }
    index->_foreign = _foreign;
    moveTo(*index);
    const bool remembered = _last == this;
    drop();
    index->_pool->attach(&index->_node);
    if (remembered) {
        _last = index;
        _lastOwner = index->_node._owner;
        _lastPool = index->_pool;
    }
    return index;
}

void kavStrIndex::erase(std::uint32_t i)
{
    std::uint64_t* slots = slotArray();
    // Backward shift: an entry after the hole moves into it unless its home
    // lies cyclically after the hole and up to its own slot.
    std::uint32_t hole = i;
    for (std::uint32_t j = i + 1 == _capacity ? 0 : i + 1; slots[j] != 0; j = j + 1 == _capacity ? 0 : j + 1) {
        const std::uint32_t h = homeOfSlot(slots[j]);
        const bool stays = hole <= j ? (hole < h && h <= j) : (hole < h || h <= j);
        if (!stays) {
            slots[hole] = slots[j];
            hole = j;
        }
    }
    slots[hole] = 0;
    --_count;
}

void kavStrIndex::replace(std::uint64_t h, std::size_t len, const kavStrElem* old, kavStrElem* next)
{
    const std::uint32_t i = slotOf(h, old);
    if (i == _capacity)
        return; // `old` was not the element held for its text
    if (next == nullptr) {
        erase(i);
    } else if (fits(next)) {
        slotArray()[i] = slotFor(h, len, next);
    } else {
        drop(); // an address the slots cannot hold: the table walks its chains
    }
}

void kavStrIndex::clear()
{
    std::memset(static_cast<void*>(slotArray()), 0, _capacity * sizeof(std::uint64_t));
    _count = 0;
    _foreign = 0;
}

bool kavStrIndex::wellPlaced() const
{
    const std::uint64_t* slots = slotArray();
    std::uint32_t used = 0;
    for (std::uint32_t i = 0; i < _capacity; ++i) {
        if (slots[i] == 0)
            continue;
        ++used;
        const char* text = elemText(slots[i]);
        const std::size_t len = std::strlen(text);
        const std::uint64_t h = hashOf(text, len);
        if ((slots[i] & tagMask) != tagOf(h) || !keeps(elemOf(slots[i]), h, len) || slotOf(h, elemOf(slots[i])) != i)
            return false;
    }
    return used == _count;
}
