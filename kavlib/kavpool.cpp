// kavlib: pool allocator, registry, reports and the main pool.
//
// Free memory is kept in two shapes.  Pieces below 512 bytes that come back
// wait on one of 64 LIFO recycle lists (handled inline in kavpool.h).
// Everything else is a free block on a singly linked list in strictly
// ascending address order.  A free block carries its header inside itself:
//
//   4-byte pointers: [next][size]          -- exactly the 8-byte rounding unit
//   8-byte pointers: [next | 1]            -- a block of exactly 8 bytes
//                    [next][size][...]     -- a block of 16 bytes or more
//
// With wider pointers an 8-byte free block has no room for its size, so the
// low bit of its link word (always clear: blocks are 8-byte aligned) says
// "this block is 8 bytes long".  No free block needs memory outside itself.
//
// Allocation takes the first free block that is large enough, in address
// order, and leaves the rest of it (however small) as a free block in its
// place.  A large piece that comes back is linked in by address and merged
// with a neighbour that ends where it begins or begins where it ends.  Blocks
// added by addblock() are linked in by address but never merged on insertion.
//
// Watched pools (see kavpool.h) take alloc() and free() out of line into
// allocWatched() and freeWatched().  Every access that the pool makes to its
// own bookkeeping inside free memory (a header word, a recycle link) opens
// just that 8-byte word for the access and closes it again, so that memory
// checkers see all free memory as out of bounds.  kavPool::Watch collects
// what each kind of watching does at each step; in a build without any of
// them its members are empty and compile to nothing.
#include <kavlib/kavpool.h>

#include <kavlib/library.h>

#include <cstdint>
#include <new>
#include <ostream>

// AddressSanitizer poisoning needs both: a library configured as an ASan
// build (so that applications route alloc() and free() here) and this file
// compiled with ASan.  If they disagree nothing is poisoned, which is safe.
#if defined(__SANITIZE_ADDRESS__)
#  define KAVPOOL_ASAN_COMPILED 1
#elif defined(__has_feature)
#  if __has_feature(address_sanitizer)
#    define KAVPOOL_ASAN_COMPILED 1
#  endif
#endif
#if KAVLIB_ASAN && defined(KAVPOOL_ASAN_COMPILED)
#  define KAVPOOL_POISON 1
#  include <sanitizer/asan_interface.h>
#  include <sanitizer/common_interface_defs.h>
#else
#  define KAVPOOL_POISON 0
#endif

#if KAVLIB_VALGRIND
#  include <valgrind/memcheck.h>
#endif

#if KAVLIB_CHECKED
#  include <iterator>
#  include <map>
#endif
#if KAVLIB_CHECKED || KAVLIB_VALGRIND
#  include <unordered_map>
#  include <vector>
#endif

struct kavPool::BlockRecord {
    BlockRecord* next;  ///< the next older block record
    void* start;        ///< start of the block
    unsigned int size;  ///< block size in bytes
};

