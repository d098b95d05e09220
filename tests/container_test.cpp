// The containers: the protocol they share (counted links in the element's
// pool, deletion of pooled elements by their last holder, iterators from the
// container's pool, equality decided by the stored element, the dump), then
// each one's order, iterators, dumps and checks.
#include "testutil.h"

namespace {

// A list searched by the generic walk of kavContainer, with an iterator.
struct GenericFindList : kavList {
    kavObject* find(const kavObject& key) const override { return kavContainer::find(key); }
};

} // namespace

template <class C>
class ContainerProtocol : public kavLibTest {};
using Containers = ::testing::Types<kavList, kavSList, kavFifo, kavHash<4191>, kavHash<7>, GenericFindList>;
TYPED_TEST_SUITE(ContainerProtocol, Containers, ); // empty third argument: the default names

// Links come from the element's pool (the global heap for an unpooled one),
// iterators from the container's pool (the main pool for an unpooled one).  A
// pooled element dies when it leaves its last container: by remove, by
// removeAll, by the container's destructor.  An unpooled one is never counted.
// find and remove ask the stored element, with the given object as argument.
// (Use counts and order are also checked against a model by the soak run.)
TYPED_TEST(ContainerProtocol, ElementsAreHeldThroughCountedLinks)
{
    kavPool *elems = new kavPool, *boxes = new kavPool;
    auto* c = new (boxes) TypeParam;
    const unsigned int boxUsed = boxes->umem(), mainUsed = kavPool::mainPool()->umem();
    kavTestElem::deaths = 0;
    kavTestElem local(5);
    auto *a = new (elems) kavTestElem(1), *b = new (elems) kavTestElem(2);
    EXPECT_FALSE(c->remove(*a));
    {
        TypeParam other;
        EXPECT_EQ(&c->add(*a), a);
        addAll(*c, {b, b, &local, &local});
        addAll(other, {b, new (elems) kavTestElem(3)});
        EXPECT_EQ(elems->umem(),
                  3 * kavPool::roundSize(sizeof(kavTestElem)) + 5 * kavPool::roundSize(sizeof(kavLinkObj)));
        EXPECT_TRUE(c->remove(*a) && kavTestElem::deaths == 1);
        EXPECT_TRUE(c->remove(*b) && c->remove(local) && c->count() == 2 && c->find(*b) == b);
        EXPECT_EQ(kavIterPtr(c)->getPool(), boxes);
        EXPECT_EQ(kavIterPtr(other)->getPool(), kavPool::mainPool());
    }
    EXPECT_EQ(std::make_tuple(kavTestElem::deaths, b->useCount(), boxes->umem(), kavPool::mainPool()->umem()),
              std::make_tuple(2, 1, boxUsed, mainUsed)); // deaths, b's use count, iterators given back
    c->removeAll();
    EXPECT_EQ(kavTestElem::deaths, 3);
    delete c;
    EXPECT_EQ(elems->umem() + boxes->umem(), 0u);

    kavRankedObj greedy(0, true), shy(0, false), key(0, false);
    TypeParam judged;
    judged.add(shy);
    EXPECT_TRUE(judged.find(greedy) == nullptr && !judged.remove(greedy));
    judged.add(greedy);
    EXPECT_EQ(judged.find(key), &greedy);
    EXPECT_TRUE(judged.remove(key));
    EXPECT_EQ(walk(judged), objs{&shy});
}

// The link's placement delete, which a link whose construction failed would
// reach: the reference and the piece go back.
TEST_F(kavLibTest, LinkPlacementDeleteGivesBothBack)
{
    kavKeptPool pool;
    auto* e = new (&pool) kavTestElem(1);
    e->up();
    const unsigned int used = pool.umem();
    kavLinkObj::operator delete(new (&pool) kavLinkObj(*e), &pool);
    EXPECT_EQ(e->useCount(), 1);
    EXPECT_EQ(pool.umem(), used);
    e->down();
}

// Every iterator's get and next when it is done stop the program with the
// library's report.
TEST_F(kavLibTest, IteratorChecksDeath)
{
    expectIteratorChecks<kavList>("kavlist", 107, "_current", 101);
    expectIteratorChecks<kavSList>("kavslist", 107, "_current", 101);
    expectIteratorChecks<kavFifo>("kavfifo", 105, "_current", 99);
    expectIteratorChecks<kavHash<4191>>("kavhash", 287, "_index < size", 327);
}

