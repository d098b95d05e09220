// Library flags and indentation, section timers, start-up and reset.
#include "testutil.h"

#include <cstring>
#include <ctime>
#include <fstream>
#include <set>

// Flags are set and cleared one by one or all at once; space() fills and
// returns the one shared buffer.
TEST_F(kavLibTest, FlagsAndIndentation)
{
    kavLib::set(7);
    EXPECT_TRUE(kavLib::get(7) && !kavLib::get(6) && !kavLib::get(8));
    kavLib::clr(7);
    kavLib::set(0);
    kavLib::set(199);
    EXPECT_TRUE(!kavLib::get(7) && kavLib::get(0) && kavLib::get(199));
    kavLib::clrAll();
    for (int n = 0; n < 200; ++n)
        EXPECT_FALSE(kavLib::get(n)) << n;

    char* four = kavLib::space(4);
    EXPECT_STREQ(four, "    ");
    EXPECT_TRUE(kavLib::space(-3) == four && std::strcmp(four, "   ") == 0);
    EXPECT_STREQ(kavLib::space(0), "");
    EXPECT_EQ(std::strlen(kavLib::space(200)), 127u); // never past the buffer
}

// init establishes the global table once and clears flags only when asked.
// tempInit(null) makes a new pool each time, yet the temporary table stays
// where it was; tempReset empties the table's pool and keeps it (and does
// nothing without a table).  reInit releases every pool and starts a new,
// empty global table; reset leaves no table.  Neither touches the flags.
TEST_F(kavLibTest, StartUpTemporaryTableAndReset)
{
    kavLib::set(4);
    kavLib::init(false);
    const kavStringTbl* table = kavStringTbl::table();
    ASSERT_TRUE(table != nullptr && table->getPool() == kavPool::mainPool());
    EXPECT_TRUE(kavLib::get(4));
    kavString abc("abc");
    kavLib::init(true);
    EXPECT_TRUE(kavStringTbl::table() == table && kavString("abc").elem() == abc.elem());
    EXPECT_FALSE(kavLib::get(4));
    const unsigned int mainUsed = kavPool::mainPool()->umem();
    kavLib::tempReset(); // no temporary table: nothing to do

    kavLib::tempInit(nullptr);
    const kavStringTbl* temp = kavStringTbl::tempTable();
    kavPool* tempPool = temp->getPool();
    EXPECT_TRUE(kavString("abc").elem()->getPool() == tempPool && tempPool != kavPool::mainPool());
    kavLib::tempInit(nullptr);
    EXPECT_TRUE(kavStringTbl::tempTable() == temp && kavPool::npools() == 3u);
    kavLib::tempReset();
    EXPECT_TRUE(kavStringTbl::tempTable() == nullptr && kavPool::npools() == 3u && tempPool->amem() == 0u);
    EXPECT_TRUE(kavString("abc").elem() == abc.elem() && kavPool::mainPool()->umem() == mainUsed);

    kavLib::tempInit(nullptr);
    kavString("scratch");
    kavLib::set(5);
    kavLib::reInit(false);
    EXPECT_TRUE(kavLib::get(5) && kavStringTbl::tempTable() == nullptr && kavPool::npools() == 1u);
    EXPECT_EQ(kavPool::mainPool()->umem(), pooledSize(sizeof(kavStringTbl)));
    kavLib::reInit(true);
    EXPECT_FALSE(kavLib::get(5));
    kavLib::tempInit(nullptr);
    kavLib::set(3);
    kavLib::reset();
    EXPECT_TRUE(kavStringTbl::table() == nullptr && kavStringTbl::tempTable() == nullptr && kavLib::get(3));
    EXPECT_TRUE(kavPool::npools() == 1u && kavPool::mainPool()->amem() == 0u);
}

// The processor seconds of the last "Elapsed ... time" of a report.
static double elapsed(const std::string& report)
{
    return std::stod(report.substr(report.rfind("time ") + 5));
}

// Each section runs from the previous update (a label adds a line before
// it), the whole run from startTimer, in processor time.
TEST_F(kavLibTest, SectionAndRunReports)
{
    const std::string hms = "[ 12]\\d:\\d\\d:\\d\\d\n";
    const std::string clock = "    Start section time   " + hms + "    End section time     " + hms +
                              "    Elapsed section time \\d+\\.\\d{6}s\n";
    kavLib::startTimer();
    const std::clock_t burnt = std::clock() + CLOCKS_PER_SEC / 20; // spend 0.05 s of processor time
    while (std::clock() < burnt) {
    }
    std::ostringstream first, second, run;
    const std::clock_t before = std::clock();
    kavLib::sectionTimer(first, "");
    kavLib::sectionTimer(second, "parsing");
    const double both = static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC;
    kavLib::stopTimer(run);
    EXPECT_TRUE(std::regex_match(first.str(), std::regex(clock))) << first.str();
    EXPECT_TRUE(std::regex_match(second.str(), std::regex("parsing\n" + clock))) << second.str();
    EXPECT_TRUE(std::regex_match(run.str(), std::regex("Starting time [A-Z][a-z]{2} .*\n"
                                                       "Ending time   [A-Z][a-z]{2} .*\nElapsed time  [0-9.e-]+s\n")))
        << run.str();
    EXPECT_GE(elapsed(first.str()), 0.05);
    // The second section starts where the first ended: it cannot hold the
    // burnt time, only (part of) the two calls. Bounded by what they took,
    // not by a fixed figure, so a slow run (valgrind) cannot fail it.
    EXPECT_LE(elapsed(second.str()), both + 1e-6);
    EXPECT_GE(elapsed(run.str()), 0.05);
}
// Each check has a report of its own, and the guide lists every one of them,
// as the library writes it.
TEST(kavChecks, OneReportEachAndTheGuideListsThem)
{
    std::set<std::pair<std::string, int>> places;
    std::string table = "| Report | File | Line | Meaning |\n| --- | --- | --- | --- |\n";
    for (int i = 0; i < kavCheckCount; ++i) {
        const kavCheckEntry& e = kavCheckOf(static_cast<kavCheck>(i));
        EXPECT_TRUE(places.emplace(e.file, e.line).second) << e.file << " " << e.line;
        table += std::string("| `") + e.expr + "` | `" + e.file + "` | " + std::to_string(e.line) + " | " +
                 e.meaning + " |\n";
    }
#ifdef KAVLIB_GUIDE
    std::ifstream in(KAVLIB_GUIDE);
    const std::string guide{std::istreambuf_iterator<char>(in), {}};
    EXPECT_NE(guide.find(table), std::string::npos) << "docs/guide.md should list:\n" << table;
#endif
    EXPECT_DEATH(kavCheckFail(kavCheck::castClass, "kavCast<X> of a Y"),
                 assertionReport("kavCast<X> of a Y", "kavview", 30));
}