namespace {

using addr_t = std::uintptr_t;

addr_t addr(const void* p) { return reinterpret_cast<addr_t>(p); }
void* ptr(addr_t a) { return reinterpret_cast<void*>(a); }

#if KAVLIB_VALGRIND
// Read once at load, before the main pool is made: are we under valgrind's
// memcheck?  Only memcheck answers its own requests (with -1); other tools,
// callgrind for one, leave them at 0 and see the plain pool.
bool runningOnMemcheck()
{
    char probe = 0;
    return RUNNING_ON_VALGRIND != 0 && static_cast<long>(VALGRIND_MAKE_MEM_DEFINED(&probe, 1)) == -1;
}
const bool underValgrind = runningOnMemcheck();
#endif

// Opens the 8-byte word of free memory that holds `at` for one access by the
// pool, and closes it again.  Free memory is 8-byte aligned and a multiple of
// 8 long, so the word never reaches into a piece that is handed out.
constexpr addr_t wordMask = ~addr_t(7);

#if KAVLIB_VALGRIND
// The client requests, out of line: the word accessors below stay small
// enough to be inlined into the free-block code when valgrind is not there.
[[gnu::noinline, gnu::cold]] void openWordForMemcheck(addr_t at)
{
    (void)VALGRIND_MAKE_MEM_DEFINED(ptr(at & wordMask), 8);
}
[[gnu::noinline, gnu::cold]] void closeWordForMemcheck(addr_t at)
{
    (void)VALGRIND_MAKE_MEM_NOACCESS(ptr(at & wordMask), 8);
}
#endif

inline void openWord([[maybe_unused]] addr_t at)
{
#if KAVPOOL_POISON
    ASAN_UNPOISON_MEMORY_REGION(ptr(at & wordMask), 8);
#endif
#if KAVLIB_VALGRIND
    if (underValgrind)
        openWordForMemcheck(at);
#endif
}

inline void closeWord([[maybe_unused]] addr_t at)
{
#if KAVPOOL_POISON
    ASAN_POISON_MEMORY_REGION(ptr(at & wordMask), 8);
#endif
#if KAVLIB_VALGRIND
    if (underValgrind)
        closeWordForMemcheck(at);
#endif
}

addr_t loadWord(addr_t at)
{
    addr_t w;
    openWord(at);
    std::memcpy(&w, ptr(at), sizeof w);
    closeWord(at);
    return w;
}
void storeWord(addr_t at, addr_t w)
{
    openWord(at);
    std::memcpy(ptr(at), &w, sizeof w);
    closeWord(at);
}

unsigned int loadSize(addr_t at)
{
    unsigned int s;
    openWord(at);
    std::memcpy(&s, ptr(at), sizeof s);
    closeWord(at);
    return s;
}
void storeSize(addr_t at, unsigned int s)
{
    openWord(at);
    std::memcpy(ptr(at), &s, sizeof s);
    closeWord(at);
}

// The link of a recycled element, which lies in free memory too.
void* readLink(const void* piece) { return ptr(loadWord(addr(piece))); }
void writeLink(void* piece, void* link) { storeWord(addr(piece), addr(link)); }

// The free-block header, in whichever layout the pointer width calls for.
constexpr bool tagged = sizeof(void*) > 4;
constexpr addr_t tinyBit = 1; // tagged layout: "exactly 8 bytes"

addr_t nextOf(addr_t block)
{
    return tagged ? loadWord(block) & ~tinyBit : loadWord(block);
}

unsigned int sizeOf(addr_t block)
{
    if (tagged && (loadWord(block) & tinyBit) != 0)
        return 8;
    return loadSize(block + sizeof(addr_t));
}

void writeHeader(addr_t block, addr_t next, unsigned int size)
{
    if (tagged && size == 8) {
        storeWord(block, next | tinyBit);
        return;
    }
    storeWord(block, next);
    storeSize(block + sizeof(addr_t), size);
}

void setNext(addr_t block, addr_t next)
{
    if (tagged)
        storeWord(block, next | (loadWord(block) & tinyBit));
    else
        storeWord(block, next);
}

#if KAVLIB_CHECKED
// The checked build's table of the pieces of each pool: every piece handed
// out and every recycled element, by address.  Large pieces that come back
// leave the table; their memory is a free block again.
struct Piece {
    unsigned int size; ///< rounded size
    bool recycled;     ///< waiting on a recycle list
};
using PieceTable = std::map<addr_t, Piece>;

// Made once and never destroyed: pools outlive every static destructor.
std::unordered_map<const kavPool*, PieceTable>& pieceTables()
{
    static auto* tables = new std::unordered_map<const kavPool*, PieceTable>;
    return *tables;
}
#endif

#if KAVLIB_VALGRIND
// Under valgrind a piece handed out holds what the pool says it holds: a
// recycled element what its last user left (memcheck's validity bits of it
// are kept here while it waits, by pool and address), apart from its first
// word, the old link; a piece cut from a free block the old header.
using SavedBits = std::unordered_map<addr_t, std::vector<unsigned char>>;

std::unordered_map<const kavPool*, SavedBits>& savedBits()
{
    static auto* saved = new std::unordered_map<const kavPool*, SavedBits>;
    return *saved;
}

// The number of addressable bytes at the start of [p, p + n).
unsigned int addressablePrefix(addr_t p, unsigned int n)
{
    unsigned char bits[8];
    unsigned int k = 0;
    while (k + 8 <= n && VALGRIND_GET_VBITS(ptr(p + k), bits, 8) == 1)
        k += 8;
    while (k < n && VALGRIND_GET_VBITS(ptr(p + k), bits, 1) == 1)
        ++k;
    return k;
}

constexpr unsigned int headerBytes = sizeof(addr_t) + sizeof(unsigned int);
#endif

// Reports a misuse of a pool in the library's assertion format.
[[maybe_unused]] void misuse(bool ok, const char* text, int line)
{
    if (ok)
        return;
#if KAVPOOL_POISON
    __sanitizer_print_stack_trace();
#endif
    kavAssertFail(text, "kavpool", line);
}

} // namespace

