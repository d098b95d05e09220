// kavlib: the map from addresses to the blocks of a large pool (see
// internal/poolmap.h).
#include <kavlib/internal/poolmap.h>
#include <kavlib/internal/syspages.h>

#include <cstddef>
#include <new>

using kavpool::addr_t;
using kavpool::audited;
using Record = kavPool::BlockRecord;
using Map = kavPool::BlockMap;

namespace {

constexpr std::size_t pageBytes = 4096;
constexpr std::size_t chunkBytes = 4 * pageBytes; // pages taken for leaves at a time

// The granules that a block meets, as [first, last].
addr_t firstGranule(const Record* r) { return r->begin() >> Map::granuleBits; }
addr_t lastGranule(const Record* r) { return (r->end() - 1) >> Map::granuleBits; }
unsigned int granuleIn(addr_t g) { return static_cast<unsigned int>(g & (Map::leafGranules - 1)); }

// Zeroed pages for a hash table of at least `slots` leaves; null when none.
// `bytes` becomes the size of the pages (spare pages may be larger).
Map::Leaf** takeSlots(std::size_t slots, std::size_t& bytes)
{
    bytes = (slots * sizeof(Map::Leaf*) + pageBytes - 1) / pageBytes * pageBytes;
    return static_cast<Map::Leaf**>(kavpages::take(bytes));
}

// The largest power of two of slots that `bytes` hold, less one.
std::uint32_t maskFor(std::size_t bytes)
{
    std::size_t slots = 1;
    while (slots * 2 <= bytes / sizeof(Map::Leaf*))
        slots *= 2;
    return static_cast<std::uint32_t>(slots - 1);
}

} // namespace

Map* Map::make(Record* blocks)
{
    std::size_t chunk = chunkBytes;
    void* pages = kavpages::take(chunk);
    if (pages == nullptr)
        return nullptr;
    std::size_t slotBytes = 0;
    Leaf** slots = takeSlots(pageBytes / sizeof(Leaf*), slotBytes);
    if (slots == nullptr) {
        kavpages::give(pages, chunk);
        return nullptr;
    }
    // The header sits in the first chunk of leaves, after the chunk's own.
    Chunk* first = new (pages) Chunk{nullptr, chunk};
    Map* map = new (first + 1) Map;
    map->_slots = slots;
    map->_slotBytes = slotBytes;
    map->_mask = maskFor(slotBytes);
    map->_leaves = 0;
    map->_highest = nullptr;
    map->_recent = nullptr;
    map->_chunks = first;
    map->_spare = reinterpret_cast<char*>(map + 1);
    map->_spareEnd = static_cast<char*>(pages) + chunk;
    for (Record* b = blocks; b != nullptr; b = b->next) {
        if (!map->insert(b)) {
            map->drop();
            return nullptr;
        }
        if (b->maxFree == 0)
            unmark(b);
    }
    return map;
}

void Map::drop()
{
    kavpages::give(_slots, _slotBytes);
    // The header lies in the last chunk of the chain: read before it goes.
    for (Chunk* c = _chunks; c != nullptr;) {
        Chunk* next = c->next;
        kavpages::give(c, c->bytes);
        c = next;
    }
}

// ---- leaves ----------------------------------------------------------------

Map::Leaf* Map::leafFor(addr_t key)
{
    if (Leaf* leaf = find(key))
        return leaf;
    return newLeaf(key);
}

bool Map::moreLeaves()
{
    std::size_t bytes = chunkBytes;
    void* pages = kavpages::take(bytes);
    if (pages == nullptr)
        return false;
    _chunks = new (pages) Chunk{_chunks, bytes};
    _spare = reinterpret_cast<char*>(_chunks + 1);
    _spareEnd = static_cast<char*>(pages) + bytes;
    return true;
}

Map::Leaf* Map::newLeaf(addr_t key)
{
    if ((_leaves + 1) * 2 > _mask + 1 && !grow())
        return nullptr;
    if (static_cast<std::size_t>(_spareEnd - _spare) < sizeof(Leaf) && !moreLeaves())
        return nullptr;
    Leaf* leaf = new (_spare) Leaf; // the pages come zeroed: no block, no bit
    _spare += sizeof(Leaf);
    leaf->key = key;
    place(leaf);
    if (_recent == nullptr)
        _recent = leaf;
    ++_leaves;

    // Into the chain by key: usually above every other leaf.
    if (_highest == nullptr || _highest->key < key) {
        leaf->lower = _highest;
        _highest = leaf;
    } else {
        Leaf* above = _highest;
        while (above->lower != nullptr && above->lower->key > key)
            above = above->lower;
        leaf->lower = above->lower;
        above->lower = leaf;
    }
    return leaf;
}

