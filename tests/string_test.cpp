// String elements, string tables and string handles.
#include "testutil.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

namespace {

// The string hash written out independently of the library: start at 1,
// multiply by 257 and add each byte as a signed value, modulo 2^32.
unsigned int refHash(const std::string& text, unsigned int n)
{
    std::uint64_t h = 1;
    for (char c : text) {
        const std::int64_t v = static_cast<signed char>(c);
        h = (h * 257 + static_cast<std::uint64_t>(v)) & 0xFFFFFFFFu;
    }
    return static_cast<unsigned int>(h % n);
}

// -1 when `a` lies below `b`, else +1: the order of unrelated objects.
int addressOrder(const void* a, const void* b)
{
    return reinterpret_cast<std::uintptr_t>(a) < reinterpret_cast<std::uintptr_t>(b) ? -1 : 1;
}

// Reaches the protected statics that forget the tables.
struct tableAccess : kavStringTbl {
    using kavStringTbl::pool;
    using kavStringTbl::tempPool;
};

unsigned int rounded(std::size_t size) { return kavPool::roundSize(static_cast<unsigned int>(size)); }

} // namespace

// The worked values, then texts with high bytes and texts long enough to
// wrap the 32-bit running value, against the independent reference.
TEST_F(kavInitTest, StringHashMatchesTheWorkedValuesAndTheReference)
{
    EXPECT_EQ(kavString("").hash(4191), 1u);
    EXPECT_EQ(kavString(static_cast<const char*>(nullptr)).hash(2), 1u);
    EXPECT_EQ(kavString("a").hash(4191), 354u);
    kavString abc("abc");
    EXPECT_EQ(abc.hash(4191), 4087u);
    EXPECT_EQ(abc.hash(INT_MAX), 23406631u); // the whole running value
    EXPECT_EQ(kavString("\xE9").hash(4191), 234u);
    EXPECT_EQ(abc.hash(4191), abc.elem()->hash(4191));

    const std::string texts[] = {"\xFF\x80\x7F", "\x80", std::string(300, '\xFE'),
                                 "the quick brown fox jumps over the lazy dog", std::string(1000, 'z'),
                                 "aav", "bea"};
    for (const std::string& text : texts) {
        kavString s(text.c_str());
        for (unsigned int n : {4191u, 1000u, 65536u, static_cast<unsigned int>(INT_MAX)})
            EXPECT_EQ(s.hash(static_cast<int>(n)), refHash(text, n)) << text.substr(0, 12) << " n=" << n;
    }
    EXPECT_EQ(refHash("aav", 4191), refHash("bea", 4191)); // a collision, used by the table dump
}

// One element per text in a table; null and empty text are one element.
TEST_F(kavInitTest, InterningKeepsOneElementPerText)
{
    kavStringTbl* table = kavStringTbl::establish(nullptr);
    kavStrElem& first = table->addStrElem("abc");
    kavStrElem& second = table->addStrElem("abc");
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(table->count(), 1);
    EXPECT_EQ(first.useCount(), 1);
    EXPECT_EQ(first.getPool(), kavPool::mainPool());

    kavStrElem& fromNull = table->addStrElem(nullptr);
    EXPECT_EQ(&table->addStrElem(""), &fromNull);
    EXPECT_STREQ(static_cast<char*>(fromNull), "");
    EXPECT_EQ(table->count(), 2);
    EXPECT_EQ(fromNull.useCount(), 1);

    // Handles made from text find the same elements.
    EXPECT_EQ(kavString("abc").elem(), &first);
    kavString empty(static_cast<const char*>(nullptr));
    EXPECT_EQ(empty.elem(), &fromNull);
    EXPECT_EQ(std::strlen(empty), 0u);
    EXPECT_EQ(table->count(), 2);
}

