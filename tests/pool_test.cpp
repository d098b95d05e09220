// Pools: the allocator's statistics and addresses, the registry, the reports,
// the assertion reports, and a randomized run against a model of the pool.
#include "testutil.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <regex>
#include <random>
#include <sstream>
#include <utility>
#include <vector>

namespace {

// The seven statistics of a pool: amem fmem rmem umem ablocks fblocks rblocks.
using stats = std::array<unsigned int, 7>;

stats statsOf(const kavPool& p)
{
    return {p.amem(), p.fmem(), p.rmem(), p.umem(), p.ablocks(), p.fblocks(), p.rblocks()};
}

// An address as the stream writes it in the reports.
std::string hex(const void* p)
{
    std::ostringstream os;
    os << p;
    return os.str();
}

// Block records come from the global heap apart from the blocks: their
// addresses are not known to a test, so the "Allocated blocks" lines show
// them as REC.
std::string maskBlockRecords(std::string text)
{
    static const std::regex pointer("0x[0-9a-fA-F]+");
    for (std::size_t at = 0; (at = text.find("Allocated blocks:", at)) != std::string::npos;) {
        const std::size_t end = text.find('\n', at);
        const std::string line = std::regex_replace(text.substr(at, end - at), pointer, "REC");
        text.replace(at, end - at, line);
        at += line.size();
    }
    return text;
}

// The "Free blocks" line of the pool's detailed report (flag 0 is cleared
// afterwards), and the line expected for the given (address, size) pairs.
std::string freeLine(const kavPool& p)
{
    kavLib::set(0);
    std::ostringstream os;
    os << p;
    kavLib::clr(0);
    const std::string text = os.str();
    const std::size_t at = text.find("  Free blocks:");
    return text.substr(at, text.find('\n', at) - at);
}

std::string freeLine(std::initializer_list<std::pair<const void*, unsigned int>> blocks)
{
    std::string line = "  Free blocks: ";
    for (const auto& b : blocks)
        line += " @" + hex(b.first) + "(" + std::to_string(b.second) + ")";
    return line;
}

char* piece(kavPool& p, unsigned int size) { return static_cast<char*>(p.alloc(size)); }

// A pool that counts the calls of establish and prepares a first block twice
// as large as asked for.
struct largeFirstPool : kavPool {
    int calls = 0;
    unsigned int asked = 0;
    void establish(unsigned int size) override
    {
        ++calls;
        asked = size;
        kavPool::establish(2 * size);
    }
};

// A pool with a report of its own.
struct quietPool : kavPool {
    std::ostream& print(std::ostream& os) const override { return os << "quiet pool" << std::endl; }
};

using kavPoolDeathTest = kavLibTest;

} // namespace

// ---- the allocator ----------------------------------------------------------------

// The first request of a new pool adds one block of 8000 bytes and cuts the
// piece from its front; the next pieces follow it.
TEST_F(kavLibTest, FirstAllocationCutsTheFrontOfANewBlock)
{
    kavPool p;
    EXPECT_EQ(statsOf(p), (stats{0, 0, 0, 0, 0, 0, 0}));
    char* a = piece(p, 100);
    EXPECT_EQ(statsOf(p), (stats{8000, 7896, 0, 104, 1, 1, 0}));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 8, 0u);

    kavLib::set(0);
    std::ostringstream os;
    os << p;
    EXPECT_EQ(maskBlockRecords(os.str()), "Pool " + std::to_string(p.getNum()) + " @" + hex(&p) +
                                              " Alloc=8000 Used=104 FreeB=7896 FreeR=0\n"
                                              "  Allocated blocks:  @REC(8000)\n" +
                                              freeLine({{a + 104, 7896}}) + "\n");

    // Every piece is rounded up to a multiple of 8; pieces follow each other.
    EXPECT_EQ(piece(p, 1), a + 104);
    EXPECT_EQ(piece(p, 8), a + 112);
    EXPECT_EQ(piece(p, 9), a + 120);
    EXPECT_EQ(piece(p, 1), a + 136);
    EXPECT_EQ(statsOf(p), (stats{8000, 7856, 0, 144, 1, 1, 0}));
}

