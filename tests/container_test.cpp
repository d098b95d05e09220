// The protocol every container shares: counted links in the element's pool,
// deletion of pooled elements by their last holder, iterators from the
// container's pool, equality decided by the stored element, and the dump.
#include "testutil.h"

namespace {

const unsigned int linkPiece = kavPool::roundSize(sizeof(kavLinkObj));
const unsigned int elemPiece = kavPool::roundSize(sizeof(kavTestElem));

// Equal to everything when greedy, else only to itself; always in chain 0.
struct Judge : kavObject {
    explicit Judge(bool g) : greedy(g) {}
    bool isEqual(const kavObject& o) const override { return greedy || &o == this; }
    unsigned int hash(int) const override { return 0; }
    bool greedy;
};

// A list searched by the generic walk of kavContainer.
struct GenericFindList : kavList {
    kavObject* find(const kavObject& key) const override { return kavContainer::find(key); }
};

} // namespace

template <class C>
class ContainerProtocol : public kavLibTest {};
using Containers = ::testing::Types<kavList, kavSList, kavFifo, kavHash<4191>, kavHash<7>>;
struct ContainerNames {
    template <class C>
    static std::string GetName(int i)
    {
        return std::vector<std::string>{"List", "SList", "Fifo", "Hash4191", "Hash7"}.at(static_cast<std::size_t>(i));
    }
};
TYPED_TEST_SUITE(ContainerProtocol, Containers, ContainerNames);

// A pooled element dies when it leaves its last container: by remove, by
// removeAll, by the container's destructor.  An unpooled one never dies.
TYPED_TEST(ContainerProtocol, PooledElementsLiveUntilTheLastHolderLetsGo)
{
    kavPool* pool = new kavPool;
    kavTestElem::deaths = 0;
    TypeParam c;
    EXPECT_EQ(c.count(), 0);
    EXPECT_TRUE(c.empty());

    auto* a = new (pool) kavTestElem(1);
    EXPECT_EQ(&c.add(*a), a);
    EXPECT_EQ(a->useCount(), 1);
    EXPECT_EQ(c.count(), 1);
    EXPECT_FALSE(c.empty());
    EXPECT_TRUE(c.remove(*a));
    EXPECT_EQ(kavTestElem::deaths, 1);
    EXPECT_TRUE(c.empty());

    auto* b = new (pool) kavTestElem(2);
    EXPECT_FALSE(c.remove(*b));
    {
        TypeParam other;
        c.add(*b);
        c.add(*b);
        other.add(*b);
        EXPECT_EQ(b->useCount(), 3);
        EXPECT_EQ(c.count(), 2);
        EXPECT_TRUE(c.remove(*b));
        other.removeAll();
        EXPECT_EQ(other.count(), 0);
        EXPECT_EQ(b->useCount(), 1);
        other.add(*b);
    }
    EXPECT_EQ(kavTestElem::deaths, 1);
    c.removeAll();
    EXPECT_EQ(kavTestElem::deaths, 2);
    EXPECT_TRUE(c.empty());
    {
        TypeParam doomed;
        doomed.add(*new (pool) kavTestElem(3));
        doomed.add(*new (pool) kavTestElem(4));
    }
    EXPECT_EQ(kavTestElem::deaths, 4);
    EXPECT_EQ(pool->umem(), 0u);

    kavTestElem local(5);
    {
        TypeParam holder;
        holder.add(local);
        holder.add(local);
        EXPECT_EQ(local.useCount(), 0);
        EXPECT_TRUE(holder.remove(local));
        c.add(local);
        c.removeAll();
    }
    EXPECT_EQ(kavTestElem::deaths, 4);
}

