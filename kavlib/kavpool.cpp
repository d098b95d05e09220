// kavlib: the pool allocator's core.
//
// Free memory is kept in two shapes.  Pieces below 512 bytes that come back
// wait on one of 64 LIFO recycle lists (the fast paths are inline in
// kavpool.h).  Everything else is a free block on a singly linked list in
// strictly ascending address order, each with its header inside itself
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
// allocWatched() and freeWatched().  kavPool::Watch (internal/poolwatch.h)
// calls each memory checker that the library was built with at each step.
#include <kavlib/internal/poolindex.h>

#include <new>

using kavpool::addr;
using kavpool::addr_t;
using kavpool::nextOf;
using kavpool::ptr;
using kavpool::setNext;
using kavpool::sizeOf;
using kavpool::writeHeader;

// Keeps a slow path out of its caller's fast one.
#if defined(__GNUC__)
#  define KAVPOOL_NOINLINE __attribute__((noinline))
#elif defined(_MSC_VER)
#  define KAVPOOL_NOINLINE __declspec(noinline)
#else
#  define KAVPOOL_NOINLINE
#endif

const char* const kavPoolClass = "kavPool";

void kavpool::misuse(bool ok, kavCheck check, const char* text)
{
    if (ok)
        return;
    kavPool::Watch::reporting();
    kavCheckFail(check, text);
}

kavPool::kavPool()
    : _amem(0), _fmem(0), _rmem(0), _recycleList(), _blockList(nullptr), _freeList(nullptr), _next(nullptr),
      _num(0), _releaseFlag(true), _root(nullptr), _hint(nullptr), _hintBelow(0), _predKnown(false), _pred(nullptr),
      _cut(nullptr), _cutPrev(nullptr), _cutHome(nullptr), _cutBelow(0), _rover(nullptr), _finger(nullptr),
      _fingerPred(nullptr), _fingerPredKnown(false),
      _onHeap(_newPool == this)
{
    _newPool = nullptr;
    Watch::created(*this); // first: it may need the heap, and fail
    enlist();
}

kavPool::~kavPool()
{
    release();
    unregister();
    Watch::destroyed(*this);
}

// After every change of the pool: the watchers, then the index audit (a
// broken free-block list is reported as such before the index that follows
// it is).
void kavPool::changed(bool freeList) const
{
    Watch::changed(*this, freeList);
    if (kavpool::auditedPools && freeList)
        Index::audit(*this);
}

// Takes the head off the recycle list of class c (not empty).
void* kavPool::popRecycled(unsigned int c)
{
    Watch::popping(*this, c);
    void* piece = _recycleList[c];
    _recycleList[c] = kavpool::readLink(piece);
    _rmem -= c * 8;
    _lastCut = 0; // free() gives it back exactly: onto this list
    changed(false);
    return piece;
}

// ---- blocks ------------------------------------------------------------------

void kavPool::establish(unsigned int size)
{
    KAV_CHECK(size <= maxSize, poolEstablishSize);
    addblock(size);
}

void* kavPool::addblock(unsigned int size)
{
    endRun();
    const unsigned int n = roundSize(size < minBlock ? minBlock : size);
    // Both the block and its record are obtained before anything changes: a
    // heap that fails on either leaves the pool exactly as it was.
    void* block = ::operator new(n);
    BlockRecord* record;
    try {
        record = new BlockRecord;
    } catch (...) {
        ::operator delete(block);
        throw;
    }
    record->start = block;
    record->size = record->maxFree = record->subMax = n;
    record->firstFree = addr(block);
    record->next = _blockList;
    record->stamp = _releases;
    Watch::blockAdded(block, n);
    _lastCut = 0;

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
    _cut = nullptr;           // the new free block may lie below it,
    _roverPrevKnown = false;  // or below the rover
    changed(true);
    return ptr(left);
}

void kavPool::release()
{
    endRun();
    dropAttached();
    Watch::releasing(*this);
    if (_blockList != nullptr && ++_releases == 0)
        _releases = 1; // 0 stays free to mean "no pointer into a pool"
    while (_blockList != nullptr) {
        BlockRecord* record = _blockList;
        _blockList = record->next;
        // The chain is a walk through cold memory: fetch the record after
        // the next one and the start of the next block (where the heap
        // keeps what it reads on delete) while this block goes back.
        if (BlockRecord* next = record->next) {
            __builtin_prefetch(next->next);
            __builtin_prefetch(ptr(addr(next->start) - 8));
        }
        Watch::blockReturned(record->start, record->size);
        ::operator delete(record->start);
        delete record;
    }
    for (void*& head : _recycleList)
        head = nullptr;
    _rmem = _fmem = _amem = 0;
    _freeList = nullptr;
    _lastCut = 0;
    Index::clear(*this);
}

