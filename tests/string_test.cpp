// String elements, string tables and string handles.
#include "testutil.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

namespace {

// The string hash written out independently of the library: start at 1,
// multiply by 257 and add each byte as a signed value, modulo 2^32.
unsigned int refHash(const std::string& text, unsigned int n)
{
    std::int64_t h = 1;
    for (char c : text)
        h = (h * 257 + static_cast<signed char>(c)) & 0xFFFFFFFF;
    return static_cast<unsigned int>(h % n);
}

// -1 when `a` lies below `b`, else +1: the order of unrelated objects.
int addressOrder(const void* a, const void* b) { return std::less<const void*>()(a, b) ? -1 : 1; }

unsigned int rounded(std::size_t size) { return kavPool::roundSize(static_cast<unsigned int>(size)); }

// Reaches the protected statics that forget the tables.
struct tableAccess : kavStringTbl {
    using kavStringTbl::pool;
    using kavStringTbl::tempPool;
};

} // namespace

// The worked values, then high bytes and texts long enough to wrap the
// 32-bit running value, against the independent reference.
TEST_F(kavInitTest, StringHashMatchesTheWorkedValuesAndTheReference)
{
    EXPECT_EQ(kavString(nullptr).hash(2), 1u);
    EXPECT_EQ(kavString("a").hash(4191), 354u);
    EXPECT_EQ(kavString("abc").hash(4191), 4087u);
    EXPECT_EQ(kavString("abc").hash(INT_MAX), 23406631u); // the whole running value
    for (const std::string& text : {std::string("\xFF\x80\x7F"), std::string(300, '\xFE'), std::string(1000, 'z'),
                                    std::string("the quick brown fox jumps over the lazy dog")})
        for (unsigned int n : {4191u, 65536u, static_cast<unsigned int>(INT_MAX)})
            EXPECT_EQ(kavString(text.c_str()).hash(static_cast<int>(n)), refHash(text, n)) << text.substr(0, 9);
}

// One element per text, null and empty text alike.  Element, text (length
// plus one, rounded) and link come from the table's pool; a duplicate's
// candidate goes to the recycle lists and the next duplicate reuses it.  An
// element converts to a new handle in its pool, which the caller deletes.
TEST_F(kavInitTest, InterningKeepsOneElementPerTextInTheTablesPool)
{
    kavPool pool;
    kavLib::tempInit(&pool);
    kavStringTbl& table = *kavStringTbl::establishTemp(nullptr);
    const unsigned int tbl = rounded(sizeof(kavStringTbl)), elem = rounded(sizeof(kavStrElem));
    const unsigned int link = rounded(sizeof(kavLinkObj));
    kavString seven("1234567"); // 8 bytes with its terminator
    EXPECT_EQ(seven.elem()->getPool(), &pool);
    EXPECT_EQ(pool.umem(), tbl + elem + 8 + link);
    kavString eight("12345678"); // 9 bytes, rounded to 16
    const unsigned int used = tbl + 2 * (elem + link) + 8 + 16;
    EXPECT_EQ(pool.umem(), used);
    EXPECT_EQ(pool.rmem(), 0u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(&table.addStrElem("12345678"), eight.elem());
        EXPECT_EQ(pool.umem(), used);
        EXPECT_EQ(pool.rmem(), elem + 16);
        EXPECT_EQ(pool.rblocks(), 2u);
    }
    kavStrElem& empty = table.addStrElem(nullptr);
    EXPECT_EQ(&table.addStrElem(""), &empty);
    EXPECT_STREQ(static_cast<char*>(empty), "");
    kavString* none = new (nullptr) kavString(nullptr); // the main pool, the empty text
    EXPECT_TRUE(none->elem() == &empty && none->getPool() == kavPool::mainPool());
    delete none;
    EXPECT_EQ(table.count(), 3);
    EXPECT_EQ(eight.elem()->useCount(), 1);

    const unsigned int before = pool.umem();
    kavString& handle = *eight.elem();
    EXPECT_EQ(handle.elem(), eight.elem());
    EXPECT_EQ(pool.umem(), before + rounded(sizeof(kavString)));
    delete &handle;
    EXPECT_EQ(pool.umem(), before);
    kavLib::tempReset();
}

// establish makes a table once and then ignores the pool it is given; the
// protected pool() and tempPool() forget tables without freeing anything.
TEST_F(kavLibTest, EstablishOnceAndForgetWithoutFreeing)
{
    kavPool other;
    kavStringTbl* global = kavStringTbl::establish(nullptr);
    EXPECT_EQ(global->getPool(), kavPool::mainPool());
    EXPECT_EQ(kavStringTbl::establish(&other), global);
    kavStringTbl* temp = kavStringTbl::establishTemp(&other);
    EXPECT_EQ(kavStringTbl::establishTemp(nullptr), temp);
    EXPECT_EQ(other.umem(), rounded(sizeof(kavStringTbl))); // the temporary table only
    temp->addStrElem("scratch");
    const unsigned int mainUsed = kavPool::mainPool()->umem(), otherUsed = other.umem();
    tableAccess::tempPool();
    EXPECT_EQ(kavStringTbl::tempTable(), nullptr);
    EXPECT_EQ(kavStringTbl::table(), global);
    tableAccess::pool();
    EXPECT_EQ(kavStringTbl::table(), nullptr);
    EXPECT_EQ(kavPool::mainPool()->umem(), mainUsed);
    EXPECT_EQ(other.umem(), otherUsed);
}

