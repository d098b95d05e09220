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

// Ascending order whatever the order of addition; equals keep their arrival order.
TEST_F(kavLibTest, SortedListKeepsAscendingOrder)
{
    kavObject o[4];
    kavTestElem b1(2), a(1), b2(2), c(3), b3(2);
    kavSList list;
    addAll(list, {&o[2], &o[0], &o[3], &o[1]});
    EXPECT_EQ(walk(list), (objs{&o[0], &o[1], &o[2], &o[3]}));
    EXPECT_EQ(list.count(), 4);
    EXPECT_TRUE(list.remove(o[2]));
    EXPECT_EQ(walk(list), (objs{&o[0], &o[1], &o[3]}));
    list.removeAll();
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.find(o[0]), nullptr);

    addAll(list, {&b1, &a, &b2, &c, &b3});
    EXPECT_EQ(walk(list), (objs{&a, &b1, &b2, &b3, &c}));
    kavTestElem key(2);
    EXPECT_EQ(list.find(key), &b1);
    EXPECT_TRUE(list.remove(key));
    EXPECT_EQ(walk(list), (objs{&a, &b2, &b3, &c}));
    EXPECT_EQ(list.count(), 4);
}

// The object being added is asked, with the stored element as argument; find
// walks the whole chain, not stopping where the order would.
TEST_F(kavLibTest, SortedListAsksTheNewcomer)
{
    Ranked low1(-1, false), low2(-1, false), high1(1, false), high2(1, true);
    kavSList list;
    addAll(list, {&high1, &low1, &low2, &high2});
    EXPECT_EQ(walk(list), (objs{&low2, &low1, &high1, &high2}));
    Ranked key(-1, false);
    EXPECT_EQ(list.find(key), &high2);
    EXPECT_TRUE(list.remove(key));
    EXPECT_EQ(walk(list), (objs{&low2, &low1, &high1}));
}

// An added element is seen by a running walk when it lands after the current
// element, and after reset when it lands after the first.
TEST_F(kavLibTest, SortedListIteratorSeesAdditionsBehindIt)
{
    kavTestElem e1(1), e3(3), e5(5), e0(0), e2(2), e4(4), e6(6);
    kavSList list;
    addAll(list, {&e1, &e3, &e5});
    kavIterPtr it(list);
    EXPECT_EQ(&it++, &e1);
    EXPECT_EQ(&it(), &e3);
    addAll(list, {&e0, &e2, &e4});
    EXPECT_EQ(&it++, &e3);
    EXPECT_EQ(&it++, &e4);
    EXPECT_EQ(&it(), &e5);
    list.add(e6);
    EXPECT_EQ(&it++, &e5);
    EXPECT_EQ(&it++, &e6);
    EXPECT_EQ(static_cast<int>(it), 0);
    it.reset();
    objs seen;
    for (; it; it++)
        seen.push_back(&it());
    EXPECT_EQ(seen, (objs{&e1, &e2, &e3, &e4, &e5, &e6}));

    kavSList empty;
    kavSListIter none(&empty);
    empty.add(e1);
    none.reset();
    EXPECT_TRUE(none.done());
}

// get and next on a done iterator, and prefix ++ off the last element, stop the program.
TEST_F(kavLibTest, SortedListIteratorChecksDeath)
{
    kavObject a;
    kavSList list;
    kavSListIter empty(&list);
    EXPECT_DEATH(empty.get(), assertionReport("_current", "kavslist", 107));
    EXPECT_DEATH(empty.next(), assertionReport("_current", "kavslist", 101));
    list.add(a);
    kavIterPtr it(list);
    EXPECT_DEATH(++it, assertionReport("_current", "kavslist", 107));
    EXPECT_EQ(&it++, &a);
    EXPECT_TRUE(it->done());
}
