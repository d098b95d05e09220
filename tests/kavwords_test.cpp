// The demo program, kavwords, run as a user runs it: its output on texts
// whose counts are known, and its answer to every kind of bad input.
#include "testutil.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

struct Result {
    int status;
    std::string out;
    std::string err;
};

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class kavwordsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        _dir = fs::path(::testing::TempDir()) / (std::string("kavwords_") + test->name());
        fs::remove_all(_dir);
        fs::create_directories(_dir);
        fs::current_path(_dir); // file names in the output stay short
    }
    void TearDown() override
    {
        fs::current_path(fs::temp_directory_path());
        fs::remove_all(_dir);
    }

    // Writes a file into the test's directory.
    void write(const std::string& name, const std::string& bytes)
    {
        std::ofstream(_dir / name, std::ios::binary) << bytes;
    }

    // Runs kavwords with `args` (shell syntax), standard input from `input`.
    Result run(const std::string& args, const std::string& input = "")
    {
        write("stdin.txt", input);
        const std::string command =
            std::string("\"") + KAVWORDS + "\" " + args + " <stdin.txt >stdout.txt 2>stderr.txt";
        int status = std::system(command.c_str());
#ifndef _WIN32
        status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
        return Result{status, slurp(_dir / "stdout.txt"), slurp(_dir / "stderr.txt")};
    }

    fs::path _dir;
};

} // namespace

TEST_F(kavwordsTest, CountsAKnownTextAndListsTiesAlphabetically)
{
    write("k.txt", "b a c\nc b a\nd the The THE\n");
    const Result top4 = run("k.txt -n 4");
    EXPECT_EQ(top4.status, 0);
    EXPECT_EQ(top4.err, "");
    EXPECT_EQ(top4.out,
              "Files, in the order read:\n"
              "  k.txt: 3 lines, 10 words, 5 distinct, 5 new\n"
              "Total: 10 words, 5 distinct\n"
              "String table: 6 texts in 4191 chains, 0 collisions\n"
              "\n"
              "The 4 most frequent words:\n"
              "     1        3  the\n"
              "     2        2  a\n"
              "     3        2  b\n"
              "     4        2  c\n");

    // The same words in another order, cut at a tie: the ranking keeps the
    // alphabetically first of the tied words whatever order they came in.
    write("r.txt", "c c b b a a the the the d\n");
    EXPECT_NE(run("r.txt -n2").out.find("The 2 most frequent words:\n"
                                        "     1        3  the\n"
                                        "     2        2  a\n"),
              std::string::npos);
    EXPECT_EQ(run("r.txt --top=0").out.find("most frequent"), std::string::npos);
}

TEST_F(kavwordsTest, ReadsFilesAndStandardInputWithApostrophesAndAConcordance)
{
    write("k.txt", "Don't DON'T don't 'quoted' rock'n'roll x''y\n");
    const Result r = run("k.txt - --sorted -n 0 -w \"DON'T\" --where y", "y y");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "Files, in the order read:\n"
              "  k.txt: 1 line, 7 words, 5 distinct, 5 new\n"
              "  (standard input): 1 line, 2 words, 1 distinct, 0 new\n"
              "Total: 9 words, 5 distinct\n"
              "String table: 9 texts in 4191 chains, 0 collisions\n"
              "\n"
              "Lines with \"don't\": 1\n"
              "  k.txt:1: Don't DON'T don't 'quoted' rock'n'roll x''y\n"
              "\n"
              "Lines with \"y\": 2\n"
              "  k.txt:1: Don't DON'T don't 'quoted' rock'n'roll x''y\n"
              "  (standard input):1: y y\n"
              "\n"
              "All 5 words in alphabetical order:\n"
              "       3  don't\n"
              "       1  quoted\n"
              "       1  rock'n'roll\n"
              "       1  x\n"
              "       3  y\n");
}