// The container line ends with "\n" (with "CT[n]" under flag 6) and no flush;
// elements follow 4 blanks deeper at every level, with the caller's endLine.
TEST_F(kavLibTest, ContainerDumpTexts)
{
    kavPool* pool = new kavPool;
    kavObject x, y;
    kavList list;
    EXPECT_EQ(dumpText(list, 0, 1), "kavList \n");
    addAll(list, {&x, &y});
    struct FlushCounter : std::stringbuf {
        int sync() override { return ++flushes, 0; }
        int flushes = 0;
    } buffer;
    std::ostream os(&buffer);
    list.dump(os, 0, 0);
    EXPECT_EQ(buffer.flushes, 0);
    list.dump(os, 0, 1);
    EXPECT_EQ(buffer.flushes, 2);

    // The header is the object line: flags 1, 0 and 3 apply to it too.
    auto* inner = new (pool) kavFifo;
    addAll(*inner, {new (pool) kavObject, &x});
    list.add(*inner);
    for (int flag : {0, 1, 3, 6})
        kavLib::set(flag);
    EXPECT_EQ(maskPointers(dumpText(list, 2, 1)), "  kavList @[@PTR] P[-1] RC[0] CT[3]\n"
                                                "      kavFifo @[@PTR] P[1] RC[1] CT[2]\n"
                                                "          kavObject @[@PTR] P[1] RC[1] \n"
                                                "          kavObject @[@PTR] P[-1] RC[0] \n"
                                                "      kavObject @[@PTR] P[-1] RC[0] \n"
                                                "      kavObject @[@PTR] P[-1] RC[0] \n");
}

// The list walks newest first.  Its iterator never sees elements added
// after it was made, not even after reset.  (Order, find and remove of every
// container are also checked against a model by the soak run.)
TEST_F(kavLibTest, ListIteratorKeepsItsHead)
{
    kavObject a, b, c;
    kavList list;
    kavListIter onEmpty(&list);
    list.add(a);
    kavListIter it(&list);
    addAll(list, {&b, &c});
    EXPECT_EQ(walk(list), (objs{&c, &b, &a}));
    EXPECT_EQ(rest(it), objs{&a});
    it.reset();
    onEmpty.reset();
    EXPECT_TRUE(&it.get() == &a && onEmpty.done());
}

// The sorted list: ascending whatever the order of addition; equals keep
// their arrival order, and find and remove take the earliest.  The object
// being added is asked, with the stored element as argument; find walks the
// whole chain, not stopping where the order would.  A running walk sees an
// addition that lands after the current element, and after reset all.
TEST_F(kavLibTest, SortedListKeepsAscendingOrder)
{
    kavTestElem b1(2), a(1), b2(2), c(3), b3(2), key(2), e0(0), e4(4);
    kavSList list;
    addAll(list, {&b1, &a, &b2, &c});
    kavSListIter it(&list);
    EXPECT_EQ(&it++, &a);
    addAll(list, {&b3, &e0, &e4});
    EXPECT_EQ(rest(it), (objs{&b1, &b2, &b3, &c, &e4}));
    it.reset(); // e0 landed before where the walk began
    EXPECT_EQ(rest(it), (objs{&a, &b1, &b2, &b3, &c, &e4}));
    EXPECT_TRUE(list.find(key) == &b1 && list.remove(key));
    EXPECT_EQ(walk(list), (objs{&e0, &a, &b2, &b3, &c, &e4}));

    kavRankedObj low1(-1, false), low2(-1, false), high1(1, false), high2(1, true), lowKey(-1, false);
    kavSList ranked;
    addAll(ranked, {&high1, &low1, &low2, &high2});
    EXPECT_EQ(walk(ranked), (objs{&low2, &low1, &high1, &high2}));
    EXPECT_TRUE(ranked.find(lowKey) == &high2 && ranked.remove(lowKey));
}

