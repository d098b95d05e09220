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
struct kavTimerTest : kavLibTest {
    void SetUp() override { kavLibTest::SetUp(); kavLibTestAccess::time() = kavTime{}; }
    void TearDown() override { SetUp(); }
};

// The report of a section from calendar time `from` to `to` that took
// `ticks` of processor time.
std::string sectionReport(std::time_t from, std::time_t to, std::clock_t ticks)
{
    std::string text;
    char line[100];
    for (auto [label, t] : {std::pair{"Start section time  ", from}, std::pair{"End section time    ", to}}) {
        const std::tm* tm = std::localtime(&t);
        std::snprintf(line, sizeof line, "    %s %2d:%02d:%02d\n", label, tm->tm_hour, tm->tm_min, tm->tm_sec);
        text += line;
    }
    std::snprintf(line, sizeof line, "    Elapsed section time %fs\n", static_cast<double>(ticks) / CLOCKS_PER_SEC);
    return text + line;
}

// The report of the whole run, as the record stands.
std::string runReport(const kavTime& r)
{
    std::ostringstream os;
    os << "Starting time " << std::ctime(&r.startTime);
    os << "Ending time   " << std::ctime(&r.lastTime) << "Elapsed time  "
       << static_cast<double>(r.lastClock - r.startClock) / CLOCKS_PER_SEC << "s\n";
    return os.str();
}

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
    kavLib::set(0);
    kavLib::set(199);
    EXPECT_EQ(&(a = b), &a);
    EXPECT_TRUE(kavLib::get(0) && kavLib::get(199));
    kavLib::clrAll();
    EXPECT_FALSE(kavLib::get(0) || kavLib::get(199));

    char* four = kavLib::space(4);
    EXPECT_TRUE(four == kavLibTestAccess::buffer() && std::strcmp(four, "    ") == 0);
    EXPECT_TRUE(kavLib::space(-3) == four && std::strcmp(four, "   ") == 0);
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
    ASSERT_TRUE(table != nullptr && table->getPool() == kavPool::mainPool());
    EXPECT_TRUE(kavLib::get(4));
    kavString abc("abc");
    kavLib::init(true);
    EXPECT_TRUE(kavStringTbl::table() == table && kavString("abc").elem() == abc.elem());
    EXPECT_FALSE(kavLib::get(4));

    kavLib::tempInit(nullptr);
    kavString("scratch");
    kavLib::set(5);
    kavLib::reInit(false);
    EXPECT_TRUE(kavLib::get(5));
    EXPECT_EQ(kavStringTbl::tempTable(), nullptr);
    EXPECT_EQ(kavPool::npools(), 1u);
    EXPECT_EQ(kavPool::mainPool()->umem(), pooledSize(sizeof(kavStringTbl)));
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
    EXPECT_TRUE(scratch.elem()->getPool() == tempPool && tempPool != kavPool::mainPool());
    kavLib::tempInit(nullptr);
    EXPECT_EQ(kavStringTbl::tempTable(), temp);
    EXPECT_EQ(kavPool::npools(), 3u);
    kavLib::tempReset();
    EXPECT_EQ(kavStringTbl::tempTable(), nullptr);
    EXPECT_TRUE(kavPool::npools() == 3u && tempPool->amem() == 0u);
    EXPECT_EQ(kavString("abc").elem(), global.elem());
    EXPECT_EQ(kavPool::mainPool()->umem(), mainUsed);

    kavLib::tempInit(nullptr);
    kavLib::set(3);
    kavLib::reset();
    EXPECT_TRUE(kavStringTbl::table() == nullptr && kavStringTbl::tempTable() == nullptr);
    EXPECT_TRUE(kavPool::npools() == 1u && kavPool::mainPool()->amem() == 0u);
    EXPECT_TRUE(kavLib::get(3));
}

// Before any startTimer the record is all zero: the first section starts at
// calendar time 0 (shown in local time) and clock 0.  Then each section runs
// from the previous update (a label adds a line), the run from startTimer:
// moving the start two hours and 100 processor seconds back shows in the run
// only, and a second run report starts there too.
TEST_F(kavTimerTest, SectionAndRunReports)
{
    std::ostringstream os;
    kavTime& record = kavLibTestAccess::time();
    kavLib::sectionTimer(os, "");
    EXPECT_EQ(os.str(), sectionReport(0, record.lastTime, record.lastClock));

    const kavTime started = kavLib::startTimer();
    record.startTime -= 7200;
    record.startClock -= 100 * CLOCKS_PER_SEC;
    os.str("");
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
