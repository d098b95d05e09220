// Pool benchmarks: kavPool against what a user would otherwise pick for small
// pieces (malloc/free, std::pmr::unsynchronized_pool_resource, Boost.Pool) and
// for giving everything back at once (std::pmr::monotonic_buffer_resource,
// boost::pool<>::purge_memory, deleting the objects one by one).
//
// Every case is registered as GROUP/PARAM/VARIANT so that bench/results.py can
// set each kav variant against its peers of the same GROUP/PARAM:
//   pair_hot/SIZE   one alloc and its free, over and over (the hottest reuse)
//   lifo/SIZE       1000 allocs, then 1000 frees, newest first
//   fifo/SIZE       1000 allocs, then 1000 frees, oldest first
//   random/SIZE     1000 allocs, then 1000 frees in a fixed shuffled order
//   release/100000  giving back 100 000 objects of 32 bytes (only the release
//                   itself is timed; filling the pool is not)
// Times are per piece (items_per_second counts pairs).
#include "benchmain.h"
#include "benchobj.h"

#include <kavlib/kavpool.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <memory_resource>
#include <random>
#include <string>
#include <vector>

#if KAVLIB_BENCH_BOOST
#include <boost/pool/pool.hpp>
#endif

namespace {

constexpr int batch = 1000;
constexpr int releaseCount = 100000;
const unsigned int pieceSizes[] = {8, 24, 40, 64, 200, 256, 504, 600, 8000};

// ---- the allocators, behind one shape: alloc(n) and free(p, n) -------------

struct KavPoolAlloc {
    static constexpr const char* name = "kavPool";
    explicit KavPoolAlloc(unsigned int) {}
    void* alloc(unsigned int n) { return _pool.alloc(n); }
    void free(void* p, unsigned int n) { _pool.free(p, n); }
    kavPool _pool;
};

struct MallocAlloc {
    static constexpr const char* name = "malloc";
    explicit MallocAlloc(unsigned int) {}
    void* alloc(unsigned int n) { return std::malloc(n); }
    void free(void* p, unsigned int) { std::free(p); }
};

struct PmrPoolAlloc {
    static constexpr const char* name = "pmr_pool";
    explicit PmrPoolAlloc(unsigned int) {}
    void* alloc(unsigned int n) { return _res.allocate(n, 8); }
    void free(void* p, unsigned int n) { _res.deallocate(p, n, 8); }
    std::pmr::unsynchronized_pool_resource _res;
};

#if KAVLIB_BENCH_BOOST
// boost::pool<> serves one piece size per pool, which is how a user would
// set it up for a stream of equal pieces.
struct BoostPoolAlloc {
    static constexpr const char* name = "boost_pool";
    explicit BoostPoolAlloc(unsigned int n) : _pool(n) {}
    void* alloc(unsigned int) { return _pool.malloc(); }
    void free(void* p, unsigned int) { _pool.free(p); }
    boost::pool<> _pool;
};
#endif

// A reference for a recycled piece: a bare singly linked free list with no
// statistics, cutting new pieces from one arena.  Not a peer a user would
// pick.  Its object never escapes the benchmark function, so the compiler may
// keep the list head in a register through a whole batch, which a pool whose
// address the library and its callers share cannot do.
struct FreeListAlloc {
    static constexpr const char* name = "ref_freelist";
    explicit FreeListAlloc(unsigned int n) : _arena(std::size_t(n) * (batch + 1)) {}
    void* alloc(unsigned int)
    {
        if (_head != nullptr) {
            void* p = _head;
            _head = *static_cast<void**>(p);
            return p;
        }
        void* p = _arena.data() + _used;
        _used += _arena.size() / (batch + 1);
        return p;
    }
    void free(void* p, unsigned int)
    {
        *static_cast<void**>(p) = _head;
        _head = p;
    }
    std::vector<char> _arena;
    std::size_t _used = 0;
    void* _head = nullptr;
};

// The same free list in an object whose address has escaped, as a pool's
// has: the compiler must then assume that a store through any pointer of
// the batch loop may change the list head, and keeps it in memory.  This is
// the shape of every allocator whose state the library and its callers
// share; its batches show what such a list can do at best.
struct SharedFreeListAlloc : FreeListAlloc {
    static constexpr const char* name = "ref_shared";
    explicit SharedFreeListAlloc(unsigned int n) : FreeListAlloc(n)
    {
        FreeListAlloc* self = this;
        benchmark::DoNotOptimize(self);
    }
};

// ---- the access orders ----------------------------------------------------

template <class A>
void pairHot(benchmark::State& state, unsigned int n)
{
    A a(n);
    a.free(a.alloc(n), n); // the first block or chunk is not part of the loop
    for (auto _ : state) {
        void* p = a.alloc(n);
        benchmark::DoNotOptimize(p);
        a.free(p, n);
    }
    state.SetItemsProcessed(state.iterations());
}

enum class Order { lifo, fifo, random };

template <class A, Order order>
void batchRun(benchmark::State& state, unsigned int n)
{
    A a(n);
    std::vector<void*> pieces(batch);
    std::vector<int> freeOrder(batch);
    for (int i = 0; i < batch; ++i)
        freeOrder[i] = order == Order::lifo ? batch - 1 - i : i;
    if (order == Order::random)
        std::shuffle(freeOrder.begin(), freeOrder.end(), std::mt19937(12345));

    auto round = [&] {
        for (int i = 0; i < batch; ++i)
            pieces[i] = a.alloc(n);
        benchmark::ClobberMemory();
        for (int i : freeOrder)
            a.free(pieces[i], n);
        benchmark::ClobberMemory();
    };
    round(); // the blocks a round needs are there before timing starts
    for (auto _ : state)
        round();
    state.SetItemsProcessed(state.iterations() * batch);
}

template <class A>
void registerAllocator()
{
    for (unsigned int size : pieceSizes) {
        const std::string s = std::to_string(size);
        benchmark::RegisterBenchmark(("pair_hot/" + s + "/" + A::name).c_str(), pairHot<A>, size);
        benchmark::RegisterBenchmark(("lifo/" + s + "/" + A::name).c_str(), batchRun<A, Order::lifo>, size);
        benchmark::RegisterBenchmark(("fifo/" + s + "/" + A::name).c_str(), batchRun<A, Order::fifo>, size);
        benchmark::RegisterBenchmark(("random/" + s + "/" + A::name).c_str(), batchRun<A, Order::random>, size);
    }
}

// ---- release of 100 000 objects ---------------------------------------------

void releasePool(benchmark::State& state)
{
    kavPool pool;
    pool.setReleaseFlag(false);
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < releaseCount; ++i)
            benchmark::DoNotOptimize(new (&pool) benchObject32);
        state.ResumeTiming();
        pool.release();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * releaseCount);
}

