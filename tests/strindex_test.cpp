// The lookup index behind string tables, and finding texts without
// interning them.
#include "testutil.h"

#include <kavlib/internal/strindex.h>

#include <array>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

// An element class of its own: texts compare as for kavStrElem.
struct otherElem : kavStrElem {
    using kavStrElem::kavStrElem;
};

// Everything observable of a table in its pool, addresses as offsets from
// the table (the first piece of its pool's only block).
struct tableSide {
    kavPool pool;
    kavStringTbl* table = nullptr;

    tableSide()
    {
        pool.setReleaseFlag(false);
        pool.establish(1 << 20); // one block: first fit sees the same addresses on both sides
        kavLib::tempInit(&pool);
        table = kavStringTbl::establishTemp(nullptr);
        tableAccess::tempPool();
    }
    long offset(const void* p) const
    {
        return p == nullptr ? -1 : static_cast<long>(static_cast<const char*>(p) - reinterpret_cast<const char*>(table));
    }
    std::array<unsigned int, 9> state() const
    {
        return {pool.amem(), pool.fmem(), pool.rmem(), pool.umem(), pool.ablocks(),
                pool.fblocks(), pool.rblocks(), static_cast<unsigned int>(table->count()), table->collisions()};
    }
    // The elements in walking order: chains in order, each newest first.
    std::vector<long> order() const
    {
        std::vector<long> out;
        for (kavObject& e : *table)
            out.push_back(offset(&e));
        return out;
    }
};

} // namespace

// A random mix of interning, look-ups, elements added by hand (duplicates,
// elements of another class, strings), removals and emptying, done on a
// table with its index and on one that walks its chains: every answer,
// every address and every pool statistic agree after every step, and the
// index agrees with the chains.
TEST_F(kavInitTest, IndexedTableAnswersAsTheChainWalk)
{
    tableSide indexed, plain;
    std::vector<std::string> words;
    for (int i = 0; i < 300; ++i)
        words.push_back("w" + std::to_string(i * 7919 % 1009));
    // Texts whose index hashes share the 20 bits of a slot's tag (and so,
    // in a small index, the home slot): two of one length, which only their
    // texts tell apart; and a text with a longer one that starts with it,
    // which only the length the element keeps tells apart.
    const auto tagBits = [](const std::string& s) { return kavStrIndex::hashOf(s.data(), s.size()) >> 28 & 0xfffff; };
    const std::string tag1 = "t100849", tag2 = "t100884", tag3 = "t100036", tag4 = "t10003612025244";
    ASSERT_TRUE(tagBits(tag1) == tagBits(tag2) && tagBits(tag3) == tagBits(tag4));
    words.insert(words.end(), {
        std::string(600, 'L'), // a text piece from the free blocks
        std::string(28, 'E'),  // a text piece of the element's size class
        "cmoxjteq", "gdstzges", // the same 32-bit hash
        "", tag1, tag2, tag3, tag4,
        std::string(40, 'M') + "a", std::string(40, 'M') + "b", // longer than the tags: compared bytewise
    });

    std::mt19937 rng(20261206);
    for (int step = 0; step < 6000; ++step) {
        const std::string& w = words[rng() % words.size()];
        const unsigned int op = rng() % 100;
        std::array<long, 2> answer{};
        for (int side = 0; side < 2; ++side) {
            tableSide& t = side == 0 ? indexed : plain;
            kavStringTbl::useIndex(side == 0);
            kavStringTbl& table = *t.table;
            if (op < 60) {
                answer[side] = t.offset(&table.addStrElem(w.c_str()));
            } else if (op < 75) {
                const auto before = t.state();
                answer[side] = t.offset(op % 2 == 0 ? table.lookup(w.c_str()) : table.lookup(std::string_view(w)));
                EXPECT_EQ(t.state(), before) << "a look-up changed the table or its pool";
            } else if (op < 82) {
                answer[side] = t.offset(&table.add(*new (&t.pool) kavStrElem(w.c_str())));
            } else if (op < 85) {
                answer[side] = t.offset(&table.add(*new (&t.pool) otherElem(w.c_str())));
            } else if (op < 87) {
                auto* e = new (&t.pool) kavStrElem(w.c_str());
                e->up(); // held by the test, so the string never dangles
                answer[side] = t.offset(&table.add(*new (&t.pool) kavString(e)));
            } else if (op < 99) {
                kavStrElem key(w.c_str()); // unpooled, in no table
                answer[side] = table.remove(key);
            } else if (step % 7 == 0) {
                table.removeAll();
            }
            EXPECT_TRUE(table.checkIndex()) << "step " << step;
        }
        ASSERT_EQ(answer[0], answer[1]) << "step " << step << " op " << op << " text " << w;
        ASSERT_EQ(indexed.state(), plain.state()) << "step " << step << " op " << op;
        ASSERT_EQ(indexed.order(), plain.order()) << "step " << step;
    }
    EXPECT_GT(indexed.table->indexBytes(), 0u);
    EXPECT_EQ(plain.table->indexBytes(), 0u);
    kavStringTbl::useIndex(true);
}

