// kavlib: memory pools.
//
// A kavPool hands out pieces of blocks of at least 8000 bytes that it takes
// from the global heap.  Pieces are rounded up to a multiple of 8 and carry
// no header: whoever gives one back names its size again.  Pieces below 512
// bytes come back onto a LIFO recycle list of their size; larger ones merge
// into an address-ordered free-block list, from which requests are cut first
// fit.  Memory goes back to the heap only when the whole pool is released,
// and no destructor runs then.  Every pool is in a numbered registry; the
// main pool exists from load.
//
// A pool is not thread safe, never shrinks and does not detect misuse (a
// piece given back twice, resized or to the wrong pool): the checked,
// AddressSanitizer and valgrind builds do (docs/debugging.md), by taking
// alloc() and free() out of line as recorded in <kavlib/config.h>.
#ifndef KAVLIB_KAVPOOL_H
#define KAVLIB_KAVPOOL_H

#include <kavlib/config.h>
#include <kavlib/export.h>
#include <kavlib/kavassert.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iosfwd>

/// 1 when every alloc() and free() goes out of line into the library: the
/// checked and the AddressSanitizer builds.  A valgrind build decides at load.
#define KAVLIB_POOL_ALWAYS_WATCHED (KAVLIB_CHECKED || KAVLIB_ASAN)

/// Class-name constant of kavPool ("kavPool").
extern KAVLIB_API const char* const kavPoolClass;

/// Memory kept beside a pool, outside its blocks, that must go when the
/// pool's blocks go: an index of a table that lives in the pool, say.  The
/// owner embeds this record in that memory and attaches it to the pool;
/// release() (and so the destructor and releaseAll()) takes every record off
/// and calls its drop function, before any block goes back.  No destructor
/// of anything in the pool is needed for that.
struct kavPoolAttachment {
    const void* _owner;                ///< what the memory serves (a key for attached())
    void (*_drop)(kavPoolAttachment*); ///< frees the memory; called at most once
    kavPoolAttachment* _next;          ///< next record of the same pool
};

class KAVLIB_API kavPool {
public:
    static constexpr unsigned int nclasses = 64;      ///< recycle lists
    static constexpr unsigned int recycleLimit = 512; ///< pieces below it recycle
    static constexpr unsigned int minBlock = 8000;    ///< smallest block added

    /// Rounds a request up to the next multiple of 8.
    static unsigned int roundSize(unsigned int size) { return (size + 7u) & ~7u; }

    /// An empty pool (no block), entered at the head of the registry.
    kavPool();
    /// Releases every block, then leaves the registry.
    virtual ~kavPool();

    kavPool(const kavPool&) = delete;
    kavPool& operator=(const kavPool&) = delete;

    /// Largest size that alloc() and establish() accept: it rounds to a
    /// multiple of 8 without wrapping.  Larger sizes stop (checks
    /// poolAllocSize, poolEstablishSize).
    static constexpr unsigned int maxSize = 0xFFFFFFF8u;

    /// Adds one block of at least 8000 bytes (exactly `size` rounded up when
    /// it is 8000 or more).  alloc() calls it for the first request of a pool
    /// without blocks; a derived pool may prepare its first block differently.
    virtual void establish(unsigned int size);
    /// The release flag: consulted only by releaseAll().
    virtual bool releaseFlag() { return _releaseFlag; }
    /// Sets the release flag.
    virtual void setReleaseFlag(bool flag) { _releaseFlag = flag; }
    /// Returns every block to the global heap; the pool stays usable.
    virtual void release();
    /// Writes this pool's report (blocks and recycle lists under flag 0).
    virtual std::ostream& print(std::ostream& os) const;
    /// True only for kavPoolClass itself (pointer comparison).
    virtual bool isA(const char* name) const;
    /// kavPoolClass.
    virtual const char* className() const;

    /// A piece of at least `size` bytes (exactly the rounded size is
    /// reserved), 8-byte aligned.  Its contents are not cleared.  `size` must
    /// not exceed maxSize.  When the global heap fails while a block is being
    /// added, its exception propagates and the pool is exactly as it was.
    void* alloc(unsigned int size);
    /// Takes back a piece of this pool; `size` must round like the request.
    void free(void* ptr, unsigned int size);
    /// Takes back the piece of the newest allocation, which nobody has used:
    /// the pool is then exactly as before that allocation (the piece un-cut
    /// from the free block it came from, a block added for it given back).
    /// When anything else was allocated from the pool since, or a large
    /// piece was given back, it is free(ptr, size).  kavObject's pooled
    /// operator new uses it when a constructor throws.
    void undoAlloc(void* ptr, unsigned int size);

    /// The pool number, fixed at construction.
    int getNum() const { return _num; }

