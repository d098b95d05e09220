// The object root: pooled and unpooled creation in every path, use counting,
// deletion into the pool, comparison, identity and the object line.
#include "testutil.h"

#include <cstdint>
#include <sstream>

namespace {

const unsigned int objPiece = kavPool::roundSize(sizeof(kavObject));

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
struct Big : kavObject {
    char pad[600] = {};
};

kavObject staticObject;

std::string addressOf(const void* p)
{
    std::ostringstream os;
    os << p;
    return os.str();
}

} // namespace

// new (pool) T, new T and new (nullptr) T are pooled; the main pool stands in for null.
TEST_F(kavLibTest, NewExpressionsMakePooledObjects)
{
    kavPool* pool = new kavPool;
    kavPool* main = kavPool::mainPool();
    kavObject* a = new (pool) kavObject;
    EXPECT_EQ(a->getPool(), pool);
    EXPECT_EQ(a->useCount(), 0);
    EXPECT_EQ(pool->umem(), objPiece);

    const unsigned int mainUsed = main->umem();
    kavObject *b = new kavObject, *c = new (nullptr) kavObject;
    EXPECT_EQ(b->getPool(), main);
    EXPECT_EQ(c->getPool(), main);
    EXPECT_EQ(main->umem(), mainUsed + 2 * objPiece);
    kavLib::set(0);
    EXPECT_EQ(dumpText(*c, 0, 0), "kavObject P[0] ");
    delete a;
    delete b;
    delete c;
    EXPECT_EQ(main->umem(), mainUsed);
}

// Nesting: an object made in a constructor and one made in the arguments of a
// new-expression each get their own pool; unpooled ones made between stay unpooled.
TEST_F(kavLibTest, NestedCreationKeepsEachObjectsPool)
{
    kavPool* p1 = new kavPool;
    kavPool* p2 = new kavPool;
    Maker* m = new (p1) Maker;
    EXPECT_EQ(m->getPool(), p1);
    EXPECT_EQ(m->inner->getPool(), p1);

    Holder* h = new (p1) Holder(new (p2) Holder(new (p2) Maker));
    EXPECT_EQ(h->getPool(), p1);
    EXPECT_EQ(h->member.getPool(), nullptr);
    auto* h2 = static_cast<Holder*>(h->held);
    EXPECT_EQ(h2->getPool(), p2);
    EXPECT_EQ(h2->held->getPool(), p2);
    EXPECT_EQ(static_cast<Maker*>(h2->held)->inner->getPool(), p2);

    Holder local(new (p2) kavObject);
    EXPECT_EQ(local.getPool(), nullptr);
    EXPECT_EQ(local.held->getPool(), p2);

    EXPECT_EQ(p1->umem(), kavPool::roundSize(sizeof(Maker)) + objPiece + kavPool::roundSize(sizeof(Holder)));
    delete static_cast<Maker*>(h2->held);
    delete h2;
    delete local.held;
    EXPECT_EQ(p2->umem(), 0u);
}

// Stack, static, member and array-element objects have no pool and no count.
TEST_F(kavLibTest, ObjectsNotMadeByNewAreUnpooled)
{
    kavPool* main = kavPool::mainPool();
    const unsigned int mainUsed = main->umem();
    kavObject onStack;
    Holder withMember(nullptr);
    kavObject array[3];
    kavObject* heapArray = new kavObject[2];
    for (kavObject* o : {&onStack, &staticObject, &withMember.member, &array[1], &heapArray[1]}) {
        EXPECT_EQ(o->getPool(), nullptr);
        o->up();
        o->up();
        o->down();
        EXPECT_EQ(o->useCount(), 0);
    }
    EXPECT_EQ(withMember.getPool(), nullptr);
    EXPECT_EQ(main->umem(), mainUsed);
    delete[] heapArray;

    // Storage that happens to hold the allocation marker does not make an object pooled.
    alignas(kavObject) unsigned int storage[sizeof(kavObject) / sizeof(unsigned int)];
    for (unsigned int& word : storage)
        word = 0xFEDBAC0;
    kavObject* placed = new (storage) kavObject;
    EXPECT_EQ(placed->getPool(), nullptr);
    EXPECT_EQ(placed->useCount(), 0);
    placed->~kavObject();

    kavLib::set(0);
    kavLib::set(3);
    EXPECT_EQ(dumpText(onStack, 0, 0), "kavObject P[-1] RC[0] ");
}

