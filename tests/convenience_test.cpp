// The C++ conveniences: range-for and the standard algorithms over
// containers, stream insertion, the equality and order operators over
// isEqual and over plain texts, and typed access.
#include "testutil.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <type_traits>
#include <utility>
#if __cplusplus >= 202002L
#include <ranges>
#endif

namespace {

// Whether `a == b` compiles for operands of types A and B.
template <class A, class B, class = void>
struct comparable : std::false_type {};
template <class A, class B>
struct comparable<A, B, std::void_t<decltype(std::declval<const A&>() == std::declval<const B&>())>>
    : std::true_type {};

} // namespace

static_assert(std::is_same<std::iterator_traits<kavRangeIter>::iterator_category, std::forward_iterator_tag>::value &&
                  std::is_same<decltype(std::declval<kavList&>().begin()), decltype(std::declval<kavList&>().end())>::value,
              "a forward iterator, begin and end of one type");
#if __cplusplus >= 202002L
static_assert(std::forward_iterator<kavRangeIter> && std::ranges::forward_range<const kavHash<4191>> &&
              std::ranges::forward_range<kavStringTbl>);
#endif
// Strings and names compare with texts; plain objects and characters do
// not; comparisons of plain texts stay as the standard library has them.
static_assert(comparable<kavString, const char*>::value && comparable<kavNamedObj, std::string>::value &&
              !comparable<kavObject, const char*>::value && !comparable<kavString, char>::value &&
              comparable<const char*, std::string_view>::value && !comparable<std::string, std::nullptr_t>::value);

// A list whose iterator, like one written outside the library, cannot tell
// its position in links: standard iteration walks it through newIterator().
struct opaqueList : kavList {
    struct iter : kavListIter {
        using kavListIter::kavListIter;
        bool chainPos(kavChainPos&) const override { return false; }
    };
    kavIterator* newIterator() const override { return new (getPool()) iter(this); }
};

// Range-for, the standard algorithms and (in C++20) std::ranges walk a
// container in its own iteration order, by links (one chain or many) or
// through its newIterator(); positions copy and compare as a
// forward iterator's do, and no walk leaves an iterator in the pool.
TEST_F(kavInitTest, StandardIterationWalksInIterationOrder)
{
    kavObject a, b, c;
    kavKeptPool pool;
    kavList& list = *new (&pool) kavList;
    opaqueList& box = *new (&pool) opaqueList;
    kavHash<4191> hash;
    const unsigned int inUse = pool.umem();
    for (kavContainer* held : std::vector<kavContainer*>{&list, &hash, &box}) {
        const kavContainer& cont = *held;
        EXPECT_TRUE(cont.begin() == cont.end());
        addAll(*held, {&b, &a, &c});
        const objs order = walk(cont);
        objs seen;
        for (kavObject& o : cont)
            seen.push_back(&o);
        EXPECT_EQ(seen, order);
        auto second = std::find_if(cont.begin(), cont.end(), [&](const kavObject& o) { return &o == order[1]; });
        kavRangeIter again = second; // a copy walks on by itself
        EXPECT_TRUE(++again != second && &*second == order[1] && &*again == order[2]);
        EXPECT_TRUE(second++ != again && second == again && ++again == cont.end());
#if __cplusplus >= 202002L
        EXPECT_EQ(std::ranges::distance(cont), 3);
#endif
    }
    EXPECT_EQ(pool.umem(), inUse);
    delete &list;
    delete &box;
    kavList none; // stepping or reading past the end is a checked error, as for kavIterator
    EXPECT_DEATH(*none.begin(), assertionReport("_link", "container", 201));
    EXPECT_DEATH(++none.end(), assertionReport("_link", "container", 211));
}

// removeIf takes out exactly the elements its predicate picks, duplicates
// included, and leaves every container whole: the FIFO's tail, the hash
// container's collisions, the counts; a pooled element goes with its last
// link.
TEST_F(kavInitTest, RemoveIfTakesOutWhatThePredicatePicks)
{
    kavKeptPool pool;
    kavObject last; // outlives the containers that hold it
    kavList list; // the sorted list shares its removeIf
    kavFifo fifo;
    kavHash<4191> hash;
    kavTestElem* e[5];
    for (int i = 0; i < 5; ++i)
        e[i] = new (&pool) kavTestElem(i == 4 ? 4191 : i); // 4191 shares chain 0 with 0
    auto odd = [](kavObject& o) { return static_cast<kavTestElem&>(o).key % 2 == 1; };
    for (kavContainer* cont : std::vector<kavContainer*>{&list, &fifo, &hash})
        addAll(*cont, {e[0], e[1], e[2], e[3], e[4], e[1]});
    EXPECT_EQ(hash.collisions(), 2u);
    EXPECT_EQ(list.removeIf(odd) + fifo.removeIf(odd), 8);
    EXPECT_EQ(walk(list), (objs{e[2], e[0]}));
    EXPECT_EQ(fifo.removeIf([&](kavObject& o) { return &o != e[0]; }), 1);
    fifo.add(last);
    EXPECT_EQ(walk(fifo), (objs{e[0], &last}));
    const int deaths = kavTestElem::deaths;
    EXPECT_EQ(hash.removeIf(odd), 4);
    EXPECT_EQ(kavTestElem::deaths, deaths + 3); // e[1], e[3], e[4]: their last links
    EXPECT_EQ(std::make_pair(hash.count(), hash.collisions()), std::make_pair(2, 0u)); // count, collisions
}

