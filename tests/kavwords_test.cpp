// The demo program, kavwords, run as a user runs it: its output on texts
// whose counts are known, and its answer to every kind of bad input.
#include "testutil.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
// Runs the demo, which sits beside this program, with `args` through cmd
// (which takes Windows paths, and the outer quotes off a command line that
// starts with one); its exit code as std::system gives it.
int runDemo(const std::string& args)
{
    char self[MAX_PATH];
    const DWORD n = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string demo = (fs::path(std::string(self, n)).parent_path() / KAVWORDS).string();
    return std::system(("\"\"" + demo + "\" " + args + "\"").c_str());
}
#else
// Runs the demo with `args` as this build's programs run (through the
// emulator, if any); its exit status.
int runDemo(const std::string& args)
{
    const char* emulator = std::getenv("KAVLIB_TEST_EMULATOR");
    const int status = std::system((std::string(emulator ? emulator : "") + " \"" KAVWORDS "\" " + args).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
#endif

// A file as the demo wrote it, its line ends as they are on Unix.  (On
// Windows standard output and error are text streams, ending lines in CR LF.)
std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(in), {});
#ifdef _WIN32
    std::string::size_type at = 0;
    while ((at = bytes.find("\r\n", at)) != std::string::npos)
        bytes.erase(at, 1);
#endif
    return bytes;
}

// One run: the command line (shell syntax, standard input "y y"; it comes
// after the redirections, so it may send the output elsewhere), then the
// exit status, standard error and either the whole standard output or
// (`whole` false) pieces of it, pointers masked.
struct runCase {
    std::string args;
    int status;
    std::string err;
    std::vector<std::string> out = {""};
    bool whole = true;
};

// Every test runs in a fresh directory of its own that holds the texts.
class kavwordsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        _home = fs::current_path(); // the build's own directory: not shared with another build's run
        _dir = _home / (std::string("kavwords_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(_dir);
        fs::create_directories(_dir / "dir");
        fs::current_path(_dir); // file names in the output stay short
        write("stdin.txt", "y y");
        write("k.txt", "b a c\nc b a\nd the The THE\n");
        write("d.txt", "b a\n");
        write("a.txt", "Don't DON'T don't 'quoted' rock'n'roll x''y\n");
        write("k.bin", std::string("one\0two\xff\xfe three\n", 16) +
                           std::string(2000000, 'x') + " " +          // one line of 2 MB, one word of 2 MB
                           std::string(63, 'y') + "\xc3\xa9" + " z" + // a UTF-8 letter across the 64-byte cut
                           " " + std::string(63, 'w') + "'s");        // an apostrophe at the cut
    }
    void TearDown() override
    {
        fs::current_path(_home);
        fs::remove_all(_dir);
    }

    void write(const std::string& name, const std::string& bytes) { std::ofstream(name, std::ios::binary) << bytes; }

    void check(const std::vector<runCase>& cases)
    {
        for (const runCase& c : cases) {
            EXPECT_EQ(runDemo("<stdin.txt >out.txt 2>err.txt " + c.args), c.status) << c.args;
            EXPECT_EQ(slurp("err.txt"), c.err) << c.args;
            const std::string out = maskPointers(slurp("out.txt"));
            for (const std::string& piece : c.out)
                EXPECT_TRUE(c.whole ? out == piece : out.find(piece) != std::string::npos)
                    << c.args << "\n--- wanted:\n" << piece << "\n--- got:\n" << out;
        }
    }

    fs::path _home, _dir;
};

} // namespace

