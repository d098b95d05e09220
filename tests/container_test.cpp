// The protocol every container shares: counted links in the element's pool,
// deletion of pooled elements by their last holder, iterators from the
// container's pool, equality decided by the stored element, and the dump.
#include "testutil.h"

#include <string>

namespace {

// Equal to everything when greedy, else only to itself; always in chain 0.
struct Judge : kavObject {
    explicit Judge(bool g) : greedy(g) {}
    bool isEqual(const kavObject& o) const override { return greedy || &o == this; }
    unsigned int hash(int) const override { return 0; }
    bool greedy;
};

// A list searched by the generic walk of kavContainer, with an iterator.
struct GenericFindList : kavList {
    kavObject* find(const kavObject& key) const override { return kavContainer::find(key); }
};

} // namespace

template <class C>
class ContainerProtocol : public kavLibTest {};
using Containers = ::testing::Types<kavList, kavSList, kavFifo, kavHash<4191>, kavHash<7>, GenericFindList>;
// Names the typed cases by their class (Clang wants the third argument).
struct ContainerNames {
    template <class C>
    static std::string GetName(int i) { return C().className() + std::to_string(i); }
};
TYPED_TEST_SUITE(ContainerProtocol, Containers, ContainerNames);

// Links come from the element's pool (the global heap for an unpooled one),
// iterators from the container's pool (the main pool for an unpooled one).  A
// pooled element dies when it leaves its last container: by remove, by
// removeAll, by the container's destructor.  An unpooled one is never counted.
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
        EXPECT_EQ(b->useCount(), 3);
        EXPECT_TRUE(c->remove(*a));
        EXPECT_EQ(kavTestElem::deaths, 1);
        EXPECT_TRUE(c->remove(*b));
        EXPECT_TRUE(c->remove(local));
        EXPECT_EQ(c->count(), 2);
        EXPECT_EQ(c->find(*b), b);
        EXPECT_EQ(kavIterPtr(c)->getPool(), boxes);
        EXPECT_EQ(kavIterPtr(other)->getPool(), kavPool::mainPool());
    }
    EXPECT_EQ(kavTestElem::deaths, 2);
    EXPECT_EQ(b->useCount(), 1);
    EXPECT_EQ(boxes->umem(), boxUsed);
    EXPECT_EQ(kavPool::mainPool()->umem(), mainUsed);
    c->removeAll();
    EXPECT_EQ(kavTestElem::deaths, 3);
    EXPECT_TRUE(c->empty());
    delete c;
    EXPECT_EQ(elems->umem(), 0u);
    EXPECT_EQ(boxes->umem(), 0u);
}

// find and remove ask the stored element, with the given object as argument.
TYPED_TEST(ContainerProtocol, TheStoredElementDecidesEquality)
{
    Judge greedy(true), shy(false), key(false);
    TypeParam c;
    c.add(shy);
    EXPECT_EQ(c.find(greedy), nullptr);
    EXPECT_FALSE(c.remove(greedy));
    c.add(greedy);
    EXPECT_EQ(c.find(key), &greedy);
    EXPECT_TRUE(c.remove(key));
    EXPECT_EQ(walk(c), objs{&shy});
}

// Every iterator's get and next when it is done, and prefix ++ off the last
// element, stop the program with the library's report.
TEST_F(kavLibTest, IteratorChecksDeath)
{
    expectIteratorChecks<kavList>("kavlist", 107, "_current", 101);
    expectIteratorChecks<kavSList>("kavslist", 107, "_current", 101);
    expectIteratorChecks<kavFifo>("kavfifo", 105, "_current", 99);
    expectIteratorChecks<kavHash<4191>>("kavhash", 287, "_index < size", 327);
}

// Postfix ++ answers the element before the step, prefix ++ the one after;
// the handle forwards reset and gives its iterator back to the container's pool.
TEST_F(kavLibTest, IteratorOperatorsAndTheOwningHandle)
{
    kavPool* pool = new kavPool;
    auto* fifo = new (pool) kavFifo;
    kavObject a, b, c;
    addAll(*fifo, {&a, &b, &c});
    const unsigned int used = pool->umem();
    {
        kavIterPtr h(fifo->newIterator()), none(static_cast<kavIterator*>(nullptr));
        EXPECT_EQ(&h++, &a);
        EXPECT_EQ(&++h, &c);
        EXPECT_EQ(&h++, &c);
        EXPECT_EQ(static_cast<int>(*h.operator->()), 0);
        h.reset();
        EXPECT_EQ(&h(), &a);
    }
    EXPECT_EQ(pool->umem(), used);
    delete fifo;
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