TEST_F(kavwordsTest, ReadsTheSampleTextWhenNoFileIsNamed)
{
    const Result r = run("-n 3");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("No file named: the sample text, Persuasion by Jane Austen (", 0), 0u);
    EXPECT_NE(r.out.find("  persuasion.txt: 8330 lines, 83620 words, 5822 distinct, 5822 new\n"
                         "Total: 83620 words, 5822 distinct\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("     1     3329  the\n     2     2808  to\n     3     2800  and\n"), std::string::npos);
}

TEST_F(kavwordsTest, DumpsAndReportsWithTheFlagsNamed)
{
    write("k.txt", "b a\n");
    const Result dump = run("k.txt -n 1 --dump --flags 0,3,5,6");
    EXPECT_EQ(dump.status, 0);
    EXPECT_NE(dump.out.find("Container dumps, library flags 0,3,5,6:\n"
                            "- the files, a kavFifo:\n"
                            "kavFifo P[1] RC[0] CT[1]\n"
                            "    kavWordFile P[1] RC[1] k.txt lines[1] words[2] distinct[2] new[2] \n"
                            "- the ranking, a kavSList:\n"
                            "kavSList P[3] RC[0] CT[1]\n"
                            "    kavWordRank P[3] RC[1] kavWord P[1] RC[1] a count[1] \n"
                            "- the words, a kavHash<4191>:\n"
                            "kavHash P[1] RC[0] CT[2] CL[0]\n"),
              std::string::npos)
        << dump.out;

    const Result report = run("k.txt -n 1 --report");
    EXPECT_EQ(report.status, 0);
    const std::string out = maskPointers(report.out);
    EXPECT_NE(out.find("Section timers:\nread k.txt\n    Start section time "), std::string::npos);
    EXPECT_NE(out.find("\nrank\n"), std::string::npos);
    EXPECT_NE(out.find("*** List of all Pools ***\n  Pool 3 @@PTR"), std::string::npos);
    EXPECT_NE(out.find("  Pool 2 @@PTR Alloc=0 Used=0 FreeB=0 FreeR=0\n"), std::string::npos); // scratch, released
    EXPECT_NE(out.find("Whole run:\nStarting time "), std::string::npos);
    EXPECT_NE(out.find("Pools after kavLib::reset:\n"
                       "*** List of all Pools ***\n"
                       "  Pool 0 @@PTR Alloc=0 Used=0 FreeB=0 FreeR=0\n"
                       "*** Total: Alloc=0 Used=0 Free=0 Recycled=0 ***\n"),
              std::string::npos);
}

TEST_F(kavwordsTest, RejectsBadInputWithAMessageAndAnExitStatus)
{
    write("k.txt", "a\n");
    fs::create_directory(_dir / "dir");
    const struct {
        const char* args;
        int status;
        const char* err;
    } cases[] = {
        {"nosuch.txt", 1, "kavwords: cannot open nosuch.txt: No such file or directory\n"},
        {"k.txt dir", 1, "kavwords: cannot read dir: Is a directory\n"},
        {"--bogus k.txt", 2, "kavwords: unknown option --bogus\nTry kavwords --help.\n"},
        {"k.txt -n", 2, "kavwords: -n needs a value\n"},
        {"-n x", 2, "kavwords: -n x: not a number from 0 to 2147483647\n"},
        {"-n -1", 2, "kavwords: -n -1: not a number from 0 to 2147483647\n"},
        {"-n99999999999", 2, "kavwords: -n99999999999: not a number from 0 to 2147483647\n"},
        {"--top=", 2, "kavwords: --top=: not a number from 0 to 2147483647\n"},
        {"--flags 1,200", 2, "kavwords: --flags: '200' is not a flag number (0 to 199)\n"},
        {"--flags=1,,2", 2, "kavwords: --flags: '' is not a flag number (0 to 199)\n"},
        {"-w two-words", 2, "kavwords: --where: 'two-words' is not a single word of at most 64 bytes\n"},
    };
    for (const auto& c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_EQ(r.err, c.err) << c.args;
        EXPECT_EQ(r.out, "") << c.args;
    }
    EXPECT_EQ(run("--help").status, 0);

#ifndef _WIN32
    if (::geteuid() != 0) { // root reads every file
        write("locked.txt", "a\n");
        fs::permissions(_dir / "locked.txt", fs::perms::none);
        const Result r = run("locked.txt");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "kavwords: cannot open locked.txt: Permission denied\n");
    }
#endif
}

TEST_F(kavwordsTest, ReadsBinaryDataAndEndlessLinesSafely)
{
    std::string bytes("one\0two\xff\xfe three\n", 16);
    bytes += std::string(2000000, 'x') + " ";           // one line of 2 MB, one word of 2 MB
    bytes += std::string(63, 'y') + "\xc3\xa9" + " z";  // a UTF-8 letter across the 64-byte cut
    write("k.bin", bytes);
    const Result r = run("k.bin -n 0 --sorted");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "kavwords: k.bin: binary data (NUL bytes) read as text\n");
    EXPECT_EQ(r.out,
              "Files, in the order read:\n"
              "  k.bin: 2 lines, 6 words, 6 distinct, 6 new, 2 words cut to 64 bytes\n"
              "Total: 6 words, 6 distinct\n"
              "String table: 7 texts in 4191 chains, 0 collisions\n"
              "\n"
              "All 6 words in alphabetical order:\n"
              "       1  one\n"
              "       1  three\n"
              "       1  two\xff\xfe\n"
              "       1  " + std::string(64, 'x') + "\n"
              "       1  " + std::string(63, 'y') + "\n"
              "       1  z\n");
}
