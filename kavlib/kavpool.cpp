// kavlib: pool allocator, registry, reports and the main pool.
//
// Free memory is kept in two shapes.  Pieces below 512 bytes that come back
// wait on one of 64 LIFO recycle lists (handled inline in kavpool.h).
// Everything else is a free block on a singly linked list in strictly
// ascending address order, each with its header inside itself
// (internal/poolblocks.h).
//
// Allocation takes the first free block that is large enough, in address
// order, and leaves the rest of it (however small) as a free block in its
// place.  A large piece that comes back is linked in by address and merged
// with a neighbour that ends where it begins or begins where it ends.  Blocks
// added by addblock() are linked in by address but never merged on insertion.
// The free-block index (internal/poolindex.h) finds the first fit and the
// neighbours without walking the list from its start; the list and its
// headers stay the record of the free memory.
//
// Watched pools (see kavpool.h) take alloc() and free() out of line into
// allocWatched() and freeWatched().  Every access that the pool makes to its
// own bookkeeping inside free memory (a header word, a recycle link) opens
// just that 8-byte word for the access and closes it again, so that memory
// checkers see all free memory as out of bounds.  kavPool::Watch collects
// what each kind of watching does at each step; in a build without any of
// them its members are empty and compile to nothing.
#include <kavlib/kavpool.h>

#include <kavlib/internal/poolindex.h>
#include <kavlib/library.h>

#include <cstdint>
#include <new>
#include <ostream>

#if KAVPOOL_POISON
#  include <sanitizer/asan_interface.h>
#  include <sanitizer/common_interface_defs.h>
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

using namespace kavpool;

namespace kavpool {

constexpr addr_t wordMask = ~addr_t(7);

#if KAVPOOL_POISON
void asanOpenWord(addr_t at) { ASAN_UNPOISON_MEMORY_REGION(ptr(at & wordMask), 8); }
void asanCloseWord(addr_t at) { ASAN_POISON_MEMORY_REGION(ptr(at & wordMask), 8); }
#endif

#if KAVLIB_VALGRIND
// Read when the first pool is made: are we under valgrind's memcheck?  Only
// memcheck answers its own requests (with -1); other tools, callgrind for
// one, leave them at 0 and see the plain pool.
bool underMemcheck = false;

void memcheckOpenWord(addr_t at) { (void)VALGRIND_MAKE_MEM_DEFINED(ptr(at & wordMask), 8); }
void memcheckCloseWord(addr_t at) { (void)VALGRIND_MAKE_MEM_NOACCESS(ptr(at & wordMask), 8); }
#endif

} // namespace kavpool

