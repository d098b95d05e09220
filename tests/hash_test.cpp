// The hash container: chains by the elements' own hash, the collision
// counter, chain-by-chain iteration newest first, its dump and checks.
#include "testutil.h"

#include <set>

using kavHash4191 = kavHash<4191>;
using kavHashIter4191 = kavHashIter<4191>;

// collisions counts the elements beyond the first of their chain; add joins
// a chain at its head, remove leaves it from wherever the match is.
TEST_F(kavLibTest, HashCountsCollisions)
{
    kavTestElem a(7), b(7 + 4191), c(7 + 2 * 4191), other(8);
    kavHash4191 hash;
    EXPECT_EQ(hash.count(), 0);
    EXPECT_EQ(hash.collisions(), 0u);
    addAll(hash, {&a, &other});
    EXPECT_EQ(hash.collisions(), 0u);
    hash.add(b);
    EXPECT_EQ(hash.collisions(), 1u);
    hash.add(c);
    EXPECT_EQ(hash.collisions(), 2u);
    EXPECT_EQ(walk(hash), (objs{&c, &b, &a, &other}));
    EXPECT_TRUE(hash.remove(other));
    EXPECT_EQ(hash.collisions(), 2u);
    EXPECT_TRUE(hash.remove(b));
    EXPECT_EQ(hash.collisions(), 1u);
    EXPECT_EQ(walk(hash), (objs{&c, &a}));
    EXPECT_TRUE(hash.remove(c));
    EXPECT_EQ(hash.collisions(), 0u);
    EXPECT_FALSE(hash.remove(c));
    EXPECT_TRUE(hash.remove(a));
    EXPECT_EQ(hash.collisions(), 0u);
    EXPECT_TRUE(hash.empty());

    addAll(hash, {&a, &b, &a});
    EXPECT_EQ(hash.collisions(), 2u);
    hash.removeAll();
    EXPECT_EQ(hash.count(), 0);
    EXPECT_EQ(hash.collisions(), 0u);
    addAll(hash, {&c, &a});
    EXPECT_EQ(hash.collisions(), 1u);
}

// Chains are walked from 0 up, each newest first; find and remove look in
// the key's chain only.
TEST_F(kavLibTest, HashWalksChainsInOrder)
{
    kavTestElem last(4190), mid1(5), zero(0), mid2(5 + 4191);
    kavHash4191 hash;
    addAll(hash, {&last, &mid1, &zero, &mid2});
    EXPECT_EQ(walk(hash), (objs{&zero, &mid2, &mid1, &last}));
    EXPECT_EQ(hash.find(kavTestElem(4190)), &last);
    EXPECT_EQ(hash.find(kavTestElem(5)), &mid1);
    EXPECT_EQ(hash.find(kavTestElem(1)), nullptr);

    // Equal but in another chain: not found, not removed.
    struct Misplaced : kavTestElem {
        using kavTestElem::kavTestElem;
        unsigned int hash(int) const override { return 6; }
    } stray(5);
    EXPECT_TRUE(stray.isEqual(mid1));
    EXPECT_EQ(hash.find(stray), nullptr);
    EXPECT_FALSE(hash.remove(stray));
    EXPECT_EQ(hash.count(), 4);

    kavObject o;
    kavHash4191 roots;
    roots.add(o);
    EXPECT_EQ(roots.find(o), &o);
    EXPECT_EQ(roots.find(kavObject()), nullptr);
}

// reset scans the current contents; a running walk sees an addition only in
// a later chain.
TEST_F(kavLibTest, HashIteratorRescansOnReset)
{
    kavTestElem a(10), b(20), early(5), sameChain(20 + 4191), later(30);
    kavHash4191 hash;
    kavHashIter4191 it(&hash);
    EXPECT_TRUE(it.done());
    EXPECT_EQ(it.index(), 4191u);
    hash.add(a);
    EXPECT_TRUE(it.done());
    it.reset();
    EXPECT_EQ(it.index(), 10u);
    hash.add(b);
    EXPECT_EQ(&it++, &a);
    EXPECT_EQ(it.index(), 20u);
    addAll(hash, {&early, &sameChain, &later});
    EXPECT_EQ(&it++, &b);
    EXPECT_EQ(&it++, &later);
    EXPECT_TRUE(it.done());
    EXPECT_EQ(it.index(), 4191u);
    it.reset();
    objs seen;
    while (!it.done())
        seen.push_back(&it++);
    EXPECT_EQ(seen, (objs{&early, &a, &sameChain, &b, &later}));

    kavIterPtr fresh(hash);
    EXPECT_EQ(static_cast<kavHashIter4191*>(fresh.operator->())->index(), 5u);
}

