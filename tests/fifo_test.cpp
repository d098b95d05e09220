// The FIFO: arrival order, both ends kept right by remove, iterators that
// see later additions unless they were made on an empty FIFO.
#include "testutil.h"

// Removing at the head, the tail, the only element or all keeps both ends
// right; of several matches, remove takes the earliest added.
TEST_F(kavLibTest, FifoKeepsArrivalOrder)
{
    kavTestElem a(1), b(2), c(3), d(4), a2(1);
    kavFifo fifo;
    addAll(fifo, {&a, &b, &c});
    EXPECT_EQ(walk(fifo), (objs{&a, &b, &c}));
    EXPECT_TRUE(fifo.remove(c));
    fifo.add(d);
    EXPECT_TRUE(fifo.remove(a));
    fifo.add(a2);
    EXPECT_EQ(walk(fifo), (objs{&b, &d, &a2}));
    addAll(fifo, {&a, &a2});
    EXPECT_EQ(fifo.find(a), &a2);
    EXPECT_TRUE(fifo.remove(a));
    EXPECT_EQ(walk(fifo), (objs{&b, &d, &a, &a2}));
    for (kavObject* o : objs{&b, &d, &a, &a2})
        EXPECT_TRUE(fifo.remove(*o));
    fifo.add(c);
    EXPECT_EQ(walk(fifo), objs{&c});
    fifo.removeAll();
    addAll(fifo, {&c, &d});
    EXPECT_EQ(walk(fifo), (objs{&c, &d}));
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
    EXPECT_EQ(rest(it), (objs{&a, &b}));
    fifo.add(c);
    EXPECT_TRUE(it.done());
    it.reset();
    EXPECT_EQ(rest(it), (objs{&a, &b, &c}));
    none.reset();
    EXPECT_TRUE(none.done());
}
