// The C++ conveniences: range-for over containers, stream insertion, and the
// equality operators over isEqual and over plain texts.
#include "testutil.h"

#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

// The elements in the order range-for yields them (walk() gives the
// order of a kavIterPtr walk).
std::vector<kavObject*> rangeFor(const kavContainer& c)
{
    std::vector<kavObject*> seen;
    for (kavObject& o : c)
        seen.push_back(&o);
    return seen;
}

std::string dumped(const kavObject& o)
{
    std::ostringstream os;
    o.dump(os, 0, 0);
    return os.str();
}

template <class T>
std::string inserted(const T& o)
{
    std::ostringstream os;
    os << o;
    return os.str();
}

// Whether `a == b` compiles for operands of types A and B.
template <class A, class B, class = void>
struct comparable : std::false_type {};
template <class A, class B>
struct comparable<A, B, std::void_t<decltype(std::declval<const A&>() == std::declval<const B&>())>>
    : std::true_type {};

} // namespace

static_assert(!std::is_copy_constructible<kavRangeIter>::value, "one owner per iterator");
static_assert(std::is_nothrow_move_constructible<kavRangeIter>::value, "begin() can hand its iterator over");
static_assert(comparable<kavString, const char*>::value && comparable<kavNamedObj, std::string>::value,
              "strings and names compare with texts");
static_assert(!comparable<kavObject, const char*>::value && !comparable<kavList, std::string>::value,
              "a plain object has no text to compare");
static_assert(!comparable<kavString, char>::value, "a character is not a text");

TEST_F(kavInitTest, RangeForWalksEveryContainerInItsIterationOrder)
{
    kavObject a, b, c;
    kavList list;
    kavSList slist;
    kavFifo fifo;
    kavHash<4191> hash;
    for (kavContainer* box : std::vector<kavContainer*>{&list, &slist, &fifo, &hash}) {
        EXPECT_TRUE(rangeFor(*box).empty()) << static_cast<const kavObject*>(box)->className();
        box->add(b);
        box->add(a);
        box->add(c);
        EXPECT_EQ(rangeFor(*box), walk(*box)) << static_cast<const kavObject*>(box)->className();
    }
    EXPECT_EQ(rangeFor(list), (std::vector<kavObject*>{&c, &a, &b}));
    EXPECT_EQ(rangeFor(fifo), (std::vector<kavObject*>{&b, &a, &c}));

    kavString x("x"), y("y");
    const kavStringTbl& table = *kavStringTbl::table();
    std::vector<std::string> texts;
    for (kavObject& o : table)
        texts.push_back(static_cast<char*>(static_cast<kavStrElem&>(o)));
    EXPECT_EQ(texts, (std::vector<std::string>{"x", "y"})); // chains 377 and 378
}

TEST_F(kavInitTest, RangeForGivesItsIteratorBackToThePool)
{
    kavPool pool;
    pool.setReleaseFlag(false);
    kavList& list = *new (&pool) kavList;
    kavObject a, b;
    list.add(a);
    list.add(b);
    const unsigned int inUse = pool.umem();

    for (kavObject& o : list)
        EXPECT_TRUE(&o == &a || &o == &b);
    EXPECT_EQ(pool.umem(), inUse);

    for (kavObject& o : list)
        if (&o == &b)
            break;
    EXPECT_EQ(pool.umem(), inUse);

    {
        kavRangeIter first = list.begin();
        kavRangeIter second = std::move(first); // one owner
        kavRangeIter third = list.begin();
        EXPECT_GT(pool.umem(), inUse);
        third = std::move(second);              // third's own iterator goes back
        EXPECT_EQ(&*third, &b);
        ++third;
        EXPECT_EQ(third->className(), kavObjectClass);
        EXPECT_TRUE(third != list.end());
        ++third;
        EXPECT_TRUE(third == list.end());
    }
    EXPECT_EQ(pool.umem(), inUse);
    delete &list;
}

TEST_F(kavInitTest, RangeForPastTheEndFailsTheIteratorsCheck)
{
    kavList list;
    EXPECT_DEATH(*list.begin(), assertionReport("_current", "kavlist", 107));
}

TEST_F(kavInitTest, StreamInsertionWritesTheDumpLineAndNothingMore)
{
    kavObject plain;
    EXPECT_EQ(inserted(plain), "kavObject ");
    kavLib::set(0);
    kavLib::set(3);
    EXPECT_EQ(inserted(plain), "kavObject P[-1] RC[0] ");
    kavLib::clrAll();

    kavString abc("abc");
    kavNamedObj named(abc);
    kavList list;
    list.add(plain);
    list.add(named);
    EXPECT_EQ(inserted(named), "kavNamedObj abc ");
    EXPECT_EQ(inserted(list), "kavList \n    kavNamedObj abc     kavObject ");
    kavLib::set(6);
    EXPECT_EQ(inserted(list), dumped(list));

    // Strings and elements write their bare text, under every flag; seen as
    // plain objects they write their dump.
    kavLib::set(4);
    EXPECT_EQ(inserted(abc), "abc");
    EXPECT_EQ(inserted(*abc.elem()), "abc");
    EXPECT_EQ(inserted(static_cast<const kavObject&>(abc)), dumped(abc));
    std::ostringstream chained;
    chained << abc << '|' << kavString("de") << '\n';
    EXPECT_EQ(chained.str(), "abc|de\n");
}

TEST_F(kavInitTest, EqualityIsTheLeftOperandsIsEqual)
{
    kavObject a, b;
    EXPECT_TRUE(a == a);
    EXPECT_TRUE(a != b);

    kavString s1("word"), s2("word"), other("other");
    kavNamedObj n1(s1), n2(kavString("word"));
    EXPECT_TRUE(s1 == s2);
    EXPECT_TRUE(s1 != other);
    EXPECT_TRUE(n1 == n2);
    EXPECT_TRUE(n1 == s2 && s2 == n1);
    EXPECT_TRUE(n1 != other && other != n1);
    EXPECT_FALSE(s1 == a);
    EXPECT_FALSE(s1 == *s1.elem()); // a string is not equal to its element

    kavLib::tempInit(nullptr);
    kavString scratch("word");      // same text, the temporary table
    EXPECT_TRUE(s1 != scratch);
    EXPECT_TRUE(scratch == "word"); // texts still compare equal
    kavLib::tempReset();
}

TEST_F(kavInitTest, TextComparisonsCompareBytesAndInternNothing)
{
    kavString abc("abc"), empty("");
    kavNamedObj named(abc);
    const int interned = kavStringTbl::table()->count();

    char buffer[] = "abc";
    const char* none = nullptr;
    EXPECT_TRUE(abc == "abc");
    EXPECT_TRUE("abc" == abc);
    EXPECT_TRUE(abc != "abd" && "ab" != abc);
    EXPECT_TRUE(abc == buffer);
    EXPECT_TRUE(abc == std::string("abc"));
    EXPECT_TRUE(std::string_view("abc") == abc);
    EXPECT_TRUE(empty == none && empty == "");
    EXPECT_TRUE(abc != none);
    EXPECT_TRUE(named == "abc" && "abc" == named && named != "ab");
    EXPECT_TRUE(*abc.elem() == "abc" && "abd" != *abc.elem());
    EXPECT_FALSE(abc == std::string("abc\0", 4));

    EXPECT_EQ(kavStringTbl::table()->count(), interned);
    EXPECT_EQ(kavString("abc").elem(), abc.elem());
}
