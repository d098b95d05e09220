// The list: newest first, remove of the match nearest the head, iterators
// that start where the head stood when they were made.
#include "testutil.h"

// Adding walks newest first; find and remove take the match nearest the head.
TEST_F(kavLibTest, ListKeepsNewestFirst)
{
    kavTestElem first(1), other(2), second(1), key(1);
    kavList list;
    addAll(list, {&first, &other, &second, &first});
    EXPECT_EQ(walk(list), (objs{&first, &second, &other, &first}));
    EXPECT_TRUE(list.remove(key));
    EXPECT_EQ(walk(list), (objs{&second, &other, &first}));
    EXPECT_EQ(list.find(key), &second);
    EXPECT_TRUE(list.remove(first));
    EXPECT_TRUE(list.remove(other));
    EXPECT_EQ(walk(list), objs{&first});
}

// An iterator never sees elements added after it was made, not even after reset.
TEST_F(kavLibTest, ListIteratorIsASnapshotOfTheHead)
{
    kavObject a, b, c;
    kavList list;
    kavListIter onEmpty(&list);
    list.add(a);
    kavListIter it(&list);
    list.add(b);
    EXPECT_EQ(rest(it), objs{&a});
    it.reset();
    EXPECT_EQ(&it.get(), &a);
    onEmpty.reset();
    EXPECT_TRUE(onEmpty.done());

    kavListIter late(&list);
    EXPECT_EQ(&late++, &b);
    list.add(c);
    EXPECT_EQ(&late.get(), &a);
    late.reset();
    EXPECT_EQ(&late.get(), &b);
}
