// Library flags and indentation, section timers, start-up and reset.
#include "testutil.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

// Reaches kavLib's private state: the buffer and the timer record.
class kavLibTestAccess {
public:
    static const char* buffer() { return kavLib::_buffer; }
    static kavTime& time() { return kavLib::_time; }
};

namespace {

// The timer record is library state as well: put it back to all zero.
class kavTimerTest : public kavLibTest {
protected:
    void SetUp() override
    {
        kavLibTest::SetUp();
        kavLibTestAccess::time() = kavTime{};
    }
    void TearDown() override
    {
        kavLibTestAccess::time() = kavTime{};
        kavLibTest::TearDown();
    }
};

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

// The clock time of a section line ("hh:mm:ss", hours padded with a blank),
// or "" when the line does not have the shape of `label`'s line.
std::string clockOf(const std::string& line, const std::string& label)
{
    static const std::string clock = "(( \\d|1\\d|2[0-3]):[0-5]\\d:[0-5]\\d)";
    std::smatch m;
    return std::regex_match(line, m, std::regex("    " + label + clock)) ? m[1].str() : "";
}

bool isElapsedLine(const std::string& line)
{
    return std::regex_match(line, std::regex("    Elapsed section time \\d+\\.\\d{6}s"));
}

// ctime's text for `t`, without its line end.
std::string dateOf(std::time_t t)
{
    std::string text = std::ctime(&t);
    return text.substr(0, text.size() - 1);
}

unsigned int rounded(std::size_t size) { return kavPool::roundSize(static_cast<unsigned int>(size)); }

} // namespace

// Right after loading (every test runs in a process of its own), or after
// any fixture has put the state back.
TEST(kavLibLoad, FlagsBufferAndTimerStartCleared)
{
    for (int n = 0; n < 200; ++n)
        EXPECT_FALSE(kavLib::get(n)) << n;
    EXPECT_STREQ(kavLibTestAccess::buffer(), "");
    const kavTime& t = kavLibTestAccess::time();
    EXPECT_EQ(t.startTime | t.sectionTime | t.lastTime, 0);
    EXPECT_EQ(t.startClock | t.sectionClock | t.lastClock, 0);
}

TEST_F(kavLibTest, FlagsSetClearAndClearAll)
{
    kavLib::set(7);
    EXPECT_TRUE(kavLib::get(7));
    EXPECT_FALSE(kavLib::get(6));
    EXPECT_FALSE(kavLib::get(8));
    kavLib::clr(7);
    EXPECT_FALSE(kavLib::get(7));
    for (int n : {0, 2, 100, 199})
        kavLib::set(n);
    kavLib::clrAll();
    for (int n = 0; n < 200; ++n)
        EXPECT_FALSE(kavLib::get(n)) << n;

    // Assignment exists and leaves every flag alone.
    kavLib a;
    kavLib b;
    kavLib::set(2);
    EXPECT_EQ(&(a = b), &a);
    EXPECT_TRUE(kavLib::get(2));
}

// space() fills and returns the one shared buffer.
TEST_F(kavLibTest, SpaceFillsTheSharedBuffer)
{
    char* four = kavLib::space(4);
    EXPECT_STREQ(four, "    ");
    EXPECT_EQ(four, kavLibTestAccess::buffer());
    EXPECT_EQ(kavLib::space(-3), four);
    EXPECT_STREQ(four, "   ");
    EXPECT_STREQ(kavLib::space(0), "");
    EXPECT_EQ(std::string(kavLib::space(127)), std::string(127, ' '));
    EXPECT_EQ(std::strlen(kavLib::space(200)), 127u); // never past the buffer
}

// init establishes the global table once; only init(true) clears flags.
TEST_F(kavLibTest, InitEstablishesTheTableOnce)
{
    EXPECT_EQ(kavStringTbl::table(), nullptr);
    kavLib::set(4);
    kavLib::set(199);
    kavLib::init(false);
    const kavStringTbl* table = kavStringTbl::table();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->getPool(), kavPool::mainPool());
    EXPECT_EQ(kavStringTbl::tempTable(), nullptr);
    EXPECT_TRUE(kavLib::get(4));
    EXPECT_TRUE(kavLib::get(199));

    kavString abc("abc");
    kavLib::init(true);
    EXPECT_EQ(kavStringTbl::table(), table);
    EXPECT_EQ(table->count(), 1);
    EXPECT_EQ(kavString("abc").elem(), abc.elem());
    EXPECT_FALSE(kavLib::get(4));
    EXPECT_FALSE(kavLib::get(199));
}