    unsigned int amem() const { return _amem; } ///< bytes in allocated blocks
    unsigned int fmem() const { return _fmem; } ///< bytes in free blocks
    unsigned int rmem() const { return _rmem; } ///< bytes in recycled elements
    /// Bytes handed out and not given back.  Every operation keeps
    /// amem = fmem + rmem + umem (modulo 2^32): it moves bytes between two of
    /// the last three, or adds a block to amem and fmem alike.  So umem is
    /// derived rather than kept, and the recycled paths update one counter.
    unsigned int umem() const { return _amem - _fmem - _rmem; }
    unsigned int ablocks() const;               ///< allocated blocks (walks them)
    unsigned int fblocks() const;               ///< free blocks (walks them)
    unsigned int rblocks() const;               ///< recycled elements (walks all lists)
    /// Bytes of system pages taken by the pool's map of its blocks by address,
    /// which a pool of 128 000 bytes or more keeps to find the block of a
    /// large piece coming back; 0 without one.  They count in no statistic.
    std::size_t mapBytes() const;

    // ---- the registry of all pools ----------------------------------------
    /// The main pool: never null once the library is loaded.
    static kavPool* mainPool() { return _mainPool; }
    /// Makes `pool` the main pool; null is ignored.
    static void setMainPool(kavPool* pool);
    static unsigned int npools(); ///< registered pools
    static unsigned int apools(); ///< sum of amem() over all pools
    static unsigned int upools(); ///< sum of umem() over all pools
    /// Releases the main pool and deletes every other pool, each only when
    /// its release flag is set; a pool not made by new is released instead
    /// of deleted.  No object destructor runs.
    static void releaseAll();
    /// Writes the report of every pool, newest first, and the totals.
    static void printAll(std::ostream& os);

    // ---- lifetimes ------------------------------------------------------------
    /// How many times a pool has given blocks back to the global heap since
    /// the library was loaded (never 0).  Whoever keeps pointers into pools
    /// notes this figure; while it is unchanged every such pointer is valid.
    static unsigned int releaseCount() { return _releases; }
    /// True when `p` lies in a block of a registered pool that was added
    /// while releaseCount() was at most `stamp`, and so has stayed allocated
    /// since: a piece handed out then is still there.  Walks every block.
    static bool holdsSince(const void* p, unsigned int stamp);

    /// A pool made with new: releaseAll() may delete it.  A pool made any
    /// other way (static, automatic, member) is released instead.
    static void* operator new(std::size_t size);
    /// Gives a pool made with new back to the global heap.
    static void operator delete(void* p);

    // ---- memory attached beside the pool ------------------------------------
    /// Attaches `a` (not attached elsewhere): release() will drop it.
    void attach(kavPoolAttachment* a)
    {
        a->_next = _attached;
        _attached = a;
    }
    /// Takes `a` off this pool without dropping it; false when not attached.
    bool detach(kavPoolAttachment* a)
    {
        for (kavPoolAttachment** link = &_attached; *link != nullptr; link = &(*link)->_next) {
            if (*link == a) {
                *link = a->_next;
                return true;
            }
        }
        return false;
    }
    /// True when alloc(a), alloc(b), free(b) and free(a), in that order,
    /// would leave the pool exactly as it is now: both pieces would come off
    /// and go back onto non-empty recycle lists.  Always false in a watched
    /// pool, which records every piece.
    bool recyclesPair(unsigned int a, unsigned int b) const
    {
#if KAVLIB_POOL_ALWAYS_WATCHED
        (void)a;
        (void)b;
        return false;
#else
        const unsigned int ra = roundSize(a), rb = roundSize(b);
        if (_watched || ra >= recycleLimit || rb >= recycleLimit || _recycleList[ra >> 3] == nullptr)
            return false;
        return ra != rb ? _recycleList[rb >> 3] != nullptr : loadLink(_recycleList[ra >> 3]) != nullptr;
#endif
    }
    /// The newest record attached for `owner`, or null.
    kavPoolAttachment* attached(const void* owner) const
    {
        for (kavPoolAttachment* a = _attached; a != nullptr; a = a->_next)
            if (a->_owner == owner)
                return a;
        return nullptr;
    }

private:
public:
    // Internal parts of the pool, defined under kavlib/internal/ (not
    // installed): nothing for applications to use.
    struct BlockRecord;   // a block's record (poolblocks.h)
    struct Index;         // the free-block index (poolindex.h)
    struct BlockMap;      // its map from addresses to blocks (poolmap.h)
    struct Watch;         // the hooks of the memory checkers (poolwatch.h)
    struct CheckedWatch;  // the checked build's watcher
    struct AsanWatch;     // the AddressSanitizer watcher
    struct MemcheckWatch; // the valgrind watcher

private:

    // The watched paths of alloc() and free() (see "Watched pools" above).
    void* allocWatched(unsigned int size);
    void freeWatched(void* ptr, unsigned int size);