namespace {

#if KAVLIB_VALGRIND
bool runningOnMemcheck()
{
    char probe = 0;
    return RUNNING_ON_VALGRIND != 0 && static_cast<long>(VALGRIND_MAKE_MEM_DEFINED(&probe, 1)) == -1;
}
const bool underValgrind = (underMemcheck = runningOnMemcheck());
#endif

#if KAVLIB_CHECKED
// The checked build's table of the pieces of each pool: every piece handed
// out and every recycled element, by address.  Large pieces that come back
// leave the table; their memory is a free block again.
struct Piece {
    unsigned int size; ///< rounded size
    bool recycled;     ///< waiting on a recycle list
};
using PieceTable = std::map<addr_t, Piece>;

// The table of one pool, and a node obtained before each allocation, so that
// entering a piece needs no heap call once the pool has changed.
struct PoolPieces {
    PieceTable table;
    PieceTable::node_type spare;
};

// Made once and never destroyed: pools outlive every static destructor.
std::unordered_map<const kavPool*, PoolPieces>& pieceTables()
{
    static auto* tables = new std::unordered_map<const kavPool*, PoolPieces>;
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
#if KAVLIB_CHECKED
        pieceTables()[&pool];
#endif
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
    static void releasing([[maybe_unused]] kavPool& pool)
    {
#if KAVLIB_CHECKED
        pieceTables().at(&pool).table.clear();
#endif
#if KAVLIB_VALGRIND
        if (underValgrind) {
            savedBits().erase(&pool);
            VALGRIND_DESTROY_MEMPOOL(&pool);
            VALGRIND_CREATE_MEMPOOL(&pool, 0, 0);
        }
#endif
    }

    // Before an allocation changes the pool: obtains what handOut() will
    // need, so that a failing heap leaves the pool as it was.
    static void prepare([[maybe_unused]] const kavPool& pool)
    {
#if KAVLIB_CHECKED
        PoolPieces& pieces = pieceTables().at(&pool);
        if (pieces.spare.empty()) {
            PieceTable one;
            one.emplace(0, Piece{0, false});
            pieces.spare = one.extract(one.begin());
        }
#endif
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
        const PieceTable& table = pieceTables().at(&pool).table;
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
        PoolPieces& pieces = pieceTables().at(&pool);
        PieceTable& table = pieces.table;
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
            pieces.spare.key() = addr(piece);
            pieces.spare.mapped() = Piece{r, false};
            table.insert(it, std::move(pieces.spare));
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
        PieceTable& table = pieceTables().at(&pool).table;
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
        if (auditedPools && freeList)
            Index::audit(pool);
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
      _releaseFlag(true), _root(nullptr), _hint(nullptr), _hintBelow(0), _predKnown(false), _pred(nullptr)
{
    Watch::created(*this); // first: it may need the heap, and fail
    _pools = this;
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
    KAV_ASSERT(size <= maxSize, "size <= maxSize", "kavpool", 195);
    addblock(size);
}

void kavPool::addblock(unsigned int size)
{
    const unsigned int n = roundSize(size < minBlock ? minBlock : size);
    // Both the block and its record are obtained before anything changes: a
    // heap that fails on either leaves the pool exactly as it was.
    void* block = ::operator new(n);
    BlockRecord* record;
    try {
        record = new BlockRecord{_blockList, block, n, n, addr(block), nullptr, nullptr, nullptr, n, 0};
    } catch (...) {
        ::operator delete(block);
        throw;
    }
    Watch::blockAdded(block, n);

    // Link the new block in by address, without merging.
    Index::insert(*this, record);
    const addr_t left = Index::freeBelow(*this, record);
    writeHeader(addr(block), left == 0 ? addr(_freeList) : nextOf(left), n);
    if (left == 0)
        _freeList = block;
    else
        setNext(left, addr(block));

    _blockList = record;
    _amem += n;
    _fmem += n;
    Watch::changed(*this, true);
}

void kavPool::release()
{
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
    Index::clear(*this);
}

// ---- allocation ----------------------------------------------------------------

void* kavPool::allocWatched(unsigned int size)
{
    KAV_ASSERT(size <= maxSize, "size <= maxSize", "kavpool", 194);
    const unsigned int r = roundSize(size);
    const unsigned int c = r >> 3;
    Watch::prepare(*this);
    void* piece;
    if (c < nclasses && _recycleList[c] != nullptr) {
        Watch::popping(*this, c);
        piece = _recycleList[c];
        _recycleList[c] = readLink(piece);
        _rmem -= r;
        Watch::changed(*this, false);
    } else {
        piece = allocSlow(size);
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

void* kavPool::allocSlow(unsigned int size)
{
    // Sizes above maxSize would round to 0 and reserve nothing.
    KAV_ASSERT(size <= maxSize, "size <= maxSize", "kavpool", 194);
    const unsigned int r = roundSize(size);
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
    // The lowest block with a free block of r bytes (every free block has 8
    // or more, so a request of 0 bytes finds the lowest free block), then
    // the first such free block in it.
    BlockRecord* home = Index::firstFit(*this, r == 0 ? 8 : r);
    if (home == nullptr)
        return nullptr;
    addr_t prev = 0;
    addr_t cur = home->firstFree;
    unsigned int size = sizeOf(cur);
    while (size < r) {
        prev = cur;
        cur = nextOf(cur);
        size = sizeOf(cur);
    }
    if (prev == 0)
        prev = Index::freeBelow(*this, home);
    if (auditedPools)
        misuse(cur == Index::plainFit(*this, r), "index finds the first fit", 309);

    const addr_t after = nextOf(cur);
    const addr_t rest = size > r ? cur + r : 0;
    if (rest != 0) // the remainder, however small, takes the block's place
        writeHeader(rest, after, size - r);
    if (prev == 0)
        _freeList = ptr(rest != 0 ? rest : after);
    else
        setNext(prev, rest != 0 ? rest : after);
    _fmem -= r;

    // The index: the remainder may start in the next block when the free
    // block ran on into it.
    if (home->firstFree == cur) {
        const addr_t first = rest != 0 ? rest : after;
        home->firstFree = first != 0 && first < home->end() ? first : 0;
    }
    if (rest != 0 && rest >= home->end()) {
        BlockRecord* next = Index::owner(*this, rest);
        next->firstFree = rest;
        if (next->maxFree < size - r) {
            next->maxFree = size - r;
            Index::grew(*this, next);
        }
    }
    Index::touched(*this, cur);
    if (rest != 0)
        Index::touched(*this, rest);
    if (size == home->maxFree)
        Index::shrank(*this, home);
    Watch::changed(*this, true);
    return ptr(cur);
}

void kavPool::freeLarge(void* piece, unsigned int r)
{
    _fmem += r;

    // The neighbours: the last free block that starts below the piece, in
    // its own block or else below that block, and the one after it.
    const addr_t p = addr(piece);
    BlockRecord* home = Index::owner(*this, p);
    addr_t left = 0;
    for (addr_t f = home->firstFree; f != 0 && f < p; f = nextOf(f))
        left = f;
    if (left == 0)
        left = Index::freeBelow(*this, home);
    const addr_t right = left == 0 ? addr(_freeList) : nextOf(left);

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
    unsigned int rightSize = 0;
    if (right != 0 && merged + sizeOf(merged) == right) {
        rightSize = sizeOf(right);
        writeHeader(merged, nextOf(right), sizeOf(merged) + rightSize);
    }

    // The index: the merged block belongs where it starts; a right neighbour
    // it absorbed may have been the first free block of the next block.
    BlockRecord* mergedHome = merged == p ? home : Index::owner(*this, merged);
    if (merged == p) {
        if (home->firstFree == 0 || home->firstFree > p)
            home->firstFree = p;
        Index::touched(*this, p);
    }
    if (rightSize != 0) {
        BlockRecord* rightHome = Index::owner(*this, right);
        if (rightHome != mergedHome) {
            const addr_t after = nextOf(merged);
            rightHome->firstFree = after != 0 && after < rightHome->end() ? after : 0;
            if (rightSize == rightHome->maxFree)
                Index::shrank(*this, rightHome);
        }
        Index::touched(*this, right);
    }
    const unsigned int mergedSize = sizeOf(merged);
    if (mergedSize > mergedHome->maxFree) {
        mergedHome->maxFree = mergedSize;
        Index::grew(*this, mergedHome);
    }
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
