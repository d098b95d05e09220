// The FIFO: arrival order, both ends kept right by remove, iterators that
// see later additions unless they were made on an empty FIFO.
#include "testutil.h"

// Removing at the head, the tail or the only element keeps both ends right.
TEST_F(kavLibTest, FifoKeepsArrivalOrder)
{
    kavTestElem a(1), b(2), c(3), d(4);
    kavFifo fifo;
    EXPECT_EQ(fifo.find(a), nullptr);
    EXPECT_FALSE(fifo.remove(a));
    addAll(fifo, {&a, &b, &c});
    EXPECT_EQ(walk(fifo), (objs{&a, &b, &c}));
    EXPECT_EQ(fifo.find(kavTestElem(3)), &c);
    EXPECT_EQ(fifo.find(d), nullptr);
    EXPECT_FALSE(fifo.remove(d));

    EXPECT_TRUE(fifo.remove(c));
    fifo.add(d);
    EXPECT_EQ(walk(fifo), (objs{&a, &b, &d}));
    EXPECT_TRUE(fifo.remove(a));
    fifo.add(c);
    EXPECT_EQ(walk(fifo), (objs{&b, &d, &c}));
    EXPECT_TRUE(fifo.remove(d));
    EXPECT_EQ(walk(fifo), (objs{&b, &c}));
    EXPECT_EQ(fifo.count(), 2);

    EXPECT_TRUE(fifo.remove(b));
    EXPECT_TRUE(fifo.remove(c));
    EXPECT_TRUE(fifo.empty());
    addAll(fifo, {&a, &b});
    EXPECT_EQ(walk(fifo), (objs{&a, &b}));
    fifo.removeAll();
    EXPECT_EQ(fifo.count(), 0);
    EXPECT_TRUE(walk(fifo).empty());
    addAll(fifo, {&c, &d});
    EXPECT_EQ(walk(fifo), (objs{&c, &d}));
}

// Of several matches, remove takes the earliest added, nearest the head.
TEST_F(kavLibTest, FifoRemovesTheEarliestMatch)
{
    kavTestElem first(1), other(2), second(1), key(1);
    kavFifo fifo;
    addAll(fifo, {&first, &other, &second, &first});
    EXPECT_EQ(fifo.find(key), &first);
    EXPECT_TRUE(fifo.remove(key));
    EXPECT_EQ(walk(fifo), (objs{&other, &second, &first}));
    EXPECT_TRUE(fifo.remove(first));
    EXPECT_EQ(walk(fifo), (objs{&other, &first}));
    EXPECT_TRUE(fifo.remove(first));
    fifo.add(second);
    EXPECT_EQ(walk(fifo), (objs{&other, &second}));
}

// A walk sees elements added behind it, also after reset; an iterator made
// on an empty FIFO stays done.
TEST_F(kavLibTest, FifoIteratorSeesLaterAdditions)
{
    kavObject a, b, c;
    kavFifo fifo;
    kavFifoIter none(&fifo);
    fifo.add(a);
    kavFifoIter it(&fifo);
    fifo.add(b);
    EXPECT_EQ(&it++, &a);
    EXPECT_EQ(&it++, &b);
    EXPECT_TRUE(it.done());
    fifo.add(c);
    EXPECT_TRUE(it.done());
    it.reset();
    EXPECT_EQ(&it++, &a);
    EXPECT_EQ(&it++, &b);
    EXPECT_EQ(&it++, &c);
    EXPECT_TRUE(it.done());
    none.reset();
    EXPECT_TRUE(none.done());
}

// get and next on a done iterator, and prefix ++ off the last element, stop the program.
TEST_F(kavLibTest, FifoIteratorChecksDeath)
{
    kavObject a;
    kavFifo fifo;
    kavFifoIter empty(&fifo);
    EXPECT_DEATH(empty.get(), assertionReport("_current", "kavfifo", 105));
    EXPECT_DEATH(empty.next(), assertionReport("_current", "kavfifo", 99));
    fifo.add(a);
    kavIterPtr it(fifo);
    EXPECT_DEATH(++it, assertionReport("_current", "kavfifo", 105));
    EXPECT_EQ(&it++, &a);
    EXPECT_TRUE(it->done());
}