// The FIFO walks in arrival order and remove takes the earliest match; the
// tail stays right when it goes.  A walk sees elements added behind it, and
// reset stands on the head again; an iterator made on an empty FIFO stays
// done.  Through the handle, postfix ++ answers the element before the step,
// prefix ++ the one after.
TEST_F(kavLibTest, FifoKeepsArrivalOrder)
{
    kavTestElem a(1), b(2), c(3), a2(1);
    kavFifo fifo;
    kavFifoIter none(&fifo);
    addAll(fifo, {&a, &b});
    {
        kavIterPtr h(fifo.newIterator());
        fifo.add(c); // behind the walk
        EXPECT_TRUE(&h++ == &a && &++h == &c && &h++ == &c && !*h.operator->());
        h.reset();
        EXPECT_EQ(&h(), &a);
    }
    EXPECT_TRUE(fifo.remove(c)); // the tail
    fifo.add(c);
    EXPECT_TRUE(fifo.remove(a2)); // a: the earliest match
    fifo.add(a2);
    EXPECT_EQ(walk(fifo), (objs{&b, &c, &a2}));
    none.reset();
    EXPECT_TRUE(none.done());
}

using kavHash4191 = kavHash<4191>;

// collisions counts the elements beyond the first of their chain; add joins
// a chain at its head, remove leaves it from wherever the match is.  Chains
// are walked from 0 up, for any size; find and remove look in the key's
// chain only.  The dump shows the counts.
TEST_F(kavLibTest, HashCountsCollisionsAndWalksChainsInOrder)
{
    kavTestElem a(7), b(7 + 4191), c(7 + 2 * 4191), other(8), last(4190), zero(0);
    kavHash4191 hash;
    addAll(hash, {&a, &last, &other, &b, &c, &zero});
    EXPECT_EQ(hash.collisions(), 2u);
    EXPECT_EQ(walk(hash), (objs{&zero, &c, &b, &a, &other, &last}));
    EXPECT_TRUE(hash.remove(other) && hash.remove(a) && hash.collisions() == 1u);
    EXPECT_EQ(hash.find(kavTestElem(7 + 4191)), &b);
    struct Misplaced : kavTestElem { // equal, but in another chain
        using kavTestElem::kavTestElem;
        unsigned int hash(int) const override { return 6; }
    } stray(7 + 4191);
    EXPECT_TRUE(hash.find(stray) == nullptr && !hash.remove(stray));
    hash.removeAll();
    addAll(hash, {&a, &b, &a});
    EXPECT_EQ(hash.collisions(), 2u);
    // Under flag 5 the hash line shows "CT[n] CL[c]" whatever flag 6 says;
    // without it, the plain container dump.  (The string table's dump shows
    // the hash line under the object line's flags.)
    kavLib::set(6);
    EXPECT_EQ(dumpText(hash, 2, 0), "  kavHash CT[3]\n      kavObject       kavObject       kavObject ");
    kavLib::set(5);
    EXPECT_EQ(dumpText(hash, 0, 1), "kavHash CT[3] CL[2]\n    kavObject \n    kavObject \n    kavObject \n");

    kavTestElem e8(8), e4(4), e15(15);
    kavHash<7> small;
    addAll(small, {&e8, &e4, &e15});
    EXPECT_EQ(walk(small), (objs{&e15, &e8, &e4}));
}

// reset scans the current contents; a running walk sees an addition only in
// a later chain.  index() is the current chain, the size when done.
TEST_F(kavLibTest, HashIteratorRescansOnReset)
{
    kavTestElem a(10), b(20), early(5), sameChain(20 + 4191), later(30);
    kavHash4191 hash;
    kavHashIter<4191> it(&hash);
    EXPECT_EQ(it.index(), 4191u);
    hash.add(a);
    EXPECT_TRUE(it.done());
    it.reset();
    EXPECT_EQ(it.index(), 10u);
    hash.add(b);
    EXPECT_TRUE(&it++ == &a && it.index() == 20u);
    addAll(hash, {&early, &sameChain, &later});
    EXPECT_EQ(rest(it), (objs{&b, &later}));
    EXPECT_EQ(it.index(), 4191u);
    it.reset();
    EXPECT_EQ(rest(it), (objs{&early, &a, &sameChain, &b, &later}));
}

// A hash of the chain count or more would index past the chain array: add
// and find stop with the library's report instead (remove looks the same way).
TEST_F(kavLibTest, HashOutOfRangeIsReported)
{
    struct Wide : kavObject {
        unsigned int hash(int n) const override { return static_cast<unsigned int>(n); } // no such chain
    } wide;
    auto* hash = new (nullptr) kavHash<7>;
    const std::string report = assertionReport("hash < size", "kavhash", 401);
    EXPECT_DEATH(hash->add(wide), report);
    EXPECT_DEATH(hash->find(wide), report);
    delete hash;
}
