// Memory resource benchmarks: the standard pmr containers over
// kavPoolResource against the same containers over
// std::pmr::unsynchronized_pool_resource and over the default resource
// (global operator new).
//
// Every case is named GROUP/PARAM/VARIANT (variants kavPool, pmr_pool,
// new_delete), one container built and destroyed per iteration:
//   vector/1000   push_back of 1000 ints (the vector grows by reallocation)
//   map/1000      1000 int keys inserted in a shuffled order, one node each
//   strings/1000  1000 strings of 40 characters pushed into a vector
// Times are per element (items_per_second counts elements).
#include "benchmain.h"

#include <kavlib/kavpool.h>
#include <kavlib/kavresource.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <memory_resource>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int elements = 1000;

// The resource each variant builds its containers over, made once per case.
struct KavResource {
    static constexpr const char* name = "kavPool";
    std::pmr::memory_resource* get() { return &_resource; }
    kavPool _pool;
    kavPoolResource _resource{&_pool};
};
struct PmrPoolResource {
    static constexpr const char* name = "pmr_pool";
    std::pmr::memory_resource* get() { return &_resource; }
    std::pmr::unsynchronized_pool_resource _resource;
};
struct NewDeleteResource {
    static constexpr const char* name = "new_delete";
    std::pmr::memory_resource* get() { return std::pmr::new_delete_resource(); }
};

template <class R>
void vectorPushBack(benchmark::State& state)
{
    R r;
    for (auto _ : state) {
        std::pmr::vector<int> v(r.get());
        for (int i = 0; i < elements; ++i)
            v.push_back(i);
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(state.iterations() * elements);
}

template <class R>
void mapInsert(benchmark::State& state)
{
    std::vector<int> keys(elements);
    std::iota(keys.begin(), keys.end(), 0);
    std::shuffle(keys.begin(), keys.end(), std::mt19937(42));
    R r;
    for (auto _ : state) {
        std::pmr::map<int, int> m(r.get());
        for (int k : keys)
            m.emplace(k, k);
        benchmark::DoNotOptimize(m.size());
    }
    state.SetItemsProcessed(state.iterations() * elements);
}

template <class R>
void stringsPushBack(benchmark::State& state)
{
    const std::string text(40, 'x');
    R r;
    for (auto _ : state) {
        std::pmr::vector<std::pmr::string> v(r.get());
        for (int i = 0; i < elements; ++i)
            v.emplace_back(text);
        benchmark::DoNotOptimize(v.data());
    }
    state.SetItemsProcessed(state.iterations() * elements);
}

template <class R>
void registerCases()
{
    const std::string n = "/" + std::to_string(elements) + "/" + R::name;
    benchmark::RegisterBenchmark(("vector" + n).c_str(), vectorPushBack<R>);
    benchmark::RegisterBenchmark(("map" + n).c_str(), mapInsert<R>);
    benchmark::RegisterBenchmark(("strings" + n).c_str(), stringsPushBack<R>);
}

} // namespace

int main(int argc, char** argv)
{
    registerCases<KavResource>();
    registerCases<PmrPoolResource>();
    registerCases<NewDeleteResource>();
    return runBenchmarks(argc, argv);
}
