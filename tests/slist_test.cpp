// The sorted list: ascending by the objcmp of the object being added, equal
// elements in order of arrival, iterators that see later additions behind them.
#include "testutil.h"

namespace {
// objcmp always answers `order`; isEqual answers `greedy` for every other object.
struct Ranked : kavObject {
    Ranked(int o, bool g) : order(o), greedy(g) {}
    int objcmp(const kavObject&) const override { return order; }
    bool isEqual(const kavObject& o) const override { return greedy || &o == this; }
    int order;
    bool greedy;
};
} // namespace

// Ascending order whatever the order of addition; equals keep their arrival
// order, and find and remove take the earliest.  The object being added is
// asked, with the stored element as argument; find walks the whole chain,
// not stopping where the order would.
TEST_F(kavLibTest, SortedListKeepsAscendingOrder)
{
    kavTestElem b1(2), a(1), b2(2), c(3), b3(2), key(2);
    kavSList list;
    addAll(list, {&b1, &a, &b2, &c, &b3});
    EXPECT_EQ(walk(list), (objs{&a, &b1, &b2, &b3, &c}));
    EXPECT_EQ(list.find(key), &b1);
    EXPECT_TRUE(list.remove(key));
    EXPECT_EQ(walk(list), (objs{&a, &b2, &b3, &c}));

    Ranked low1(-1, false), low2(-1, false), high1(1, false), high2(1, true), lowKey(-1, false);
    kavSList ranked;
    addAll(ranked, {&high1, &low1, &low2, &high2});
    EXPECT_EQ(walk(ranked), (objs{&low2, &low1, &high1, &high2}));
    EXPECT_EQ(ranked.find(lowKey), &high2);
    EXPECT_TRUE(ranked.remove(lowKey));
    EXPECT_EQ(walk(ranked), (objs{&low2, &low1, &high1}));
}

// An added element is seen by a running walk when it lands after the current
// element, and after reset when it lands after the first; an iterator made
// on an empty list stays done.
TEST_F(kavLibTest, SortedListIteratorSeesAdditionsBehindIt)
{
    kavTestElem e1(1), e3(3), e5(5), e0(0), e2(2), e4(4);
    kavSList list;
    kavSListIter none(&list);
    addAll(list, {&e1, &e3, &e5});
    kavSListIter it(&list);
    EXPECT_EQ(&it++, &e1);
    addAll(list, {&e0, &e2, &e4});
    EXPECT_EQ(rest(it), (objs{&e3, &e4, &e5}));
    it.reset();
    EXPECT_EQ(rest(it), (objs{&e1, &e2, &e3, &e4, &e5}));
    none.reset();
    EXPECT_TRUE(none.done());
}
