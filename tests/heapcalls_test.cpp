// Global heap calls made through the library, and what happens when one
// fails.  A pool takes memory from the heap one block of at least 8000 bytes
// at a time (plus one record per block) and gives it back only when it is
// released; recycled pieces never reach the heap.  Every operation that meets
// a failing heap call (std::bad_alloc), or user code that throws, leaves
// every container, table, use count and pool exactly as before it.  This
// program replaces the global operator new and delete (plainpool.h) to count
// and fail the calls, which is why it is an executable of its own.
#include "plainpool.h"
#include "testutil.h"

#include <random>
#include <cstdio>

using namespace heapWatch;

// The heap is called for blocks and their records only, also for 100 000
// small pieces of random sizes (how many blocks they take, pooldiff_test
// checks against the model of the pool).  Once the pools hold what one
// round needs, nothing calls the heap again: objects that live and die in
// containers (their pieces, links and iterators are recycled), texts
// interned again and again, and look-ups of texts never interned (which
// intern nothing).  Releasing the pool gives every one of its blocks back.
TEST_F(kavInitTest, HeapIsCalledForBlocksOnly)
{
    if (KAVLIB_CHECKED)
        GTEST_SKIP() << "the checked build's table of pieces takes heap memory of its own";
    kavKeptPool pool;
    kavList named;
    std::mt19937 random(2024);
    const unsigned int mainBlocks = kavPool::mainPool()->ablocks();
    const long long news = newCalls, deletes = deleteCalls;
    for (int i = 0; i < 100000; ++i)
        ASSERT_NE(pool.alloc(1 + random() % 504), nullptr);
    named.add(*new kavNamedObj(kavString("known")));
    const auto round = [&] {
        kavFifo fifo;
        for (int i = 0; i < 1000; ++i)
            fifo.add(*new (&pool) kavObject);
        for (kavIterPtr it(fifo); it; it++)
            it().hash(4191);
        fifo.removeAll(); // the last holder: every object is deleted here
        for (int i = 0; i < 500; ++i) {
            kavString s(("word" + std::to_string(i * 7919 % 1000)).c_str());
            const std::string absent = "absent" + std::to_string(i); // short: no heap call
            EXPECT_TRUE(kavString::lookup(absent.c_str()) == nullptr && !kavString::find(absent) &&
                        kavNamedObj::findIn(named, absent.c_str()) == nullptr);
        }
    };
    round();
    const long long blocks = pool.ablocks() + kavPool::mainPool()->ablocks() - mainBlocks;
    EXPECT_EQ(newCalls - news, 2 * blocks) << "one block and one record each";
    const long long later = newCalls;
    const int texts = kavStringTbl::table()->count();
    for (int i = 0; i < 20; ++i)
        round();
    // Heap calls made, heap calls given back, texts interned.
    EXPECT_EQ(std::make_tuple(newCalls, deleteCalls, kavStringTbl::table()->count()),
              std::make_tuple(later, deletes, texts));
    const long long own = pool.ablocks();
    pool.release();
    EXPECT_EQ(deleteCalls - deletes, 2 * own);
}

namespace {

// An element `pad` bytes larger than the root (a few of the default size
// fill a pool block), whose construction throws on request, and whose hash
// and comparison throw for key 99.
template <std::size_t pad = 3000>
struct Big : kavTestElem {
    explicit Big(int k, bool fail = false) : kavTestElem(k)
    {
        if (fail)
            throw 3;
    }
    unsigned int hash(int n) const override { return key == 99 ? throw 1 : kavTestElem::hash(n); }
    int objcmp(const kavObject& o) const override { return key == 99 ? throw 2 : kavTestElem::objcmp(o); }
    char bytes[pad] = {};
};

using boxes = std::initializer_list<kavContainer*>;

// Everything the workload made, and the state it is in; at the end the
// containers are emptied and the library reset (the pool and the hash
// container in it go there).
struct World {
    kavPool* pool = nullptr;
    kavKeptPool scratch, raw;
    kavList list;
    kavSList slist;
    kavFifo fifo;
    kavHash<4191>* hash = nullptr;
    Big<> automatic{99}; // not pooled; its hash and comparison throw
    std::vector<kavObject*> made;

    ~World()
    {
        for (kavContainer* c : boxes{&list, &fifo, &slist})
            c->removeAll();
        kavLib::reset();
    }

