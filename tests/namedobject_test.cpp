// Named objects.
#include "testutil.h"

namespace {

// A named object that answers name() with an alias, while its stored name
// string stays the one it was made with.
struct aliasObj : kavNamedObj {
    aliasObj(const kavString& stored, const kavString& alias) : kavNamedObj(stored), _alias(alias) {}
    const kavString& name() const override { return _alias; }
    kavString _alias;
};

const kavString& stored(const kavNamedObj& obj) { return obj; }

} // namespace

// The name string is a copy made in the object's pool (the main pool for an
// unpooled object); it goes with the object, its element stays.
TEST_F(kavInitTest, NameStringLivesInTheObjectsPool)
{
    kavString bob("bob");
    kavPool pool;
    kavNamedObj* pooled = new (&pool) kavNamedObj(bob);
    EXPECT_TRUE(&stored(*pooled) != &bob && stored(*pooled).elem() == bob.elem());
    EXPECT_EQ(pool.umem(), pooledSize(sizeof(kavNamedObj)) + pooledSize(sizeof(kavString)));
    delete pooled;
    EXPECT_EQ(pool.umem(), 0u);

    const unsigned int mainUsed = kavPool::mainPool()->umem();
    {
        kavNamedObj local(bob);
        kavNamedObj copy(local);
        EXPECT_EQ(kavPool::mainPool()->umem(), mainUsed + 2 * pooledSize(sizeof(kavString)));
    }
    EXPECT_EQ(kavPool::mainPool()->umem(), mainUsed);
}

// Named objects are equal by their stored name's element and hash like it
// (so a hash container finds them by a string key), but order by the text
// of the virtual name(), which dump shows too.
TEST_F(kavInitTest, NamedObjectsCompareByNameAndDump)
{
    kavString bob("bob"), zed("zed");
    kavNamedObj plainBob(bob), plainZed(kavString("zed"));
    aliasObj obj(bob, zed);
    kavObject plain;
    EXPECT_EQ(obj.hash(4191), bob.hash(4191));
    EXPECT_TRUE(obj.isEqual(bob) && obj.isEqual(plainBob) && plainBob.isEqual(obj) && bob.isEqual(obj));
    EXPECT_FALSE(obj.isEqual(zed) || obj.isEqual(plainZed) || plainBob.isEqual(plain));
    EXPECT_TRUE(bob.objcmp(obj) == 0 && obj.objcmp(zed) == 0 && obj.objcmp(plainZed) == 0);
    EXPECT_TRUE(obj.objcmp(bob) > 0 && obj.objcmp(plainBob) > 0 && plainBob.objcmp(zed) < 0);
    EXPECT_EQ(plainBob.objcmp(plain), addressOrder(&plainBob, &plain));
    EXPECT_EQ(dumpText(obj, 0, 0), "kavNamedObj zed ");

    // The object line, then the name: on the same line with flag 4 clear, on
    // the following lines one blank deeper with flag 4 set.
    kavNamedObj local(kavString("abc"));
    EXPECT_EQ(dumpText(local, 2, 1), "  kavNamedObj abc \n");
    kavLib::set(4);
    EXPECT_EQ(dumpText(local, 2, 1), "  kavNamedObj \n   kavStringClass \n    kavStrElem abc \n");
    for (int flag : {0, 1, 3})
        kavLib::set(flag);
    kavNamedObj* pooled = new kavNamedObj(kavString("abc"));
    EXPECT_EQ(maskPointers(dumpText(*pooled, 0, 1)), "kavNamedObj @[@PTR] P[0] RC[0] \n"
                                                     " kavStringClass @[@PTR] P[0] RC[0] \n"
                                                     "  kavStrElem @[@PTR] P[0] RC[1] abc \n");
    delete pooled;
    kavLib::clr(4);
    EXPECT_EQ(maskPointers(dumpText(local, 1, 1)), " kavNamedObj @[@PTR] P[-1] RC[0] abc \n");
}
