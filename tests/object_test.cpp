// The object root: pooled and unpooled creation, use counting, deletion into
// the pool, comparison, hashing, the object line and class identity.
#include "testutil.h"

#include <set>

namespace {

// Makes a pooled object of its own, in its own pool, while it is being built.
struct Maker : kavObject {
    Maker() : inner(new (getPool()) kavObject) {}
    ~Maker() override { delete inner; }
    kavObject* inner;
};

// Takes an object as a constructor argument; holds a member object.
struct Holder : kavObject {
    explicit Holder(kavObject* o) : held(o) {}
    kavObject* held;
    kavObject member;
};

// Large enough to go back among the free blocks rather than onto a recycle list.
struct Big : kavObject { char pad[600] = {}; };

kavObject staticObject;

} // namespace

// new (nullptr) T uses the main pool; only down() from 1 to 0 deletes,
// giving the piece of the dynamic class's size back to its own pool.
TEST_F(kavLibTest, PooledObjectsAreCountedAndDeletedIntoTheirPool)
{
    kavObject* inMain = new (nullptr) kavObject;
    EXPECT_EQ(inMain->getPool(), kavPool::mainPool());
    delete inMain;
    kavPool* pool = new kavPool;
    const unsigned int piece = kavPool::roundSize(sizeof(kavTestElem));
    kavTestElem::deaths = 0;
    auto* e = new (pool) kavTestElem;
    e->down(); // 0 to -1: nothing happens
    e->up();
    e->up();
    EXPECT_TRUE(e->useCount() == 1 && kavTestElem::deaths == 0);
    e->down();
    EXPECT_TRUE(kavTestElem::deaths == 1 && pool->umem() == 0u && pool->rmem() == piece);
    EXPECT_EQ(new (pool) kavTestElem, e);
    delete new (pool) Big;
    EXPECT_EQ(pool->fmem() + piece, pool->amem());
    delete e;
}

// Only objects made by new get a pool, each its own, also when made in a
// constructor or in the arguments of another new-expression.  Stack, static,
// member, array-element, placed and copied objects have no pool and no count.
TEST_F(kavLibTest, OnlyObjectsMadeByNewArePooled)
{
    kavPool *p1 = new kavPool, *p2 = new kavPool;
    Holder* h = new (p1) Holder(new (p2) Holder(new (p2) Maker));
    auto* h2 = static_cast<Holder*>(h->held);
    auto* m = static_cast<Maker*>(h2->held);
    Holder local(new (p1) kavObject);
    EXPECT_EQ((std::vector<kavPool*>{h->getPool(), h2->getPool(), m->getPool(), m->inner->getPool(), local.held->getPool()}),
              (std::vector<kavPool*>{p1, p2, p2, p2, p1}));

    kavObject onStack, array[2];
    kavObject* heapArray = new kavObject[2];
    alignas(kavObject) unsigned char storage[sizeof(kavObject)];
    kavObject* placed = new (storage) kavObject;
    local.held->up();
    kavObject copy(*local.held);
    for (kavObject* o : {&onStack, &array[1], &staticObject, &h->member, static_cast<kavObject*>(&local),
                         &heapArray[1], placed, &copy}) {
        o->up();
        o->down();
        EXPECT_TRUE(o->getPool() == nullptr && o->useCount() == 0);
    }
    delete[] heapArray;
    placed->~kavObject();
}

// The root compares and hashes by address; objEqual and objLess ask their
// first argument.  Every class answers isA for its own name and its bases'
// (by pointer) and for no other; no two classes share a name.
TEST_F(kavInitTest, ComparisonHashAndClassIdentity)
{
    kavObject pair[2];
    kavObject &lo = pair[0], &hi = pair[1];
    EXPECT_EQ((std::vector<int>{lo.objcmp(lo), lo.objcmp(hi), hi.objcmp(lo)}), (std::vector<int>{0, -1, 1}));
    EXPECT_TRUE(lo.isEqual(lo) && !lo.isEqual(hi));
    kavRankedObj yes(-1, true), no(0, false);
    EXPECT_TRUE(objEqual(yes, no) && !objEqual(no, yes) && objLess(yes, no) && !objLess(no, yes));
    EXPECT_EQ(hi.hash(4191), (reinterpret_cast<std::uintptr_t>(&hi) >> 3) % 4191);

    kavObject obj;
    kavList list;
    kavSList slist;
    kavFifo fifo;
    kavHash<4191> hash;
    kavStrElem elem("abc");
    kavString str(&elem);
    kavNamedObj named(str);
    kavListIter li(&list);
    kavSListIter si(&slist);
    kavFifoIter fi(&fifo);
    kavHashIter<4191> hashIt(&hash);
    const kavStringTbl* table = kavStringTbl::table();
    const auto C = kavContainerClass, I = kavIteratorClass;
    const std::vector<std::pair<const kavObject*, const char*>> tree = {
        {&obj, nullptr}, {&elem, nullptr}, {&str, nullptr}, {&named, nullptr}, {&list, C}, {&slist, C}, {&fifo, C},
        {&hash, C},      {table, C},       {&li, I},         {&si, I},         {&fi, I},    {&hashIt, I}};
    std::set<std::string> names{C, I};
    for (const auto& [o, base] : tree) {
        EXPECT_TRUE(names.insert(o->className()).second) << o->className();
        EXPECT_TRUE(o->isA(C) == (base == C) && o->isA(I) == (base == I)) << o->className();
        for (const auto& [other, b] : tree)
            EXPECT_EQ(o->isA(other->className()), o == other || other == &obj || (o == table && other == &hash))
                << o->className() << " " << other->className();
    }
    const char sameLetters[] = "kavObject";
    EXPECT_FALSE(obj.isA(sameLetters));
}

// A constructor that throws gives its whole piece back, whatever the size of
// its class: when it throws before anything else (the checked build would
// report a size that rounds differently), after making pooled objects of its
// own, and when an argument of the new-expression throws before any
// constructor runs.
TEST_F(kavLibTest, ThrowingConstructorGivesTheWholePieceBack)
{
    struct Failing : kavObject {
        explicit Failing(int inner)
        {
            for (int i = 0; i < inner; ++i)
                delete new (getPool()) kavObject;
            throw 1;
        }
        char pad[200] = {};
    };
    const auto fail = []() -> int { throw 2; };
    kavKeptPool pool;
    for (int inner : {0, 3}) {
        EXPECT_THROW(new (&pool) Failing(inner), int);
        EXPECT_EQ(pool.umem(), 0u);
    }
    EXPECT_THROW(new (&pool) Failing(fail()), int);
    EXPECT_THROW(new (nullptr) Failing(0), int);
    EXPECT_EQ(pool.umem() + kavPool::mainPool()->umem(), 0u);
    EXPECT_EQ(pool.rmem(), pooledSize(sizeof(Failing)) + pooledSize(sizeof(kavObject)));
}