// Known counts, ties ranked alphabetically whatever order they came in,
// apostrophes, standard input, the concordance, binary data and endless
// lines, the sample text, and the dumps and reports under the flags named;
// then every kind of bad input.
TEST_F(kavwordsTest, CountsKnownTextsAndRejectsBadInput)
{
    const std::string line = "Don't DON'T don't 'quoted' rock'n'roll x''y\n";
    const std::string range = ": not a number from 0 to 2147483647\n";
    check({
        {"k.txt -n4", 0, "",
         {"Files, in the order read:\n  k.txt: 3 lines, 10 words, 5 distinct, 5 new\nTotal: 10 words, 5 distinct\n"
          "String table: 6 texts in 4191 chains, 0 collisions\n\nThe 4 most frequent words:\n"
          "     1        3  the\n     2        2  a\n     3        2  b\n     4        2  c\n"}},
        {"a.txt - --sorted -n 0 -w \"DON'T\" --where y", 0, "",
         {"Files, in the order read:\n  a.txt: 1 line, 7 words, 5 distinct, 5 new\n"
          "  (standard input): 1 line, 2 words, 1 distinct, 0 new\nTotal: 9 words, 5 distinct\n"
          "String table: 9 texts in 4191 chains, 0 collisions\n\nLines with \"don't\": 1\n  a.txt:1: " + line +
          "\nLines with \"y\": 2\n  a.txt:1: " + line + "  (standard input):1: y y\n\n"
          "All 5 words in alphabetical order:\n       3  don't\n       1  quoted\n       1  rock'n'roll\n"
          "       1  x\n       3  y\n"}},
        {"k.bin -n 0 --sorted --where " + std::string(63, 'w'), 0,
         "kavwords: k.bin: binary data (NUL bytes) read as text\n",
         {"Files, in the order read:\n  k.bin: 2 lines, 7 words, 7 distinct, 7 new, 3 words cut to 64 bytes\n"
          "Total: 7 words, 7 distinct\nString table: 9 texts in 4191 chains, 0 collisions\n\n"
          "Lines with \"" + std::string(63, 'w') + "\": 1\n",
          "All 7 words in alphabetical order:\n       1  one\n       1  three\n       1  two\xff\xfe\n"
          "       1  " + std::string(63, 'w') + "\n       1  " + std::string(64, 'x') + "\n       1  " +
          std::string(63, 'y') + "\n       1  z\n"},
         false},
        {"-n 3", 0, "",
         {"No file named: the sample text, Persuasion by Jane Austen (",
          "  persuasion.txt: 8330 lines, 83620 words, 5822 distinct, 5822 new\nTotal: 83620 words, 5822 distinct\n",
          "     1     3329  the\n     2     2808  to\n     3     2800  and\n"},
         false},
        {"d.txt -n 1 --dump --flags 0,3,5,6", 0, "",
         {"Container dumps, library flags 0,3,5,6:\n- the files, a kavFifo:\nkavFifo P[1] RC[0] CT[1]\n"
          "    kavWordFile P[1] RC[1] d.txt lines[1] words[2] distinct[2] new[2] \n- the ranking, a kavSList:\n"
          "kavSList P[3] RC[0] CT[1]\n    kavWordRank P[3] RC[1] kavWord P[1] RC[1] a count[1] \n"
          "- the words, a kavHash<4191>:\nkavHash P[1] RC[0] CT[2] CL[0]\n"},
         false},
        {"d.txt -n 1 --report", 0, "",
         {"Section timers:\nread d.txt\n    Start section time ", "\nrank\n",
          "*** List of all Pools ***\n  Pool 3 @@PTR",
          "  Pool 2 @@PTR Alloc=0 Used=0 FreeB=0 FreeR=0\n", // scratch, released
          "Whole run:\nStarting time ",
          "Pools after kavLib::reset:\n*** List of all Pools ***\n  Pool 0 @@PTR Alloc=0 Used=0 FreeB=0 FreeR=0\n"
          "*** Total: Alloc=0 Used=0 Free=0 Recycled=0 ***\n"},
         false},
        // A file that cannot be opened or read, every malformed option, and
        // output that cannot be written: a message, an exit status, no output.
        {"nosuch.txt", 1, "kavwords: cannot open nosuch.txt: No such file or directory\n"},
#ifdef _WIN32
        {"k.txt dir", 1, "kavwords: cannot open dir: Permission denied\n"}, // Windows opens no directory
#else
        {"k.txt dir", 1, "kavwords: cannot read dir: Is a directory\n"},
#endif
        {"--bogus k.txt", 2, "kavwords: unknown option --bogus\nTry kavwords --help.\n"},
        {"k.txt -n", 2, "kavwords: -n needs a value\n"},
        {"--flags 1,200", 2, "kavwords: --flags: '200' is not a flag number (0 to 199)\n"},
        {"-w two-words", 2, "kavwords: --where: 'two-words' is not a single word of at most 64 bytes\n"},
        {"-n -1", 2, "kavwords: -n -1" + range},
        {"--top=99999999999", 2, "kavwords: --top=99999999999" + range},
#ifndef _WIN32 // no device there that refuses every write
        {"k.txt >/dev/full", 1, "kavwords: cannot write the output\n"},
#endif
    });
}
