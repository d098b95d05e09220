// Library flags and indentation, section timers, start-up and reset.
#include "testutil.h"

#include <cstdio>
#include <cstring>
#include <ctime>

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
    void SetUp() override { TearDown(); }
    void TearDown() override
    {
        kavLibTest::TearDown();
        kavLibTestAccess::time() = kavTime{};
    }
};

// A clock line of a section report: `label`, then t's local time.
std::string clockLine(const char* label, std::time_t t)
{
    const std::tm* tm = std::localtime(&t);
    char line[100];
    std::snprintf(line, sizeof line, "    %s %2d:%02d:%02d\n", label, tm->tm_hour, tm->tm_min, tm->tm_sec);
    return line;
}

// The report of a section from calendar time `from` to `to` that took
// `ticks` of processor time.
std::string sectionReport(std::time_t from, std::time_t to, std::clock_t ticks)
{
    char elapsed[100];
    std::snprintf(elapsed, sizeof elapsed, "    Elapsed section time %fs\n", static_cast<double>(ticks) / CLOCKS_PER_SEC);
    return clockLine("Start section time  ", from) + clockLine("End section time    ", to) + elapsed;
}

std::string date(std::time_t t) { return std::ctime(&t); }

// The report of the whole run, as the record stands.
std::string runReport(const kavTime& r)
{
    std::ostringstream os;
    os << "Starting time " << date(r.startTime) << "Ending time   " << date(r.lastTime) << "Elapsed time  "
       << static_cast<double>(r.lastClock - r.startClock) / CLOCKS_PER_SEC << "s\n";
    return os.str();
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

// Flags are set and cleared one by one or all at once, and assignment
// leaves them alone; space() fills and returns the one shared buffer.
TEST_F(kavLibTest, FlagsAndIndentation)
{
    kavLib::set(7);
    EXPECT_TRUE(kavLib::get(7) && !kavLib::get(6) && !kavLib::get(8));
    kavLib::clr(7);
    EXPECT_FALSE(kavLib::get(7));
    kavLib a, b;
    kavLib::set(199);
    EXPECT_EQ(&(a = b), &a);
    EXPECT_TRUE(kavLib::get(199));
    kavLib::clrAll();
    for (int n = 0; n < 200; ++n)
        EXPECT_FALSE(kavLib::get(n)) << n;

    char* four = kavLib::space(4);
    EXPECT_STREQ(four, "    ");
    EXPECT_EQ(four, kavLibTestAccess::buffer());
    EXPECT_EQ(kavLib::space(-3), four);
    EXPECT_STREQ(four, "   ");
    EXPECT_STREQ(kavLib::space(0), "");
    EXPECT_EQ(std::string(kavLib::space(127)), std::string(127, ' '));
    EXPECT_EQ(std::strlen(kavLib::space(200)), 127u); // never past the buffer
}

// init establishes the global table once and clears flags only when asked;
// reInit releases every pool and starts a new, empty global table.
TEST_F(kavLibTest, InitAndReInit)
{
    kavLib::set(4);
    kavLib::init(false);
    const kavStringTbl* table = kavStringTbl::table();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->getPool(), kavPool::mainPool());
    EXPECT_TRUE(kavLib::get(4));
    kavString abc("abc");
    kavLib::init(true);
    EXPECT_EQ(kavStringTbl::table(), table);
    EXPECT_EQ(kavString("abc").elem(), abc.elem());
    EXPECT_FALSE(kavLib::get(4));

    kavLib::tempInit(nullptr);
    kavString("scratch");
    kavLib::set(5);
    kavLib::reInit(false);
    EXPECT_TRUE(kavLib::get(5));
    EXPECT_EQ(kavStringTbl::tempTable(), nullptr);
    EXPECT_EQ(kavPool::npools(), 1u);
    EXPECT_EQ(kavStringTbl::table()->count(), 0);
    EXPECT_EQ(kavPool::mainPool()->umem(), rounded(sizeof(kavStringTbl)));
    EXPECT_EQ(kavString("abc").elem()->getPool(), kavPool::mainPool());
    kavLib::reInit(true);
    EXPECT_FALSE(kavLib::get(5));
}