// Between objects == and != are the left operand's isEqual; against a
// plain text they compare bytes and intern nothing.  Strings order by text,
// byte by byte as strcmp does; the same text from two tables is equivalent
// but not equal.  Stream insertion writes the dump line.
TEST_F(kavInitTest, EqualityOrderAndStreamInsertion)
{
    struct equalToAll : kavObject {
        bool isEqual(const kavObject&) const override { return true; }
    } all;
    kavObject a, b;
    EXPECT_TRUE(a == a && a != b && all == a && a != all);
    kavString s1("word"), s2("word"), other("other"), empty(""), zz("zz"), accented("\xe9t\xe9");
    kavNamedObj n1(s1);
    EXPECT_TRUE(s1 == s2 && n1 == s2 && s2 == n1 && s1 != other && n1 != other && s1 != a);
    const int interned = kavStringTbl::table()->count();
    const char* none = nullptr;
    EXPECT_TRUE(s1 == "word" && "word" == s1 && s1 != "wore" && "wor" != s1 && n1 == "word" && n1 != "wor");
    EXPECT_TRUE(s1 == std::string("word") && std::string_view("word") == s1 && s1 != std::string("word\0", 5));
    EXPECT_TRUE(empty == none && s1 != none && *s1.elem() == "word" && "wore" != *s1.elem());
    EXPECT_EQ(kavStringTbl::table()->count(), interned);
    EXPECT_TRUE(other < s1 && s1 > other && s1 <= s2 && !(zz < s1) && empty < other && zz < accented);
    kavLib::tempInit(nullptr);
    kavString scratch("zz");
    EXPECT_TRUE(!(scratch < zz) && !(zz < scratch) && scratch <= zz && scratch != zz);
#if __cplusplus >= 202002L
    EXPECT_TRUE((zz <=> scratch) == 0 && (s1 <=> zz) < 0);
#endif
    kavLib::tempReset();

    // << writes an object's dump line without indentation or line end;
    // strings and elements write their bare text under every flag.
    kavList list;
    addAll(list, {&a, &n1});
    std::ostringstream os;
    os << list << '|' << s1 << '|' << *s1.elem();
    kavLib::set(4);
    os << '|' << s1;
    EXPECT_EQ(os.str(), "kavList \n    kavNamedObj word     kavObject |word|word|word");
}

// A class of the application's, with its class-name constant declared extern
// and defined once, as every class-name constant must be.
extern const char* const townClass;
const char* const townClass = "town";
struct town : kavNamedObj {
    using kavNamedObj::kavNamedObj;
    bool isA(const char* name) const override { return name == townClass || kavNamedObj::isA(name); }
    const char* className() const override { return townClass; }
};
KAVLIB_CLASS_OF(town, townClass);

// kavCast checks the class with isA (bases included) and kavView reads every
// element through it; an object of another class stops the program with a
// report that names both classes.
TEST_F(kavInitTest, TypedAccessChecksTheClass)
{
    town bath(kavString("Bath")), lyme(kavString("Lyme"));
    kavObject stranger; // outlives the list that holds it
    kavSList towns;
    addAll(towns, {&lyme, &bath});
    std::string names;
    for (town& t : kavView<town>(towns))
        names += t.name().view();
    EXPECT_EQ(names, "BathLyme");
    EXPECT_EQ(&kavCast<kavNamedObj>(*towns.find(kavString("Lyme"))), &lyme);
    EXPECT_EQ(kavCast<kavContainer>(static_cast<kavObject*>(&towns)), &towns);
    EXPECT_EQ(kavCast<town>(towns.find(kavString("Wells"))), nullptr);
    EXPECT_DEATH(kavCast<kavList>(towns), assertionReport("kavCast<kavList> of a kavSList", "kavview", 30));
    towns.add(stranger);
    EXPECT_DEATH(for (town& t : kavView<town>(towns)) names += t.name().view(),
                 assertionReport("kavCast<town> of a kavObject", "kavview", 30));
}