// What each kind of watching does at each step of a pool.  The checked
// build's reports (file "kavpool"):
//   301 "ptr not freed twice"          a piece given back while already free
//   302 "size rounds as allocated"     given back with a size that rounds otherwise
//   303 "ptr comes from this pool"     not the start of a piece of this pool
//   304 "free blocks in ascending order"
//   305 "free blocks do not touch"     except where two heap blocks meet
//   306 "recycled element intact"      a recycle list overwritten after free
//   307 "pool counters add up"         the free blocks add up to fmem
//   308 "piece overlaps no other"      a free block reaching into a piece
// AddressSanitizer builds report 301 too: the first byte of every piece
// handed out is addressable, of every free one poisoned.
struct kavPool::Watch {
    static void created([[maybe_unused]] kavPool& pool)
    {
#if KAVLIB_VALGRIND
        if (underValgrind)
            VALGRIND_CREATE_MEMPOOL(&pool, 0, 0);
#endif
    }

    static void destroyed([[maybe_unused]] kavPool& pool)
    {
#if KAVLIB_CHECKED
        pieceTables().erase(&pool);
#endif
#if KAVLIB_VALGRIND
        if (underValgrind) {
            savedBits().erase(&pool);
            VALGRIND_DESTROY_MEMPOOL(&pool);
        }
#endif
    }

    // A new block from the heap: all of it is free memory.
    static void blockAdded([[maybe_unused]] void* block, [[maybe_unused]] unsigned int n)
    {
#if KAVPOOL_POISON
        ASAN_POISON_MEMORY_REGION(block, n);
#endif
#if KAVLIB_VALGRIND
        if (underValgrind)
            (void)VALGRIND_MAKE_MEM_NOACCESS(block, n);
#endif
    }

    // release(): every piece goes away at once; the pool is watched afresh,
    // as if just created.
    static void releasing(kavPool& pool)
    {
        destroyed(pool);
        created(pool);
    }

    // A block goes back to the heap as the heap gave it: clean.
    static void blockReturned([[maybe_unused]] void* block, [[maybe_unused]] unsigned int n)
    {
#if KAVPOOL_POISON
        ASAN_UNPOISON_MEMORY_REGION(block, n);
#endif
#if KAVLIB_VALGRIND
        if (underValgrind)
            (void)VALGRIND_MAKE_MEM_UNDEFINED(block, n);
#endif
    }

    // The head of recycle list c is about to be handed out again.
    static void popping([[maybe_unused]] const kavPool& pool, [[maybe_unused]] unsigned int c)
    {
#if KAVLIB_CHECKED
        const PieceTable& table = pieceTables()[&pool];
        const auto isRecycled = [&](addr_t p) {
            const auto it = table.find(p);
            return it != table.end() && it->second.recycled && it->second.size == c * 8;
        };
        const addr_t head = addr(pool._recycleList[c]);
        const addr_t link = loadWord(head);
        misuse(isRecycled(head) && (link == 0 || isRecycled(link)), "recycled element intact", 306);
#endif
    }

    // A piece of `size` bytes (r rounded) is handed out.
    static void handOut([[maybe_unused]] kavPool& pool, [[maybe_unused]] void* piece,
                        [[maybe_unused]] unsigned int size, [[maybe_unused]] unsigned int r)
    {
        if (size == 0)
            return; // nothing to use and nothing to give back
#if KAVLIB_CHECKED
        PieceTable& table = pieceTables()[&pool];
        auto it = table.lower_bound(addr(piece));
        if (it != table.end() && it->first == addr(piece)) {
            // A recycled element handed out again (popping() checked it),
            // never a piece that is still in use.
            misuse(it->second.recycled, "piece overlaps no other", 308);
            it->second.recycled = false;
        } else {
            // Cut from a free block: it must not reach into any other piece.
            const bool clearAbove = it == table.end() || it->first >= addr(piece) + r;
            const bool clearBelow =
                it == table.begin() || std::prev(it)->first + std::prev(it)->second.size <= addr(piece);
            misuse(clearAbove && clearBelow, "piece overlaps no other", 308);
            table.emplace_hint(it, addr(piece), Piece{r, false});
        }
#endif
#if KAVPOOL_POISON
        ASAN_UNPOISON_MEMORY_REGION(piece, size);
#endif
#if KAVLIB_VALGRIND
        if (underValgrind) {
            VALGRIND_MEMPOOL_ALLOC(&pool, piece, size);
            SavedBits& saved = savedBits()[&pool];
            const auto it = saved.find(addr(piece));
            if (it != saved.end()) {
                const auto n = static_cast<unsigned int>(it->second.size());
                if (n != 0)
                    (void)VALGRIND_SET_VBITS(piece, it->second.data(), n < size ? n : size);
                saved.erase(it);
                (void)VALGRIND_MAKE_MEM_DEFINED(piece, size < sizeof(addr_t) ? size : sizeof(addr_t));
            } else {
                (void)VALGRIND_MAKE_MEM_DEFINED(piece, size < headerBytes ? size : headerBytes);
            }
        }
#endif
    }

