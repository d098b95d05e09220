// Named objects.
#include "testutil.h"

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A named object that answers name() with an alias, while its stored name
// string stays the one it was made with.
class aliasObj : public kavNamedObj {
public:
    aliasObj(const kavString& stored, const kavString& alias) : kavNamedObj(stored), _alias(alias) {}
    const kavString& name() const override { return _alias; }

private:
    kavString _alias;
};

const kavString& stored(const kavNamedObj& obj) { return obj; }

int addressOrder(const void* a, const void* b)
{
    return reinterpret_cast<std::uintptr_t>(a) < reinterpret_cast<std::uintptr_t>(b) ? -1 : 1;
}

unsigned int rounded(std::size_t size) { return kavPool::roundSize(static_cast<unsigned int>(size)); }

} // namespace

// The name string is a copy made in the object's pool (the main pool for an
// unpooled object); it goes with the object, its element stays.
TEST_F(kavInitTest, NameStringLivesInTheObjectsPool)
{
    kavString bob("bob");
    kavPool pool;
    kavNamedObj* pooled = new (&pool) kavNamedObj(bob);
    EXPECT_NE(&stored(*pooled), &bob);
    EXPECT_EQ(stored(*pooled).elem(), bob.elem());
    EXPECT_EQ(stored(*pooled).getPool(), &pool);
    EXPECT_EQ(&pooled->name(), &stored(*pooled));
    EXPECT_EQ(pool.umem(), rounded(sizeof(kavNamedObj)) + rounded(sizeof(kavString)));

    const int count = kavStringTbl::table()->count();
    delete pooled;
    EXPECT_EQ(pool.umem(), 0u);
    EXPECT_EQ(kavStringTbl::table()->count(), count);
    EXPECT_EQ(bob.elem()->useCount(), 1);
    EXPECT_EQ(kavString("bob").elem(), bob.elem());

    const unsigned int mainUsed = kavPool::mainPool()->umem();
    {
        kavNamedObj local(bob);
        EXPECT_EQ(local.getPool(), nullptr);
        EXPECT_EQ(stored(local).getPool(), kavPool::mainPool());
        EXPECT_EQ(kavPool::mainPool()->umem(), mainUsed + rounded(sizeof(kavString)));
    }
    EXPECT_EQ(kavPool::mainPool()->umem(), mainUsed);
}

// Named objects are equal by their stored name's element and order by name
// text; strings of that element match them both ways.
TEST_F(kavInitTest, NamedObjectsCompareByName)
{
    kavString abc("abc");
    kavNamedObj first(abc);
    kavNamedObj second(kavString("abc"));
    kavNamedObj abd(kavString("abd"));
    EXPECT_TRUE(first.isEqual(second));
    EXPECT_TRUE(second.isEqual(first));
    EXPECT_EQ(first.objcmp(second), 0);
    EXPECT_EQ(first.hash(4191), abc.hash(4191));
    EXPECT_TRUE(first.isEqual(abc));
    EXPECT_EQ(first.objcmp(abc), 0);
    EXPECT_FALSE(first.isEqual(abd));
    EXPECT_EQ(first.objcmp(abd), std::strcmp("abc", static_cast<char*>(abd.name())));
    EXPECT_LT(first.objcmp(abd), 0);
    EXPECT_GT(abd.objcmp(abc), 0);

    kavObject plain;
    EXPECT_FALSE(first.isEqual(plain));
    EXPECT_EQ(first.objcmp(plain), addressOrder(&first, &plain));
    EXPECT_EQ(first.objcmp(*abc.elem()), addressOrder(&first, abc.elem()));

    // A name interned in the temporary table is another element.
    kavLib::tempInit(nullptr);
    kavNamedObj scratch(kavString("abc"));
    EXPECT_FALSE(first.isEqual(scratch));
    EXPECT_FALSE(scratch.isEqual(abc));
    EXPECT_EQ(first.objcmp(scratch), 0);
    kavLib::tempReset();

    EXPECT_STREQ(first.className(), "kavNamedObj");
    EXPECT_TRUE(first.isA(kavNamedObjClass));
    EXPECT_TRUE(first.isA(kavObjectClass));
    EXPECT_FALSE(first.isA(kavStringClass));
}