// ---- allocation ----------------------------------------------------------------

void* kavPool::allocWatched(unsigned int size)
{
    KAV_CHECK(size <= maxSize, poolAllocSize);
    const unsigned int r = roundSize(size);
    const unsigned int c = r >> 3;
    Watch::prepare(*this);
    void* piece;
    if (c < nclasses && _recycleList[c] != nullptr) {
        piece = popRecycled(c);
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
        kavpool::writeLink(ptr, head);
        head = ptr;
        _rmem += r;
        changed(false);
        return;
    }
    freeLarge(ptr, r);
}

void* kavPool::allocSlow(unsigned int size)
{
    // Sizes above maxSize would round to 0 and reserve nothing.
    KAV_CHECK(size <= maxSize, poolAllocSize);
    const unsigned int r = roundSize(size);
    const bool again = _cutAgain;
    endRun();
    // The caller found the recycle list of r empty.  The growth step stays
    // a short leaf; everything else is a call.
    if (void* piece = cutAtFinger(r))
        return startRun(piece, r, again);
    return allocFree(r, again);
}

// A run of cuts.  While a program grows its data, request after request
// is cut from the front of the free block where the last cut left off (the
// cut finger), and nothing else touches the free blocks in between but
// recycled pieces, which never do.  Most of what cutAtFinger() settles for
// such a cut is then the same for every cut of the run.  Once two requests
// in a row have left the finger on the remainder of their cuts, startRun()
// finds how far a run can go, alloc() hands the next requests that fit
// straight to cutRun(), and the first of them settles once what holds for
// the whole run.  A cut of the run only moves the finger; the header of the
// free block there, the link word that names it and its block's first free
// block are written once, by writeRun(), when the run ends or something
// walks the free blocks while it lasts.  Every other path that may change
// or read the free blocks ends the run first.  What the cuts of a run and
// writeRun() settle is exactly what cutAtFinger() would, cut by cut, because:
// - it takes the front of the free block at the finger, as cutAtFinger()
//   does, under its conditions: r above the bound below the finger, and the
//   remainder starting inside the free block and inside its block (a run
//   leaves the few cuts that would leave 8 bytes to cutAtFinger());
// - the free block after the finger's, and the link word that names the
//   finger's (the list head or the header of the free block before it),
//   stay where they are for the whole run;
// - the remembered predecessors below the search's block and below the
//   last freed piece's block need forgetting when a free block below those
//   blocks changes; the cut that started the run did that for its piece,
//   which lies below every cut of the run, and nothing remembers them again
//   while the run lasts;
// - the rover (a free block a large piece went to) is never the finger:
//   the finger's free block is the remainder of a cut, made after the
//   rover was;
// - a block's first free block follows the finger only if it was the
//   finger when the run started (settleRun() points _cutSlot at it);
// - nothing reads the words that writeRun() writes before it has: the
//   paths out of line end the run first, fblocks() and the report write
//   them first, and the words of the pieces cut meanwhile are the
//   program's;
// - the undo record's free block before the piece is the one before the
//   finger's free block, as the cut that started the run left it, and the
//   same for every cut of the run; the rest of the record, read only once
//   the run has ended, follows from the last cut's address (closeRun()).
// Watched and audited pools never run: they check every cut.
void* kavPool::startRun(void* piece, unsigned int r, bool again)
{
    // A run starts where the cut of the newest piece left a remainder, whose
    // header and link are then at hand: not after a piece that took a whole
    // free block, nor after a recycled one.  (Where blocks touch, the next
    // free block may begin right after a piece that took a whole one: no
    // remainder, and perhaps the rover, which a run's cuts never look at.)
    // And only at the second such cut in a row: a piece allocated and freed
    // in turn would pay for starting a run at every allocation and never
    // use it.
    const addr_t cut = addr(_cut);
    if (KAVLIB_POOL_ALWAYS_WATCHED || kavpool::auditedPools || Watch::memcheckOn() || _lastCut != ~addr(piece) ||
        _lastFrom == r || cut != addr(piece) + r)
        return piece;
    _cutAgain = true;
    if (!again)
        return piece;
    // Every cut leaves a remainder of 16 bytes or more (one of 8 has a
    // header of its own kind) that starts inside the block.
    _runEnd = cut + sizeOf<false>(cut);
    const addr_t last = _runEnd - 8, end = _cutHome->end();
    _cutRoom = static_cast<unsigned int>((last < end ? last : end) - cut);
    _runSettled = false; // the rest waits for the run's first cut
    return piece;
}

