// The hash container: chains by the elements' own hash, the collision
// counter, chain-by-chain iteration newest first, its dump and checks.
#include "testutil.h"

using kavHash4191 = kavHash<4191>;

// collisions counts the elements beyond the first of their chain; add joins
// a chain at its head, remove leaves it from wherever the match is.
TEST_F(kavLibTest, HashCountsCollisions)
{
    kavTestElem a(7), b(7 + 4191), c(7 + 2 * 4191), other(8);
    kavHash4191 hash;
    addAll(hash, {&a, &other, &b, &c});
    EXPECT_EQ(hash.collisions(), 2u);
    EXPECT_EQ(walk(hash), (objs{&c, &b, &a, &other}));
    EXPECT_TRUE(hash.remove(other));
    EXPECT_EQ(hash.collisions(), 2u);
    EXPECT_TRUE(hash.remove(a));
    EXPECT_EQ(hash.collisions(), 1u);
    EXPECT_EQ(walk(hash), (objs{&c, &b}));
    EXPECT_TRUE(hash.remove(c));
    EXPECT_TRUE(hash.remove(b));
    EXPECT_EQ(hash.collisions(), 0u);
    addAll(hash, {&a, &b, &a});
    EXPECT_EQ(hash.collisions(), 2u);
    hash.removeAll();
    EXPECT_EQ(hash.collisions(), 0u);
    addAll(hash, {&c, &a});
    EXPECT_EQ(hash.collisions(), 1u);
}

// Chains are walked from 0 up, each newest first, for any size; find and
// remove look in the key's chain only.
TEST_F(kavLibTest, HashWalksChainsInOrder)
{
    kavTestElem last(4190), mid1(5), zero(0), mid2(5 + 4191);
    kavHash4191 hash;
    addAll(hash, {&last, &mid1, &zero, &mid2});
    EXPECT_EQ(walk(hash), (objs{&zero, &mid2, &mid1, &last}));
    EXPECT_EQ(hash.find(kavTestElem(5)), &mid1);

    // Equal but in another chain: not found, not removed.
    struct Misplaced : kavTestElem {
        using kavTestElem::kavTestElem;
        unsigned int hash(int) const override { return 6; }
    } stray(5);
    EXPECT_EQ(hash.find(stray), nullptr);
    EXPECT_FALSE(hash.remove(stray));

    kavTestElem e8(8), e4(4), e15(15);
    kavHash<7> small;
    addAll(small, {&e8, &e4, &e15});
    EXPECT_EQ(walk(small), (objs{&e15, &e8, &e4}));
}

// reset scans the current contents; a running walk sees an addition only in
// a later chain.  index() is the current chain, the size when done.
TEST_F(kavLibTest, HashIteratorRescansOnReset)
{
    kavTestElem a(10), b(20), early(5), sameChain(20 + 4191), later(30);
    kavHash4191 hash;
    kavHashIter<4191> it(&hash);
    EXPECT_EQ(it.index(), 4191u);
    hash.add(a);
    EXPECT_TRUE(it.done());
    it.reset();
    EXPECT_EQ(it.index(), 10u);
    hash.add(b);
    EXPECT_EQ(&it++, &a);
    EXPECT_EQ(it.index(), 20u);
    addAll(hash, {&early, &sameChain, &later});
    EXPECT_EQ(rest(it), (objs{&b, &later}));
    EXPECT_EQ(it.index(), 4191u);
    it.reset();
    EXPECT_EQ(rest(it), (objs{&early, &a, &sameChain, &b, &later}));
}

// Under flag 5 the hash line shows "CT[n] CL[c]" whatever flag 6 says;
// without it, the plain container dump.
TEST_F(kavLibTest, HashDumpTexts)
{
    kavTestElem a(1), b(1 + 4191), c(2);
    kavHash4191 hash;
    addAll(hash, {&a, &b, &c});
    kavLib::set(6);
    EXPECT_EQ(dumpText(hash, 2, 0), "  kavHash CT[3]\n      kavObject       kavObject       kavObject ");
    kavLib::set(5);
    EXPECT_EQ(dumpText(hash, 0, 1), "kavHash CT[3] CL[1]\n    kavObject \n    kavObject \n    kavObject \n");
    kavLib::clr(6);
    kavLib::set(3);
    kavLib::set(1);
    EXPECT_EQ(maskPointers(dumpText(hash, 1, 1)), " kavHash @[@PTR] RC[0] CT[3] CL[1]\n"
                                                "     kavObject @[@PTR] RC[0] \n"
                                                "     kavObject @[@PTR] RC[0] \n"
                                                "     kavObject @[@PTR] RC[0] \n");
}

// A hash of the chain count or more would index past the chain array: add,
// find and remove stop with the library's report instead.
TEST_F(kavLibTest, HashOutOfRangeIsReported)
{
    struct Wide : kavObject {
        unsigned int hash(int n) const override { return static_cast<unsigned int>(n); } // no such chain
    } wide;
    auto* hash = new (nullptr) kavHash<7>;
    const std::string report = assertionReport("hash < size", "kavhash", 401);
    EXPECT_DEATH(hash->add(wide), report);
    EXPECT_DEATH(hash->find(wide), report);
    EXPECT_DEATH(hash->remove(wide), report);
    delete hash;
}