// Element, text and link come from the table's pool, the text exactly its
// length plus one, rounded; a duplicate's candidate goes back to the recycle
// lists, and the next duplicate takes it from there.
TEST_F(kavInitTest, ElementsAndTextsLiveInTheTablesPool)
{
    kavPool pool;
    kavLib::tempInit(&pool);
    const unsigned int table = rounded(sizeof(kavStringTbl));
    const unsigned int elem = rounded(sizeof(kavStrElem));
    const unsigned int link = rounded(sizeof(kavLinkObj));
    EXPECT_EQ(pool.umem(), table);

    kavString seven("1234567"); // 8 bytes with its terminator
    EXPECT_EQ(seven.elem()->getPool(), &pool);
    EXPECT_EQ(pool.umem(), table + elem + 8 + link);
    kavString eight("12345678"); // 9 bytes, rounded to 16
    EXPECT_EQ(pool.umem(), table + 2 * (elem + link) + 8 + 16);
    EXPECT_EQ(pool.rmem(), 0u);

    const unsigned int used = pool.umem();
    kavString again("12345678");
    EXPECT_EQ(again.elem(), eight.elem());
    EXPECT_EQ(pool.umem(), used);
    EXPECT_EQ(pool.rmem(), elem + 16);
    EXPECT_EQ(pool.rblocks(), 2u);

    const unsigned int freeBytes = pool.fmem();
    kavString third("12345678");
    EXPECT_EQ(pool.umem(), used);
    EXPECT_EQ(pool.rmem(), elem + 16);
    EXPECT_EQ(pool.fmem(), freeBytes);
    EXPECT_EQ(kavStringTbl::tempTable()->count(), 2);
    EXPECT_EQ(eight.elem()->useCount(), 1);
    kavLib::tempReset();
}

// A text interned in both tables has two elements: the handles differ by
// isEqual, yet order as equal and hash alike; the elements compare by text.
TEST_F(kavInitTest, GlobalAndTemporaryTablesAreIndependent)
{
    kavString global("abc");
    kavLib::tempInit(nullptr);
    kavString temp("abc");
    EXPECT_NE(temp.elem(), global.elem());
    EXPECT_EQ(temp.elem()->getPool(), kavStringTbl::tempTable()->getPool());
    EXPECT_NE(temp.elem()->getPool(), kavPool::mainPool());
    EXPECT_EQ(kavStringTbl::table()->count(), 1);
    EXPECT_EQ(kavStringTbl::tempTable()->count(), 1);

    EXPECT_FALSE(global.isEqual(temp));
    EXPECT_FALSE(temp.isEqual(global));
    EXPECT_EQ(global.objcmp(temp), 0);
    EXPECT_EQ(temp.objcmp(global), 0);
    EXPECT_EQ(global.hash(4191), temp.hash(4191));
    EXPECT_TRUE(global.elem()->isEqual(*temp.elem()));
    EXPECT_EQ(global.elem()->objcmp(*temp.elem()), 0);

    kavLib::tempReset();
    EXPECT_EQ(kavString("abc").elem(), global.elem());
}

// establish makes a table once and then ignores the pool it is given; the
// protected pool() and tempPool() forget tables without freeing anything.
TEST_F(kavLibTest, EstablishOnceAndForgetWithoutFreeing)
{
    kavPool other;
    EXPECT_EQ(kavStringTbl::table(), nullptr);
    kavStringTbl* global = kavStringTbl::establish(nullptr);
    ASSERT_NE(global, nullptr);
    EXPECT_EQ(global->getPool(), kavPool::mainPool());
    EXPECT_EQ(kavStringTbl::establish(&other), global);
    EXPECT_EQ(other.umem(), 0u);
    EXPECT_EQ(kavStringTbl::table(), global);
    EXPECT_EQ(global->count(), 0);
    EXPECT_STREQ(global->className(), "kavStringTblClass");
    EXPECT_EQ(global->className(), kavStringTblClass);
    EXPECT_TRUE(global->isA(kavStringTblClass));
    EXPECT_TRUE(global->isA(kavHashClass));
    EXPECT_TRUE(global->isA(kavContainerClass));
    EXPECT_TRUE(global->isA(kavObjectClass));
    EXPECT_FALSE(global->isA(kavStrElemClass));

    kavStringTbl* temp = kavStringTbl::establishTemp(&other);
    EXPECT_EQ(temp->getPool(), &other);
    EXPECT_EQ(kavStringTbl::establishTemp(nullptr), temp);
    EXPECT_NE(temp, global);
    temp->addStrElem("scratch");

    const unsigned int mainUsed = kavPool::mainPool()->umem();
    const unsigned int otherUsed = other.umem();
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
    kavStringTbl* table = kavStringTbl::establish(nullptr);
    kavStrElem& abc = table->addStrElem("abc");
    kavStrElem& abz = table->addStrElem("abz");
    kavStrElem loose("abc"); // in no table and no pool
    EXPECT_EQ(loose.getPool(), nullptr);

    EXPECT_TRUE(abc.isEqual(abc));
    EXPECT_EQ(abc.objcmp(abc), 0);
    EXPECT_TRUE(abc.isEqual(loose));
    EXPECT_TRUE(loose.isEqual(abc));
    EXPECT_EQ(loose.objcmp(abc), 0);
    EXPECT_FALSE(abc.isEqual(abz));
    const char* lo = abc;
    const char* hi = abz;
    EXPECT_EQ(abc.objcmp(abz), std::strcmp(lo, hi)); // not reduced to -1/+1
    EXPECT_EQ(abz.objcmp(abc), std::strcmp(hi, lo));
    EXPECT_LT(abc.objcmp(abz), 0);

    kavObject plain;
    kavString handle("abc");
    EXPECT_FALSE(abc.isEqual(plain));
    EXPECT_FALSE(abc.isEqual(handle));
    EXPECT_EQ(abc.objcmp(plain), addressOrder(&abc, &plain));
    EXPECT_EQ(abc.objcmp(handle), addressOrder(&abc, &handle));
    EXPECT_EQ(loose.objcmp(plain), addressOrder(&loose, &plain));

    EXPECT_EQ(static_cast<char*>(abc), static_cast<char*>(handle));
    EXPECT_STREQ(abc.className(), "kavStrElem");
    EXPECT_TRUE(abc.isA(kavStrElemClass));
    EXPECT_TRUE(abc.isA(kavObjectClass));
    EXPECT_FALSE(abc.isA(kavStringClass));
}