void Map::place(Leaf* leaf)
{
    std::uint32_t i = slotOf(leaf->key);
    while (_slots[i] != nullptr)
        i = (i + 1) & _mask;
    _slots[i] = leaf;
}

// Doubles the hash table, at most half full.
bool Map::grow()
{
    std::size_t bytes = 0;
    Leaf** fresh = takeSlots((std::size_t{_mask} + 1) * 2, bytes);
    if (fresh == nullptr)
        return false;
    Leaf** old = _slots;
    const std::size_t oldBytes = _slotBytes;
    const std::uint32_t oldSlots = _mask + 1;
    _slots = fresh;
    _slotBytes = bytes;
    _mask = maskFor(bytes);
    for (std::uint32_t i = 0; i < oldSlots; ++i)
        if (old[i] != nullptr)
            place(old[i]);
    kavpages::give(old, oldBytes);
    return true;
}

// ---- blocks ------------------------------------------------------------------

bool Map::insert(Record* record)
{
    // A map that fails here is dropped whole: no need to undo.
    const addr_t first = firstGranule(record), last = lastGranule(record);
    Leaf* leaf = nullptr;
    for (addr_t g = first; g <= last; ++g) {
        if (leaf == nullptr || granuleIn(g) == 0) {
            leaf = leafFor(g >> leafBits);
            if (leaf == nullptr)
                return false;
        }
        if (g == first) // its mark goes where the block starts
            record->holdingWord = &leaf->holding[granuleIn(g) >> 6];
        Record*& top = leaf->top[granuleIn(g)];
        if (top == nullptr || top->begin() < record->begin())
            top = record;
    }
    mark(record); // a new block is one free block
    return true;
}

void Map::remove(const Record* record)
{
    unmark(record);
    const addr_t first = firstGranule(record), last = lastGranule(record);
    Record* lower = record->lower;
    Leaf* leaf = nullptr;
    for (addr_t g = first; g <= last; ++g) {
        if (leaf == nullptr || granuleIn(g) == 0)
            leaf = find(g >> leafBits);
        Record*& top = leaf->top[granuleIn(g)];
        if (top == record)
            top = lower != nullptr && lower->end() > g << granuleBits ? lower : nullptr;
    }
}

Record* Map::holdingBelow(const Record* record, bool& known) const
{
    known = true;
    const addr_t g = firstGranule(record);
    // The record's word of marks lies in its leaf: no need to look it up.
    const unsigned int word = granuleIn(g) >> 6;
    const Leaf* leaf = reinterpret_cast<const Leaf*>(reinterpret_cast<const char*>(record->holdingWord - word) -
                                                     offsetof(Leaf, holding));
    // The marks below the record's granule in its own leaf, then whole leaves.
    Record* found = markedBelow(leaf, granuleIn(g));
    for (unsigned int leaves = 0; found == nullptr;) {
        leaf = leaf->lower;
        if (leaf == nullptr)
            return nullptr;
        if (++leaves > nearLeaves) {
            known = false;
            return nullptr;
        }
        found = markedBelow(leaf, leafGranules);
    }
    return found;
}

std::size_t Map::bytes() const
{
    std::size_t n = _slotBytes;
    for (const Chunk* c = _chunks; c != nullptr; c = c->next)
        n += c->bytes;
    return n;
}

std::size_t kavPool::mapBytes() const { return _map != nullptr ? _map->bytes() : 0; }

void Map::audit(const Record* blocks) const
{
    audited((_mask & (_mask + 1)) == 0 && _leaves * 2 <= _mask + 1, "block map table size");
    unsigned int marked = 0, holding = 0;
    for (const Record* b = blocks; b != nullptr; b = b->next) {
        audited(owner(b->begin()) == b && owner(b->end() - 1) == b, "block map finds the block");
        const addr_t g = firstGranule(b);
        const Leaf* leaf = find(g >> leafBits);
        audited(b->holdingWord == &leaf->holding[granuleIn(g) >> 6], "block map marks in the block's word");
        const bool bit = (leaf->holding[granuleIn(g) >> 6] >> (g & 63) & 1) != 0;
        audited(bit == (b->maxFree != 0), "block map marks the blocks with free memory");
        holding += bit;
    }
    for (const Leaf* leaf = _highest; leaf != nullptr; leaf = leaf->lower) {
        audited(leaf->lower == nullptr || leaf->lower->key < leaf->key, "block map leaves in address order");
        for (std::uint64_t w : leaf->holding)
            marked += static_cast<unsigned int>(__builtin_popcountll(w));
    }
    audited(marked == holding, "block map marks only the starts of blocks");
}
