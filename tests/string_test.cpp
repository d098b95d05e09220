// String elements, string tables and string handles.
#include "testutil.h"

#include <climits>
#include <cstring>

// The worked values, then high bytes (signed) and texts long enough to wrap
// the 32-bit running value: h = h * 257 + byte from h = 1, modulo 2^32.
TEST_F(kavInitTest, StringHashMatchesTheWorkedValues)
{
    EXPECT_EQ(kavString(nullptr).hash(2), 1u);
    const std::vector<std::tuple<std::string, int, unsigned int>> worked = { // text, chains, hash
        {"a", 4191, 354u}, {"abc", 4191, 4087u}, {"abc", INT_MAX, 23406631u}, {"\xFF\x80\x7F", INT_MAX, 16875775u},
        {std::string(300, '\xFE'), 65536, 50601u}, {"the quick brown fox jumps over the lazy dog", INT_MAX, 1467827195u}};
    for (const auto& [text, chains, hash] : worked)
        EXPECT_EQ(kavString(text.c_str()).hash(chains), hash) << text << " in " << chains;
}

// One element per text, null and empty text alike.  Element, text (length
// plus one, rounded) and link come from the table's pool; a duplicate's
// candidate goes back to it.  An element converts to a new handle in its
// pool, which the caller deletes.
TEST_F(kavInitTest, InterningKeepsOneElementPerTextInTheTablesPool)
{
    kavPool pool;
    kavLib::tempInit(&pool);
    kavStringTbl& table = *kavStringTbl::establishTemp(nullptr);
    const unsigned int elem = pooledSize(sizeof(kavStrElem)), link = pooledSize(sizeof(kavLinkObj));
    kavString seven("1234567"), eight("12345678"); // 8 bytes with the terminator; 9, rounded to 16
    const unsigned int used = pooledSize(sizeof(kavStringTbl)) + 2 * (elem + link) + 8 + 16;
    EXPECT_EQ(pool.umem(), used);
    EXPECT_EQ(&table.addStrElem("12345678"), eight.elem());
    EXPECT_EQ(std::make_pair(pool.umem(), pool.rmem()), std::make_pair(used, elem + 16)); // the candidate went back
    kavStrElem& empty = table.addStrElem(nullptr);
    EXPECT_TRUE(&table.addStrElem("") == &empty && kavString(nullptr).elem() == &empty && table.count() == 3);

    const unsigned int before = pool.umem();
    kavString& handle = *eight.elem();
    EXPECT_TRUE(handle.elem() == eight.elem() && pool.umem() == before + pooledSize(sizeof(kavString)));
    delete &handle;
    EXPECT_EQ(pool.umem(), before);
    kavLib::tempReset();
}

// Elements are equal by text and order by strcmp's own value; handles are
// equal by element and order by text (the same text from two tables: see
// the operators' test).  Against any other class: never equal, address
// order.  A pooled handle keeps its pool when another is assigned.
TEST_F(kavInitTest, ElementsAndStringsCompare)
{
    kavString abc("abc"), again("abc"), copy(abc), fromElem(abc.elem()), abz("abz");
    kavStrElem &elem = *abc.elem(), &elemZ = *abz.elem();
    kavStrElem loose("abc"); // in no table and no pool
    kavObject plain;
    EXPECT_TRUE(elem.isEqual(loose) && loose.isEqual(elem) && loose.objcmp(elem) == 0 && !elem.isEqual(elemZ));
    EXPECT_EQ(elem.objcmp(elemZ), std::strcmp(elem, elemZ)); // not reduced to -1/+1
    EXPECT_FALSE(elem.isEqual(plain) || elem.isEqual(abc));
    EXPECT_EQ(elem.objcmp(plain), addressOrder(&elem, &plain));

    for (const kavString* s : {&again, &copy, &fromElem})
        EXPECT_TRUE(s->elem() == &elem && abc.isEqual(*s) && abc.objcmp(*s) == 0);
    EXPECT_FALSE(abc.isEqual(abz) || abc.isEqual(plain) || abc.isEqual(elem));
    EXPECT_TRUE(abc.objcmp(abz) < 0 && abz.objcmp(abc) > 0);
    EXPECT_EQ(abc.objcmp(elem), addressOrder(&abc, &elem));
    kavString* pooled = new kavString(abc);
    *pooled = abz;
    EXPECT_TRUE(pooled->elem() == &elemZ && pooled->getPool() == kavPool::mainPool());
    delete pooled;
}

