// kavlib: the valgrind watcher of the pools (KAVLIB_VALGRIND).
//
// Run under valgrind's memcheck, each pool is a memcheck memory pool and each
// piece one of its allocations: memcheck reports reads of free pool memory,
// frees of pieces that are not live, and pieces never given back.  Outside
// memcheck (also under other valgrind tools) the watcher stays off and the
// pools run as in a plain build.
#include <kavlib/internal/poolblocks.h>

#include <unordered_map>
#include <vector>

#include <valgrind/memcheck.h>

using kavpool::addr;
using kavpool::addr_t;
using kavpool::ptr;

bool kavPool::MemcheckWatch::active = false;

namespace {

constexpr addr_t wordMask = ~addr_t(7);

// Are we under valgrind's memcheck?  Only memcheck answers its own requests
// (with -1); other tools, callgrind for one, leave them at 0.
bool runningOnMemcheck()
{
    char probe = 0;
    return RUNNING_ON_VALGRIND != 0 && static_cast<long>(VALGRIND_MAKE_MEM_DEFINED(&probe, 1)) == -1;
}

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

} // namespace

void kavPool::MemcheckWatch::openWord(addr_t at) { (void)VALGRIND_MAKE_MEM_DEFINED(ptr(at & wordMask), 8); }

void kavPool::MemcheckWatch::closeWord(addr_t at) { (void)VALGRIND_MAKE_MEM_NOACCESS(ptr(at & wordMask), 8); }

void kavPool::MemcheckWatch::created(kavPool& pool)
{
    // Asked once, when the first pool (the main pool, at load) is made.
    static const bool under = active = runningOnMemcheck();
    if (!under)
        return;
    _watched = true;
    VALGRIND_CREATE_MEMPOOL(&pool, 0, 0);
}

void kavPool::MemcheckWatch::destroyed(kavPool& pool)
{
    if (!active)
        return;
    savedBits().erase(&pool);
    VALGRIND_DESTROY_MEMPOOL(&pool);
}

void kavPool::MemcheckWatch::releasing(kavPool& pool)
{
    if (!active)
        return;
    savedBits().erase(&pool);
    VALGRIND_DESTROY_MEMPOOL(&pool);
    VALGRIND_CREATE_MEMPOOL(&pool, 0, 0);
}

void kavPool::MemcheckWatch::blockAdded(void* block, unsigned int n)
{
    if (active)
        (void)VALGRIND_MAKE_MEM_NOACCESS(block, n);
}

void kavPool::MemcheckWatch::blockReturned(void* block, unsigned int n)
{
    if (active)
        (void)VALGRIND_MAKE_MEM_UNDEFINED(block, n);
}

void kavPool::MemcheckWatch::handOut(kavPool& pool, void* piece, unsigned int size)
{
    if (!active)
        return;
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

void kavPool::MemcheckWatch::undone(kavPool& pool, void* piece)
{
    if (active)
        VALGRIND_MEMPOOL_FREE(&pool, piece);
}

bool kavPool::MemcheckWatch::takeBack(kavPool& pool, void* piece, unsigned int r)
{
    if (!active)
        return true;
    // Memory that is not addressable is no live piece: let memcheck report
    // the free with its stack, and keep the lists intact.
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