// objcmp and dump ask the virtual name(); hash, isEqual and the string's
// own comparisons use the stored name.
TEST_F(kavInitTest, OverriddenNameSteersOrderAndDumpOnly)
{
    kavString bob("bob");
    kavString zed("zed");
    aliasObj obj(bob, zed);
    EXPECT_NE(&obj.name(), &stored(obj));
    EXPECT_EQ(stored(obj).elem(), bob.elem());
    EXPECT_EQ(obj.name().elem(), zed.elem());

    EXPECT_EQ(obj.hash(4191), bob.hash(4191));
    EXPECT_TRUE(obj.isEqual(bob));
    EXPECT_FALSE(obj.isEqual(zed));
    EXPECT_TRUE(bob.isEqual(obj));
    EXPECT_EQ(bob.objcmp(obj), 0);
    EXPECT_GT(zed.objcmp(obj), 0);

    EXPECT_EQ(obj.objcmp(zed), 0);
    EXPECT_GT(obj.objcmp(bob), 0);
    kavNamedObj plainZed(zed);
    EXPECT_EQ(obj.objcmp(plainZed), 0);
    EXPECT_FALSE(obj.isEqual(plainZed));
    kavNamedObj plainBob(bob);
    EXPECT_TRUE(obj.isEqual(plainBob));
    EXPECT_GT(obj.objcmp(plainBob), 0);

    std::ostringstream os;
    obj.dump(os, 0, 0);
    EXPECT_EQ(os.str(), "kavNamedObj zed ");
}

// A hash container of named objects is searched with a string key, in the
// chain of the stored name; leaving it deletes the pooled objects.
TEST_F(kavInitTest, HashOfNamedObjectsIsSearchedWithAString)
{
    kavString keys[] = {"pear", "apple", "fig", "bob", "zed", "kiwi"};
    const unsigned int mainUsed = kavPool::mainPool()->umem();
    kavNamedObj* found[3] = {};
    {
        kavHash<4191> hash;
        for (int i = 0; i < 3; ++i)
            found[i] = &static_cast<kavNamedObj&>(hash.add(*new kavNamedObj(keys[i])));
        aliasObj* alias = new aliasObj(keys[3], keys[4]);
        hash.add(*alias);
        EXPECT_EQ(hash.count(), 4);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(hash.find(kavString(static_cast<char*>(keys[i]))), found[i]);
            EXPECT_EQ(found[i]->useCount(), 1);
        }
        EXPECT_EQ(hash.find(keys[3]), alias);
        EXPECT_EQ(hash.find(keys[4]), nullptr);
        EXPECT_EQ(hash.find(keys[5]), nullptr);
        EXPECT_TRUE(hash.remove(keys[1]));
        EXPECT_EQ(hash.find(keys[1]), nullptr);
    }
    EXPECT_EQ(kavPool::mainPool()->umem(), mainUsed);
}

// A sorted list of named objects keeps them in the order of name().
TEST_F(kavInitTest, SortedListKeepsNameOrder)
{
    kavNamedObj pear(kavString("pear"));
    kavNamedObj apple(kavString("apple"));
    kavNamedObj fig(kavString("fig"));
    aliasObj grape(kavString("aaa"), kavString("grape"));
    kavSList list;
    for (kavNamedObj* obj : {&pear, &apple, static_cast<kavNamedObj*>(&grape), &fig})
        list.add(*obj);
    std::vector<std::string> names;
    for (kavIterPtr it(list); it; it++)
        names.emplace_back(static_cast<char*>(static_cast<const kavNamedObj&>(it()).name()));
    EXPECT_EQ(names, (std::vector<std::string>{"apple", "fig", "grape", "pear"}));
    EXPECT_EQ(list.find(kavString("fig")), &fig);
    EXPECT_EQ(list.find(kavString("aaa")), &grape);
}

// The object line, then the name: on the same line with flag 4 clear, on
// the following lines one blank deeper with flag 4 set.
TEST_F(kavInitTest, NamedObjectDumps)
{
    kavNamedObj local(kavString("abc"));
    std::ostringstream os;
    local.dump(os, 2, 1);
    local.dump(os, 0, 0);
    EXPECT_EQ(os.str(), "  kavNamedObj abc \nkavNamedObj abc ");

    kavLib::set(4);
    os.str("");
    local.dump(os, 2, 1);
    EXPECT_EQ(os.str(), "  kavNamedObj \n   kavStringClass \n    kavStrElem abc \n");

    kavLib::set(0);
    kavLib::set(1);
    kavLib::set(3);
    kavNamedObj* pooled = new kavNamedObj(kavString("abc"));
    os.str("");
    pooled->dump(os, 0, 1);
    EXPECT_EQ(maskPointers(os.str()), "kavNamedObj @[@PTR] P[0] RC[0] \n"
                                      " kavStringClass @[@PTR] P[0] RC[0] \n"
                                      "  kavStrElem @[@PTR] P[0] RC[1] abc \n");
    delete pooled;
    kavLib::clr(4);
    os.str("");
    local.dump(os, 1, 1);
    EXPECT_EQ(maskPointers(os.str()), " kavNamedObj @[@PTR] P[-1] RC[0] abc \n");
}