// Flag 4 adds the object lines, flags 0, 1 and 3 fill them in; the table
// walks its chains in order, newest first within a chain ("aav" and "bea"
// share one).
TEST_F(kavInitTest, StringElementAndTableDumps)
{
    kavString abc("abc");
    EXPECT_EQ(dumpText(abc, 3, 0), "   abc ");
    for (const char* text : {"aav", "a", "bea", ""})
        kavString s(text);
    const kavStringTbl& table = *kavStringTbl::table();
    kavLib::set(5);
    EXPECT_EQ(dumpText(table, 0, 1),
              "kavStringTblClass CT[5] CL[1]\n     \n    a \n    bea \n    aav \n    abc \n");
    kavLib::set(4);
    EXPECT_EQ(dumpText(abc, 0, 1), "kavStringClass \n kavStrElem abc \n");
    kavLib::set(1);
    kavLib::set(3);
    EXPECT_EQ(maskPointers(dumpText(table, 0, 1)), "kavStringTblClass @[@PTR] RC[0] CT[5] CL[1]\n"
                                                   "    kavStrElem @[@PTR] RC[1]  \n"
                                                   "    kavStrElem @[@PTR] RC[1] a \n"
                                                   "    kavStrElem @[@PTR] RC[1] bea \n"
                                                   "    kavStrElem @[@PTR] RC[1] aav \n"
                                                   "    kavStrElem @[@PTR] RC[1] abc \n");
    kavLib::set(0);
    EXPECT_EQ(maskPointers(dumpText(abc, 1, 1)),
              " kavStringClass @[@PTR] P[-1] RC[0] \n  kavStrElem @[@PTR] P[0] RC[1] abc \n");
}

namespace {

// An element of the application's own class that claims every text of its
// chain, and a table class whose find answers nothing; both count the calls.
struct greedyElem : kavStrElem {
    using kavStrElem::kavStrElem;
    bool isEqual(const kavObject&) const override { ++asked; return true; }
    mutable int asked = 0;
};
struct forgetfulTable : kavStringTbl {
    kavObject* find(const kavObject&) const override { ++asked; return nullptr; }
    mutable int asked = 0;
};

} // namespace

// Interning asks every element it meets on the chain through the element's
// own isEqual, plain elements or not, and goes through find() of a table
// class of the application's own.
TEST_F(kavInitTest, InterningAsksForeignElementsAndTables)
{
    kavStringTbl& table = *kavStringTbl::establish(nullptr);
    kavString bea("bea"), aav("aav"); // one chain: the plain "bea" is passed by
    auto* greedy = new greedyElem("bea");
    table.add(*greedy); // now at the head of that chain
    EXPECT_TRUE(kavString("aav").elem() == greedy && greedy->asked == 1 && table.count() == 3);
    auto* own = new (nullptr) forgetfulTable;
    own->addStrElem("aav");
    own->addStrElem("aav");
    EXPECT_TRUE(own->asked == 2 && own->count() == 2);
    delete own;
}

using kavStringDeathTest = kavLibTest;

// Interning needs the global table, even into the temporary table; a
// string made from text needs one table at least.
TEST_F(kavStringDeathTest, InterningWithoutTheGlobalTable)
{
    kavLib::tempInit(nullptr);
    EXPECT_DEATH({ kavString s("x"); }, assertionReport("_table", "kavstr", 157));
    EXPECT_DEATH(kavStringTbl::establishTemp(nullptr)->addStrElem("x"), assertionReport("_table", "kavstr", 157));
    kavLib::tempReset();
    EXPECT_DEATH({ kavString s("x"); }, assertionReport("kavStringTbl::_table", "kavstr", 190));
}
