// The list: newest first, remove of the match nearest the head, iterators
// that start where the head stood when they were made.
#include "testutil.h"

// Adding a, b, c walks c, b, a; find and remove follow the walk.
TEST_F(kavLibTest, ListKeepsNewestFirst)
{
    kavTestElem a(1), b(2), c(3);
    kavList list;
    EXPECT_EQ(list.find(a), nullptr);
    EXPECT_FALSE(list.remove(a));
    list.removeAll();
    EXPECT_TRUE(walk(list).empty());

    addAll(list, {&a, &b, &c});
    EXPECT_EQ(list.count(), 3);
    EXPECT_EQ(walk(list), (objs{&c, &b, &a}));
    EXPECT_EQ(list.find(kavTestElem(2)), &b);
    EXPECT_EQ(list.find(kavTestElem(4)), nullptr);
    EXPECT_TRUE(list.remove(b));
    EXPECT_FALSE(list.remove(b));
    EXPECT_EQ(walk(list), (objs{&c, &a}));
    EXPECT_EQ(list.count(), 2);
    EXPECT_TRUE(list.remove(a));
    EXPECT_TRUE(list.remove(c));
    EXPECT_TRUE(list.empty());
    list.add(a);
    EXPECT_EQ(walk(list), objs{&a});
}

// Of several matches, remove takes the one nearest the head: the latest added.
TEST_F(kavLibTest, ListRemovesTheLatestMatch)
{
    kavTestElem first(1), other(2), second(1), key(1);
    kavList list;
    addAll(list, {&first, &other, &second, &first});
    EXPECT_EQ(walk(list), (objs{&first, &second, &other, &first}));
    EXPECT_TRUE(list.remove(key));
    EXPECT_EQ(walk(list), (objs{&second, &other, &first}));
    EXPECT_EQ(list.find(key), &second);
    EXPECT_TRUE(list.remove(first));
    EXPECT_EQ(walk(list), (objs{&other, &first}));
    EXPECT_EQ(list.count(), 2);
}

// An iterator never sees elements added after it was made, not even after reset.
TEST_F(kavLibTest, ListIteratorIsASnapshotOfTheHead)
{
    kavObject a, b, c;
    kavList list;
    kavIterPtr onEmpty(list);
    list.add(a);
    kavListIter it(&list);
    list.add(b);
    EXPECT_EQ(&it++, &a);
    EXPECT_TRUE(it.done());
    it.reset();
    EXPECT_EQ(&it.get(), &a);
    EXPECT_EQ(static_cast<int>(onEmpty), 0);
    onEmpty.reset();
    EXPECT_EQ(static_cast<int>(onEmpty), 0);

    kavIterPtr late(list);
    EXPECT_EQ(&late++, &b);
    list.add(c);
    EXPECT_EQ(&late(), &a);
    late.reset();
    EXPECT_EQ(&late(), &b);
}

// get and next on a done iterator, and prefix ++ off the last element, stop the program.
TEST_F(kavLibTest, ListIteratorChecksDeath)
{
    kavObject a;
    kavList list;
    kavListIter empty(&list);
    EXPECT_DEATH(empty.get(), assertionReport("_current", "kavlist", 107));
    EXPECT_DEATH(empty.next(), assertionReport("_current", "kavlist", 101));
    list.add(a);
    kavIterPtr it(list);
    EXPECT_DEATH(++it, assertionReport("_current", "kavlist", 107));
    EXPECT_EQ(&it++, &a);
    EXPECT_TRUE(it->done());
}