// A copy takes neither pool nor count from its source; assignment keeps the target's.
TEST_F(kavLibTest, CopyAndAssignmentLeaveTheRootPartAlone)
{
    kavPool* p1 = new kavPool;
    kavPool* p2 = new kavPool;
    kavObject* src = new (p1) kavObject;
    src->up();
    kavObject copy(*src);
    kavObject* pooledCopy = new (p2) kavObject(*src);
    EXPECT_EQ(copy.getPool(), nullptr);
    EXPECT_EQ(copy.useCount(), 0);
    EXPECT_EQ(pooledCopy->getPool(), p2);
    EXPECT_EQ(pooledCopy->useCount(), 0);

    *src = copy;
    EXPECT_EQ(src->getPool(), p1);
    EXPECT_EQ(src->useCount(), 1);
    copy = *src;
    EXPECT_EQ(copy.getPool(), nullptr);
    EXPECT_EQ(copy.useCount(), 0);
    delete src;
    delete pooledCopy;
}

// Only the step of down() from 1 to 0 deletes; a count below 0 keeps the object.
TEST_F(kavLibTest, DownDeletesOnlyOnTheStepToZero)
{
    kavPool* pool = new kavPool;
    kavTestElem::deaths = 0;
    kavTestElem* e = new (pool) kavTestElem;
    e->down();
    EXPECT_EQ(e->useCount(), -1);
    e->up();
    EXPECT_EQ(e->useCount(), 0);
    e->up();
    e->up();
    EXPECT_EQ(e->useCount(), 2);
    e->down();
    EXPECT_EQ(kavTestElem::deaths, 0);
    e->down();
    EXPECT_EQ(kavTestElem::deaths, 1);
    EXPECT_EQ(pool->umem(), 0u);
    EXPECT_EQ(pool->rmem(), kavPool::roundSize(sizeof(kavTestElem)));
}

// Deleting gives the piece of the dynamic class's size back to the object's own pool.
TEST_F(kavLibTest, DeleteReturnsThePieceToItsPool)
{
    kavPool* pool = new kavPool;
    kavObject* small = new (pool) kavObject;
    delete small;
    EXPECT_EQ(pool->umem(), 0u);
    EXPECT_EQ(pool->rmem(), objPiece);
    EXPECT_EQ(pool->rblocks(), 1u);
    kavObject* again = new (pool) kavObject;
    EXPECT_EQ(again, small);
    EXPECT_EQ(pool->rmem(), 0u);

    kavObject* big = new (pool) Big;
    EXPECT_EQ(big->getPool(), pool);
    delete big;
    EXPECT_EQ(pool->umem(), objPiece);
    EXPECT_EQ(pool->fmem() + objPiece, pool->amem());
    EXPECT_EQ(pool->fblocks(), 1u);
    delete again;
}

namespace {
// isEqual answers `greedy` for every other object; objcmp always answers `order`.
struct Biased : kavObject {
    Biased(bool g, int o) : greedy(g), order(o) {}
    bool isEqual(const kavObject&) const override { return greedy; }
    int objcmp(const kavObject&) const override { return order; }
    bool greedy;
    int order;
};
} // namespace

// The root compares and hashes by address; objEqual and objLess ask their first argument.
TEST_F(kavLibTest, ComparisonAndHash)
{
    kavObject pair[2];
    kavObject &lo = pair[0], &hi = pair[1];
    EXPECT_EQ(lo.objcmp(lo), 0);
    EXPECT_EQ(lo.objcmp(hi), -1);
    EXPECT_EQ(hi.objcmp(lo), 1);
    EXPECT_TRUE(objLess(lo, hi));
    EXPECT_FALSE(objLess(hi, lo));
    EXPECT_FALSE(objLess(lo, lo));
    EXPECT_TRUE(objEqual(lo, lo));
    EXPECT_FALSE(objEqual(lo, hi));
    Biased yes(true, -1), no(false, 1);
    EXPECT_TRUE(objEqual(yes, no));
    EXPECT_FALSE(objEqual(no, yes));
    EXPECT_TRUE(objLess(yes, no));
    EXPECT_FALSE(objLess(no, yes));

    const auto addr = reinterpret_cast<std::uintptr_t>(&lo);
    EXPECT_EQ(lo.hash(4191), (addr >> 3) % 4191);
    EXPECT_EQ(lo.hash(4191), lo.hash(4191));
    EXPECT_EQ(lo.hash(1), 0u);
    EXPECT_EQ(hi.hash(7), ((addr + sizeof(kavObject)) >> 3) % 7);
}