// What the first cut of a run settles for all of them.
void kavPool::settleRun()
{
    const addr_t cut = addr(_cut), prev = addr(_cutPrev);
    _runNext = nextOf<false>(cut);
    _runLink = prev == 0 ? static_cast<void*>(&_freeList) : ptr(prev);
    // The link names the finger's free block; on tagged layouts its word
    // also carries the bit that marks the free block before as 8 bytes.
    _runTag = kavpool::tagged && prev != 0 ? kavpool::loadWord<false>(prev) & kavpool::tinyBit : 0;
    _cutSlot = _cutHome->firstFree == cut ? &_cutHome->firstFree : nullptr;
    _runStart = cut;
    _runSettled = true;
}

// One cut of a run: r bytes from the front of the free block at _cut,
// which keeps more than 8 bytes after them, inside its block.  Only the
// finger moves: the remainder's header (a free block of 16 bytes or more)
// and the words that name it wait for writeRun().
void* kavPool::cutRun(unsigned int r)
{
    if (!_runSettled)
        settleRun();
    const addr_t cur = addr(_cut);
    const addr_t rest = cur + r;
    _fmem -= r;
    _cut = ptr(rest);
    _cutRoom -= r;
    _lastCut = ~cur; // the rest of the undo record waits for closeRun()
    return ptr(cur);
}

// Ends a settled run: writes its free block back and completes the undo
// record when the newest allocation is the run's last cut, whose piece
// ends where the finger now stands.
void kavPool::closeRun()
{
    writeRun();
    const addr_t cur = ~_lastCut;
    if (_lastCut != 0 && cur >= _runStart) {
        _lastSize = static_cast<unsigned int>(addr(_cut) - cur);
        _lastFrom = static_cast<unsigned int>(_runEnd - cur);
        _lastBlock = false;
    }
    _runSettled = false;
}

// Writes what the cuts of a settled run left unwritten: the header of the
// free block at _cut, the link word that names it and its block's first
// free block.  Ending the run calls it, and so do the walks of the free
// blocks that may come while a run lasts (fblocks() and the report).  It
// changes none of the pool's own state, only those words in its blocks.
void kavPool::writeRun() const
{
    const addr_t cut = addr(_cut);
    kavpool::storeWord<false>(cut, _runNext);
    kavpool::storeSize<false>(cut + sizeof(addr_t), static_cast<unsigned int>(_runEnd - cut));
    kavpool::storeWord<false>(addr(_runLink), cut | _runTag);
    if (_cutSlot != nullptr)
        *_cutSlot = cut;
}

// Takes r bytes from the free blocks (the recycle list of r, if any, being
// empty), adding a block when none is large enough.
KAVPOOL_NOINLINE void* kavPool::allocFree(unsigned int r, bool again)
{
    if (void* piece = takeAtFinger(r))
        return piece;
    return allocSearch(r, again);
}

// The rest of allocFree(): a search of the free blocks, or a new block.
KAVPOOL_NOINLINE void* kavPool::allocSearch(unsigned int r, bool again)
{
    BlockRecord* const newest = _blockList;
    for (;;) {
        if (_blockList == nullptr)
            establish(r);
        const unsigned int c = r >> 3;
        if (c < nclasses && _recycleList[c] != nullptr)
            return popRecycled(c);
        if (void* piece = takeFree(r)) {
            // One block added for this piece alone can go back with it.
            if (_blockList != newest)
                _lastBlock = _lastCut != 0 && _blockList->next == newest && _blockList->start == piece;
            return startRun(piece, r, again);
        }
        // The new block is the only free block large enough, and so the
        // first fit: the piece comes from its front, where the finger now
        // points.  (A request of 0 bytes, or one while memcheck watches,
        // searches again.)
        void* const left = addblock(r);
        if (r == 0)
            continue;
        _cut = _blockList->start;
        _cutHome = _blockList;
        _cutPrev = left;
        _cutBelow = r - 8; // every other free block is smaller than r
        void* piece = cutAtFinger(r);
        if (piece == nullptr)
            piece = takeAtFinger(r);
        if (piece != nullptr) {
            _lastBlock = _lastCut != 0 && _blockList->next == newest;
            return startRun(piece, r, again);
        }
    }
}

