// The C++ conveniences: range-for over containers, stream insertion, and the
// equality operators over isEqual and over plain texts.
#include "testutil.h"

#include <string_view>
#include <type_traits>
#include <utility>

namespace {

// The elements in the order range-for yields them.
objs rangeFor(const kavContainer& c)
{
    objs seen;
    for (kavObject& o : c)
        seen.push_back(&o);
    return seen;
}

// Whether `a == b` compiles for operands of types A and B.
template <class A, class B, class = void>
struct comparable : std::false_type {};
template <class A, class B>
struct comparable<A, B, std::void_t<decltype(std::declval<const A&>() == std::declval<const B&>())>>
    : std::true_type {};

} // namespace

static_assert(!std::is_copy_constructible<kavRangeIter>::value &&
                  std::is_nothrow_move_constructible<kavRangeIter>::value,
              "one owner per iterator; begin() hands it over");
static_assert(comparable<kavString, const char*>::value && comparable<kavNamedObj, std::string>::value &&
                  !comparable<kavObject, const char*>::value && !comparable<kavList, std::string>::value &&
                  !comparable<kavString, char>::value,
              "strings and names compare with texts; plain objects and characters do not");
// Texts compared with texts are none of the library's business: including it
// must neither make such a comparison ambiguous nor let it intern a side.
static_assert(comparable<const char*, std::string_view>::value &&
                  !comparable<std::string, std::nullptr_t>::value,
              "plain text comparisons stay as the standard library has them");

// Range-for yields what a kavIterPtr walk yields, in every container.  The
// begin iterator owns its library iterator and gives it back to the
// container's pool, however often it is moved.
TEST_F(kavInitTest, RangeForWalksInIterationOrderAndGivesItsIteratorBack)
{
    kavObject a, b, c;
    kavPool pool;
    pool.setReleaseFlag(false);
    kavList& list = *new (&pool) kavList;
    kavSList slist;
    kavFifo fifo;
    kavHash<4191> hash;
    for (kavContainer* box : std::vector<kavContainer*>{&list, &slist, &fifo, &hash}) {
        EXPECT_TRUE(rangeFor(*box).empty());
        addAll(*box, {&b, &a, &c});
        EXPECT_EQ(rangeFor(*box), walk(*box));
    }
    const unsigned int inUse = pool.umem();
    {
        kavRangeIter first = list.begin();
        kavRangeIter second = std::move(first);
        kavRangeIter third = list.begin();
        third = std::move(second); // third's own iterator goes back
        EXPECT_EQ(&*third, &c); // the newest first
        ++third;
        EXPECT_TRUE(third->className() == kavObjectClass && third != list.end());
        ++third;
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

// << writes an object's dump line without indentation or line end; strings
// and elements write their bare text under every flag.
TEST_F(kavInitTest, StreamInsertionWritesTheDumpLineAndNothingMore)
{
    auto inserted = [](const auto& o) { std::ostringstream os; os << o; return os.str(); };
    kavObject plain;
    kavString abc("abc");
    kavNamedObj named(abc);
    kavList list;
    addAll(list, {&plain, &named});
    EXPECT_EQ(inserted(list), "kavList \n    kavNamedObj abc     kavObject ");
    for (int flag : {0, 3, 4, 6})
        kavLib::set(flag);
    EXPECT_EQ(inserted(list), dumpText(list, 0, 0));
    EXPECT_EQ(inserted(*abc.elem()), "abc");
    EXPECT_EQ(inserted(static_cast<const kavObject&>(abc)), dumpText(abc, 0, 0));
    std::ostringstream chained;
    chained << abc << '|' << kavString("de") << '\n';
    EXPECT_EQ(chained.str(), "abc|de\n");
}

// Between objects == and != are the left operand's isEqual; against a
// plain text they compare bytes and intern nothing.
TEST_F(kavInitTest, EqualityOverIsEqualAndOverTexts)
{
    struct equalToAll : kavObject {
        bool isEqual(const kavObject&) const override { return true; }
    } all;
    kavObject a, b;
    EXPECT_TRUE(a == a && a != b && all == a && a != all);
    kavString s1("word"), s2("word"), other("other"), empty("");
    kavNamedObj n1(s1);
    EXPECT_TRUE(s1 == s2 && n1 == s2 && s2 == n1 && s1 != other && n1 != other && s1 != a);

    const int interned = kavStringTbl::table()->count();
    char buffer[] = "word";
    const char* none = nullptr;
    EXPECT_TRUE(s1 == "word" && "word" == s1 && s1 == buffer && s1 != "wore" && "wor" != s1);
    EXPECT_TRUE(s1 == std::string("word") && std::string_view("word") == s1 && s1 != std::string("word\0", 5));
    EXPECT_TRUE(empty == none && empty == "" && s1 != none);
    EXPECT_TRUE(n1 == "word" && "word" == n1 && n1 != "wor");
    EXPECT_TRUE(*s1.elem() == "word" && "wore" != *s1.elem());
    EXPECT_EQ(kavStringTbl::table()->count(), interned);
}