// Small pieces wait on the list of their class, last in first out; they
// never merge and never serve another class.
TEST_F(kavLibTest, RecyclesSmallPiecesByClass)
{
    kavPool p;
    char* x = piece(p, 500);
    p.free(x, 500); // touches the free remainder, yet stays apart
    EXPECT_EQ(statsOf(p), (stats{8000, 7496, 504, 0, 1, 1, 1}));
    EXPECT_EQ(piece(p, 497), x);
    EXPECT_EQ(statsOf(p), (stats{8000, 7496, 0, 504, 1, 1, 0}));

    char* a = piece(p, 16);
    char* b = piece(p, 16);
    p.free(a, 16);
    p.free(b, 9);
    EXPECT_EQ(statsOf(p), (stats{8000, 7464, 32, 504, 1, 1, 2}));
    EXPECT_EQ(piece(p, 24), b + 16); // class 3 is empty: cut from the free block
    EXPECT_EQ(piece(p, 9), b);
    EXPECT_EQ(piece(p, 16), a);
    EXPECT_EQ(statsOf(p), (stats{8000, 7440, 0, 560, 1, 1, 0}));
}

// Pieces of 512 bytes and more go back among the free blocks and merge with
// free memory on the left, on the right, or both, in either order.
TEST_F(kavLibTest, MergesLargePiecesWithTheirNeighbours)
{
    kavPool p;
    char* x = piece(p, 512);
    p.free(x, 505); // rounds like 512
    EXPECT_EQ(statsOf(p), (stats{8000, 8000, 0, 0, 1, 1, 0}));
    EXPECT_EQ(freeLine(p), freeLine({{x, 8000}}));

    for (bool leftFirst : {true, false}) {
        SCOPED_TRACE(leftFirst ? "left piece first" : "right piece first");
        ASSERT_EQ(piece(p, 512), x);
        char* a = piece(p, 1024);
        char* b = piece(p, 1024);
        char* y = piece(p, 512);
        p.free(x, 512);
        p.free(y, 512); // merges with the free rest of the block
        EXPECT_EQ(freeLine(p), freeLine({{x, 512}, {y, 5440}}));
        if (leftFirst) {
            p.free(a, 1024);
            EXPECT_EQ(freeLine(p), freeLine({{x, 1536}, {y, 5440}}));
            p.free(b, 1024);
        } else {
            p.free(b, 1024);
            EXPECT_EQ(freeLine(p), freeLine({{x, 512}, {b, 6464}}));
            p.free(a, 1024);
        }
        EXPECT_EQ(statsOf(p), (stats{8000, 8000, 0, 0, 1, 1, 0}));
        EXPECT_EQ(freeLine(p), freeLine({{x, 8000}}));
    }
}

// A piece may take a whole block; the next request adds another block.
// A request larger than any free block gets a block of its own size.
TEST_F(kavLibTest, APieceMayTakeAWholeBlock)
{
    kavPool p;
    char* big = piece(p, 8000);
    EXPECT_EQ(statsOf(p), (stats{8000, 0, 0, 8000, 1, 0, 0}));
    EXPECT_EQ(freeLine(p), freeLine({}));
    char* small = piece(p, 8);
    EXPECT_EQ(statsOf(p), (stats{16000, 7992, 0, 8008, 2, 1, 0}));
    p.free(big, 8000);
    EXPECT_EQ(statsOf(p), (stats{16000, 15992, 0, 8, 2, 2, 0}));
    EXPECT_EQ(piece(p, 7993), big); // only the old block is large enough
    p.free(small, 8);
    EXPECT_EQ(statsOf(p), (stats{16000, 7992, 8, 8000, 2, 1, 1}));

    // A request larger than every free block adds a block of exactly its size.
    char* huge = piece(p, 20000);
    EXPECT_EQ(statsOf(p), (stats{36000, 7992, 8, 28000, 3, 1, 1}));
    p.free(huge, 19993);
    EXPECT_EQ(statsOf(p), (stats{36000, 27992, 8, 8000, 3, 2, 1}));
    EXPECT_EQ(piece(p, 20000), huge);
}