    void* allocSlow(unsigned int size);
    void* allocFree(unsigned int r, bool again);
    void* allocSearch(unsigned int r, bool again);
    void* popRecycled(unsigned int c);
    void* takeFree(unsigned int r);
    template <bool memcheckToo>
    void* takeFreeWith(unsigned int r);
    void* cutAtFinger(unsigned int r);
    void* cutRun(unsigned int r);
    void* startRun(void* piece, unsigned int r, bool again);
    void settleRun();
    // Ends a run of cuts (see startRun()): every path out of line that may
    // change the free blocks or look at them calls it first, but for
    // fblocks() and the report, which write the run's free block instead.
    void endRun()
    {
        if (_runSettled)
            closeRun();
        _cutRoom = 0;
        _cutAgain = false;
    }
    void closeRun();
    void writeRun() const;
    // fblocks() and the report walk the free blocks: a run that lasts
    // writes its free block back first.
    void writeRunIfAny() const
    {
        if (_runSettled)
            writeRun();
    }
    void* takeAtFinger(unsigned int r);
    void* cutDone(std::uintptr_t cur, std::uintptr_t prev, unsigned int r, unsigned int from);
    void checkFit(std::uintptr_t cur, unsigned int r) const;
    void checkNeighbours(std::uintptr_t p, std::uintptr_t left) const;
    void uncut();
    void dropNewestBlock();
    void freeLarge(void* ptr, unsigned int r);
    bool freeNextToRover(void* ptr, unsigned int r);
    bool freeIntoFullBlock(void* ptr, unsigned int r, BlockRecord* home, const BlockRecord* below);
    template <bool memcheckToo>
    void freeLargeWith(void* ptr, unsigned int r, BlockRecord* home);
    void* addblock(unsigned int size);
    void enlist();
    void unregister();
    void changed(bool freeList) const;
    // Takes every attached record off and drops it (release()).
    void dropAttached()
    {
        while (_attached != nullptr) {
            kavPoolAttachment* a = _attached;
            _attached = a->_next;
            a->_drop(a);
        }
    }

    // Recycle-list links are stored in the first word of a piece; memcpy
    // keeps the accesses free of aliasing assumptions about what lived there.
    static void* loadLink(const void* piece)
    {
        void* link;
        std::memcpy(&link, piece, sizeof link);
        return link;
    }
    static void storeLink(void* piece, void* link) { std::memcpy(piece, &link, sizeof link); }

    // The head of the recycle list of class c, as a pointer of its own.  A
    // loop of alloc() or free() calls reloads the head on every call, just
    // after the previous call stored it.  Current x86 processors hand such a
    // store straight to the load when both address the same base register
    // and offset, but not when the address has an index register, which is
    // how a compiler would otherwise address _recycleList[c].  The empty asm
    // makes the pointer a value of its own; the compiler then keeps it in a
    // register (it is the same for every call of a loop) and addresses the
    // head through it alone.
    void** listHead(unsigned int c)
    {
        void** head = &_recycleList[c];
#if defined(__GNUC__)
        __asm__("" : "+r"(head));
#endif
        return head;
    }

    // Adds `delta` to a byte counter (modulo 2^32) with a separate load and
    // store.  Every recycled alloc() and free() changes _rmem, so its
    // updates form one long chain across calls.  A chain of
    // read-modify-write instructions on memory waits for each store to reach
    // the next load; plain loads and stores of the same word are forwarded
    // much sooner by current x86 processors, which halves the time of a
    // recycled alloc+free pair.  The empty asm keeps the compiler from fusing
    // the two again; the result is the same either way.
    static void bump(unsigned int& counter, unsigned int delta)
    {
        unsigned int value = counter;
#if defined(__GNUC__)
        __asm__("" : "+r"(value));
#endif
        counter = value + delta;
    }