// An application's own instantiation works alike; plain objects spread by address.
TEST_F(kavLibTest, HashOfAnotherSize)
{
    kavPool* pool = new kavPool;
    kavTestElem::deaths = 0;
    auto* hash = new (pool) kavHash<7>;
    kavTestElem* e[4];
    for (int i = 0; i < 4; ++i)
        e[i] = &static_cast<kavTestElem&>(hash->add(*new (pool) kavTestElem(i == 3 ? 8 : 6 - 2 * i)));
    EXPECT_EQ(walk(*hash), (objs{e[3], e[2], e[1], e[0]}));
    EXPECT_EQ(hash->collisions(), 0u);
    kavTestElem key(8 + 7);
    EXPECT_EQ(hash->find(key), nullptr);
    key.key = 8;
    EXPECT_EQ(hash->find(key), e[3]);
    EXPECT_TRUE(hash->remove(key));
    EXPECT_EQ(kavTestElem::deaths, 1);

    kavHashIter<7> it(hash);
    for (int n = 0; n < 3; ++n)
        it.next();
    EXPECT_EQ(it.index(), 7u);
    EXPECT_DEATH(it.next(), assertionReport("_index < size", "kavhash", 327));

    kavObject o[8];
    kavHash<7> roots;
    std::set<unsigned int> chains;
    for (kavObject& x : o) {
        roots.add(x);
        chains.insert(x.hash(7));
    }
    EXPECT_EQ(roots.collisions(), 8 - chains.size());
    unsigned int previous = 0;
    for (kavObject* x : walk(roots)) {
        EXPECT_GE(x->hash(7), previous);
        previous = x->hash(7);
    }
    delete hash;
    EXPECT_EQ(kavTestElem::deaths, 4);
    EXPECT_EQ(pool->umem(), 0u);
}

// Under flag 5 the hash line shows "CT[n] CL[c]" whatever flag 6 says;
// without it, the plain container dump.
TEST_F(kavLibTest, HashDumpTexts)
{
    kavTestElem a(1), b(1 + 4191), c(2);
    kavHash4191 hash;
    EXPECT_EQ(dumpText(hash, 0, 1), "kavHash \n");
    addAll(hash, {&a, &b, &c});
    EXPECT_EQ(dumpText(hash, 0, 1), "kavHash \n    kavObject \n    kavObject \n    kavObject \n");
    kavLib::set(6);
    EXPECT_EQ(dumpText(hash, 2, 0), "  kavHash CT[3]\n      kavObject       kavObject       kavObject ");
    kavLib::set(5);
    EXPECT_EQ(dumpText(hash, 0, 1), "kavHash CT[3] CL[1]\n    kavObject \n    kavObject \n    kavObject \n");
    kavLib::clr(6);
    EXPECT_EQ(dumpText(hash, 0, 0), "kavHash CT[3] CL[1]\n    kavObject     kavObject     kavObject ");
    kavLib::set(3);
    kavLib::set(1);
    EXPECT_EQ(maskPointers(dumpText(hash, 1, 1)), " kavHash @[@PTR] RC[0] CT[3] CL[1]\n"
                                                "     kavObject @[@PTR] RC[0] \n"
                                                "     kavObject @[@PTR] RC[0] \n"
                                                "     kavObject @[@PTR] RC[0] \n");

    kavList outer;
    outer.add(hash);
    kavLib::clr(1);
    kavLib::clr(3);
    EXPECT_EQ(dumpText(outer, 0, 1), "kavList \n    kavHash CT[3] CL[1]\n"
                                   "        kavObject \n        kavObject \n        kavObject \n");
    kavLib::set(6);
    kavLib::clr(5);
    EXPECT_EQ(dumpText(hash, 0, 1), "kavHash CT[3]\n    kavObject \n    kavObject \n    kavObject \n");
}

// get and next on a done iterator, and prefix ++ off the last element, stop the program.
TEST_F(kavLibTest, HashIteratorChecksDeath)
{
    kavObject a;
    kavHash4191 hash;
    kavHashIter4191 empty(&hash);
    EXPECT_DEATH(empty.get(), assertionReport("_current", "kavhash", 287));
    EXPECT_DEATH(empty.next(), assertionReport("_index < size", "kavhash", 327));
    hash.add(a);
    kavIterPtr it(hash);
    EXPECT_DEATH(++it, assertionReport("_current", "kavhash", 287));
    EXPECT_EQ(&it++, &a);
    EXPECT_TRUE(it->done());
}