// The object line: indentation, class, then @, P and RC under flags 1, 0 and 3.
TEST_F(kavLibTest, ObjectLineShowsTheFlaggedFields)
{
    new kavPool;
    kavPool* pool = new kavPool;
    kavObject* o = new (pool) kavObject;
    o->up();
    const std::string at = "@[" + addressOf(o) + "] ";
    EXPECT_EQ(dumpText(*o, 0, 0), "kavObject ");
    EXPECT_EQ(dumpText(*o, 3, 1), "   kavObject \n");
    kavLib::set(1);
    EXPECT_EQ(dumpText(*o, 0, 0), "kavObject " + at);
    EXPECT_EQ(maskPointers(dumpText(*o, 0, 0)), "kavObject @[@PTR] ");
    kavLib::clr(1);
    kavLib::set(0);
    EXPECT_EQ(dumpText(*o, 0, 0), "kavObject P[2] ");
    kavLib::clr(0);
    kavLib::set(3);
    EXPECT_EQ(dumpText(*o, 0, 0), "kavObject RC[1] ");
    kavLib::set(0);
    kavLib::set(1);
    EXPECT_EQ(dumpText(*o, 4, 1), "    kavObject " + at + "P[2] RC[1] \n");
    for (int unrelated : {2, 4, 5, 6})
        kavLib::set(unrelated);
    EXPECT_EQ(dumpText(*o, 0, 0), "kavObject " + at + "P[2] RC[1] ");
    o->down();
}

namespace {
const char* const* const allNames[] = {
    &kavObjectClass,    &kavContainerClass, &kavListClass,     &kavSListClass,     &kavFifoClass,
    &kavHashClass,      &kavStringTblClass, &kavIteratorClass, &kavListIterClass,  &kavSListIterClass,
    &kavFifoIterClass,  &kavHashIterClass,  &kavNamedObjClass, &kavStringClass,    &kavStrElemClass,
    &kavPoolClass,      &kavLinkObjClass,   &kavIterPtrClass,  &kavSptrClass};

// isA(name) is true exactly for the names in `chain`; className() is chain[0].
template <class T>
void expectIdentity(const T& o, std::vector<const char*> chain)
{
    SCOPED_TRACE(chain.front());
    EXPECT_EQ(o.className(), chain.front());
    for (const char* const* name : allNames) {
        bool expected = false;
        for (const char* c : chain)
            expected = expected || c == *name;
        EXPECT_EQ(o.isA(*name), expected) << *name;
    }
}
} // namespace

// Every class answers isA along its own chain of bases and nothing else.
TEST_F(kavInitTest, ClassIdentityFollowsTheClassTree)
{
    const char* texts[] = {"kavObject",  "kavContainer", "kavList",        "kavSList",    "kavFifo",
                           "kavHash",    "kavStringTblClass", "kavIterator", "kavListIter", "kavSListIter",
                           "kavFifoIter", "kavHashIter", "kavNamedObj",     "kavStringClass", "kavStrElem",
                           "kavPool",    "kavLinkObj",   "kavIterPtr",     "kavSptr"};
    for (int i = 0; i < 19; ++i)
        EXPECT_STREQ(*allNames[i], texts[i]);

    const char* C = kavContainerClass;
    const char* I = kavIteratorClass;
    const char* O = kavObjectClass;
    kavObject obj;
    kavList list;
    kavSList slist;
    kavFifo fifo;
    kavHash<4191> hash;
    kavStrElem elem("abc");
    kavString str(&elem);
    kavNamedObj named(str);
    kavLinkObj link(obj);
    kavIterPtr handle(list);
    expectIdentity(obj, {O});
    expectIdentity<kavObject>(list, {kavListClass, C, O});
    expectIdentity<kavObject>(slist, {kavSListClass, C, O});
    expectIdentity<kavObject>(fifo, {kavFifoClass, C, O});
    expectIdentity<kavObject>(hash, {kavHashClass, C, O});
    expectIdentity<kavObject>(*kavStringTbl::table(), {kavStringTblClass, kavHashClass, C, O});
    expectIdentity(kavListIter(&list), {kavListIterClass, I, O});
    expectIdentity(kavSListIter(&slist), {kavSListIterClass, I, O});
    expectIdentity(kavFifoIter(&fifo), {kavFifoIterClass, I, O});
    expectIdentity(kavHashIter<4191>(&hash), {kavHashIterClass, I, O});
    expectIdentity(elem, {kavStrElemClass, O});
    expectIdentity(str, {kavStringClass, O});
    expectIdentity(named, {kavNamedObjClass, O});
    expectIdentity(*kavPool::mainPool(), {kavPoolClass});
    expectIdentity(link, {kavLinkObjClass});
    expectIdentity(handle, {kavIterPtrClass});

    // Identity compares pointers: the same letters elsewhere are not the constant.
    const char sameLetters[] = "kavObject";
    EXPECT_FALSE(obj.isA(sameLetters));
    EXPECT_FALSE(list.isA(std::string("kavList").c_str()));
}