// The end of every cut of r bytes at cur from a free block of `from` bytes
// after prev: the rover may have stood on that free block, and undoAlloc()
// needs to know how to put it back.
inline void* kavPool::cutDone(addr_t cur, addr_t prev, unsigned int r, unsigned int from)
{
    if (_rover == ptr(cur))
        _rover = nullptr;
    _roverPrevKnown = false; // the free block before it may have been cut
    _lastCut = r != 0 ? ~cur : 0;
    _lastPrev = ptr(prev);
    _lastSize = r;
    _lastFrom = from;
    _lastBlock = false;
    changed(true);
    return ptr(cur);
}

// The common step of a growing pool: the piece comes from the front of the
// free block where the last cut left off (the first fit, since nothing below
// it is large enough), and the rest of it stays in the same block.  Does
// what takeFree() does in that case, with none of its other cases; null
// when the case does not apply, or while memcheck watches free memory (the
// general path then opens each word it touches).
inline void* kavPool::cutAtFinger(unsigned int r)
{
    const addr_t cur = addr(_cut);
    if (cur == 0 || r <= _cutBelow || Watch::memcheckOn()) // r > _cutBelow rules out 0
        return nullptr;
    const unsigned int size = sizeOf<false>(cur);
    const addr_t rest = cur + r;
    BlockRecord* const home = _cutHome;
    if (size <= r || rest >= home->end())
        return nullptr;
    if (kavpool::auditedPools)
        checkFit(cur, r);

    writeHeader<false>(rest, nextOf<false>(cur), size - r);
    const addr_t prev = addr(_cutPrev);
    if (prev == 0)
        _freeList = ptr(rest);
    else
        setNext<false>(prev, rest);
    _fmem -= r;
    if (home->firstFree == cur)
        home->firstFree = rest;
    Index::touched(*this, cur); // and so rest, above it
    _cut = ptr(rest);
    return cutDone(cur, prev, r, size);
}

// The case cutAtFinger() leaves out: the piece takes the whole free block
// where the last cut left off.  It leaves the list, and the next request
// starts at the free block after it, in the next block up when this one has
// none left.  Pieces of a block's size, each a block of its own, come this
// way.  Null when the case does not apply.
inline void* kavPool::takeAtFinger(unsigned int r)
{
    const addr_t cur = addr(_cut);
    if (cur == 0 || r <= _cutBelow || Watch::memcheckOn() || sizeOf<false>(cur) != r)
        return nullptr;
    if (kavpool::auditedPools)
        checkFit(cur, r);
    BlockRecord* const home = _cutHome;
    const addr_t next = nextOf<false>(cur);
    const addr_t prev = addr(_cutPrev);
    if (prev == 0)
        _freeList = ptr(next);
    else
        setNext<false>(prev, next);
    _fmem -= r;
    const bool nextHome = next != 0 && next < home->end();
    if (home->firstFree == cur)
        home->firstFree = nextHome ? next : 0;
    Index::touched(*this, cur);
    if (home->firstFree == 0)
        Index::shrank(*this, home, 0);
    BlockRecord* const nextOwner = nextHome ? home : (next != 0 ? Index::holderAbove(home, next) : nullptr);
    _cut = nextOwner != nullptr ? ptr(next) : nullptr;
    _cutHome = nextOwner;
    return cutDone(cur, prev, r, r);
}

// Audited builds: the index's answer against a plain walk of the list.
void kavPool::checkFit(addr_t cur, unsigned int r) const
{
    const addr_t plain = Index::plainFit(*this, r);
    if (cur == plain)
        return;
    // A free-block list broken by a stray write misleads the index too: the
    // watchers report the list if they can tell.
    Watch::changed(*this, true);
    if (plain != 0)
        Watch::misled(*this, plain, r);
    kavpool::misuse(false, kavCheck::poolIndex, "index finds the first fit");
}