// Look-ups by text find the element interning would give, in the table a
// string from text would use (the temporary one first), for every spelling
// of the text; a text never interned, or one with a NUL inside, finds
// nothing, and nothing changes: no table, no pool.
TEST_F(kavInitTest, LookupsFindInternedTextsOnly)
{
    {
        kavString abc("abc"), empty(nullptr), first("cmoxjteq");
        kavNamedObj named(abc);
        kavList holder;
        holder.add(named);
        EXPECT_TRUE(kavString::lookup("abc") == abc.elem() && kavString::lookup(std::string_view("abcd", 3)) == abc.elem());
        EXPECT_TRUE(kavString::lookup(static_cast<const char*>(nullptr)) == empty.elem() &&
                    kavString::lookup(std::string_view()) == empty.elem());
        EXPECT_TRUE(kavString::find("abc")->elem() == abc.elem() && kavString::find("abc")->view() == "abc");
        EXPECT_TRUE(kavNamedObj::findIn(holder, "abc") == &named && kavNamedObj::findIn(holder, std::string_view("abc")) == &named);
        // Texts of 64 KiB or more are compared byte by byte; these two have
        // the same length modulo 65 536.
        const std::string longer(70000, 'q'), shorter(70000 - 65536, 'q');
        const kavString longStr(longer.c_str()), shortStr(shorter.c_str());
        EXPECT_TRUE(longStr.elem() != shortStr.elem() && kavString::lookup(longer) == longStr.elem() &&
                    kavString::lookup(shorter) == shortStr.elem() && kavString(longer.c_str()).elem() == longStr.elem());
        kavPool& pool = *kavPool::mainPool();
        const unsigned int used = pool.umem(), recycled = pool.rmem();
        const int count = kavStringTbl::table()->count();
        for (const char* text : {"gdstzges", "ab", "abcd"}) // the first: the same hash as cmoxjteq
            EXPECT_TRUE(kavString::lookup(text) == nullptr && !kavString::find(text) &&
                        kavNamedObj::findIn(holder, text) == nullptr) << text;
        EXPECT_EQ(kavString::lookup(std::string_view("abc\0", 4)), nullptr);
        EXPECT_TRUE(pool.umem() == used && pool.rmem() == recycled && kavStringTbl::table()->count() == count);
        kavLib::tempInit(nullptr);
        EXPECT_EQ(kavString::lookup("abc"), nullptr); // the temporary table is asked, as interning would
        kavString temp("abc");
        EXPECT_EQ(kavString::lookup("abc"), temp.elem());
        EXPECT_EQ(kavNamedObj::findIn(holder, "abc"), nullptr); // a name of the global table
        kavLib::tempReset();
    }
    kavLib::reset();
    EXPECT_EQ(kavString::lookup("abc"), nullptr); // no table at all
}

// Past 1 048 576 slots an entry's home slot also takes hash bits that its
// element keeps: an index grown that far still finds every text, the last
// ones placed before and after the growth alike, and takes removals.
TEST_F(kavInitTest, IndexPastTheTagsHomesFindsEveryText)
{
    if (KAVLIB_CHECKED)
        GTEST_SKIP() << "the checked build audits every piece: minutes for this many texts";
    constexpr int texts = 950000;
    std::vector<kavStrElem*> elems(texts);
    char text[16];
    for (int i = 0; i < texts; ++i) {
        std::snprintf(text, sizeof text, "x%d", i);
        elems[i] = kavString(text).elem();
    }
    kavStringTbl& table = *const_cast<kavStringTbl*>(kavStringTbl::table());
    EXPECT_GT(table.indexBytes(), (std::size_t{1} << 20) * 8);
    for (int i = 0; i < texts; i += 7) {
        std::snprintf(text, sizeof text, "x%d", i);
        ASSERT_EQ(kavString::lookup(text), elems[i]) << text;
        if (i % 5 == 0) {
            ASSERT_TRUE(table.remove(*elems[i]));
        }
    }
    for (int i = 0; i < texts; i += 7) {
        std::snprintf(text, sizeof text, "x%d", i);
        ASSERT_EQ(kavString::lookup(text), i % 5 == 0 ? nullptr : elems[i]) << text;
    }
    EXPECT_EQ(kavString::lookup("x950000"), nullptr);
    kavLib::reset();
}

// A table's index lives beside its pool and goes when the pool is released
// (tempReset, reset) or the table is deleted.  (A table of a derived class
// keeps none, so that its own find() is asked: see the string tests.)
TEST_F(kavInitTest, IndexGoesWithItsTable)
{
    kavKeptPool pool;
    kavLib::tempInit(&pool);
    kavStringTbl* temp = kavStringTbl::establishTemp(nullptr);
    // Texts enough for the index to grow many times; every third is
    // interned again (a hit moves its entry to its home slot); then every
    // seventh text goes.
    constexpr int texts = 40000;
    for (int i = 0; i < texts; ++i)
        kavString(std::to_string(i).c_str());
    for (int i = 0; i < texts; i += 3)
        kavString(std::to_string(i).c_str());
    EXPECT_EQ(temp->count(), texts);
    EXPECT_GE(temp->indexBytes(), texts * 8u);
    for (int i = 0; i < texts; i += 7) {
        kavStrElem key(std::to_string(i).c_str());
        ASSERT_TRUE(temp->remove(key));
    }
    EXPECT_TRUE(temp->checkIndex());
    for (int i : {0, 1, 6, 7, texts - 2, texts - 1}) {
        kavStrElem* e = temp->lookup(std::to_string(i).c_str());
        EXPECT_TRUE(i % 7 == 0 ? e == nullptr : e != nullptr && *e == std::to_string(i)) << i;
    }
    EXPECT_NE(pool.attached(temp), nullptr);
    kavLib::tempReset();
    EXPECT_EQ(pool.attached(temp), nullptr);

    kavString("y");
    kavStringTbl* global = kavStringTbl::establish(nullptr);
    EXPECT_GT(global->indexBytes(), 0u);
    delete global; // not what the library does, but allowed
    EXPECT_EQ(kavPool::mainPool()->attached(global), nullptr);
    kavLib::reset();
}