    // A piece of r rounded bytes comes back.  False when it must be left
    // alone: valgrind has reported it as not a live piece.
    static bool takeBack([[maybe_unused]] kavPool& pool, [[maybe_unused]] void* piece,
                         [[maybe_unused]] unsigned int r)
    {
#if KAVLIB_CHECKED
        PieceTable& table = pieceTables()[&pool];
        const auto it = table.find(addr(piece));
        if (it == table.end()) {
            // A large piece that came back already lies in a free block.
            misuse(!inFreeBlock(pool, addr(piece)), "ptr not freed twice", 301);
            kavAssertFail("ptr comes from this pool", "kavpool", 303);
        }
        misuse(!it->second.recycled, "ptr not freed twice", 301);
        misuse(it->second.size == r, "size rounds as allocated", 302);
        if (r < recycleLimit)
            it->second.recycled = true;
        else
            table.erase(it);
#endif
#if KAVPOOL_POISON
        misuse(!__asan_address_is_poisoned(piece), "ptr not freed twice", 301);
        ASAN_POISON_MEMORY_REGION(piece, r);
#endif
#if KAVLIB_VALGRIND
        if (underValgrind) {
            // Memory that is not addressable is no live piece: let memcheck
            // report the free with its stack, and keep the lists intact.
            unsigned char vbits;
            const bool live = VALGRIND_GET_VBITS(piece, &vbits, 1) != 3;
            if (live && r < recycleLimit) {
                const unsigned int n = addressablePrefix(addr(piece), r);
                std::vector<unsigned char> bits(n);
                if (n != 0)
                    (void)VALGRIND_GET_VBITS(piece, bits.data(), n);
                savedBits()[&pool][addr(piece)] = std::move(bits);
            }
            VALGRIND_MEMPOOL_FREE(&pool, piece);
            return live;
        }
#endif
        return true;
    }

    // After every operation that changed the free-block list: its order, and
    // its sizes against fmem.  (amem = fmem + rmem + umem holds by
    // construction: umem is derived from the other three.)
    static void changed([[maybe_unused]] const kavPool& pool, [[maybe_unused]] bool freeList)
    {
#if KAVLIB_CHECKED
        if (!freeList)
            return;
        unsigned int total = 0;
        addr_t prevEnd = 0;
        for (addr_t b = addr(pool._freeList); b != 0; b = nextOf(b)) {
            misuse(b >= prevEnd, "free blocks in ascending order", 304);
            misuse(b != prevEnd || blockStart(pool, b), "free blocks do not touch", 305);
            const unsigned int size = sizeOf(b);
            total += size;
            prevEnd = b + size;
        }
        misuse(total == pool._fmem, "pool counters add up", 307);
#endif
    }

#if KAVLIB_CHECKED
    // Does `p` lie inside one of the pool's free blocks?
    static bool inFreeBlock(const kavPool& pool, addr_t p)
    {
        for (addr_t b = addr(pool._freeList); b != 0 && b <= p; b = nextOf(b))
            if (p < b + sizeOf(b))
                return true;
        return false;
    }

    // Does one of the pool's blocks start at `p`?  Two free blocks may touch
    // there: the heap can place blocks side by side and addblock() does not
    // merge.
    static bool blockStart(const kavPool& pool, addr_t p)
    {
        for (const BlockRecord* b = pool._blockList; b != nullptr; b = b->next)
            if (addr(b->start) == p)
                return true;
        return false;
    }
#endif
};

// ---- the registry ----------------------------------------------------------

kavPool* kavPool::_pools = nullptr;

#if KAVLIB_POOL_ALWAYS_WATCHED
bool kavPool::_watched = true;
#elif KAVLIB_VALGRIND
bool kavPool::_watched = underValgrind;
#else
bool kavPool::_watched = false;
#endif

