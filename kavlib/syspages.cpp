// kavlib: pages from the system, for indexes that must stay off the global
// heap (see internal/syspages.h).
#include <kavlib/internal/syspages.h>

#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace {

// Pages from the system.  Taking fresh pages costs a system call and a
// fault per page, which on some virtual machines is tens of microseconds a
// page; so pages given back are kept (a few mappings, up to spareLimit bytes)
// and handed out again, zeroed, to the next index that fits in them: a
// program that builds and discards tables over and over maps its pages once.
struct spareMapping {
    void* pages;
    std::size_t bytes;
};
constexpr int maxSpares = 32;
constexpr std::size_t spareLimit = std::size_t{64} << 20;
spareMapping spares[maxSpares];
int nspares = 0;
std::size_t spareBytes = 0;

void* mapPages(std::size_t bytes)
{
#if defined(_WIN32)
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
#else
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#if defined(MAP_POPULATE)
    flags |= MAP_POPULATE; // every page is written soon: fault them in at once
#endif
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, flags, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
#endif
}

void unmapPages(void* p, [[maybe_unused]] std::size_t bytes)
{
#if defined(_WIN32)
    VirtualFree(p, 0, MEM_RELEASE);
#else
    munmap(p, bytes);
#endif
}

} // namespace

void* kavpages::take(std::size_t& bytes)
{
    int best = -1;
    for (int i = 0; i < nspares; ++i)
        if (spares[i].bytes >= bytes && spares[i].bytes / 4 <= bytes &&
            (best < 0 || spares[i].bytes < spares[best].bytes))
            best = i;
    if (best < 0)
        return mapPages(bytes);
    void* p = spares[best].pages;
    bytes = spares[best].bytes;
    spareBytes -= bytes;
    spares[best] = spares[--nspares];
    std::memset(p, 0, bytes);
    return p;
}

void kavpages::give(void* p, std::size_t bytes)
{
    if (nspares == maxSpares || spareBytes + bytes > spareLimit) {
        unmapPages(p, bytes);
        return;
    }
    spares[nspares++] = spareMapping{p, bytes};
    spareBytes += bytes;
}