    // The whole observable state, as text: the containers with their
    // counts, collisions, elements and use counts, the tables' counts, and
    // every pool's detailed report (blocks, free blocks, recycle lists).
    std::string state() const
    {
        std::ostringstream os;
        for (kavFlag flag : {kavFlagPool, kavFlagAddress, kavFlagUseCount, kavFlagHashCounts, kavFlagCount})
            kavLib::set(flag);
        for (const kavContainer* c : std::initializer_list<const kavContainer*>{&list, &slist, &fifo, hash})
            if (c != nullptr)
                c->dump(os, 0, 1);
        // Counts only: walking a table takes an iterator from its pool, which
        // could make that pool's first block here instead of in the armed call.
        for (const kavStringTbl* t : {kavStringTbl::table(), kavStringTbl::tempTable()})
            if (t != nullptr)
                os << "table " << t->count() << " " << t->collisions() << "\n";
        kavPool::printAll(os);
        kavLib::clrAll();
        return os.str();
    }
};

// Runs one library call armed.  When it throws, because a heap call failed
// or because user code did as it was told (`userThrows`: it must throw then),
// nothing may have changed.
void step(World& w, const std::function<void()>& call, bool userThrows = false)
{
    const std::string before = w.state();
    int threw = 0; // 1: bad_alloc, 2: user code
    armed = true;
    try {
        call();
    } catch (const std::bad_alloc&) {
        threw = 1;
    } catch (int) {
        threw = 2;
    }
    armed = false;
    ASSERT_EQ(threw == 2, userThrows && threw != 1) << "user code threw, or failed to, at heap call " << failAt;
    if (threw != 0) {
        ASSERT_EQ(w.state(), before) << "after the failing heap call " << failAt << " (0: user code threw)";
    }
}

// The workload: pools used directly (pieces small and large, blocks
// established, release), objects, every container, user code that throws
// (constructors whose piece came from every source a piece can come from,
// hashes, comparisons), strings, named objects, a temporary table, iterators
// and dumps, removal, and the closing reset.
void workload()
{
    World w;
    step(w, [] { kavLib::init(false); });
    void* pieces[6] = {};
    const unsigned int sizes[6] = {100, 7000, 20000, 16, 9000, 600};
    for (int i = 0; i < 6; ++i)
        step(w, [&] { pieces[i] = w.raw.alloc(sizes[i]); });
    step(w, [&] { w.raw.establish(12000); });
    for (int i : {1, 3, 4})
        if (pieces[i] != nullptr)
            step(w, [&] { w.raw.free(pieces[i], sizes[i]); });
    step(w, [&] { w.raw.alloc(30000); });
    step(w, [&] { w.raw.release(); });
    step(w, [&] { w.pool = new kavPool; });
    if (w.pool == nullptr)
        return;
    step(w, [&] { new (w.pool) Big<>(0, true); }, true); // the first piece: its block goes back
    step(w, [&] { w.hash = new (w.pool) kavHash<4191>; });
    for (int i = 0; i < 24; ++i) {
        kavObject* e = nullptr;
        step(w, [&] { e = i % 2 == 0 ? new (w.pool) Big<>(i) : new (w.pool) kavTestElem(i); });
        if (e == nullptr)
            continue;
        w.made.push_back(e);
        for (kavContainer* c : boxes{&w.list, &w.slist, &w.fifo, w.hash})
            if (c != nullptr)
                step(w, [&] { c->add(*e); });
    }
    for (int i = 0; i < 8; ++i)
        for (kavContainer* c : boxes{&w.list, &w.fifo})
            step(w, [&] { c->add(w.automatic); });
    for (kavContainer* c : boxes{&w.slist, w.hash})
        if (c != nullptr && c->count() > 0)
            step(w, [&] { c->add(w.automatic); }, true);
    step(w, [&] { new (w.pool) Big<>(5, true); }, true); // cut from a free block
    step(w, [&] { delete new (w.pool) Big<8>(6); });
    step(w, [&] { new (w.pool) Big<8>(7, true); }, true);    // taken from a recycle list
    step(w, [&] { new (w.pool) Big<20000>(8, true); }, true); // in a block of its own
    if (kavStringTbl::table() == nullptr)
        return; // init failed: no strings
    for (const char* text : {"alpha", "beta", "alpha", "a much longer text than the others, to take a piece"}) {
        step(w, [&] { kavNamedObj named{kavString(text)}; });
        kavNamedObj* named = nullptr;
        step(w, [&] { named = new (w.pool) kavNamedObj(kavString(text)); });
        if (named == nullptr)
            continue;
        step(w, [&] { w.slist.add(*named); });
        if (named->useCount() == 0)
            delete named;
    }
    step(w, [&] { kavLib::tempInit(&w.scratch); });
    step(w, [&] { kavString t("scratch"); });
    step(w, [] { kavLib::tempReset(); });
    step(w, [] { kavLib::tempInit(nullptr); });
    step(w, [] { kavLib::tempReset(); });
    step(w, [&] { w.state(); }); // every container's dump, every pool's report
    for (std::size_t i = 0; i < w.made.size(); i += 2)
        for (kavContainer* c : boxes{&w.list, &w.fifo})
            step(w, [&] { c->remove(*w.made[i]); });
}

} // namespace

// The sweep: every heap call of the workload fails once, the pool's block
// records and the checked build's tables of pieces included, and each run
// leaves the heap as it found it.
TEST_F(kavLibTest, EveryFailingHeapCallLeavesEverythingAsBefore)
{
    failAt = 0;
    workload(); // a first run, so that what the library keeps for good is made
    armedCalls = 0;
    const long long start = newCalls - deleteCalls;
    workload();
    const long long total = armedCalls;
    EXPECT_EQ(newCalls - deleteCalls, start);
    ASSERT_GT(total, 20);
    for (failAt = 1; failAt <= total; ++failAt) {
        armedCalls = 0;
        workload();
        ASSERT_GE(armedCalls, failAt) << "heap call " << failAt << " was not made";
        ASSERT_EQ(newCalls - deleteCalls, start) << "heap pieces left after failing call " << failAt;
        ASSERT_EQ(std::make_pair(kavPool::npools(), kavPool::apools()), std::make_pair(1u, 0u)) << "pools, their bytes";
        if (HasFatalFailure())
            return;
    }
    failAt = 0;
    std::printf("%lld heap calls, each failed in turn\n", total);
}