// Audited builds: the left neighbour that the rover gave against a plain
// walk of the list.
void kavPool::checkNeighbours(addr_t p, addr_t left) const
{
    addr_t plain = 0;
    for (addr_t f = addr(_freeList); f != 0 && f < p; f = nextOf(f))
        plain = f;
    if (plain != left) {
        Watch::changed(*this, true);
        kavpool::misuse(false, kavCheck::poolIndex, "index finds the neighbours");
    }
}

// While memcheck watches free memory, every word of it is opened for each
// access; otherwise the paths below need not ask for each word.
void* kavPool::takeFree(unsigned int r)
{
    return Watch::memcheckOn() ? takeFreeWith<true>(r) : takeFreeWith<false>(r);
}

template <bool memcheckToo>
void* kavPool::takeFreeWith(unsigned int r)
{
    BlockRecord* home;
    addr_t prev, cur;
    unsigned int size;
    unsigned int below; // no free block below cur is larger
    const addr_t cut = addr(_cut);
    if (cut != 0 && r > _cutBelow && (size = sizeOf<memcheckToo>(cut)) >= r) {
        // Where the last cut left off, and nothing below it is large enough:
        // the first fit without a search (r > _cutBelow rules out 0).
        home = _cutHome;
        prev = addr(_cutPrev);
        cur = cut;
        below = _cutBelow;
    } else {
        // The lowest block with a free block of r bytes (every free block
        // has 8 or more, so a request of 0 bytes finds the lowest free
        // block), then the first such free block in it.  A block's largest
        // size may be out of date (too large); a walk that finds no fit
        // corrects it, and the search starts again.
        const unsigned int need = r == 0 ? 8 : r;
        unsigned int skipped;
        for (;;) {
            home = Index::firstFit(*this, need);
            if (home == nullptr)
                return nullptr;
            prev = 0;
            cur = home->firstFree;
            size = sizeOf<memcheckToo>(cur);
            skipped = 0;
            while (size < r) {
                skipped = skipped < size ? size : skipped;
                prev = cur;
                cur = nextOf<memcheckToo>(cur);
                if (cur == 0 || cur >= home->end())
                    break;
                size = sizeOf<memcheckToo>(cur);
            }
            if (size >= r && cur != 0 && cur < home->end())
                break;
            Index::shrank(*this, home, skipped);
        }
        if (prev == 0)
            prev = Index::freeBelow(*this, home);
        // firstFit() leaves home as the remembered block and bounds every
        // free block below it.
        below = _hintBelow < skipped ? skipped : _hintBelow;
    }
    if (kavpool::auditedPools)
        checkFit(cur, r);

    const addr_t after = nextOf<memcheckToo>(cur);
    const addr_t rest = size > r ? cur + r : 0;
    if (rest != 0) // the remainder, however small, takes the block's place
        writeHeader<memcheckToo>(rest, after, size - r);
    const addr_t next = rest != 0 ? rest : after;
    if (prev == 0)
        _freeList = ptr(next);
    else
        setNext<memcheckToo>(prev, next);
    _fmem -= r;

    // The index: the remainder may start in the next block when the free
    // block ran on into it.
    const bool nextHome = next != 0 && next < home->end();
    if (home->firstFree == cur)
        home->firstFree = nextHome ? next : 0;
    BlockRecord* nextOwner = nextHome ? home : nullptr;
    if (rest != 0 && rest >= home->end()) {
        BlockRecord* owner = nextOwner = Index::owner(*this, rest);
        owner->firstFree = rest;
        if (owner->maxFree < size - r) {
            owner->maxFree = size - r;
            Index::grew(*this, owner);
        }
    }
    Index::touched(*this, cur);
    if (rest != 0)
        Index::touched(*this, rest);
    if (home->firstFree == 0)
        Index::shrank(*this, home, 0);

    // The next request starts where this one left off, in the next block
    // up when the cut took the rest of this one.
    if (nextOwner == nullptr && next != 0)
        nextOwner = Index::holderAbove(home, next);
    if (nextOwner != nullptr) {
        _cut = ptr(next);
        _cutPrev = ptr(prev);
        _cutHome = nextOwner;
        _cutBelow = below;
    } else {
        _cut = nullptr;
    }
    return cutDone(cur, prev, r, size);
}

// ---- undoing the newest allocation ---------------------------------------------