    unsigned int _amem;                 ///< bytes in all allocated blocks
    unsigned int _fmem;                 ///< bytes in free blocks
    unsigned int _rmem;                 ///< bytes in recycled elements
    void* _recycleList[nclasses];       ///< LIFO list heads by size class; 0 unused
    BlockRecord* _blockList;            ///< newest block record, null when none
    void* _freeList;                    ///< free block at the lowest address
    kavPool* _next;                     ///< next (older) pool in the registry
    int _num;                           ///< pool number
    bool _releaseFlag;                  ///< may releaseAll() release this pool?
    // The index of the free blocks (internal/poolindex.h); its nodes are the
    // block records, so it takes no memory of its own.
    BlockRecord* _root;                 ///< tree of the block records by address
    BlockMap* _map = nullptr;           ///< map of the blocks by address, in a large pool
    BlockRecord* _hint;                 ///< block where the last first-fit search ended
    unsigned int _hintBelow;            ///< no free block below _hint is larger
    bool _predKnown;                    ///< _pred is up to date
    void* _pred;                        ///< the last free block below _hint, if known
    void* _cut;                         ///< free block where the last cut left off, null if unknown
    void* _cutPrev;                     ///< the free block before _cut, null when _cut heads the list
    BlockRecord* _cutHome;              ///< the block in which _cut starts
    unsigned int _cutBelow;             ///< no free block below _cut is larger
    // A run of cuts at _cut (startRun() in kavpool.cpp): what stays the same
    // for every cut of the run, and whether the next cut may start one.
    unsigned int _cutRoom = 0;          ///< pieces below this many bytes are cut at _cut; 0: no run
    std::uintptr_t _runEnd = 0;         ///< where the free block at _cut ends
    std::uintptr_t _runNext = 0;        ///< the free block after it, 0 if none
    void* _runLink = nullptr;           ///< the link word naming it: _freeList or the header before
    std::uintptr_t _runTag = 0;         ///< the bit that link word keeps beside the address
    std::uintptr_t* _cutSlot = nullptr; ///< its block's first free block, when that is _cut; else null
    std::uintptr_t _runStart = 0;       ///< where the run's first cut was
    bool _runSettled = false;           ///< the five above are set (by the run's first cut) and the run not yet closed
    bool _cutAgain = false;             ///< the last allocation out of line was a cut that could start a run
    void* _rover;                       ///< a free block: where the last large piece went, or null
    BlockRecord* _roverHome = nullptr;  ///< the block in which _rover starts
    std::uintptr_t _roverEnd = 0;       ///< where _rover ends
    void* _roverPrev = nullptr;         ///< the free block before _rover, if known (null: it heads the list)
    bool _roverPrevKnown = false;       ///< _roverPrev is up to date
    BlockRecord* _finger;               ///< the block of the last large piece given back, or null
    void* _fingerPred;                  ///< the last free block below _finger, if known
    bool _fingerPredKnown;              ///< _fingerPred is up to date
    bool _onHeap;                       ///< made by operator new: releaseAll() deletes it
    // How the newest allocation was made, when undoAlloc() can undo it: a
    // piece cut from a free block.  Every other allocation and every other
    // change of the free blocks clears it (the recycled path with one store).
    // The piece's address is kept complemented, so that a leak checker does
    // not take the record for a reference to the piece.
    std::uintptr_t _lastCut = 0;        ///< ~address of the piece, 0 when there is nothing to undo
    void* _lastPrev = nullptr;          ///< the free block before the one it was cut from, or null
    unsigned int _lastSize = 0;         ///< its rounded size
    unsigned int _lastFrom = 0;         ///< the size of the free block it was cut from
    bool _lastBlock = false;            ///< that free block was the newest block, added for it
    kavPoolAttachment* _attached = nullptr; ///< memory beside the pool, newest first

    static kavPool* _pools;             ///< registry head: the newest pool
    static kavPool* _mainPool;          ///< the main pool
    static bool _watched;               ///< alloc() and free() go out of line
    static unsigned int _releases;      ///< see releaseCount()
    static const void* _newPool;        ///< storage of the pool being made by new
};

/// Writes the pool's report through its virtual print().
KAVLIB_API std::ostream& operator<<(std::ostream& os, const kavPool& pool);

inline void* kavPool::alloc(unsigned int size)
{
#if KAVLIB_POOL_ALWAYS_WATCHED
    return allocWatched(size);
#else
#if KAVLIB_VALGRIND
    if (_watched)
        return allocWatched(size);
#endif
    const unsigned int r = roundSize(size);
    if (r < recycleLimit) {
        void** head = listHead(r >> 3);
        void* piece = *head;
        if (piece != nullptr) {
            *head = loadLink(piece);
            bump(_rmem, 0u - r);
            _lastCut = 0; // free() gives it back exactly: onto this list
            return piece;
        }
    }
    if (r < _cutRoom && r > _cutBelow)
        return cutRun(r);
    return allocSlow(size);
#endif
}

inline void kavPool::free(void* ptr, unsigned int size)
{
    KAV_CHECK(ptr != nullptr, poolFreeNull);
    KAV_CHECK(size != 0, poolFreeZero);
#if KAVLIB_POOL_ALWAYS_WATCHED
    freeWatched(ptr, size);
#else
#if KAVLIB_VALGRIND
    if (_watched) {
        freeWatched(ptr, size);
        return;
    }
#endif
    const unsigned int r = roundSize(size);
    if (r < recycleLimit) {
        void** head = listHead(r >> 3);
        storeLink(ptr, *head);
        *head = ptr;
        bump(_rmem, r);
        return;
    }
    freeLarge(ptr, r);
#endif
}

#endif
