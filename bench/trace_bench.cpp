// Heap-trace replay: the allocations and frees of real programs (see
// bench/data/SOURCES.md), replayed through kavPool and through what a
// program would otherwise use.
//
//   trace/NAME/VARIANT   every operation of bench/data/NAME.trace.xz, in order
//
// KAVLIB_BENCH_TRACES=DIR in the environment replays the traces of DIR instead.
//
// Variants: kavPool (alloc/free, the size named again on free); malloc
// (malloc/free); mimalloc (mi_malloc/mi_free_size, when the build found it);
// pmr_pool (std::pmr::unsynchronized_pool_resource).  Each iteration replays
// the whole trace into a fresh allocator; making and destroying the
// allocator is not timed, and one replay before the timed ones warms the
// process's heap.  Every piece is touched as a program would: its
// first and last byte are written when it is allocated and read before it is
// freed.  Times are per operation (items_per_second counts operations).
//
// Counters: `ops` (operations of the trace), `peak_live` (the most bytes
// live at once, each size rounded up to 8 as kavPool rounds it) and, for
// kavPool after the replay, `amem` (the bytes of the pool's blocks; a pool
// keeps its blocks until it is released, so this is its peak), `ablocks`
// and `fblocks` (its blocks and free blocks).
#include "benchmain.h"
#include "trace.h"

#include <kavlib/kavpool.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <memory_resource>
#include <optional>
#include <string>
#include <vector>

#if KAVLIB_BENCH_MIMALLOC
#include <dlfcn.h>
#endif
namespace {

// ---- the allocators, behind one shape: alloc(n), free(p, n), figures(state) ----

struct KavPoolAlloc {
    void* alloc(unsigned int n) { return _pool.alloc(n); }
    // A request of 0 bytes reserves nothing, and the pool takes no size 0 back.
    void free(void* p, unsigned int n)
    {
        if (n != 0)
            _pool.free(p, n);
    }
    // The pool's own figures after the replay.
    void figures(benchmark::State& state) const
    {
        state.counters["amem"] = _pool.amem();
        state.counters["ablocks"] = _pool.ablocks();
        state.counters["fblocks"] = _pool.fblocks();
    }
    kavPool _pool;
};

struct MallocAlloc {
    void* alloc(unsigned int n) { return std::malloc(n); }
    void free(void* p, unsigned int) { std::free(p); }
    void figures(benchmark::State&) const {}
};

struct PmrPoolAlloc {
    void* alloc(unsigned int n) { return _res.allocate(n, 8); }
    void free(void* p, unsigned int n) { _res.deallocate(p, n, 8); }
    void figures(benchmark::State&) const {}
    std::pmr::unsynchronized_pool_resource _res;
};

#if KAVLIB_BENCH_MIMALLOC
// Debian's libmimalloc.so also defines malloc and free.  Linked into this
// program it would take over malloc for the whole process, so that the
// malloc variant would measure mimalloc too; opened locally, only its own
// entry points are reached.
struct Mimalloc {
    using AllocFn = void* (*)(std::size_t);
    using FreeFn = void (*)(void*, std::size_t);
    AllocFn alloc = nullptr;
    FreeFn free = nullptr;