void kavPool::undoAlloc(void* ptr, unsigned int size)
{
    KAV_CHECK(ptr != nullptr, poolFreeNull);
    KAV_CHECK(size != 0, poolFreeZero);
    endRun();
    // A recycled piece needs nothing more than free(): it goes back on top
    // of the list it came from.
    if (addr(ptr) != ~_lastCut || roundSize(size) != _lastSize) {
        free(ptr, size);
        return;
    }
    Watch::undone(*this, ptr, _lastSize);
    if (_lastBlock)
        dropNewestBlock();
    else
        uncut();
    _lastCut = 0;
    changed(true);
}

// Puts the newest piece back into the free block it was cut from: the
// header, the place in the list and the index's records as before the cut.
void kavPool::uncut()
{
    const addr_t p = ~_lastCut;
    const addr_t prev = addr(_lastPrev);
    const unsigned int r = _lastSize, from = _lastFrom;
    // In the free block's place: the remainder of the cut, or the free
    // block after it when the cut took all of it.
    const addr_t next = prev == 0 ? addr(_freeList) : nextOf(prev);
    const addr_t after = from > r ? nextOf(next) : next;
    writeHeader(p, after, from);
    if (prev == 0)
        _freeList = ptr(p);
    else
        setNext(prev, p);
    _fmem += r;

    // The index: a remainder that started in the next block was that
    // block's first free block; the restored free block is its own block's
    // first from p on, and may be its largest again.
    BlockRecord* home = Index::owner(*this, p);
    if (from > r && next >= home->end()) {
        BlockRecord* owner = Index::owner(*this, next);
        owner->firstFree = after != 0 && after < owner->end() ? after : 0;
        if (owner->firstFree == 0)
            Index::shrank(*this, owner, 0);
    }
    if (home->firstFree == 0 || home->firstFree > p)
        home->firstFree = p;
    if (home->maxFree < from) {
        home->maxFree = from;
        Index::grew(*this, home);
    }
    Index::touched(*this, p);
    // The cut finger stood on what followed the piece; now on the piece,
    // with the same predecessor and the same bound below.
    if (_cut != nullptr) {
        _cut = ptr(p);
        _cutHome = home;
    }
}

// Gives back the newest block, added for the newest piece and otherwise
// free: its free block (the remainder of the cut, if any) leaves the list,
// its record leaves the chain and the index, and both go back to the heap.
void kavPool::dropNewestBlock()
{
    BlockRecord* record = _blockList;
    const addr_t prev = addr(_lastPrev);
    const addr_t next = prev == 0 ? addr(_freeList) : nextOf(prev);
    const addr_t after = _lastFrom > _lastSize ? nextOf(next) : next;
    if (prev == 0)
        _freeList = ptr(after);
    else
        setNext(prev, after);
    _fmem -= record->size - _lastSize;
    _amem -= record->size;
    _blockList = record->next;
    Index::remove(*this, record);
    Watch::blockReturned(record->start, record->size);
    ::operator delete(record->start);
    delete record;
}

void kavPool::freeLarge(void* piece, unsigned int r)
{
    endRun();
    if (Watch::memcheckOn()) {
        freeLargeWith<true>(piece, r, nullptr);
        return;
    }
    const addr_t p = addr(piece), rover = addr(_rover);
    if (rover != 0 && (_roverEnd == p || p + r == rover) && freeNextToRover(piece, r))
        return;
    BlockRecord* home = nullptr;
    if (_map != nullptr) {
        const BlockRecord* below;
        home = _map->ownerAndBelow(p, below);
        if (home != nullptr && home->firstFree == 0 && freeIntoFullBlock(piece, r, home, below))
            return;
    }
    freeLargeWith<false>(piece, r, home);
}

