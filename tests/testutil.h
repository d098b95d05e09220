// Shared helpers of the kavlib test suites.
#ifndef KAVLIB_TESTS_TESTUTIL_H
#define KAVLIB_TESTS_TESTUTIL_H

#include <kavlib/kavlib.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

// Library state is process-wide (registry, main pool, flags, string tables).
// Every fixture puts it back to what it is right after load, before and
// after each test, so that the order of tests never matters.  A test that
// makes another pool the main pool must make the original the main pool
// again before it ends.
class kavLibTest : public ::testing::Test {
protected:
    void SetUp() override { restore(); }
    void TearDown() override { restore(); }

    static void restore()
    {
        kavLib::reset();
        kavLib::clrAll();
        kavLib::space(0);
    }
};

// The same, with the global string table established (kavLib::init).
class kavInitTest : public kavLibTest {
protected:
    void SetUp() override
    {
        kavLibTest::SetUp();
        kavLib::init(false);
    }
};

// Replaces every pointer the stream wrote by "@PTR", so that dumps and
// reports can be compared as whole texts.  libstdc++ (Linux, MinGW) writes
// "0x61fe10"; Microsoft's library writes every digit without a prefix,
// "000000000061FE10" (8 digits on 32 bits).  The form is taken from the
// stream itself, so that no number is mistaken for a pointer where pointers
// carry the prefix.
inline std::string maskPointers(const std::string& text)
{
    static const std::regex pointer = [] {
        std::ostringstream os;
        os << reinterpret_cast<const void*>(std::uintptr_t{0x61fe10});
        if (os.str().compare(0, 2, "0x") == 0)
            return std::regex("0x[0-9a-fA-F]+");
        return std::regex("\\b[0-9A-F]{" + std::to_string(2 * sizeof(void*)) + "}\\b");
    }();
    return std::regex_replace(text, pointer, "@PTR");
}

// A pool that kavPool::releaseAll (kavLib::reset) skips: it lives until its
// destructor, whatever the test resets in between.
struct kavKeptPool : kavPool {
    kavKeptPool() { setReleaseFlag(false); }
};

// Reaches the protected static that forgets the temporary table without
// freeing it.
struct tableAccess : kavStringTbl {
    using kavStringTbl::tempPool;
};

// The bytes a pool hands out for a piece of `size` bytes.
inline unsigned int pooledSize(std::size_t size) { return kavPool::roundSize(static_cast<unsigned int>(size)); }

// -1 when `a` lies below `b`, else +1: the order of objects of unrelated classes.
inline int addressOrder(const void* a, const void* b) { return std::less<const void*>()(a, b) ? -1 : 1; }

// The assertion report of the library, as a death-test pattern.
inline std::string assertionReport(const char* expr, const char* file, int line)
{
    // The report ends the line right after the number (Windows may write \r\n).
#ifdef _WIN32
    const char* end = "";
#else
    const char* end = "\n";
#endif
    return std::string("Assertion failed: ") + expr + ", file " + file + ", line " + std::to_string(line) + end;
}

// A container element with a chosen key: equal to and ordered like other
// elements by key (objects of other classes by address, so never equal), in
// chain `key % n` of a hash container, and counting its destructions in
// `deaths`.
struct kavTestElem : kavObject {
    explicit kavTestElem(int k = 0) : key(k) {}
    ~kavTestElem() override { ++deaths; }
    unsigned int hash(int n) const override { return static_cast<unsigned int>(key) % static_cast<unsigned int>(n); }
    bool isEqual(const kavObject& o) const override { return kavTestElem::objcmp(o) == 0; }
    int objcmp(const kavObject& o) const override
    {
        const auto* e = dynamic_cast<const kavTestElem*>(&o);
        return e == nullptr ? kavObject::objcmp(o) : (key > e->key) - (key < e->key);
    }
    int key;
    static inline int deaths = 0;
};

// An object whose objcmp always answers `order` and whose isEqual answers
// `greedy` for every other object; always in chain 0.
struct kavRankedObj : kavObject {
    kavRankedObj(int o, bool g) : order(o), greedy(g) {}
    int objcmp(const kavObject&) const override { return order; }
    bool isEqual(const kavObject& o) const override { return greedy || &o == this; }
    unsigned int hash(int) const override { return 0; }
    int order;
    bool greedy;
};

// What o.dump(os, indent, endLine) writes; checks that it returns os.
inline std::string dumpText(const kavObject& o, int indent, int endLine)
{
    std::ostringstream os;
    EXPECT_EQ(&o.dump(os, indent, endLine), &os);
    return os.str();
}

// Adds the objects to the container in the order given.
inline void addAll(kavContainer& c, std::initializer_list<kavObject*> elems)
{
    for (kavObject* e : elems)
        c.add(*e);
}

// The elements of a container in its iteration order.
inline std::vector<kavObject*> walk(const kavContainer& c)
{
    std::vector<kavObject*> out;
    for (kavIterPtr it(c); it; it++)
        out.push_back(&it());
    return out;
}
using objs = std::vector<kavObject*>;

// The elements an iterator walks from where it stands, leaving it done.
inline objs rest(kavIterator& it)
{
    objs out;
    while (!it.done())
        out.push_back(&it++);
    return out;
}

// The checks of a container's iterator: get and next when it is done stop
// the program with the library's report.
template <class C>
void expectIteratorChecks(const char* file, int getLine, const char* nextExpr, int nextLine)
{
    C c;
    kavIterPtr empty(c);
    EXPECT_DEATH(empty->get(), assertionReport("_current", file, getLine));
    EXPECT_DEATH(empty->next(), assertionReport(nextExpr, file, nextLine));
}

#endif
