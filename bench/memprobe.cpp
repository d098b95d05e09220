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
// of its blocks, without the block records) and the system pages of the
// pool's map of its blocks (pool_map, added to the peak).
//
// Interning workloads are WORDS-SIDE: WORDS is `intern` (every word of the
// text), `ids` (the identifier stream of libstdc++'s headers), `distinct`
// (100 000 distinct words) or `distinct1m` (1 000 000); SIDE is `kav`
// (kavString), `std` (find-or-insert into unordered_set<string>) or `absl`
// (absl::flat_hash_set<string>, when built with it).  Each also reports the
// bytes per distinct text of what holds the text itself:
//   kav   element + text (as the pool hands them out) + the table's index
//         (system pages, outside the heap; added to the peak too); the links
//         that hold the elements in their chains are listed apart
//   std   node + string (malloc_usable_size of each node and of each text
//         too long for the string's own buffer); buckets apart
//   absl  slot + control byte (the backing array, per text) + the texts too
//         long for the string's own buffer
// Other workloads:
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
#include <string_view>
#include <unordered_set>
#include <vector>

#if KAVLIB_BENCH_ABSL
#include <absl/container/flat_hash_set.h>
#include <absl/strings/string_view.h>
#endif

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

// Bytes per text of what holds each text, and of what else the structure
// keeps per text (links, buckets); filled by the interning workloads.
double perText = 0, perTextOther = 0;
std::size_t distinctTexts = 0, offHeap = 0;

void internKav(const std::vector<const char*>& words)
{
    kavLib::init(false);
    for (const char* w : words) {
        kavString s(w);
        sink = s.elem();
    }
    counting = false;
    const kavStringTbl& table = *kavStringTbl::table();
    distinctTexts = static_cast<std::size_t>(table.count());
    offHeap = table.indexBytes();
    std::size_t texts = 0;
    for (const kavObject& o : table)
        texts += kavPool::roundSize(static_cast<unsigned int>(std::strlen(static_cast<const kavStrElem&>(o)) + 1));
    const double n = static_cast<double>(distinctTexts);
    perText = (static_cast<double>(distinctTexts * kavPool::roundSize(sizeof(kavStrElem)) + texts + offHeap)) / n;
    perTextOther = kavPool::roundSize(sizeof(kavLinkObj));
}

// The heap bytes of a string's own text when it is too long for its buffer.
std::size_t longText(const std::string& s)
{
    return s.capacity() > 15 ? malloc_usable_size(const_cast<char*>(s.data())) : 0;
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
    distinctTexts = set.size();
    std::size_t bytes = 0;
    for (const std::string& s : set) {
        // libstdc++'s node: the link to the next node, the value, the hash.
        const void* node = reinterpret_cast<const char*>(&s) - sizeof(void*);
        bytes += malloc_usable_size(const_cast<void*>(node)) + longText(s);
    }
    perText = static_cast<double>(bytes) / static_cast<double>(distinctTexts);
    perTextOther = static_cast<double>(set.bucket_count() * sizeof(void*)) / static_cast<double>(distinctTexts);
}

#if KAVLIB_BENCH_ABSL
void internAbsl(const std::vector<const char*>& words)
{
    absl::flat_hash_set<std::string> set;
    for (const char* w : words) {
        const absl::string_view key(w); // Debian's absl has a string_view of its own
        if (set.find(key) == set.end())
            set.insert(std::string(key));
    }
    counting = false;
    distinctTexts = set.size();
    std::size_t bytes = set.capacity() * (sizeof(std::string) + 1);
    for (const std::string& s : set)
        bytes += longText(s);
    perText = static_cast<double>(bytes) / static_cast<double>(distinctTexts);
    perTextOther = 0;
}
#endif

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
    // Every word list is made before any counting starts.
    const std::string words = w.substr(0, w.find('-'));
    const std::string side = w.find('-') == std::string::npos ? "" : w.substr(w.find('-') + 1);
    const std::vector<const char*>* list = nullptr;
    if (words == "intern")
        list = &benchWords::textWords();
    else if (words == "ids")
        list = &benchWords::identifierWords();
    else if (words == "distinct" || words == "distinct1m")
        list = &benchWords::distinctWords();
    std::vector<const char*> chosen;
    if (list != nullptr)
        chosen.assign(list->begin(), list->begin() + (words == "distinct" ? 100000 : static_cast<std::ptrdiff_t>(list->size())));
    std::size_t poolBytes = 0, poolMap = 0;

    if (list != nullptr && side == "kav") {
        startCounting();
        internKav(chosen);
        poolBytes = kavPool::mainPool()->amem();
        poolMap = kavPool::mainPool()->mapBytes();
        peak += static_cast<long long>(offHeap + poolMap);
    } else if (list != nullptr && side == "std") {
        startCounting();
        internStd(chosen);
#if KAVLIB_BENCH_ABSL
    } else if (list != nullptr && side == "absl") {
        startCounting();
        internAbsl(chosen);
#endif
    } else if (w == "release-kav") {
        startCounting();
        kavPool pool;
        pool.setReleaseFlag(false);
        for (int i = 0; i < releaseCount; ++i)
            sink = new (&pool) benchObject32;
        poolBytes = pool.amem();
        poolMap = pool.mapBytes();
        peak += static_cast<long long>(poolMap);
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
    } else if (list != nullptr && side == "absl") {
        return 0; // built without absl: nothing to report
    } else {
        std::fprintf(stderr, "memprobe: unknown workload %s\n", w.c_str());
        return 2;
    }
    counting = false;

    std::printf("{\"workload\": \"%s\", \"heap_calls\": %lld, \"peak_heap_bytes\": %lld, \"pool_amem\": %zu, "
                "\"distinct\": %zu, \"per_text\": %.1f, \"per_text_other\": %.1f, \"off_heap\": %zu, "
                "\"pool_map\": %zu}\n",
                w.c_str(), calls, peak, poolBytes, distinctTexts, perText, perTextOther, offHeap, poolMap);
    return 0;
}