// Pieces of a large pool often come back in no particular order into
// blocks that hold no free memory (a block of 8000 bytes holds one piece of
// 8000): then the last free block below the piece is the last one of the
// nearest block below that holds any, which the map's marks name without a
// search, and the piece merges with nothing unless a neighbour touches it.
// Does what freeLargeWith() does in that case, with none of its other
// cases; false, having changed nothing, when the piece touches a free block.
// `home` holds the piece and no free block; `below` is the nearest block
// below it holding free memory, null when there is none in the map's leaf
// of the piece (then the index searches further down, if the list starts
// below the piece).
inline bool kavPool::freeIntoFullBlock(void* piece, unsigned int r, BlockRecord* home, const BlockRecord* below)
{
    const addr_t p = addr(piece), head = addr(_freeList);
    addr_t left = 0, right = head;
    if (head != 0 && head < p) {
        if (below == nullptr)
            return false; // beyond the leaf: the index's search
        left = below->firstFree;
        right = nextOf<false>(left);
        while (right != 0 && right < below->end()) {
            left = right;
            right = nextOf<false>(left);
        }
        if (left + sizeOf<false>(left) == p)
            return false;
    }
    if (right != 0 && p + r == right)
        return false;
    if (kavpool::auditedPools)
        checkNeighbours(p, left);

    _fmem += r;
    _lastCut = 0;
    writeHeader<false>(p, right, r);
    if (left == 0)
        _freeList = piece;
    else
        setNext<false>(left, p);
    home->firstFree = p;
    // The finger moves to the piece's block, whose free block below is now
    // known; the free block made at p lies below the remembered block, if
    // that is higher.
    _finger = home;
    _fingerPred = ptr(left);
    _fingerPredKnown = true;
    Index::touched(*this, p);
    home->maxFree = r;
    Index::grew(*this, home);
    // The cut finger, as freeLargeWith() moves it.
    const addr_t cut = addr(_cut);
    if (cut != 0 && p < cut) {
        if (_cutBelow < r)
            _cutBelow = r;
        if (right == cut)
            _cutPrev = piece;
    }
    _rover = piece;
    _roverEnd = p + r;
    _roverHome = home;
    _roverPrev = ptr(left);
    _roverPrevKnown = true;
    changed(true);
    return true;
}

// Pieces often come back in address order, each next to the one before:
// then the free block where the last one went (the rover) is a neighbour,
// and the piece merges with it without a search.  Does what
// freeLargeWith() does in the two cases where the piece touches the rover
// and no other free block; false, having changed nothing, otherwise.  The
// caller has seen that the piece ends where the rover starts or starts
// where it ends.
KAVPOOL_NOINLINE bool kavPool::freeNextToRover(void* piece, unsigned int r)
{
    const addr_t rover = addr(_rover);
    const addr_t p = addr(piece);
    BlockRecord* const home = _roverHome;
    const addr_t right = nextOf<false>(rover);
    const unsigned int size = static_cast<unsigned int>(_roverEnd - rover) + r;
    addr_t merged, prev;
    if (_roverEnd == p) {
        // Right after the rover, which grows over it: the piece must not
        // reach the free block after the rover.
        if (right != 0 && p + r == right)
            return false;
        merged = rover;
        prev = 0; // not needed: the rover keeps its place in the list
    } else if (_roverPrevKnown && p >= home->begin()) {
        // Right before the rover, in its block: the piece takes the rover's
        // place in the list unless the free block before it touches it too.
        prev = addr(_roverPrev);
        if (prev != 0 && prev + sizeOf<false>(prev) == p)
            return false;
        merged = p;
    } else {
        return false;
    }
    if (kavpool::auditedPools)
        checkNeighbours(p, merged == p ? prev : rover);

    writeHeader<false>(merged, right, size);
    _fmem += r;
    _lastCut = 0;
    if (merged == p) {
        if (prev == 0)
            _freeList = piece;
        else
            setNext<false>(prev, p);
        if (home->firstFree > p)
            home->firstFree = p;
        Index::touched(*this, p);
        _rover = piece;
        _roverPrev = ptr(prev);
        _roverPrevKnown = true;
    } else {
        _roverEnd = p + r;
    }
    if (size > home->maxFree) {
        home->maxFree = size;
        Index::grew(*this, home);
    }
    // The cut finger, as freeLargeWith() moves it.
    const addr_t cut = addr(_cut);
    if (cut != 0 && p < cut) {
        if (merged == p && rover == cut) {
            _cut = piece;
        } else {
            if (_cutBelow < size)
                _cutBelow = size;
            if (right == cut)
                _cutPrev = ptr(merged);
        }
    }
    changed(true);
    return true;
}