// The library's only load-time initialiser: the main pool, number 0, on the
// global heap.  It is never destroyed.
kavPool* kavPool::_mainPool = new kavPool;

kavPool::kavPool()
    : _amem(0), _fmem(0), _rmem(0), _recycleList(), _blockList(nullptr),
      _freeList(nullptr), _next(_pools), _num(_pools == nullptr ? 0 : _pools->_num + 1),
      _releaseFlag(true)
{
    _pools = this;
    Watch::created(*this);
}

kavPool::~kavPool()
{
    release();
    unregister();
    Watch::destroyed(*this);
}

void kavPool::unregister()
{
    for (kavPool** link = &_pools; *link != nullptr; link = &(*link)->_next) {
        if (*link == this) {
            *link = _next;
            return;
        }
    }
}

void kavPool::setMainPool(kavPool* pool)
{
    if (pool != nullptr)
        _mainPool = pool;
}

unsigned int kavPool::npools()
{
    unsigned int n = 0;
    for (const kavPool* p = _pools; p != nullptr; p = p->_next)
        ++n;
    return n;
}

unsigned int kavPool::apools()
{
    unsigned int sum = 0;
    for (const kavPool* p = _pools; p != nullptr; p = p->_next)
        sum += p->amem();
    return sum;
}

unsigned int kavPool::upools()
{
    unsigned int sum = 0;
    for (const kavPool* p = _pools; p != nullptr; p = p->_next)
        sum += p->umem();
    return sum;
}

void kavPool::releaseAll()
{
    kavPool* p = _pools;
    while (p != nullptr) {
        kavPool* next = p->_next; // p may be deleted below
        if (p->releaseFlag()) {
            if (p == _mainPool)
                p->release();
            else
                delete p;
        }
        p = next;
    }
}

// ---- blocks ------------------------------------------------------------------

void kavPool::establish(unsigned int size)
{
    addblock(size);
}

void kavPool::addblock(unsigned int size)
{
    const unsigned int n = roundSize(size < minBlock ? minBlock : size);
    void* block = ::operator new(n);
    Watch::blockAdded(block, n);

    // Link the new block in by address, without merging.
    addr_t prev = 0;
    addr_t cur = addr(_freeList);
    while (cur != 0 && cur < addr(block)) {
        prev = cur;
        cur = nextOf(cur);
    }
    writeHeader(addr(block), cur, n);
    if (prev == 0)
        _freeList = block;
    else
        setNext(prev, addr(block));

    _blockList = new BlockRecord{_blockList, block, n};
    _amem += n;
    _fmem += n;
    Watch::changed(*this, true);
}

void kavPool::release()
{
    dropAttached();
    Watch::releasing(*this);
    while (_blockList != nullptr) {
        BlockRecord* record = _blockList;
        _blockList = record->next;
        Watch::blockReturned(record->start, record->size);
        ::operator delete(record->start);
        delete record;
    }
    for (void*& head : _recycleList)
        head = nullptr;
    _rmem = _fmem = _amem = 0;
    _freeList = nullptr;
}

// ---- allocation ----------------------------------------------------------------

void* kavPool::allocWatched(unsigned int size)
{
    const unsigned int r = roundSize(size);
    const unsigned int c = r >> 3;
    void* piece;
    if (c < nclasses && _recycleList[c] != nullptr) {
        Watch::popping(*this, c);
        piece = _recycleList[c];
        _recycleList[c] = readLink(piece);
        _rmem -= r;
        Watch::changed(*this, false);
    } else {
        piece = allocSlow(r);
    }
    Watch::handOut(*this, piece, size, r);
    return piece;
}

void kavPool::freeWatched(void* ptr, unsigned int size)
{
    const unsigned int r = roundSize(size);
    if (!Watch::takeBack(*this, ptr, r))
        return;
    if (r < recycleLimit) {
        void*& head = _recycleList[r >> 3];
        writeLink(ptr, head);
        head = ptr;
        _rmem += r;
        Watch::changed(*this, false);
        return;
    }
    freeLarge(ptr, r);
}

void* kavPool::allocSlow(unsigned int r)
{
    for (;;) {
        if (_blockList == nullptr)
            establish(r);
        const unsigned int c = r >> 3;
        if (c < nclasses && _recycleList[c] != nullptr) {
            Watch::popping(*this, c);
            void* piece = _recycleList[c];
            _recycleList[c] = readLink(piece);
            _rmem -= r;
            Watch::changed(*this, false);
            return piece;
        }
        if (void* piece = takeFree(r))
            return piece;
        // The new block is the only free block large enough: the next pass
        // cuts the piece from its front.
        addblock(r);
    }
}

