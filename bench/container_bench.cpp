// Container benchmarks: kavList, kavFifo and kavHash<4191> against the
// standard containers a user would otherwise hold object pointers in.
//
//   seq/1000            add 1000 pooled objects, then removeAll; peers
//                       std::forward_list<kavObject*> (push_front, clear)
//                       and std::deque<kavObject*> (push_back, clear)
//   hash_add_remove/N   add N objects, then remove each; peer
//                       std::unordered_set<kavObject*> (insert, erase)
//   hash_find/N         find each of N objects held; peer unordered_set find
//
// The objects live in a pool and carry one use-count reference of the
// benchmark's own, so that leaving a container never deletes them: the
// figures are those of the containers alone.  Every link a kav container
// makes comes from the objects' pool; the standard containers use the
// standard allocator.
#include "benchmain.h"
#include "benchobj.h"

#include <kavlib/kavfifo.h>
#include <kavlib/kavhash.h>
#include <kavlib/kavlist.h>

#include <benchmark/benchmark.h>

#include <deque>
#include <forward_list>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

// N pooled objects, each held once by the benchmark itself.
class objectSet {
public:
    explicit objectSet(int n)
    {
        _pool.setReleaseFlag(false);
        for (int i = 0; i < n; ++i) {
            benchObject32* o = new (&_pool) benchObject32;
            o->up();
            _objects.push_back(o);
        }
    }
    const std::vector<kavObject*>& objects() const { return _objects; }

private:
    kavPool _pool; // released, objects and all, when the set goes
    std::vector<kavObject*> _objects;
};

// Adds the set's objects to a fresh C through put, then empties it through
// clear, once per iteration: the seq/N case of every container.
template <class C, class Put, class Clear>
void seqRounds(benchmark::State& state, int n, Put put, Clear clear)
{
    objectSet set(n);
    C container;
    for (auto _ : state) {
        for (kavObject* o : set.objects())
            put(container, o);
        benchmark::ClobberMemory();
        clear(container);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

template <class C>
void kavSeq(benchmark::State& state, int n)
{
    seqRounds<C>(state, n, [](C& c, kavObject* o) { c.add(*o); }, [](C& c) { c.removeAll(); });
}

void forwardListSeq(benchmark::State& state, int n)
{
    using list = std::forward_list<kavObject*>;
    seqRounds<list>(state, n, [](list& c, kavObject* o) { c.push_front(o); }, [](list& c) { c.clear(); });
}

void dequeSeq(benchmark::State& state, int n)
{
    using fifo = std::deque<kavObject*>;
    seqRounds<fifo>(state, n, [](fifo& c, kavObject* o) { c.push_back(o); }, [](fifo& c) { c.clear(); });
}

// ---- the hash container ----------------------------------------------------

using kavHash4191 = kavHash<4191>;

void kavHashAddRemove(benchmark::State& state, int n)
{
    objectSet set(n);
    auto hash = std::make_unique<kavHash4191>(); // 33 KB of chain heads
    for (auto _ : state) {
        for (kavObject* o : set.objects())
            hash->add(*o);
        benchmark::ClobberMemory();
        for (kavObject* o : set.objects())
            benchmark::DoNotOptimize(hash->remove(*o));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void stdSetAddRemove(benchmark::State& state, int n)
{
    objectSet set(n);
    std::unordered_set<kavObject*> hash;
    for (auto _ : state) {
        for (kavObject* o : set.objects())
            hash.insert(o);
        benchmark::ClobberMemory();
        for (kavObject* o : set.objects())
            benchmark::DoNotOptimize(hash.erase(o));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void kavHashFind(benchmark::State& state, int n)
{
    objectSet set(n);
    auto hash = std::make_unique<kavHash4191>();
    for (kavObject* o : set.objects())
        hash->add(*o);
    for (auto _ : state)
        for (kavObject* o : set.objects())
            benchmark::DoNotOptimize(hash->find(*o));
    state.SetItemsProcessed(state.iterations() * n);
    hash->removeAll();
}

void stdSetFind(benchmark::State& state, int n)
{
    objectSet set(n);
    std::unordered_set<kavObject*> hash;
    for (kavObject* o : set.objects())
        hash.insert(o);
    for (auto _ : state)
        for (kavObject* o : set.objects())
            benchmark::DoNotOptimize(hash.find(o));
    state.SetItemsProcessed(state.iterations() * n);
}

void add(const std::string& name, void (*fn)(benchmark::State&, int), int n)
{
    benchmark::RegisterBenchmark(name.c_str(), fn, n);
}

} // namespace

int main(int argc, char** argv)
{
    add("seq/1000/kavList", kavSeq<kavList>, 1000);
    add("seq/1000/kavFifo", kavSeq<kavFifo>, 1000);
    add("seq/1000/forward_list", forwardListSeq, 1000);
    add("seq/1000/deque", dequeSeq, 1000);
    for (int n : {1000, 10000}) {
        const std::string s = std::to_string(n);
        add("hash_add_remove/" + s + "/kavHash", kavHashAddRemove, n);
        add("hash_add_remove/" + s + "/unordered_set", stdSetAddRemove, n);
        add("hash_find/" + s + "/kavHash", kavHashFind, n);
        add("hash_find/" + s + "/unordered_set", stdSetFind, n);
    }

    return runBenchmarks(argc, argv);
}
