// Object benchmarks: making and deleting a 32-byte kavObject in a pool
// (`new (pool) T`, then `delete`) against the global heap (`::new T`, then
// `::delete`) for the very same class.
//
//   new_delete_hot/32   one object made and deleted, over and over
//   new_delete_lifo/32  1000 objects made, then deleted newest first
//
// Variants: kav_pool (a pool of its own), kav_main (no pool named: the main
// pool), global (the global operator new and delete).
#include "benchobj.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr int batch = 1000;

enum class Where { pool, mainPool, global };

benchObject32* make(Where where, kavPool* pool)
{
    switch (where) {
    case Where::pool:
        return new (pool) benchObject32;
    case Where::mainPool:
        return new benchObject32;
    case Where::global:
        break;
    }
    return ::new benchObject32;
}

void destroy(Where where, benchObject32* o)
{
    if (where == Where::global)
        ::delete o;
    else
        delete o;
}

template <Where where>
void hot(benchmark::State& state)
{
    kavPool pool;
    pool.setReleaseFlag(false);
    destroy(where, make(where, &pool)); // the first block is not part of the loop
    for (auto _ : state) {
        benchObject32* o = make(where, &pool);
        benchmark::DoNotOptimize(o);
        destroy(where, o);
    }
    state.SetItemsProcessed(state.iterations());
}

template <Where where>
void lifo(benchmark::State& state)
{
    kavPool pool;
    pool.setReleaseFlag(false);
    std::vector<benchObject32*> objects(batch);
    auto round = [&] {
        for (auto& o : objects)
            o = make(where, &pool);
        benchmark::ClobberMemory();
        for (auto it = objects.rbegin(); it != objects.rend(); ++it)
            destroy(where, *it);
        benchmark::ClobberMemory();
    };
    round();
    for (auto _ : state)
        round();
    state.SetItemsProcessed(state.iterations() * batch);
}

} // namespace

BENCHMARK(hot<Where::pool>)->Name("new_delete_hot/32/kav_pool");
BENCHMARK(hot<Where::mainPool>)->Name("new_delete_hot/32/kav_main");
BENCHMARK(hot<Where::global>)->Name("new_delete_hot/32/global");
BENCHMARK(lifo<Where::pool>)->Name("new_delete_lifo/32/kav_pool");
BENCHMARK(lifo<Where::mainPool>)->Name("new_delete_lifo/32/kav_main");
BENCHMARK(lifo<Where::global>)->Name("new_delete_lifo/32/global");

BENCHMARK_MAIN();
