// Objects that outlive the pool of what they made: containers whose links,
// named objects whose names went with a released pool, and pools that
// releaseAll() must not delete.  Each ends in defined behaviour (or the
// library's report) and leaves every statistic as it would be otherwise.
#include "testutil.h"

namespace {

// A pool that counts its destruction, to tell a delete from a release.
struct kavCountedPool : kavPool {
    ~kavCountedPool() override { ++deaths; }
    static inline int deaths = 0;
};

} // namespace

// Every container outlives kavLib::reset and a release of the pool holding
// its elements and links: it is destroyed, reused and walked afterwards
// without touching the freed links, and the links it could still reach
// (those in a pool that was not released) are given back as usual.
TEST_F(kavLibTest, ContainersOutliveThePoolOfTheirLinks)
{
    kavTestElem kept(7); // outlives the containers that hold it
    kavList list;
    kavSList slist;
    kavFifo fifo;
    kavKeptPool own;
    auto* hashed = new (&own) kavHash<4191>;
    for (int i = 0; i < 3; ++i) {
        kavObject* o = new (nullptr) kavTestElem(i);
        list.add(*o), slist.add(*o), fifo.add(*o), hashed->add(*o);
    }
    kavLib::reset(); // the elements and their links go with the main pool
    EXPECT_EQ(kavPool::mainPool()->umem(), 0u);
    const unsigned int ownUsed = own.umem();

    kavTestElem* pooled = new (&own) kavTestElem(8);
    list.add(kept), fifo.add(kept), slist.add(*pooled), hashed->add(*pooled);
    EXPECT_EQ((std::vector<objs>{walk(list), walk(fifo), walk(slist), walk(*hashed)}),
              (std::vector<objs>{{&kept}, {&kept}, {pooled}, {pooled}}));
    // Collisions, elements counted, the main pool (walking took and gave back
    // its iterators), pooled's use count.
    EXPECT_EQ(std::make_tuple(hashed->collisions(), list.count() + fifo.count() + slist.count() + hashed->count(),
                              kavPool::mainPool()->umem(), pooled->useCount()),
              std::make_tuple(0u, 4, 0u, 2));
    slist.removeAll();
    delete hashed; // gives back the last reference: pooled goes too
    EXPECT_EQ(own.umem(), ownUsed - pooledSize(sizeof(kavHash<4191>)));
}

// A container that holds unpooled elements (links on the global heap) as
// well as pooled ones keeps its heap links through a release, before and
// after the freed ones, and through a release that took none of its links.
TEST_F(kavLibTest, MixedContainerKeepsItsHeapLinks)
{
    kavObject first, last;
    kavKeptPool own;
    kavFifo fifo;
    kavObject* kept = new (&own) kavObject;
    fifo.add(first), fifo.add(*kept);
    kavPool::mainPool()->alloc(8);
    kavLib::reset(); // takes no link of the FIFO
    EXPECT_EQ(walk(fifo), (objs{&first, kept}));
    fifo.add(*new (nullptr) kavObject), fifo.add(last);
    kavLib::reset(); // takes the third link, and the rest of the chain with it
    EXPECT_EQ(walk(fifo), (objs{&first, kept}));
    fifo.add(last);
    EXPECT_EQ(walk(fifo), (objs{&first, kept, &last}));
    EXPECT_EQ(kept->useCount(), 1);
}

// A named object made before reset (its name lives in the main pool) is
// destroyed after it: the name is not given back to the emptied pool, and
// the next name lands cleanly.  One made after reset gives its name back.
TEST_F(kavInitTest, NamedObjectOutlivesReset)
{
    {
        kavNamedObj early(kavString("early"));
        kavLib::reset();
        kavLib::init(false);
        const unsigned int used = kavPool::mainPool()->umem();
        {
            kavNamedObj late(kavString("late"));
        }
        EXPECT_EQ(kavPool::mainPool()->umem(), used + pooledSize(sizeof(kavStrElem)) + 8 +
                                                   pooledSize(sizeof(kavLinkObj)));
    }
    kavNamedObj again(kavString("again"));
    EXPECT_STREQ(static_cast<char*>(again.name()), "again");
}

// releaseAll releases, rather than deletes, a pool that new did not make,
// and deletes one that it did; a pool of a class derived from kavPool too.
TEST_F(kavLibTest, ReleaseAllDeletesOnlyPoolsMadeByNew)
{
    kavCountedPool::deaths = 0;
    kavCountedPool automatic;
    automatic.alloc(100);
    new kavCountedPool;
    (new kavPool)->alloc(10);
    EXPECT_EQ(kavPool::npools(), 4u);
    kavPool::releaseAll();
    // Counted pools deleted, pools left, bytes of the automatic pool, bytes of all pools.
    EXPECT_EQ(std::make_tuple(kavCountedPool::deaths, kavPool::npools(), automatic.amem(), kavPool::apools()),
              std::make_tuple(1, 2u, 0u, 0u));
}
