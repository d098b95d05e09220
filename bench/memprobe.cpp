// Memory probe: runs one workload of the benchmarks in a process of its own
// and reports what it took from the heap.
//
//   memprobe WORKLOAD
//
// The global operator new and delete are replaced here: they count every
// call and the bytes live at once (as malloc_usable_size reports them, so
// malloc's own rounding is included).  kavlib takes all its memory through
// them (pool blocks and block records), and so do the standard containers
// and strings.  Only the workload is counted: loading the text and the word
// lists happens before.  The output is one JSON object: heap calls, the peak
// of live heap bytes, and for kavlib the pool's own figure (amem: the bytes
// of its blocks, without the block records).
//
// Workloads:
//   intern-kav        every word of the text interned with kavString
//   intern-std        the same, find-or-insert into unordered_set<string>
//   distinct-kav      the 100 000 distinct words, with kavString
//   distinct-std      the same, with unordered_set<string>
//   release-kav       100 000 objects of 32 bytes in a pool, then release()
//   release-delete    100 000 objects from the global heap, deleted one by one
//   release-monotonic 100 000 pieces of 32 bytes from monotonic_buffer_resource
#include "benchobj.h"
#include "words.h"

#include <kavlib/kavlib.h>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory_resource>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

bool counting = false;
void* volatile sink = nullptr; // keeps every allocation of a workload observable
long long calls = 0;
long long live = 0;
long long peak = 0;

void count(void* p)
{
    if (counting) {
        ++calls;
        live += static_cast<long long>(malloc_usable_size(p));
        if (live > peak)
            peak = live;
    }
}

void* countedAlloc(std::size_t n)
{
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr)
        throw std::bad_alloc();
    count(p);
    return p;
}

void* countedAlignedAlloc(std::size_t n, std::align_val_t align)
{
    void* p = nullptr;
    const auto a = std::max(sizeof(void*), static_cast<std::size_t>(align));
    if (posix_memalign(&p, a, n == 0 ? 1 : n) != 0)
        throw std::bad_alloc();
    count(p);
    return p;
}

void countedFree(void* p)
{
    if (p == nullptr)
        return;
    if (counting)
        live -= static_cast<long long>(malloc_usable_size(p));
    std::free(p);
}

void startCounting()
{
    calls = live = peak = 0;
    counting = true;
}

void internKav(const std::vector<const char*>& words)
{
    kavLib::init(false);
    for (const char* w : words) {
        kavString s(w);
        sink = s.elem();
    }
}

void internStd(const std::vector<const char*>& words)
{
    std::unordered_set<std::string> set;
    for (const char* w : words) {
        std::string key(w);
        if (set.find(key) == set.end())
            set.insert(std::move(key));
    }
    counting = false; // the peak is reached; the set's teardown is not counted
}

constexpr int releaseCount = 100000;

} // namespace

void* operator new(std::size_t n) { return countedAlloc(n); }
void* operator new[](std::size_t n) { return countedAlloc(n); }
void operator delete(void* p) noexcept { countedFree(p); }
void operator delete[](void* p) noexcept { countedFree(p); }
void operator delete(void* p, std::size_t) noexcept { countedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { countedFree(p); }
void* operator new(std::size_t n, std::align_val_t a) { return countedAlignedAlloc(n, a); }
void* operator new[](std::size_t n, std::align_val_t a) { return countedAlignedAlloc(n, a); }
void operator delete(void* p, std::align_val_t) noexcept { countedFree(p); }
void operator delete[](void* p, std::align_val_t) noexcept { countedFree(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { countedFree(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { countedFree(p); }

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: memprobe WORKLOAD\n");
        return 2;
    }
    const std::string w = argv[1];
    // Both word lists are made before any counting starts: "intern-*" takes
    // every word of the text, "distinct-*" the distinct generated words.
    const auto& text = benchWords::textWords();
    const auto& distinct = benchWords::distinctWords();
    const auto& words = w.rfind("distinct-", 0) == 0 ? distinct : text;
    std::size_t poolBytes = 0;

    if (w == "intern-kav" || w == "distinct-kav") {
        startCounting();
        internKav(words);
        poolBytes = kavPool::mainPool()->amem();
    } else if (w == "intern-std" || w == "distinct-std") {
        startCounting();
        internStd(words);
    } else if (w == "release-kav") {
        startCounting();
        kavPool pool;
        pool.setReleaseFlag(false);
        for (int i = 0; i < releaseCount; ++i)
            sink = new (&pool) benchObject32;
        poolBytes = pool.amem();
        pool.release();
    } else if (w == "release-delete") {
        std::vector<benchObject32*> objects(releaseCount);
        startCounting();
        for (auto& o : objects)
            o = ::new benchObject32;
        for (auto* o : objects)
            ::delete o;
    } else if (w == "release-monotonic") {
        startCounting();
        std::pmr::monotonic_buffer_resource res;
        for (int i = 0; i < releaseCount; ++i)
            sink = res.allocate(sizeof(benchObject32), alignof(benchObject32));
        res.release();
    } else {
        std::fprintf(stderr, "memprobe: unknown workload %s\n", w.c_str());
        return 2;
    }
    counting = false;

    std::printf("{\"workload\": \"%s\", \"heap_calls\": %lld, \"peak_heap_bytes\": %lld, \"pool_amem\": %zu}\n",
                w.c_str(), calls, peak, poolBytes);
    return 0;
}