// The conversion to kavString& makes a new handle in the element's pool
// (the main pool for an element without one); the caller deletes it.
TEST_F(kavInitTest, ElementConversionMakesAHandleInItsPool)
{
    kavPool pool;
    kavLib::tempInit(&pool);
    kavStrElem& elem = *kavString("abc").elem();
    const unsigned int used = pool.umem();
    kavString& handle = elem;
    EXPECT_EQ(handle.elem(), &elem);
    EXPECT_EQ(handle.getPool(), &pool);
    EXPECT_EQ(pool.umem(), used + rounded(sizeof(kavString)));
    EXPECT_EQ(elem.useCount(), 1);
    delete &handle;
    EXPECT_EQ(pool.umem(), used);
    kavLib::tempReset();

    kavStrElem loose("xyz");
    kavString& other = loose;
    EXPECT_EQ(other.getPool(), kavPool::mainPool());
    EXPECT_STREQ(static_cast<char*>(other), "xyz");
    delete &other;
}

// Three ways to make a handle; equality by element, order by text, both
// ways against named objects, address order against anything else.
TEST_F(kavInitTest, StringsCompareByElementAndOrderByText)
{
    kavString abc("abc");
    kavString again("abc");
    kavString copy(abc);
    kavString fromElem(abc.elem());
    kavString abd("abd");
    for (const kavString* s : {&again, &copy, &fromElem}) {
        EXPECT_EQ(s->elem(), abc.elem());
        EXPECT_TRUE(abc.isEqual(*s));
        EXPECT_TRUE(s->isEqual(abc));
        EXPECT_EQ(abc.objcmp(*s), 0);
        EXPECT_EQ(s->hash(4191), abc.hash(4191));
        EXPECT_EQ(s->getPool(), nullptr);
    }
    EXPECT_FALSE(abc.isEqual(abd));
    EXPECT_EQ(abc.objcmp(abd), std::strcmp(abc, abd));
    EXPECT_LT(abc.objcmp(abd), 0);
    EXPECT_GT(abd.objcmp(abc), 0);

    // A pooled handle keeps its pool when another is assigned to it, and
    // never counts its element.
    kavString* pooled = new kavString(abc);
    EXPECT_EQ(pooled->getPool(), kavPool::mainPool());
    *pooled = abd;
    EXPECT_EQ(pooled->elem(), abd.elem());
    EXPECT_EQ(pooled->getPool(), kavPool::mainPool());
    EXPECT_EQ(abc.elem()->useCount(), 1);
    EXPECT_EQ(abd.elem()->useCount(), 1);
    delete pooled;

    kavNamedObj named(again);
    EXPECT_TRUE(abc.isEqual(named));
    EXPECT_TRUE(named.isEqual(abc));
    EXPECT_EQ(abc.objcmp(named), 0);
    EXPECT_EQ(named.objcmp(abc), 0);
    EXPECT_FALSE(abd.isEqual(named));
    EXPECT_EQ(abd.objcmp(named), std::strcmp(abd, abc));
    EXPECT_LT(named.objcmp(abd), 0);

    kavObject plain;
    EXPECT_FALSE(abc.isEqual(plain));
    EXPECT_FALSE(abc.isEqual(*abc.elem()));
    EXPECT_EQ(abc.objcmp(plain), addressOrder(&abc, &plain));
    EXPECT_EQ(abc.objcmp(*abc.elem()), addressOrder(&abc, abc.elem()));

    EXPECT_STREQ(abc.className(), "kavStringClass");
    EXPECT_EQ(abc.className(), kavStringClass);
    EXPECT_TRUE(abc.isA(kavStringClass));
    EXPECT_TRUE(abc.isA(kavObjectClass));
    EXPECT_FALSE(abc.isA(kavStrElemClass));
    EXPECT_FALSE(abc.isA(kavNamedObjClass));
}

