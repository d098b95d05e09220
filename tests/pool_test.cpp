// Pools: statistics and addresses, the registry, the reports, the assertion
// reports.  (pooldiff_test runs the pool against a model of its algorithm.)
#include "testutil.h"

#include <array>

namespace {

// The seven statistics of a pool: amem fmem rmem umem ablocks fblocks rblocks.
using stats = std::array<unsigned int, 7>;

stats statsOf(const kavPool& p)
{
    return {p.amem(), p.fmem(), p.rmem(), p.umem(), p.ablocks(), p.fblocks(), p.rblocks()};
}
char* piece(kavPool& p, unsigned int size) { return static_cast<char*>(p.alloc(size)); }

// A report as written under flag 0, pointers masked (the block records come
// from the heap apart from the blocks; pooldiff_test checks the free blocks'
// addresses exactly).
template <class Print> std::string detailed(Print print)
{
    kavLib::set(0);
    std::ostringstream os;
    print(os);
    kavLib::clr(0);
    return maskPointers(os.str());
}

// A pool with a report of its own that counts the calls of establish and
// prepares a first block twice as large as asked for.
struct customPool : kavPool {
    int calls = 0;
    void establish(unsigned int size) override
    {
        ++calls;
        kavPool::establish(2 * size);
    }
    std::ostream& print(std::ostream& os) const override { return os << "custom pool" << std::endl; }
};

using kavPoolDeathTest = kavLibTest;

} // namespace

// The first request of a new pool adds a block of at least 8000 bytes and cuts
// the piece, rounded up to 8, from its front; the next piece follows it.
TEST_F(kavLibTest, EstablishesBlocksAndCutsPiecesFromTheirFront)
{
    const std::vector<std::pair<unsigned int, stats>> cases = {
        {0, {8000, 8000, 0, 0, 1, 1, 0}},     {1, {8000, 7992, 0, 8, 1, 1, 0}},
        {9, {8000, 7984, 0, 16, 1, 1, 0}},    {100, {8000, 7896, 0, 104, 1, 1, 0}},
        {7992, {8000, 8, 0, 7992, 1, 1, 0}},  {8000, {8000, 0, 0, 8000, 1, 0, 0}},
        {20000, {20000, 0, 0, 20000, 1, 0, 0}}};
    for (const auto& [size, expected] : cases) {
        SCOPED_TRACE(size);
        kavPool p;
        char* a = piece(p, size);
        const unsigned int n = expected[0], r = expected[3];
        EXPECT_EQ(statsOf(p), expected);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 8, 0u);
        char* next = piece(p, 8); // from a new block when this one is full
        EXPECT_EQ(next, r < n ? a + r : next);
        EXPECT_EQ(p.ablocks(), r < n ? 1u : 2u);
    }

    // establish adds a block of a chosen size (at least 8000 bytes) at any
    // time; alloc calls it, through the virtual table, for the first request
    // of a pool without blocks, also after release() has given every block back.
    kavPool p;
    p.establish(10000);
    char* a = piece(p, 9995);
    p.establish(100);
    p.establish(8001);
    EXPECT_EQ(statsOf(p), (stats{26008, 16008, 0, 10000, 3, 2, 0}));
    p.free(a, 10000);
    EXPECT_EQ(statsOf(p), (stats{26008, 26008, 0, 0, 3, 3, 0}));

    customPool d;
    d.alloc(5000);
    d.alloc(5000); // the first block, of 2 * 5000 bytes, holds both pieces
    d.free(d.alloc(16), 16);
    EXPECT_EQ(statsOf(d), (stats{18000, 7984, 16, 10000, 2, 1, 1}));
    d.release();
    EXPECT_EQ(statsOf(d), stats{});
    piece(d, 16); // class 2 was emptied: a new block is established
    EXPECT_EQ(statsOf(d), (stats{8000, 7984, 0, 16, 1, 1, 0}));
    EXPECT_EQ(d.calls, 2);
}

// A pool takes a map of its blocks (system pages, in no statistic) once it
// has 128 000 bytes, keeps it while it grows and gives it back on release;
// a block of a megabyte or more is found through the map at every address.
TEST_F(kavLibTest, KeepsAMapOfItsBlocksOnceLarge)
{
    kavPool p;
    std::vector<char*> pieces;
    for (int i = 0; i < 15; ++i)
        pieces.push_back(piece(p, 8000));
    EXPECT_EQ(p.mapBytes(), 0u);
    pieces.push_back(piece(p, 8000));
    EXPECT_GT(p.mapBytes(), 0u);
    char* big = piece(p, 3u << 20);
    pieces.push_back(piece(p, 8000));
    const stats grown = statsOf(p);
    // Every other piece first, then the rest and the large one: each piece
    // finds its block and the free block below it through the map, and in
    // the end every block is one free block again.
    for (std::size_t i = 0; i < pieces.size(); i += 2)
        p.free(pieces[i], 8000);
    for (std::size_t i = 1; i < pieces.size(); i += 2)
        p.free(pieces[i], 8000);
    p.free(big, 3u << 20);
    EXPECT_EQ(p.umem(), 0u);
    EXPECT_EQ(p.fblocks(), grown[4]);
    EXPECT_EQ(p.fmem(), p.amem());
    p.release();
    EXPECT_EQ(p.mapBytes(), 0u);

    // Blocks of a megabyte each meet a megabyte of the map each: 300 of them
    // outgrow its first table and its first pages, and every one is still
    // found when its piece comes back (the memory is reserved, hardly touched).
    kavPool wide;
    std::vector<char*> large;
    for (int i = 0; i < 300; ++i)
        large.push_back(piece(wide, 1u << 20));
    const std::size_t mapped = wide.mapBytes();
    EXPECT_GT(mapped, std::size_t{300} * 256 * sizeof(void*)); // a leaf knows 256 blocks
    for (std::size_t i = 0; i < large.size(); i += 2)
        wide.free(large[i], 1u << 20);
    for (std::size_t i = 1; i < large.size(); i += 2)
        wide.free(large[i], 1u << 20);
    EXPECT_EQ(wide.fblocks(), 300u);
    EXPECT_EQ(wide.fmem(), wide.amem());
}