void releaseAllPools(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        kavPool* pool = new kavPool;
        for (int i = 0; i < releaseCount; ++i)
            benchmark::DoNotOptimize(new (pool) benchObject32);
        state.ResumeTiming();
        kavPool::releaseAll(); // deletes `pool`, empties the main pool
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * releaseCount);
}

void deletePooledOneByOne(benchmark::State& state)
{
    kavPool pool;
    pool.setReleaseFlag(false);
    std::vector<benchObject32*> objects(releaseCount);
    for (auto _ : state) {
        state.PauseTiming();
        for (auto& o : objects)
            o = new (&pool) benchObject32;
        state.ResumeTiming();
        for (auto* o : objects)
            delete o;
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * releaseCount);
}

void deleteGlobalOneByOne(benchmark::State& state)
{
    std::vector<benchObject32*> objects(releaseCount);
    for (auto _ : state) {
        state.PauseTiming();
        for (auto& o : objects)
            o = ::new benchObject32;
        state.ResumeTiming();
        for (auto* o : objects)
            ::delete o;
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * releaseCount);
}

void releaseMonotonic(benchmark::State& state)
{
    std::pmr::monotonic_buffer_resource res;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < releaseCount; ++i)
            benchmark::DoNotOptimize(res.allocate(sizeof(benchObject32), alignof(benchObject32)));
        state.ResumeTiming();
        res.release();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * releaseCount);
}

#if KAVLIB_BENCH_BOOST
void releaseBoostPool(benchmark::State& state)
{
    boost::pool<> pool(sizeof(benchObject32));
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < releaseCount; ++i)
            benchmark::DoNotOptimize(pool.malloc());
        state.ResumeTiming();
        pool.purge_memory();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * releaseCount);
}
#endif

void registerRelease()
{
    // A fixed number of iterations: filling the pool between the timed
    // releases takes far longer than the release itself.
    constexpr int iterations = 300;
    const std::string g = "release/" + std::to_string(releaseCount) + "/";
    benchmark::RegisterBenchmark((g + "kavPool_release").c_str(), releasePool)->Iterations(iterations);
    benchmark::RegisterBenchmark((g + "kavPool_releaseAll").c_str(), releaseAllPools)->Iterations(iterations);
    benchmark::RegisterBenchmark((g + "kav_delete_each").c_str(), deletePooledOneByOne)->Iterations(iterations);
    benchmark::RegisterBenchmark((g + "delete_each").c_str(), deleteGlobalOneByOne)->Iterations(iterations);
    benchmark::RegisterBenchmark((g + "monotonic_release").c_str(), releaseMonotonic)->Iterations(iterations);
#if KAVLIB_BENCH_BOOST
    benchmark::RegisterBenchmark((g + "boost_purge").c_str(), releaseBoostPool)->Iterations(iterations);
#endif
}

} // namespace

int main(int argc, char** argv)
{
    keepHeapMemory();
    registerAllocator<KavPoolAlloc>();
    registerAllocator<MallocAlloc>();
    registerAllocator<PmrPoolAlloc>();
#if KAVLIB_BENCH_BOOST
    registerAllocator<BoostPoolAlloc>();
#endif
    registerAllocator<FreeListAlloc>();
    registerAllocator<SharedFreeListAlloc>();
    registerRelease();

    return runBenchmarks(argc, argv);
}
