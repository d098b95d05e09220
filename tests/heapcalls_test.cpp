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

#include <cstdio>
#include <functional>
#include <optional>
#include <random>
#include <utility>
#include <vector>

using namespace heapWatch;

// 100 000 small pieces of random sizes: one block and one block record per
// 8000 bytes of pieces, give or take the block ends that no piece filled.
// Then a million frees and allocations, each slot keeping its size, are all
// met from the recycle lists; releasing the pool gives every block back.
TEST_F(kavLibTest, SmallPiecesCostOneHeapCallPerBlock)
{
    if (KAVLIB_CHECKED)
        GTEST_SKIP() << "the checked build's table of pieces takes heap memory of its own";
    kavKeptPool pool;
    std::mt19937 random(2024);
    std::vector<std::pair<void*, unsigned int>> live(100000);
    unsigned long long bytes = 0;
    const long long news = newCalls, deletes = deleteCalls;
    for (auto& [p, n] : live) {
        n = 1 + random() % 504;
        ASSERT_NE(p = pool.alloc(n), nullptr);
        bytes += kavPool::roundSize(n);
    }
    const long long blockNews = newCalls - news;
    EXPECT_EQ(blockNews, 2 * static_cast<long long>(pool.ablocks())) << "one block and one record each";
    EXPECT_LE(pool.ablocks(), bytes / 8000 + 1) << "bytes in pieces: " << bytes;
    for (int i = 0; i < 1000000; ++i) {
        auto& [p, n] = live[random() % live.size()];
        pool.free(p, n);
        p = pool.alloc(n);
    }
    EXPECT_EQ(newCalls - news, blockNews);
    EXPECT_EQ(deleteCalls, deletes);
    pool.release();
    EXPECT_EQ(deleteCalls - deletes, blockNews);
}