// Links come from the element's pool (the global heap for an unpooled
// element); iterators, also those of find, from the container's pool.
TYPED_TEST(ContainerProtocol, LinksAndIteratorsComeFromTheRightPools)
{
    kavPool* elems = new kavPool;
    kavPool* boxes = new kavPool;
    kavPool* main = kavPool::mainPool();
    auto* c = new (boxes) TypeParam;
    const unsigned int boxUsed = boxes->umem();
    const unsigned int mainUsed = main->umem();
    auto* e = new (elems) kavTestElem(1);
    c->add(*e);
    EXPECT_EQ(elems->umem(), elemPiece + linkPiece);
    kavTestElem local(2);
    c->add(local);
    EXPECT_EQ(elems->umem(), elemPiece + linkPiece);
    EXPECT_EQ(boxes->umem(), boxUsed);
    EXPECT_EQ(main->umem(), mainUsed);

    kavIterator* raw = c->newIterator();
    EXPECT_EQ(raw->getPool(), boxes);
    const unsigned int iterPiece = boxes->umem() - boxUsed;
    EXPECT_GT(iterPiece, 0u);
    { kavIterPtr owner(raw); }
    EXPECT_EQ(boxes->umem(), boxUsed);
    EXPECT_EQ(c->find(kavTestElem(1)), e);
    EXPECT_EQ(boxes->umem(), boxUsed);

    TypeParam unpooled;
    {
        kavIterPtr it(unpooled);
        EXPECT_EQ(it->getPool(), main);
        EXPECT_EQ(main->umem(), mainUsed + iterPiece);
    }
    EXPECT_EQ(main->umem(), mainUsed);

    EXPECT_TRUE(c->remove(local));
    EXPECT_EQ(elems->umem(), elemPiece + linkPiece);
    EXPECT_EQ(main->umem(), mainUsed);
    delete c;
    EXPECT_EQ(elems->umem(), 0u);
    EXPECT_EQ(elems->rmem(), elemPiece + linkPiece);
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
    EXPECT_EQ(c.find(shy), &shy);
    c.add(greedy);
    EXPECT_EQ(c.find(key), &greedy);
    EXPECT_TRUE(c.remove(key));
    EXPECT_EQ(c.count(), 1);
    EXPECT_EQ(walk(c), objs{&shy});
}

// The generic find of kavContainer walks with an iterator from the container's pool.
TEST_F(kavLibTest, GenericFindWalksWithAPooledIterator)
{
    kavPool* pool = new kavPool;
    auto* list = new (pool) GenericFindList;
    const unsigned int used = pool->umem();
    Judge greedy(true), shy(false), key(false);
    EXPECT_EQ(list->find(key), nullptr);
    list->add(shy);
    EXPECT_EQ(list->find(greedy), nullptr);
    list->add(greedy);
    EXPECT_EQ(list->find(key), &greedy);
    EXPECT_EQ(list->find(shy), &greedy);
    EXPECT_EQ(pool->umem(), used);
    EXPECT_EQ(pool->rmem(), kavPool::roundSize(sizeof(kavListIter)));
    delete list;
}

// Postfix ++ answers the element before the step, prefix ++ the one after;
// the handle forwards everything and frees its iterator.
TEST_F(kavLibTest, IteratorOperatorsAndTheOwningHandle)
{
    kavPool* pool = new kavPool;
    auto* fifo = new (pool) kavFifo;
    kavObject a, b, c;
    addAll(*fifo, {&a, &b, &c});

    kavIterator* raw = fifo->newIterator();
    EXPECT_EQ(static_cast<int>(*raw), 1);
    EXPECT_EQ(&(*raw)++, &a);
    EXPECT_EQ(&++(*raw), &c);
    EXPECT_EQ(&raw->get(), &c);
    EXPECT_EQ(&(*raw)++, &c);
    EXPECT_TRUE(raw->done());
    EXPECT_EQ(static_cast<int>(*raw), 0);
    raw->reset();
    EXPECT_EQ(&raw->get(), &a);

    const unsigned int used = pool->umem();
    const unsigned int iterPiece = kavPool::roundSize(sizeof(kavFifoIter));
    {
        kavIterPtr h(raw);
        kavIterPtr byPointer(fifo);
        kavIterPtr byReference(*fifo);
        EXPECT_EQ(pool->umem(), used + 2 * iterPiece);
        EXPECT_EQ(h.operator->(), raw);
        EXPECT_EQ(&h(), &a);
        EXPECT_EQ(&++h, &b);
        EXPECT_EQ(&h++, &b);
        EXPECT_EQ(&h(), &c);
        EXPECT_EQ(static_cast<int>(h), 1);
        h++;
        EXPECT_EQ(static_cast<int>(h), 0);
        h.reset();
        EXPECT_EQ(&h(), &a);
        EXPECT_EQ(&byPointer(), &a);
        EXPECT_EQ(&byReference++, &a);
        EXPECT_EQ(&byReference(), &b);
        kavIterPtr none(static_cast<kavIterator*>(nullptr));
    }
    EXPECT_EQ(pool->umem(), used - iterPiece);
    EXPECT_EQ(pool->rblocks(), 3u);

    auto* empty = new (pool) kavList;
    {
        kavIterPtr it(empty);
        EXPECT_EQ(static_cast<int>(it), 0);
    }
    EXPECT_EQ(pool->umem(), used - iterPiece + kavPool::roundSize(sizeof(kavList)));
    delete empty;
    delete fifo;
}