// A split leaves even 8 bytes behind as a free block, which merges with the
// pieces on either side when they come back.
TEST_F(kavLibTest, KeepsAndMergesFreeBlocksOfEightBytes)
{
    kavPool p;
    char* a = piece(p, 7992);
    EXPECT_EQ(statsOf(p), (stats{8000, 8, 0, 7992, 1, 1, 0}));
    EXPECT_EQ(freeLine(p), freeLine({{a + 7992, 8}}));
    p.free(a, 7992);
    EXPECT_EQ(freeLine(p), freeLine({{a, 8000}}));

    // [z 504][free 8][y 7480][free 8]: y's return merges all three.
    ASSERT_EQ(piece(p, 512), a);
    char* y = piece(p, 7480);
    p.free(a, 512);
    char* z = piece(p, 504);
    EXPECT_EQ(z, a);
    EXPECT_EQ(statsOf(p), (stats{8000, 16, 0, 7984, 1, 2, 0}));
    EXPECT_EQ(freeLine(p), freeLine({{a + 504, 8}, {a + 7992, 8}}));
    p.free(y, 7480);
    EXPECT_EQ(statsOf(p), (stats{8000, 7496, 0, 504, 1, 1, 0}));
    EXPECT_EQ(freeLine(p), freeLine({{a + 504, 7496}}));

    // An 8-byte free block serves an 8-byte request exactly.
    EXPECT_EQ(piece(p, 7488), a + 504);
    EXPECT_EQ(piece(p, 8), a + 7992);
    EXPECT_EQ(statsOf(p), (stats{8000, 0, 0, 8000, 1, 0, 0}));
}

// establish adds a block of a chosen size (at least 8000 bytes) at any time;
// a derived pool may prepare its first block itself.
TEST_F(kavLibTest, EstablishesBlocksOfAChosenSize)
{
    kavPool p;
    p.establish(10000);
    EXPECT_EQ(statsOf(p), (stats{10000, 10000, 0, 0, 1, 1, 0}));
    char* a = piece(p, 9995);
    EXPECT_EQ(statsOf(p), (stats{10000, 0, 0, 10000, 1, 0, 0}));
    p.establish(100);
    p.establish(8001);
    EXPECT_EQ(statsOf(p), (stats{26008, 16008, 0, 10000, 3, 2, 0}));
    p.free(a, 10000);
    EXPECT_EQ(statsOf(p), (stats{26008, 26008, 0, 0, 3, 3, 0}));

    largeFirstPool d;
    d.alloc(5000);
    d.alloc(5000); // the first block holds both pieces
    EXPECT_EQ(d.calls, 1);
    EXPECT_EQ(d.asked, 5000u);
    EXPECT_EQ(statsOf(d), (stats{10000, 0, 0, 10000, 1, 0, 0}));
}