    static const Mimalloc& get()
    {
        static const Mimalloc m = [] {
            Mimalloc r;
            void* lib = dlopen(KAVLIB_BENCH_MIMALLOC_LIB, RTLD_NOW | RTLD_LOCAL);
            if (lib != nullptr) {
                r.alloc = reinterpret_cast<AllocFn>(dlsym(lib, "mi_malloc"));
                r.free = reinterpret_cast<FreeFn>(dlsym(lib, "mi_free_size"));
            }
            if (r.alloc == nullptr || r.free == nullptr)
                std::fprintf(stderr, "trace_bench: cannot use %s, mimalloc cases left out\n",
                             KAVLIB_BENCH_MIMALLOC_LIB);
            return r;
        }();
        return m;
    }
};

struct MimallocAlloc {
    void* alloc(unsigned int n) { return Mimalloc::get().alloc(n); }
    void free(void* p, unsigned int n) { Mimalloc::get().free(p, n); }
    void figures(benchmark::State&) const {}
};
#endif

// ---- the replay -------------------------------------------------------------

// Replays every operation of `trace` into `a`; `piece` has room for every
// piece.  Returns the number of pieces found changed when they were freed.
template <class A>
unsigned long long replayOnce(A& a, const HeapTrace& trace, std::vector<unsigned char*>& piece)
{
    unsigned long long changed = 0;
    for (const TraceOp& op : trace.ops) {
        const unsigned char tag = static_cast<unsigned char>(op.piece);
        if (!op.isFree) {
            auto* p = static_cast<unsigned char*>(a.alloc(op.size));
            if (op.size != 0) {
                p[0] = tag;
                p[op.size - 1] = tag;
            }
            piece[op.piece] = p;
        } else {
            unsigned char* p = piece[op.piece];
            if (op.size != 0)
                changed += ((p[0] ^ tag) | (p[op.size - 1] ^ tag)) != 0;
            a.free(p, op.size);
        }
    }
    return changed;
}

template <class A>
void replay(benchmark::State& state, const HeapTrace* trace)
{
    std::vector<unsigned char*> piece(trace->pieces);
    std::optional<A> a;
    // One replay before timing, so that every variant starts with the
    // process's heap as warm as the later iterations find it (the first
    // touch of fresh pages is not what the allocators are compared on).
    a.emplace();
    unsigned long long changed = replayOnce(*a, *trace, piece);
    a.reset();
    for (auto _ : state) {
        state.PauseTiming();
        a.emplace();
        state.ResumeTiming();
        changed += replayOnce(*a, *trace, piece);
        state.PauseTiming();
        a->figures(state);
        a.reset();
        state.ResumeTiming();
    }
    benchmark::DoNotOptimize(changed);
    if (changed != 0)
        state.SkipWithError("a piece changed while it was live");
    state.SetItemsProcessed(state.iterations() * static_cast<long long>(trace->ops.size()));
    state.counters["ops"] = static_cast<double>(trace->ops.size());
    state.counters["peak_live"] = static_cast<double>(trace->peakLiveRounded);
}

// The traces of bench/data (or of the directory KAVLIB_BENCH_TRACES names),
// in name order; loaded once and kept for the whole run.
std::vector<std::unique_ptr<HeapTrace>> loadTraces(const char* dir)
{
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string path = entry.path().string();
        if (path.size() > 9 && path.compare(path.size() - 9, 9, ".trace.xz") == 0)
            paths.push_back(path);
    }
    std::sort(paths.begin(), paths.end());
    std::vector<std::unique_ptr<HeapTrace>> traces;
    for (const std::string& path : paths) {
        auto t = std::make_unique<HeapTrace>();
        std::string error;
        if (!loadTrace(path, *t, &error)) {
            std::fprintf(stderr, "trace_bench: %s\n", error.c_str());
            std::exit(1);
        }
        traces.push_back(std::move(t));
    }
    return traces;
}

} // namespace

int main(int argc, char** argv)
{
    keepHeapMemory();
    const char* dir = std::getenv("KAVLIB_BENCH_TRACES");
    if (dir == nullptr || *dir == '\0')
        dir = KAVLIB_BENCH_DATA;
    const auto traces = loadTraces(dir);
    if (traces.empty()) {
        std::fprintf(stderr, "trace_bench: no *.trace.xz in %s\n", dir);
        return 1;
    }
    for (const auto& t : traces) {
        const std::string group = "trace/" + t->name + "/";
        benchmark::RegisterBenchmark((group + "kavPool").c_str(), replay<KavPoolAlloc>, t.get());
        benchmark::RegisterBenchmark((group + "malloc").c_str(), replay<MallocAlloc>, t.get());
#if KAVLIB_BENCH_MIMALLOC
        if (Mimalloc::get().alloc != nullptr)
            benchmark::RegisterBenchmark((group + "mimalloc").c_str(), replay<MimallocAlloc>, t.get());
#endif
        benchmark::RegisterBenchmark((group + "pmr_pool").c_str(), replay<PmrPoolAlloc>, t.get());
    }
    return runBenchmarks(argc, argv);
}