// Objects that live and die in a container, and texts interned again and
// again: once the pools hold what one round needs, later rounds make no heap
// call at all (links, iterators, candidates and their texts are recycled).
// Look-ups of texts never interned make none either, and intern nothing.
TEST_F(kavInitTest, ObjectsContainersAndInterningRecycleTheirPieces)
{
    if (KAVLIB_CHECKED)
        GTEST_SKIP() << "the checked build's table of pieces takes heap memory of its own";
    kavKeptPool pool;
    kavList named;
    named.add(*new kavNamedObj(kavString("known")));
    auto round = [&] {
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
    const unsigned int blocksBefore = kavPool::mainPool()->ablocks();
    const long long news = newCalls;
    round();
    EXPECT_EQ(newCalls - news, 2 * static_cast<long long>(pool.ablocks() + kavPool::mainPool()->ablocks() - blocksBefore))
        << "the first round: blocks and records only";
    const long long later = newCalls, laterDeletes = deleteCalls;
    const int texts = kavStringTbl::table()->count();
    for (int i = 0; i < 20; ++i)
        round();
    EXPECT_EQ(newCalls, later);
    EXPECT_EQ(deleteCalls, laterDeletes);
    EXPECT_EQ(kavStringTbl::table()->count(), texts);
}

namespace {

// An element large enough that a few of them fill a pool block.
struct Big : kavTestElem {
    explicit Big(int k) : kavTestElem(k) {}
    char pad[3000] = {};
};

// Everything the workload made, and the state it is in.
struct World {
    kavPool* pool = nullptr;
    kavPool scratch, raw;
    kavList list;
    kavSList slist;
    kavFifo fifo;
    kavHash<4191>* hash = nullptr;
    kavTestElem automatic{-1};
    std::vector<kavObject*> made;

    World() { scratch.setReleaseFlag(false), raw.setReleaseFlag(false); }

    // The whole observable state, as text: containers with their elements
    // and use counts, the tables, every pool's detailed report.
    std::string state() const
    {
        std::ostringstream os;
        const auto show = [&](const char* name, const kavContainer& c) {
            os << name << c.count() << ":";
            for (kavObject* o : walk(c))
                os << static_cast<const void*>(o) << "/" << o->useCount() << " ";
            os << "\n";
        };
        show("list", list), show("slist", slist), show("fifo", fifo);
        if (hash != nullptr)
            show("hash", *hash), os << "collisions " << hash->collisions() << "\n";
        for (const kavStringTbl* t : {kavStringTbl::table(), kavStringTbl::tempTable()})
            if (t != nullptr)
                os << "table " << t->count() << " " << t->collisions() << "\n";
        os << "pools " << kavPool::npools() << " " << kavPool::apools() << " " << kavPool::upools() << "\n";
        kavLib::set(kavFlagPool); // blocks, free blocks, recycle lists
        kavPool::printAll(os);
        kavLib::clr(kavFlagPool);
        return os.str();
    }
};

using boxes = std::initializer_list<kavContainer*>;

// Runs one library call armed; when it fails, nothing may have changed.
void step(World& w, const std::function<void()>& call)
{
    const std::string before = w.state();
    armed = true;
    try {
        call();
        armed = false;
    } catch (const std::bad_alloc&) {
        armed = false;
        ASSERT_EQ(w.state(), before) << "after the failing heap call " << failAt;
    }
}

// The workload: pools used directly (pieces small and large, blocks
// established, release), objects, every container, strings, named objects,
// a temporary table, iterators and dumps, removal, and the closing reset.
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
        return kavLib::reset();
    step(w, [&] { w.hash = new (w.pool) kavHash<4191>; });
    for (int i = 0; i < 24; ++i) {
        kavObject* e = nullptr;
        step(w, [&] { e = i % 2 == 0 ? new (w.pool) Big(i) : new (w.pool) kavTestElem(i); });
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
    for (const char* text : {"alpha", "beta", "alpha", "a much longer text than the others, to take a piece"}) {
        if (kavStringTbl::table() == nullptr)
            break; // init failed: no strings
        std::optional<kavString> s;
        step(w, [&] { s.emplace(text); });
        if (!s)
            continue;
        step(w, [&] { kavNamedObj named(*s); });
        kavNamedObj* named = nullptr;
        step(w, [&] { named = new (w.pool) kavNamedObj(*s); });
        if (named == nullptr)
            continue;
        step(w, [&] { w.slist.add(*named); });
        if (named->useCount() == 0)
            delete named;
    }
    if (kavStringTbl::table() == nullptr)
        return w.slist.removeAll(), w.list.removeAll(), w.fifo.removeAll(), kavLib::reset();
    step(w, [&] { kavLib::tempInit(&w.scratch); });
    step(w, [&] { kavString t("scratch"); });
    step(w, [] { kavLib::tempReset(); });
    step(w, [] { kavLib::tempInit(nullptr); });
    step(w, [] { kavLib::tempReset(); });
    step(w, [&] {
        std::ostringstream os;
        kavLib::set(5);
        w.list.dump(os, 0, 1);
        if (w.hash != nullptr)
            w.hash->dump(os, 0, 1);
        kavLib::clr(5);
    });
    for (std::size_t i = 0; i < w.made.size(); i += 2)
        for (kavContainer* c : boxes{&w.list, &w.fifo})
            step(w, [&] { c->remove(*w.made[i]); });
    w.list.removeAll();
    w.fifo.removeAll();
    w.slist.removeAll();
    kavLib::reset(); // the pool and the hash container in it go here
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
        failed = false;
        workload();
        ASSERT_TRUE(failed) << "heap call " << failAt << " was not made";
        ASSERT_EQ(newCalls - deleteCalls, start) << "heap pieces left after failing call " << failAt;
        ASSERT_EQ(kavPool::npools(), 1u);
        ASSERT_EQ(kavPool::apools(), 0u);
        if (HasFatalFailure())
            return;
    }
    failAt = 0;
    std::printf("%lld heap calls, each failed in turn\n", total);
}

namespace {

// An element whose comparison, hash or construction throws on request.
struct Touchy : kavTestElem {
    explicit Touchy(int k, bool fail = false) : kavTestElem(k)
    {
        if (fail)
            throw 3;
    }
    unsigned int hash(int n) const override
    {
        if (key == 99)
            throw 1;
        return kavTestElem::hash(n);
    }
    int objcmp(const kavObject& o) const override
    {
        if (key == 99)
            throw 2;
        return kavTestElem::objcmp(o);
    }
};

} // namespace

// Throwing user code changes nothing either: no link, no use count, no piece.
TEST_F(kavLibTest, ThrowingUserCodeLeavesEverythingAsBefore)
{
    kavKeptPool pool;
    kavSList slist;
    auto* hash = new (&pool) kavHash<4191>;
    auto* a = new (&pool) Touchy(1);
    auto* bad = new (&pool) Touchy(99);
    slist.add(*a);
    hash->add(*a);
    const unsigned int used = pool.umem();
    EXPECT_THROW(slist.add(*bad), int);
    EXPECT_THROW(hash->add(*bad), int);
    EXPECT_THROW(new (&pool) Touchy(5, true), int);
    EXPECT_EQ(pool.umem(), used);
    EXPECT_EQ(bad->useCount(), 0);
    EXPECT_EQ(slist.count() + hash->count(), 2);
    slist.removeAll();
    delete hash;
    delete bad;
}

namespace {

// Where the last Refuser was placed before its constructor threw.
void* refusedAt = nullptr;

// An object of about `pad` bytes more than the root, whose constructor throws.
template <std::size_t pad>
struct Refuser : kavObject {
    Refuser()
    {
        refusedAt = this;
        throw 4;
    }
    char bytes[pad];
};

} // namespace

// A constructor that throws inside new (pool) T leaves the pool exactly as
// before, wherever its piece came from: the whole report (blocks, free
// blocks, recycle lists), the heap's balance, and the piece that the next
// equal request gets.
TEST_F(kavLibTest, FailedConstructionLeavesThePoolExactlyAsBefore)
{
    kavKeptPool pool;
    kavLib::set(kavFlagPool);
    const auto report = [] {
        std::ostringstream os;
        kavPool::printAll(os);
        return os.str();
    };
    // Fails one construction of `size` bytes; the next equal request gets
    // the same piece, unless a block was added for it (size 0: the heap
    // chooses where the next one lies).
    const auto refuse = [&](auto make, unsigned int size) {
        const std::string before = report();
        const long long heap = newCalls - deleteCalls;
        EXPECT_THROW(make(), int);
        EXPECT_EQ(report(), before);
        EXPECT_EQ(newCalls - deleteCalls, heap);
        if (size != 0) {
            EXPECT_EQ(pool.alloc(size), refusedAt);
        }
    };
    const unsigned int tiny = sizeof(Refuser<16>), small = sizeof(Refuser<176>), large = sizeof(Refuser<600>);
    // The first piece of a pool without blocks: the block goes back.
    refuse([&] { new (&pool) Refuser<176>; }, 0);
    // Cut from the unused part of a block.
    pool.alloc(100);
    refuse([&] { new (&pool) Refuser<176>; }, small);
    // Taken from a recycle list (the newer of two pieces).
    void* older = pool.alloc(tiny);
    void* newer = pool.alloc(tiny);
    pool.free(older, tiny);
    pool.free(newer, tiny);
    refuse([&] { new (&pool) Refuser<16>; }, tiny);
    // Split from a larger free block below the unused part.
    void* hole = pool.alloc(1000);
    pool.alloc(1000); // keeps the hole apart from the unused part
    pool.free(hole, 1000);
    refuse([&] { new (&pool) Refuser<176>; }, small);
    // A large piece, cut from the rest of that free block.
    refuse([&] { new (&pool) Refuser<600>; }, large);
    // A large piece that needs a block of its own.
    refuse([&] { new (&pool) Refuser<20000>; }, 0);
    EXPECT_EQ(pool.ablocks(), 1u);
}