// reInit releases every pool and starts a new, empty global table.
TEST_F(kavInitTest, ReInitReplacesTheGlobalTable)
{
    kavString("abc");
    kavString("xyz");
    kavLib::tempInit(nullptr);
    kavString("scratch");
    EXPECT_EQ(kavPool::npools(), 2u);
    kavLib::set(5);

    kavLib::reInit(false);
    EXPECT_TRUE(kavLib::get(5));
    EXPECT_EQ(kavStringTbl::tempTable(), nullptr);
    EXPECT_EQ(kavPool::npools(), 1u);
    const kavStringTbl* table = kavStringTbl::table();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->count(), 0);
    EXPECT_EQ(kavPool::mainPool()->umem(), rounded(sizeof(kavStringTbl)));

    kavString abc("abc");
    EXPECT_EQ(table->count(), 1);
    EXPECT_EQ(abc.elem()->useCount(), 1);
    EXPECT_EQ(abc.elem()->getPool(), kavPool::mainPool());

    kavLib::reInit(true);
    EXPECT_FALSE(kavLib::get(5));
    EXPECT_EQ(kavStringTbl::table()->count(), 0);
}

// reset releases every pool and leaves no table; flags stay.
TEST_F(kavInitTest, ResetLeavesNoTable)
{
    kavString("abc");
    kavLib::tempInit(nullptr);
    kavLib::set(3);
    kavLib::reset();
    EXPECT_EQ(kavStringTbl::table(), nullptr);
    EXPECT_EQ(kavStringTbl::tempTable(), nullptr);
    EXPECT_EQ(kavPool::npools(), 1u);
    EXPECT_EQ(kavPool::mainPool()->amem(), 0u);
    EXPECT_EQ(kavPool::mainPool()->umem(), 0u);
    EXPECT_TRUE(kavLib::get(3));
    kavLib::init(false);
    EXPECT_EQ(kavString("abc").elem()->useCount(), 1);
}

// A second tempInit(null) makes another pool, which stays registered and
// empty; the temporary table stays where it was.
TEST_F(kavInitTest, TempInitTwiceKeepsTheTable)
{
    kavLib::tempInit(nullptr);
    const kavStringTbl* temp = kavStringTbl::tempTable();
    ASSERT_NE(temp, nullptr);
    kavPool* tempPool = temp->getPool();
    EXPECT_NE(tempPool, kavPool::mainPool());
    EXPECT_EQ(kavPool::npools(), 2u);
    kavString scratch("scratch");
    EXPECT_EQ(scratch.elem()->getPool(), tempPool);

    kavLib::tempInit(nullptr);
    EXPECT_EQ(kavStringTbl::tempTable(), temp);
    EXPECT_EQ(kavPool::npools(), 3u);
    EXPECT_EQ(kavPool::upools(), kavPool::mainPool()->umem() + tempPool->umem());
    EXPECT_EQ(kavString("scratch").elem(), scratch.elem());
    EXPECT_EQ(temp->count(), 1);
}

// tempReset without a temporary table does nothing; with one it empties the
// table's pool, keeps the pool, and strings go to the global table again.
TEST_F(kavInitTest, TempResetEmptiesTheTemporaryPool)
{
    kavString global("abc");
    const unsigned int mainUsed = kavPool::mainPool()->umem();
    kavLib::tempReset();
    EXPECT_EQ(kavPool::npools(), 1u);
    EXPECT_EQ(kavPool::mainPool()->umem(), mainUsed);
    EXPECT_EQ(kavStringTbl::table()->count(), 1);

    kavLib::tempInit(nullptr);
    kavPool* tempPool = kavStringTbl::tempTable()->getPool();
    kavString temp("abc");
    EXPECT_NE(temp.elem(), global.elem());
    EXPECT_GT(tempPool->umem(), 0u);
    EXPECT_EQ(kavPool::mainPool()->umem(), mainUsed);

    kavLib::tempReset();
    EXPECT_EQ(kavStringTbl::tempTable(), nullptr);
    EXPECT_EQ(kavPool::npools(), 2u);
    EXPECT_EQ(tempPool->amem(), 0u);
    EXPECT_EQ(tempPool->umem(), 0u);
    EXPECT_EQ(kavString("abc").elem(), global.elem());
    EXPECT_EQ(kavStringTbl::table()->count(), 1);

    // The caller's own pool serves and is emptied the same way.
    kavPool mine;
    kavLib::tempInit(&mine);
    EXPECT_EQ(kavStringTbl::tempTable()->getPool(), &mine);
    EXPECT_EQ(kavString("mine").elem()->getPool(), &mine);
    kavLib::tempReset();
    EXPECT_EQ(kavStringTbl::tempTable(), nullptr);
    EXPECT_EQ(mine.amem(), 0u);
    EXPECT_EQ(kavPool::mainPool()->umem(), mainUsed);
}