// Elements are equal by text and order by strcmp's own value; against
// other classes they are never equal and order by address.
TEST_F(kavInitTest, ElementsCompareByText)
{
    kavStrElem& abc = *kavString("abc").elem();
    kavStrElem& abz = *kavString("abz").elem();
    kavStrElem loose("abc"); // in no table and no pool
    kavObject plain;
    EXPECT_TRUE(abc.isEqual(loose) && loose.isEqual(abc));
    EXPECT_EQ(loose.objcmp(abc), 0);
    EXPECT_FALSE(abc.isEqual(abz));
    const char* lo = abc;
    const char* hi = abz;
    EXPECT_EQ(abc.objcmp(abz), std::strcmp(lo, hi)); // not reduced to -1/+1
    EXPECT_EQ(abz.objcmp(abc), std::strcmp(hi, lo));
    EXPECT_FALSE(abc.isEqual(plain) || abc.isEqual(kavString("abc")));
    EXPECT_EQ(abc.objcmp(plain), addressOrder(&abc, &plain));
    kavString& handle = loose; // the main pool for an element without a pool
    EXPECT_EQ(handle.getPool(), kavPool::mainPool());
    delete &handle;
}

// Three ways to make a handle; equality by element, order by text (named
// objects: see there), address order against anything else.
TEST_F(kavInitTest, StringsCompareByElementAndOrderByText)
{
    kavString abc("abc"), again("abc"), copy(abc), fromElem(abc.elem()), abd("abd");
    for (const kavString* s : {&again, &copy, &fromElem}) {
        EXPECT_EQ(s->elem(), abc.elem());
        EXPECT_TRUE(abc.isEqual(*s));
        EXPECT_EQ(abc.objcmp(*s), 0);
    }
    EXPECT_FALSE(abc.isEqual(abd));
    EXPECT_LT(abc.objcmp(abd), 0);
    EXPECT_GT(abd.objcmp(abc), 0);

    // A pooled handle keeps its pool when another is assigned to it.
    kavString* pooled = new kavString(abc);
    *pooled = abd;
    EXPECT_EQ(pooled->elem(), abd.elem());
    EXPECT_EQ(pooled->getPool(), kavPool::mainPool());
    EXPECT_EQ(abd.elem()->useCount(), 1);
    delete pooled;

    kavObject plain;
    EXPECT_FALSE(abc.isEqual(plain) || abc.isEqual(*abc.elem()));
    EXPECT_EQ(abc.objcmp(plain), addressOrder(&abc, &plain));
    EXPECT_EQ(abc.objcmp(*abc.elem()), addressOrder(&abc, abc.elem()));

    // The same text in the temporary table is another element: not equal,
    // yet equal in order.
    kavLib::tempInit(nullptr);
    kavString temp("abc");
    EXPECT_FALSE(abc.isEqual(temp) || temp.isEqual(abc));
    EXPECT_EQ(abc.objcmp(temp), 0);
    kavLib::tempReset();
}

// Flag 4 adds the object lines, flags 0, 1 and 3 fill them in; the table
// walks its chains in order, newest first within a chain ("aav" and "bea"
// share one).
TEST_F(kavInitTest, StringElementAndTableDumps)
{
    kavString abc("abc");
    const kavStrElem& elem = *abc.elem();
    EXPECT_EQ(dumpText(abc, 3, 0), "   abc ");
    EXPECT_EQ(dumpText(elem, 2, 1), "  abc \n");
    for (const char* text : {"aav", "a", "bea", ""})
        kavString s(text);
    const kavStringTbl& table = *kavStringTbl::table();
    const std::string elements = "     \n    a \n    bea \n    aav \n    abc \n";
    EXPECT_EQ(dumpText(table, 0, 1), "kavStringTblClass \n" + elements);
    kavLib::set(5);
    EXPECT_EQ(dumpText(table, 0, 1), "kavStringTblClass CT[5] CL[1]\n" + elements);

    kavLib::set(4);
    EXPECT_EQ(dumpText(abc, 0, 1), "kavStringClass \n kavStrElem abc \n");
    EXPECT_EQ(dumpText(elem, 2, 0), "  kavStrElem abc ");
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
// chain, and counts the questions.
class greedyElem : public kavStrElem {
public:
    using kavStrElem::kavStrElem;
    bool isEqual(const kavObject&) const override
    {
        ++asked;
        return true;
    }
    mutable int asked = 0;
};

// A table class of the application's own whose find answers nothing.
class forgetfulTable : public kavStringTbl {
public:
    kavObject* find(const kavObject&) const override
    {
        ++asked;
        return nullptr;
    }
    mutable int asked = 0;
};

} // namespace

// Interning asks every element it meets on the chain through the element's
// own isEqual, plain elements or not, and goes through find() of a table
// class of the application's own.
TEST_F(kavInitTest, InterningAsksForeignElementsAndTables)
{
    kavStringTbl* table = kavStringTbl::establish(nullptr);
    kavString bea("bea");
    kavString aav("aav"); // the same chain: the plain "bea" is passed by
    EXPECT_NE(aav.elem(), bea.elem());
    auto* greedy = new greedyElem("bea");
    table->add(*greedy); // now at the head of that chain
    kavString again("aav");
    EXPECT_EQ(again.elem(), greedy);
    EXPECT_EQ(greedy->asked, 1);
    EXPECT_EQ(table->count(), 3);

    auto* own = new (nullptr) forgetfulTable;
    EXPECT_NE(&own->addStrElem("aav"), aav.elem());
    EXPECT_NE(&own->addStrElem("aav"), aav.elem());
    EXPECT_EQ(own->asked, 2);
    EXPECT_EQ(own->count(), 2);
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