void* kavPool::takeFree(unsigned int r)
{
    addr_t prev = 0;
    for (addr_t cur = addr(_freeList); cur != 0; prev = cur, cur = nextOf(cur)) {
        const unsigned int size = sizeOf(cur);
        if (size < r)
            continue;
        addr_t successor = nextOf(cur);
        if (size > r) {
            // The remainder, however small, takes the block's place.
            writeHeader(cur + r, successor, size - r);
            successor = cur + r;
        }
        if (prev == 0)
            _freeList = ptr(successor);
        else
            setNext(prev, successor);
        _fmem -= r;
        Watch::changed(*this, true);
        return ptr(cur);
    }
    return nullptr;
}

void kavPool::freeLarge(void* piece, unsigned int r)
{
    _fmem += r;

    const addr_t p = addr(piece);
    addr_t left = 0;
    addr_t right = addr(_freeList);
    while (right != 0 && right <= p) {
        left = right;
        right = nextOf(right);
    }

    writeHeader(p, right, r);
    addr_t merged = p;
    if (left == 0) {
        _freeList = piece;
    } else if (left + sizeOf(left) == p) {
        writeHeader(left, right, sizeOf(left) + r);
        merged = left;
    } else {
        setNext(left, p);
    }

    if (right != 0 && merged + sizeOf(merged) == right)
        writeHeader(merged, nextOf(right), sizeOf(merged) + sizeOf(right));
    Watch::changed(*this, true);
}

// ---- statistics ------------------------------------------------------------------

unsigned int kavPool::ablocks() const
{
    unsigned int n = 0;
    for (const BlockRecord* b = _blockList; b != nullptr; b = b->next)
        ++n;
    return n;
}

unsigned int kavPool::fblocks() const
{
    unsigned int n = 0;
    for (addr_t b = addr(_freeList); b != 0; b = nextOf(b))
        ++n;
    return n;
}

unsigned int kavPool::rblocks() const
{
    unsigned int n = 0;
    for (void* head : _recycleList)
        for (void* e = head; e != nullptr; e = readLink(e))
            ++n;
    return n;
}

// ---- identity and reports ------------------------------------------------------

bool kavPool::isA(const char* name) const
{
    return name == kavPoolClass;
}

const char* kavPool::className() const
{
    return kavPoolClass;
}

std::ostream& kavPool::print(std::ostream& os) const
{
    os << "Pool " << _num << " @" << static_cast<const void*>(this) << " Alloc=" << amem()
       << " Used=" << umem() << " FreeB=" << fmem() << " FreeR=" << rmem() << std::endl;
    if (!kavLib::get(0))
        return os;

    os << "  Allocated blocks: ";
    for (const BlockRecord* b = _blockList; b != nullptr; b = b->next)
        os << " @" << static_cast<const void*>(b) << "(" << b->size << ")";
    os << std::endl;

    os << "  Free blocks: ";
    for (addr_t b = addr(_freeList); b != 0; b = nextOf(b))
        os << " @" << static_cast<const void*>(ptr(b)) << "(" << sizeOf(b) << ")";
    os << std::endl;

    for (unsigned int c = 0; c < nclasses; ++c) {
        unsigned int number = 0;
        for (void* e = _recycleList[c]; e != nullptr; e = readLink(e))
            ++number;
        if (number != 0)
            os << "  Recycled Element: size=" << c * 8 << " Number=" << number
               << " Bytes=" << c * 8 * number << std::endl;
    }
    return os;
}

std::ostream& operator<<(std::ostream& os, const kavPool& pool)
{
    return pool.print(os);
}

void kavPool::printAll(std::ostream& os)
{
    unsigned int alloc = 0, used = 0, freeB = 0, recycled = 0;
    os << "*** List of all Pools ***" << std::endl;
    for (const kavPool* p = _pools; p != nullptr; p = p->_next) {
        os << "  " << *p;
        alloc += p->amem();
        used += p->umem();
        freeB += p->fmem();
        recycled += p->rmem();
    }
    os << "*** Total: Alloc=" << alloc << " Used=" << used << " Free=" << freeB
       << " Recycled=" << recycled << " ***" << std::endl;
}