template <bool memcheckToo>
void kavPool::freeLargeWith(void* piece, unsigned int r, BlockRecord* home)
{
    _fmem += r;
    _lastCut = 0;

    // The neighbours: the last free block that starts below the piece, and
    // the one after it.  Nothing is below when the list starts above the
    // piece; the free block where the last large piece went is the left
    // neighbour when the piece lies between it and its successor; otherwise
    // the walk starts from the lowest free block of the piece's own block
    // below the piece, or the index finds the last one below that block.
    const addr_t p = addr(piece);
    if (home == nullptr)
        home = Index::owner(*this, p);
    if (home != _finger) {
        _finger = home;
        _fingerPredKnown = false;
    }
    const addr_t head = addr(_freeList);
    addr_t left = 0;
    if (head != 0 && head < p) {
        const addr_t rover = addr(_rover);
        addr_t from = 0;
        if (rover != 0 && rover < p && home->holds(rover))
            from = rover;
        else if (home->firstFree != 0 && home->firstFree < p)
            from = home->firstFree;
        else if (rover != 0 && rover < p && (nextOf<memcheckToo>(rover) == 0 || nextOf<memcheckToo>(rover) > p))
            left = rover;
        if (from != 0) {
            left = from;
            for (addr_t f = nextOf<memcheckToo>(from); f != 0 && f < p; f = nextOf<memcheckToo>(f))
                left = f;
        } else if (left == 0) {
            left = Index::freeBelow(*this, home);
        }
    }
    const addr_t right = left == 0 ? head : nextOf<memcheckToo>(left);

    writeHeader<memcheckToo>(p, right, r);
    addr_t merged = p; // with its size and its successor in the list
    unsigned int mergedSize = r;
    addr_t mergedNext = right;
    if (left == 0) {
        _freeList = piece;
    } else if (left + sizeOf<memcheckToo>(left) == p) {
        mergedSize += sizeOf<memcheckToo>(left);
        writeHeader<memcheckToo>(left, right, mergedSize);
        merged = left;
    } else {
        setNext<memcheckToo>(left, p);
    }
    unsigned int rightSize = 0;
    if (right != 0 && merged + mergedSize == right) {
        rightSize = sizeOf<memcheckToo>(right);
        mergedNext = nextOf<memcheckToo>(right);
        mergedSize += rightSize;
        writeHeader<memcheckToo>(merged, mergedNext, mergedSize);
    }

    // The index: the merged block belongs where it starts; a right neighbour
    // it absorbed may have been the first free block of the next block.
    BlockRecord* mergedHome = merged >= home->begin() ? home : Index::owner(*this, merged);
    if (merged == p) {
        if (home->firstFree == 0 || home->firstFree > p)
            home->firstFree = p;
        Index::touched(*this, p);
    }
    if (rightSize != 0) {
        BlockRecord* rightHome = right < home->end() ? home : Index::owner(*this, right);
        if (rightHome != mergedHome) {
            rightHome->firstFree = mergedNext != 0 && mergedNext < rightHome->end() ? mergedNext : 0;
            if (rightHome->firstFree == 0)
                Index::shrank(*this, rightHome, 0);
        }
        if (merged != p) // else touched at p, below it
            Index::touched(*this, right);
    }
    if (mergedSize > mergedHome->maxFree) {
        mergedHome->maxFree = mergedSize;
        Index::grew(*this, mergedHome);
    }

    // The fingers: a free block below the cut raises its bound, and may be
    // its new predecessor; the cut itself may have been absorbed: by the
    // piece alone, it now starts at the piece, in the same place in the list.
    const addr_t cut = addr(_cut);
    if (cut != 0 && p < cut) {
        if (rightSize != 0 && right == cut) {
            _cut = merged == p ? piece : nullptr;
            _cutHome = mergedHome;
        } else {
            if (_cutBelow < mergedSize)
                _cutBelow = mergedSize;
            if (mergedNext == cut)
                _cutPrev = ptr(merged);
        }
    }
    _rover = ptr(merged);
    _roverEnd = merged + mergedSize;
    _roverHome = mergedHome;
    _roverPrev = ptr(left);
    _roverPrevKnown = merged == p;
    changed(true);
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
    writeRunIfAny();
    unsigned int n = 0;
    for (addr_t b = addr(_freeList); b != 0; b = nextOf(b))
        ++n;
    return n;
}

unsigned int kavPool::rblocks() const
{
    unsigned int n = 0;
    for (void* head : _recycleList)
        for (void* e = head; e != nullptr; e = kavpool::readLink(e))
            ++n;
    return n;
}