// The container line ends with "\n" (with "CT[n]" under flag 6); elements
// follow 4 blanks deeper at every level, with the caller's endLine.
TEST_F(kavLibTest, ContainerDumpTexts)
{
    kavObject x, y, z;
    kavList list;
    EXPECT_EQ(dumpText(list, 0, 1), "kavList \n");
    addAll(list, {&x, &y});
    EXPECT_EQ(dumpText(list, 0, 1), "kavList \n    kavObject \n    kavObject \n");
    EXPECT_EQ(dumpText(list, 0, 0), "kavList \n    kavObject     kavObject ");
    kavLib::set(6);
    EXPECT_EQ(dumpText(list, 0, 1), "kavList CT[2]\n    kavObject \n    kavObject \n");
    EXPECT_EQ(dumpText(list, 1, 0), " kavList CT[2]\n     kavObject      kavObject ");

    // The container's own line ends without a flush; only the elements' endl flushes.
    struct FlushCounter : std::stringbuf {
        int sync() override
        {
            ++flushes;
            return 0;
        }
        int flushes = 0;
    } buffer;
    std::ostream os(&buffer);
    list.dump(os, 0, 0);
    EXPECT_EQ(buffer.flushes, 0);
    list.dump(os, 0, 1);
    EXPECT_EQ(buffer.flushes, 2);

    kavFifo inner, innermost;
    innermost.add(z);
    addAll(inner, {&innermost, &x});
    list.add(inner);
    EXPECT_EQ(dumpText(list, 2, 1), "  kavList CT[3]\n"
                                  "      kavFifo CT[2]\n"
                                  "          kavFifo CT[1]\n"
                                  "              kavObject \n"
                                  "          kavObject \n"
                                  "      kavObject \n"
                                  "      kavObject \n");
    EXPECT_EQ(dumpText(list, 0, 0), "kavList CT[3]\n    kavFifo CT[2]\n        kavFifo CT[1]\n"
                                  "            kavObject         kavObject     kavObject     kavObject ");
    kavLib::clr(6);
    EXPECT_EQ(dumpText(inner, 0, 1), "kavFifo \n    kavFifo \n        kavObject \n    kavObject \n");
    list.removeAll();
    inner.removeAll();

    // The header is the object line: flags 1, 0 and 3 apply to it too.
    kavPool* pool = new kavPool;
    auto* fifo = new (pool) kavFifo;
    fifo->add(*new (pool) kavObject);
    fifo->add(x);
    kavLib::set(0);
    kavLib::set(1);
    kavLib::set(3);
    EXPECT_EQ(maskPointers(dumpText(*fifo, 0, 1)), "kavFifo @[@PTR] P[1] RC[0] \n"
                                                 "    kavObject @[@PTR] P[1] RC[1] \n"
                                                 "    kavObject @[@PTR] P[-1] RC[0] \n");
    kavLib::set(6);
    EXPECT_EQ(maskPointers(dumpText(*fifo, 0, 0)), "kavFifo @[@PTR] P[1] RC[0] CT[2]\n"
                                                 "    kavObject @[@PTR] P[1] RC[1]     kavObject @[@PTR] P[-1] RC[0] ");
    delete fifo;
}