// tempInit(null) makes a new pool each time, yet the temporary table stays
// where it was; tempReset empties the table's pool and keeps it (and does
// nothing without a table); reset releases every pool and leaves no table.
TEST_F(kavInitTest, TemporaryTableAndReset)
{
    kavString global("abc");
    const unsigned int mainUsed = kavPool::mainPool()->umem();
    kavLib::tempReset(); // no temporary table: nothing to do

    kavLib::tempInit(nullptr);
    const kavStringTbl* temp = kavStringTbl::tempTable();
    kavPool* tempPool = temp->getPool();
    kavString scratch("abc");
    EXPECT_EQ(scratch.elem()->getPool(), tempPool);
    EXPECT_NE(tempPool, kavPool::mainPool());
    kavLib::tempInit(nullptr);
    EXPECT_EQ(kavStringTbl::tempTable(), temp);
    EXPECT_EQ(kavPool::npools(), 3u);
    EXPECT_EQ(kavPool::upools(), mainUsed + tempPool->umem());
    EXPECT_EQ(kavString("abc").elem(), scratch.elem());
    kavLib::tempReset();
    EXPECT_EQ(kavStringTbl::tempTable(), nullptr);
    EXPECT_EQ(kavPool::npools(), 3u);
    EXPECT_EQ(tempPool->amem(), 0u);
    EXPECT_EQ(kavString("abc").elem(), global.elem());
    EXPECT_EQ(kavPool::mainPool()->umem(), mainUsed);

    kavLib::tempInit(nullptr);
    kavLib::set(3);
    kavLib::reset();
    EXPECT_EQ(kavStringTbl::table(), nullptr);
    EXPECT_EQ(kavStringTbl::tempTable(), nullptr);
    EXPECT_EQ(kavPool::npools(), 1u);
    EXPECT_EQ(kavPool::mainPool()->amem(), 0u);
    EXPECT_TRUE(kavLib::get(3));
}

// Each section runs from the previous update (a label adds a line), the
// run from startTimer: moving the start two hours and 100 processor seconds
// back shows in the run only, and a second run report starts there too.
TEST_F(kavTimerTest, SectionAndRunReports)
{
    const kavTime started = kavLib::startTimer();
    kavTime& record = kavLibTestAccess::time();
    record.startTime -= 7200;
    record.startClock -= 100 * CLOCKS_PER_SEC;
    std::ostringstream os;
    kavLib::sectionTimer(os, "");
    kavLib::sectionTimer(os, "parsing");
    EXPECT_EQ(os.str(), sectionReport(started.lastTime, record.sectionTime, record.sectionClock - started.lastClock) +
                            "parsing\n" +
                            sectionReport(record.sectionTime, record.lastTime, record.lastClock - record.sectionClock));
    for (int n = 0; n < 2; ++n) {
        os.str("");
        kavLib::stopTimer(os);
        EXPECT_EQ(os.str(), runReport(record));
        EXPECT_EQ(record.startTime, started.startTime - 7200);
    }
}

// Before any startTimer the record is all zero: the run and the first
// section start at calendar time 0 (shown in local time) and clock 0.
TEST_F(kavTimerTest, ReportsBeforeStartTimerRunFromZero)
{
    std::ostringstream os;
    kavLib::sectionTimer(os, "");
    const kavTime& record = kavLibTestAccess::time();
    EXPECT_EQ(os.str(), sectionReport(0, record.lastTime, record.lastClock));
    kavLibTestAccess::time() = kavTime{};
    os.str("");
    kavLib::stopTimer(os);
    EXPECT_EQ(os.str(), runReport(record));
    EXPECT_EQ(record.startTime, 0);
}