// Flag 4 adds the object lines; flags 0, 1 and 3 fill them in.
TEST_F(kavInitTest, StringAndElementDumps)
{
    kavString abc("abc");
    const kavStrElem& elem = *abc.elem();
    std::ostringstream os;
    abc.dump(os, 3, 0);
    EXPECT_EQ(os.str(), "   abc ");
    os.str("");
    elem.dump(os, 2, 1);
    elem.dump(os, 0, 0);
    EXPECT_EQ(os.str(), "  abc \nabc ");

    kavLib::set(4);
    os.str("");
    abc.dump(os, 0, 1);
    EXPECT_EQ(os.str(), "kavStringClass \n kavStrElem abc \n");
    os.str("");
    elem.dump(os, 2, 0);
    EXPECT_EQ(os.str(), "  kavStrElem abc ");

    kavLib::set(0);
    kavLib::set(1);
    kavLib::set(3);
    os.str("");
    abc.dump(os, 1, 1);
    EXPECT_EQ(maskPointers(os.str()),
              " kavStringClass @[@PTR] P[-1] RC[0] \n  kavStrElem @[@PTR] P[0] RC[1] abc \n");
}

// The table dump walks the chains in order, newest first within a chain.
TEST_F(kavInitTest, TableDumps)
{
    for (const char* text : {"abc", "aav", "a", "bea", ""})
        kavString s(text);
    const kavStringTbl& table = *kavStringTbl::table();
    const std::string elements = "     \n    a \n    bea \n    aav \n    abc \n";
    auto dump = [&table] {
        std::ostringstream os;
        table.dump(os, 0, 1);
        return maskPointers(os.str());
    };
    EXPECT_EQ(dump(), "kavStringTblClass \n" + elements);
    kavLib::set(6);
    EXPECT_EQ(dump(), "kavStringTblClass CT[5]\n" + elements);
    kavLib::set(5);
    EXPECT_EQ(dump(), "kavStringTblClass CT[5] CL[1]\n" + elements);
    kavLib::clr(6);
    EXPECT_EQ(dump(), "kavStringTblClass CT[5] CL[1]\n" + elements);

    kavLib::set(1);
    kavLib::set(3);
    kavLib::set(4);
    EXPECT_EQ(dump(), "kavStringTblClass @[@PTR] RC[0] CT[5] CL[1]\n"
                      "    kavStrElem @[@PTR] RC[1]  \n"
                      "    kavStrElem @[@PTR] RC[1] a \n"
                      "    kavStrElem @[@PTR] RC[1] bea \n"
                      "    kavStrElem @[@PTR] RC[1] aav \n"
                      "    kavStrElem @[@PTR] RC[1] abc \n");
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

// A null pool and a null text are spelled with nullptr as readily as with a
// typed null; both forms must compile and mean the main pool / empty text.
TEST_F(kavInitTest, NullptrSpellingsOfPoolAndText)
{
    kavString* s = new (nullptr) kavString(nullptr);
    EXPECT_EQ(s->getPool(), kavPool::mainPool());
    EXPECT_STREQ(static_cast<char*>(*s), "");
    EXPECT_TRUE(s->isEqual(kavString("")));
    delete s;
}