// Section reports: the label line when there is one, then start, end and
// elapsed lines; each section starts where the previous one ended.
TEST_F(kavTimerTest, SectionReports)
{
    kavLib::startTimer();
    std::ostringstream os;
    kavLib::sectionTimer(os, "");
    const std::vector<std::string> first = lines(os.str());
    ASSERT_EQ(first.size(), 3u) << os.str();
    const std::string firstStart = clockOf(first[0], "Start section time   ");
    const std::string firstEnd = clockOf(first[1], "End section time     ");
    EXPECT_NE(firstStart, "") << first[0];
    EXPECT_NE(firstEnd, "") << first[1];
    EXPECT_TRUE(isElapsedLine(first[2])) << first[2];

    os.str("");
    kavLib::sectionTimer(os, "parsing");
    const std::vector<std::string> second = lines(os.str());
    ASSERT_EQ(second.size(), 4u) << os.str();
    EXPECT_EQ(second[0], "parsing");
    EXPECT_EQ(clockOf(second[1], "Start section time   "), firstEnd);
    EXPECT_NE(clockOf(second[2], "End section time     "), "") << second[2];
    EXPECT_TRUE(isElapsedLine(second[3])) << second[3];
}

// stopTimer reports the run from startTimer with ctime dates; a second
// report starts from the same moment.
TEST_F(kavTimerTest, StopTimerReportsTheRun)
{
    const kavTime started = kavLib::startTimer();
    EXPECT_EQ(started.sectionClock, started.startClock);
    EXPECT_EQ(started.lastClock, started.startClock);
    EXPECT_LE(started.startTime, started.lastTime);

    std::ostringstream os;
    kavLib::stopTimer(os);
    const std::vector<std::string> report = lines(os.str());
    ASSERT_EQ(report.size(), 3u) << os.str();
    EXPECT_EQ(report[0], "Starting time " + dateOf(started.startTime));
    EXPECT_EQ(report[1], "Ending time   " + dateOf(kavLibTestAccess::time().lastTime));
    const std::regex date("Ending time   [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\\d \\d{2}:\\d{2}:\\d{2} \\d{4}");
    EXPECT_TRUE(std::regex_match(report[1], date)) << report[1];
    EXPECT_TRUE(std::regex_match(report[2], std::regex("Elapsed time  [0-9.e+-]+s"))) << report[2];
    EXPECT_LT(std::stod(report[2].substr(14)), 5.0) << report[2];

    os.str("");
    kavLib::stopTimer(os);
    EXPECT_EQ(lines(os.str()).at(0), report[0]);
}

// A section runs from the previous update, the run from startTimer: moving
// the start two hours and 100 processor seconds back shows in the run only.
TEST_F(kavTimerTest, SectionsAndTheRunMeasureFromTheirOwnStart)
{
    const kavTime started = kavLib::startTimer();
    kavTime& record = kavLibTestAccess::time();
    record.startTime -= 7200;
    record.startClock -= 100 * CLOCKS_PER_SEC;
    std::ostringstream os;
    kavLib::sectionTimer(os, "");
    const std::tm* local = std::localtime(&started.lastTime);
    char start[100];
    std::snprintf(start, sizeof start, "    Start section time   %2d:%02d:%02d", local->tm_hour, local->tm_min,
                  local->tm_sec);
    const std::vector<std::string> section = lines(os.str());
    ASSERT_EQ(section.size(), 3u) << os.str();
    EXPECT_EQ(section[0], start);
    EXPECT_LT(std::stod(section[2].substr(25)), 100.0) << section[2];

    os.str("");
    kavLib::stopTimer(os);
    const std::vector<std::string> run = lines(os.str());
    ASSERT_EQ(run.size(), 3u) << os.str();
    EXPECT_EQ(run[0], "Starting time " + dateOf(started.startTime - 7200));
    EXPECT_GE(std::stod(run[2].substr(14)), 100.0) << run[2];
}

// Before any startTimer the record is all zero: the run and the first
// section start at calendar time 0 (shown in local time) and clock 0.
TEST_F(kavTimerTest, ReportsBeforeStartTimerRunFromZero)
{
    std::ostringstream os;
    kavLib::sectionTimer(os, "");
    const std::time_t zero = 0;
    const std::tm* local = std::localtime(&zero);
    char start[100];
    std::snprintf(start, sizeof start, "    Start section time   %2d:%02d:%02d", local->tm_hour, local->tm_min,
                  local->tm_sec);
    const std::vector<std::string> section = lines(os.str());
    ASSERT_EQ(section.size(), 3u) << os.str();
    EXPECT_EQ(section[0], start);
    char elapsed[100];
    std::snprintf(elapsed, sizeof elapsed, "    Elapsed section time %fs",
                  static_cast<double>(kavLibTestAccess::time().lastClock) / CLOCKS_PER_SEC);
    EXPECT_EQ(section[2], elapsed);

    kavLibTestAccess::time() = kavTime{};
    os.str("");
    kavLib::stopTimer(os);
    EXPECT_EQ(lines(os.str()).at(0), "Starting time " + dateOf(0));
}