TEST_F(kavPoolDeathTest, RejectsANullPieceAZeroSizeAndSizesThatWrap)
{
    kavPool p;
    void* a = p.alloc(8);
    EXPECT_DEATH(p.free(nullptr, 8), assertionReport("ptr", "kavpool", 192));
    EXPECT_DEATH(p.free(a, 0), assertionReport("size", "kavpool", 193));
    // Sizes that would round past 2^32 to 0 and reserve nothing.
    for (unsigned int size : {0xFFFFFFF9u, 0xFFFFFFFFu}) {
        EXPECT_DEATH(p.alloc(size), assertionReport("size <= maxSize", "kavpool", 194));
        EXPECT_DEATH(kavPool().alloc(size), assertionReport("size <= maxSize", "kavpool", 194));
        EXPECT_DEATH(p.establish(size), assertionReport("size <= maxSize", "kavpool", 195));
    }
}

// releaseAll empties the main pool and deletes the others, skipping every
// pool whose release flag is clear, wherever it stands in the registry; a new
// pool then takes the number of the newest live pool plus 1.  The main pool
// role moves to another pool (never to none); the former main pool becomes an
// ordinary pool that releaseAll deletes.
TEST_F(kavLibTest, ReleasesAllPoolsButThoseThatAreKept)
{
    kavPool* main = kavPool::mainPool();
    for (int keep = 0; keep < 4; ++keep) {
        SCOPED_TRACE("kept pool " + std::to_string(keep));
        kavPool* chain[] = {main, new kavPool, new kavPool, new kavPool}; // oldest first
        for (kavPool* p : chain)
            p->alloc(100);
        kavPool* kept = chain[keep];
        kept->setReleaseFlag(false);
        kavPool::releaseAll();
        EXPECT_EQ(statsOf(*kept), (stats{8000, 7896, 0, 104, 1, 1, 0}));
        // Pools left; bytes of all pools (the main pool was emptied unless kept).
        EXPECT_EQ(std::make_pair(kavPool::npools(), kavPool::apools()), std::make_pair(kept == main ? 1u : 2u, 8000u));
        EXPECT_EQ(kavPool().getNum(), kept->getNum() + 1); // still the head
        kept->setReleaseFlag(true);
        kavPool::releaseAll();
    }
    kavPool *older = new kavPool, *other = new kavPool;
    kavPool::setMainPool(other);
    kavPool::setMainPool(nullptr);
    EXPECT_EQ(kavPool::mainPool(), other);
    for (kavPool* p : {older, other, main})
        p->alloc(100);
    main->setReleaseFlag(false);
    kavPool::releaseAll(); // deletes the older pool, empties the new main pool
    EXPECT_TRUE(kavPool::npools() == 2u && kavPool::apools() == 8000u);
    kavPool::setMainPool(main);
    main->setReleaseFlag(true);
    kavPool::releaseAll(); // deletes the former main pool, empties the original
    EXPECT_EQ(kavPool::npools(), 1u);
}

// A pool's report, with and without flag 0; printAll reports every pool,
// newest first, each through its own print, and the totals that apools and
// upools also give.
TEST_F(kavLibTest, ReportsPools)
{
    kavPool* main = kavPool::mainPool();
    kavPool p;
    EXPECT_EQ(detailed([&](std::ostream& s) { EXPECT_EQ(&(s << p), &s); }),
              "Pool 1 @@PTR Alloc=0 Used=0 FreeB=0 FreeR=0\n  Allocated blocks: \n  Free blocks: \n");

    // [16][16][16][600][24][free], and a second block in use; then the five
    // pieces go back.
    std::vector<std::pair<char*, unsigned int>> cut;
    for (unsigned int size : {16, 16, 16, 600, 24})
        cut.emplace_back(piece(p, size), size);
    piece(p, 9000);
    for (const auto& [at, size] : cut)
        p.free(at, size);
    const std::string line = "Pool 1 @@PTR Alloc=17000 Used=9000 FreeB=7928 FreeR=72\n";
    const std::string detail = line +
                               "  Allocated blocks:  @@PTR(9000) @@PTR(8000)\n"
                               "  Free blocks:  @@PTR(600) @@PTR(7328)\n"
                               "  Recycled Element: size=16 Number=3 Bytes=48\n"
                               "  Recycled Element: size=24 Number=1 Bytes=24\n";
    EXPECT_EQ(detailed([&](std::ostream& os) { os << p; }), detail);

    customPool q;
    piece(*main, 8);
    q.alloc(20000);
    EXPECT_EQ(std::make_pair(kavPool::apools(), kavPool::upools()), std::make_pair(65000u, 29008u));
    const std::string mainLine = "  Pool 0 @@PTR Alloc=8000 Used=8 FreeB=7992 FreeR=0\n";
    const std::string total = "*** Total: Alloc=65000 Used=29008 Free=35920 Recycled=72 ***\n";
    std::ostringstream os;
    kavPool::printAll(os);
    EXPECT_EQ(maskPointers(os.str()), "*** List of all Pools ***\n  custom pool\n  " + line + mainLine + total);
    EXPECT_EQ(detailed(kavPool::printAll), "*** List of all Pools ***\n  custom pool\n  " + detail +
                                               mainLine +
                                               "  Allocated blocks:  @@PTR(8000)\n  Free blocks:  @@PTR(7992)\n" + total);
}