// release() gives every block back; the pool starts again with establish.
TEST_F(kavLibTest, ReleasesEverythingAndStartsAgain)
{
    largeFirstPool p;
    const int num = p.getNum();
    char* a = piece(p, 600);
    piece(p, 40);
    piece(p, 20000);
    p.free(a, 600);
    p.free(piece(p, 16), 16);
    EXPECT_EQ(statsOf(p), (stats{28000, 7944, 16, 20040, 2, 2, 1}));
    p.release();
    EXPECT_EQ(statsOf(p), (stats{0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(freeLine(p), freeLine({}));
    EXPECT_EQ(p.getNum(), num);
    EXPECT_TRUE(p.releaseFlag());

    piece(p, 16); // class 2 was emptied: a new block is established
    EXPECT_EQ(p.calls, 2);
    EXPECT_EQ(p.asked, 16u);
    EXPECT_EQ(statsOf(p), (stats{8000, 7984, 0, 16, 1, 1, 0}));
}

// A request of 0 bytes reserves nothing and answers the lowest free block.
TEST_F(kavLibTest, AllocatesZeroBytes)
{
    kavPool p;
    char* z = piece(p, 0);
    EXPECT_EQ(statsOf(p), (stats{8000, 8000, 0, 0, 1, 1, 0}));
    EXPECT_EQ(piece(p, 8), z);
    EXPECT_EQ(piece(p, 0), z + 8);
    piece(p, 7992);
    char* next = piece(p, 0); // no free block left: a new one is added
    EXPECT_EQ(statsOf(p), (stats{16000, 8000, 0, 8000, 2, 1, 0}));
    EXPECT_EQ(freeLine(p), freeLine({{next, 8000}}));
}

TEST_F(kavPoolDeathTest, RejectsANullPieceAndAZeroSize)
{
    kavPool p;
    void* a = p.alloc(8);
    EXPECT_DEATH(p.free(nullptr, 8), assertionReport("ptr", "kavpool", 192));
    EXPECT_DEATH(p.free(a, 0), assertionReport("size", "kavpool", 193));
}

// ---- the registry ---------------------------------------------------------------

// After load the main pool, number 0, is the only pool and has no block.
TEST_F(kavLibTest, StartsWithAnEmptyMainPool)
{
    kavPool* main = kavPool::mainPool();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->getNum(), 0);
    EXPECT_EQ(kavPool::npools(), 1u);
    EXPECT_EQ(kavPool::apools(), 0u);
    EXPECT_EQ(kavPool::upools(), 0u);
    EXPECT_EQ(statsOf(*main), (stats{0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(main->releaseFlag());
    const char copy[] = "kavPool"; // identity goes by the constant, not its text
    EXPECT_EQ(main->className(), kavPoolClass);
    EXPECT_STREQ(kavPoolClass, "kavPool");
    EXPECT_TRUE(main->isA(kavPoolClass));
    EXPECT_FALSE(main->isA(copy));

    std::ostringstream os;
    kavPool::printAll(os);
    EXPECT_EQ(os.str(), "*** List of all Pools ***\n"
                        "  Pool 0 @" + hex(main) + " Alloc=0 Used=0 FreeB=0 FreeR=0\n"
                        "*** Total: Alloc=0 Used=0 Free=0 Recycled=0 ***\n");
}

// A new pool takes the number of the newest live pool plus 1.
TEST_F(kavLibTest, NumbersPoolsAfterTheNewest)
{
    auto p1 = std::make_unique<kavPool>();
    auto p2 = std::make_unique<kavPool>();
    EXPECT_EQ(p1->getNum(), 1);
    EXPECT_EQ(p2->getNum(), 2);
    EXPECT_EQ(kavPool::npools(), 3u);
    p2.reset();
    EXPECT_EQ(kavPool::npools(), 2u);
    p2 = std::make_unique<kavPool>();
    EXPECT_EQ(p2->getNum(), 2);
    p1.reset(); // an older pool leaves: the numbers stay
    EXPECT_EQ(p2->getNum(), 2);
    EXPECT_EQ(std::make_unique<kavPool>()->getNum(), 3);
    p2.reset();
    EXPECT_EQ(kavPool::npools(), 1u);
    EXPECT_EQ(kavPool().getNum(), 1);
}

// With every pool gone the registry is empty and the next pool is number 0.
// The original main pool cannot come back, so this runs in a child process.
TEST_F(kavPoolDeathTest, NumbersFromZeroInAnEmptyRegistry)
{
    EXPECT_EXIT(
        {
            kavPool* main = kavPool::mainPool();
            kavPool* other = new kavPool;
            kavPool::setMainPool(other);
            delete main;
            delete other; // the main pool: nothing uses it before it is replaced
            const unsigned int empty = kavPool::npools();
            kavPool* first = new kavPool;
            kavPool::setMainPool(first);
            std::fprintf(stderr, "npools %u, number %d\n", empty, first->getNum());
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "npools 0, number 0");
}

// releaseAll empties the main pool and deletes the others, skipping every
// pool whose release flag is clear, wherever it stands in the registry.
TEST_F(kavLibTest, ReleasesAllPoolsButThoseThatAreKept)
{
    kavPool* main = kavPool::mainPool();
    const stats used{8000, 7896, 0, 104, 1, 1, 0};
    for (int keep = 0; keep < 4; ++keep) {
        SCOPED_TRACE("kept pool " + std::to_string(keep));
        kavPool* p1 = new kavPool;
        kavPool* p2 = new kavPool;
        kavPool* p3 = new kavPool;
        kavPool* chain[] = {p3, p2, p1, main}; // newest first
        for (kavPool* p : chain)
            p->alloc(100);
        kavPool* kept = chain[keep];
        kept->setReleaseFlag(false);
        kavPool::releaseAll();
        EXPECT_EQ(kavPool::mainPool(), main);
        EXPECT_EQ(statsOf(*kept), used);
        if (kept == main) {
            EXPECT_EQ(kavPool::npools(), 1u);
            main->setReleaseFlag(true);
            kavPool::releaseAll();
        } else {
            EXPECT_EQ(kavPool::npools(), 2u);
            EXPECT_EQ(statsOf(*main), (stats{0, 0, 0, 0, 0, 0, 0}));
            EXPECT_EQ(kavPool().getNum(), kept->getNum() + 1); // still the head
            delete kept;
        }
        EXPECT_EQ(kavPool::npools(), 1u);
        EXPECT_EQ(kavPool::apools(), 0u);
    }
}

// The main pool role moves to another pool; the former main pool becomes an
// ordinary pool that releaseAll deletes.
TEST_F(kavLibTest, MovesTheMainPoolRole)
{
    kavPool* original = kavPool::mainPool();
    original->setReleaseFlag(false);
    kavPool* first = new kavPool;
    kavPool::setMainPool(first);
    kavPool::setMainPool(nullptr);
    EXPECT_EQ(kavPool::mainPool(), first);
    kavPool* second = new kavPool;
    kavPool::setMainPool(second);
    first->alloc(100);
    second->alloc(100);
    original->alloc(100);
    kavPool::releaseAll(); // deletes first, empties second
    EXPECT_EQ(kavPool::mainPool(), second);
    EXPECT_EQ(kavPool::npools(), 2u);
    EXPECT_EQ(statsOf(*second), (stats{0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(kavPool::apools(), 8000u);

    kavPool::setMainPool(original);
    original->setReleaseFlag(true);
    kavPool::releaseAll(); // deletes second, empties the original
    EXPECT_EQ(kavPool::npools(), 1u);
    EXPECT_EQ(kavPool::apools(), 0u);
}

// ---- reports --------------------------------------------------------------------

TEST_F(kavLibTest, ReportsOnePool)
{
    kavPool p;
    const std::string head = "Pool 1 @" + hex(&p);
    std::ostringstream os;
    EXPECT_EQ(&p.print(os), &os);
    EXPECT_EQ(os.str(), head + " Alloc=0 Used=0 FreeB=0 FreeR=0\n");

    kavLib::set(0);
    os.str("");
    EXPECT_EQ(&(os << p), &os);
    EXPECT_EQ(os.str(), head + " Alloc=0 Used=0 FreeB=0 FreeR=0\n  Allocated blocks: \n  Free blocks: \n");

    // [a b c: 16 each][d: 600][e: 24][free], and a second block in use.
    char* a = piece(p, 16);
    char* b = piece(p, 16);
    char* c = piece(p, 16);
    char* d = piece(p, 600);
    char* e = piece(p, 24);
    piece(p, 9000);
    for (char* x : {a, b, c})
        p.free(x, 16);
    p.free(d, 600);
    p.free(e, 24);
    os.str("");
    os << p;
    EXPECT_EQ(maskBlockRecords(os.str()), head + " Alloc=17000 Used=9000 FreeB=7928 FreeR=72\n"
                                                 "  Allocated blocks:  @REC(9000) @REC(8000)\n" +
                                              freeLine({{d, 600}, {e + 24, 7328}}) +
                                              "\n"
                                              "  Recycled Element: size=16 Number=3 Bytes=48\n"
                                              "  Recycled Element: size=24 Number=1 Bytes=24\n");

    kavLib::clr(0);
    os.str("");
    os << p;
    EXPECT_EQ(os.str(), head + " Alloc=17000 Used=9000 FreeB=7928 FreeR=72\n");
}

// printAll reports every pool, newest first, each through its own print, and
// the totals that npools, apools and upools also give.
TEST_F(kavLibTest, ReportsAllPools)
{
    kavPool* main = kavPool::mainPool();
    kavPool p;
    quietPool q;
    char* a = piece(p, 100);
    p.free(piece(p, 24), 24);
    char* m = piece(*main, 8);
    q.alloc(20000);
    EXPECT_EQ(kavPool::npools(), 3u);
    EXPECT_EQ(kavPool::apools(), 36000u);
    EXPECT_EQ(kavPool::upools(), 20112u);
    const std::string total = "*** Total: Alloc=36000 Used=20112 Free=15864 Recycled=24 ***\n";

    std::ostringstream os;
    kavPool::printAll(os);
    EXPECT_EQ(os.str(), "*** List of all Pools ***\n"
                        "  quiet pool\n"
                        "  Pool 1 @" + hex(&p) + " Alloc=8000 Used=104 FreeB=7872 FreeR=24\n"
                        "  Pool 0 @" + hex(main) + " Alloc=8000 Used=8 FreeB=7992 FreeR=0\n" + total);

    kavLib::set(0);
    os.str("");
    kavPool::printAll(os);
    EXPECT_EQ(maskBlockRecords(os.str()),
              "*** List of all Pools ***\n"
              "  quiet pool\n"
              "  Pool 1 @" + hex(&p) + " Alloc=8000 Used=104 FreeB=7872 FreeR=24\n"
              "  Allocated blocks:  @REC(8000)\n" + freeLine({{a + 128, 7872}}) + "\n"
              "  Recycled Element: size=24 Number=1 Bytes=24\n"
              "  Pool 0 @" + hex(main) + " Alloc=8000 Used=8 FreeB=7992 FreeR=0\n"
              "  Allocated blocks:  @REC(8000)\n" + freeLine({{m + 8, 7992}}) + "\n" + total);
}

// ---- a randomized run against a model ----------------------------------------------

namespace {

// What a pool should do: LIFO recycle lists, free blocks in address order
// with first fit, splitting and merging.  Where the heap puts a new block is
// not predictable; the model learns it from the piece the pool cuts from the
// new block's front, which it knows must come from there.
class poolModel {
public:
    using addr = std::uintptr_t;

    // The address alloc(size) must answer; `got` (the pool's answer) is
    // taken as the start of a block whose place the model does not know yet.
    addr alloc(unsigned int size, addr got)
    {
        const unsigned int r = kavPool::roundSize(size), c = r / 8;
        if (_blocks.empty() && _pending == 0)
            addBlock(r); // establish
        if (c < 64 && !_recycle[c].empty()) {
            const addr a = _recycle[c].back();
            _recycle[c].pop_back();
            _rmem -= r;
            _umem += r;
            return a;
        }
        auto fit = std::find_if(_free.begin(), _free.end(), [r](const auto& b) { return b.second >= r; });
        if (fit == _free.end() || _pending != 0) {
            EXPECT_TRUE(fit == _free.end()) << "the run cannot tell which block serves the request";
            if (_pending == 0)
                addBlock(r);
            for (const auto& b : _blocks)
                EXPECT_TRUE(got + _pending <= b.first || b.first + b.second <= got) << "blocks overlap";
            _blocks.emplace_back(got, _pending);
            fit = _free.emplace(got, _pending).first;
            _pending = 0;
        }
        const auto [a, sz] = *fit;
        _free.erase(fit);
        if (sz > r)
            _free[a + r] = sz - r;
        _fmem -= r;
        _umem += r;
        return a;
    }

    void free(addr p, unsigned int size)
    {
        const unsigned int r = kavPool::roundSize(size);
        _umem -= r;
        if (r < 512) {
            _recycle[r / 8].push_back(p);
            _rmem += r;
            return;
        }
        _fmem += r;
        addr start = p;
        unsigned int sz = r;
        const auto right = _free.upper_bound(p);
        if (right != _free.begin() && std::prev(right)->first + std::prev(right)->second == p) {
            start = std::prev(right)->first;
            sz += std::prev(right)->second;
            _free.erase(std::prev(right));
        }
        if (right != _free.end() && start + sz == right->first) {
            sz += right->second;
            _free.erase(right);
        }
        _free[start] = sz;
    }

    void establish(unsigned int size) { addBlock(size); }
    void release() { *this = poolModel(); }
    unsigned int pending() const { return _pending; }
    unsigned int largestFree() const
    {
        unsigned int m = 0;
        for (const auto& b : _free)
            m = std::max(m, b.second);
        return m;
    }

    stats expected() const
    {
        unsigned int rblocks = 0;
        for (const auto& list : _recycle)
            rblocks += static_cast<unsigned int>(list.size());
        const unsigned int extra = _pending != 0 ? 1 : 0;
        return {_amem, _fmem, _rmem, _umem, static_cast<unsigned int>(_blocks.size()) + extra,
                static_cast<unsigned int>(_free.size()) + extra, rblocks};
    }

private:
    void addBlock(unsigned int size)
    {
        _pending = kavPool::roundSize(std::max(size, 8000u));
        _amem += _pending;
        _fmem += _pending;
    }

    std::vector<std::vector<addr>> _recycle = std::vector<std::vector<addr>>(64);
    std::map<addr, unsigned int> _free;                 // free blocks by address
    std::vector<std::pair<addr, unsigned int>> _blocks; // blocks located so far
    unsigned int _pending = 0;                          // size of a block not located yet
    unsigned int _amem = 0, _fmem = 0, _rmem = 0, _umem = 0;
};

struct livePiece {
    char* at;
    unsigned int size;
    unsigned char fill;
    bool intact() const
    {
        return std::all_of(at, at + size, [this](char c) { return static_cast<unsigned char>(c) == fill; });
    }
};

} // namespace

// Thousands of random requests, returns, releases and establishes: every
// address and all seven statistics match the model after every step, and no
// piece in use is overwritten.
TEST_F(kavLibTest, MatchesTheModelOverARandomRun)
{
    std::mt19937 rng(20240611);
    auto below = [&](unsigned int n) { return static_cast<unsigned int>(rng() % n); };
    auto sizeMix = [&]() -> unsigned int {
        const unsigned int k = below(100);
        return k < 45 ? 1 + below(64) : k < 85 ? below(601) : k < 95 ? 601 + below(3400)
             : k < 98 ? 7984 + below(32) : 8017 + below(16000);
    };

    kavPool pool;
    poolModel model;
    std::vector<livePiece> live;
    unsigned int allocs = 0, frees = 0, releases = 0, establishes = 0, maxBlocks = 0;
    for (int step = 0; step < 20000; ++step) {
        SCOPED_TRACE(step);
        const unsigned int k = below(1000);
        if (k < 2 && model.pending() == 0) {
            for (const livePiece& p : live)
                ASSERT_TRUE(p.intact());
            live.clear();
            pool.release();
            model.release();
            ++releases;
        } else if (k < 8 && model.pending() == 0) {
            // Larger than every known free block: the next request, sized to
            // fit this block alone, shows where it is.
            const unsigned int size = std::max(model.largestFree() + 1, below(16000));
            pool.establish(size);
            model.establish(size);
            ++establishes;
        } else if (k < 560 || live.empty() || model.pending() != 0) {
            unsigned int size = sizeMix();
            if (model.pending() != 0) {
                const unsigned int low = std::max(model.largestFree() + 1, 505u);
                size = low + below(model.pending() - low + 1);
            }
            char* got = piece(pool, size);
            const auto expected = model.alloc(size, reinterpret_cast<std::uintptr_t>(got));
            ASSERT_EQ(reinterpret_cast<std::uintptr_t>(got), expected) << "alloc(" << size << ")";
            if (size != 0) {
                live.push_back({got, size, static_cast<unsigned char>(rng())});
                std::memset(got, live.back().fill, size);
            }
            ++allocs;
        } else {
            const std::size_t i = below(static_cast<unsigned int>(live.size()));
            const livePiece p = live[i];
            live[i] = live.back();
            live.pop_back();
            ASSERT_TRUE(p.intact());
            // Any size that rounds like the request will do.
            const unsigned int size = std::max(kavPool::roundSize(p.size) - below(8), 1u);
            pool.free(p.at, size);
            model.free(reinterpret_cast<std::uintptr_t>(p.at), size);
            ++frees;
        }
        const stats now = statsOf(pool);
        ASSERT_EQ(now, model.expected());
        ASSERT_EQ(now[0], now[1] + now[2] + now[3]); // amem = fmem + rmem + umem
        maxBlocks = std::max(maxBlocks, now[4]);
    }
    for (const livePiece& p : live)
        EXPECT_TRUE(p.intact());
    // The run reached every kind of step.
    EXPECT_TRUE(allocs > 5000 && frees > 5000 && releases > 10 && establishes > 50 && maxBlocks > 5)
        << allocs << " allocs, " << frees << " frees, " << releases << " releases, " << establishes
        << " establishes, at most " << maxBlocks << " blocks";
}
