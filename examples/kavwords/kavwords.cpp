// kavwords: word frequencies and a concordance, built on kavlib.
//
//     kavwords [options] [FILE...]     (kavwords --help for the options)
//
// The life of the program is the life of every kavlib application:
//
//  1. The library is loaded with the program; its main pool (number 0) exists.
//  2. kavLib::init establishes the global string table in the main pool.
//  3. The counter (kavWordCounter) makes pools of its own: one for what the
//     run keeps (the words, the files, their containers), one for each
//     file's scratch work, released after the file, and one for the ranking.
//  4. Every word is interned as a kavString; the kavWord objects that count
//     them are named objects held in a kavHash<4191>, searched with the
//     string as key.  The files go into a kavFifo in the order read; the
//     ranking is a kavSList of kavWordRank ordering objects.
//  5. Results, dumps and reports are written to streams.
//  6. kavLib::reset gives every pool back at once.  No destructor runs then,
//     so nothing may refer into the pools afterwards: the counter lives in a
//     scope that ends before the reset.
#include "words.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#ifndef KAVWORDS_SAMPLE
#define KAVWORDS_SAMPLE "persuasion.txt"
#endif

namespace {

// Exit statuses.
constexpr int exitFile = 1;  // a file could not be opened or read, or the output written
constexpr int exitUsage = 2; // the command line is wrong

const char* const usage =
    "usage: kavwords [options] [FILE...]\n"
    "Counts the words of each FILE (- for standard input; with no FILE, the\n"
    "sample text, Persuasion by Jane Austen) and prints the most frequent.\n"
    "\n"
    "  -n N, --top N      print the N most frequent words (default 20; 0: none)\n"
    "  -w WORD, --where WORD\n"
    "                     print every line that holds WORD; may be repeated\n"
    "  --sorted           print every distinct word in alphabetical order\n"
    "  --dump             dump the containers: files, ranking, lines, words\n"
    "  --flags LIST       set these library flags first, for example 0,1,3,5,6\n"
    "  --report           print the section timers and the pool reports\n"
    "  -h, --help         print this help\n"
    "\n"
    "A word is a run of letters (A-Z, a-z and every byte above 127, so UTF-8\n"
    "letters stay whole) with apostrophes inside it (don't, anne's). Words are\n"
    "lower-cased and cut to 64 bytes. Ties are listed in alphabetical order.\n"
    "\n"
    "Library flags read by dumps and reports: 0 pool numbers, and block lists in\n"
    "pool reports; 1 addresses; 3 use counts; 4 string objects; 5 hash counts\n"
    "and collisions; 6 container counts.\n";

// The command line, parsed: a plain record.
struct kavWordOptions {
    static constexpr int maxWhere = 16; ///< --where words at most

    long top = 20;
    bool sorted = false;
    bool dump = false;
    bool report = false;
    std::string flags;                // as given, for the dump heading
    bool flag[kavLib::nflags] = {};   // the flags to set
    std::string where[maxWhere];      // --where words, lower-cased
    int nwhere = 0;
    char** files = nullptr;           // the FILE arguments, in order
    int nfiles = 0;
};

// Reads a whole decimal number from 0 to `max`; false for anything else.
bool parseNumber(const char* text, long max, long& value)
{
    if (*text < '0' || *text > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || n > max)
        return false;
    value = n;
    return true;
}

bool parseFlags(const std::string& list, kavWordOptions& options)
{
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = list.find(',', start);
        const std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        long n = 0;
        if (!parseNumber(item.c_str(), kavLib::nflags - 1, n)) {
            std::cerr << "kavwords: --flags: '" << item << "' is not a flag number (0 to 199)\n";
            return false;
        }
        options.flag[n] = true;
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

// A --where argument must be one word as the counter reads words; it is
// kept lower-cased.
bool parseWhere(const char* text, kavWordOptions& options)
{
    if (options.nwhere == kavWordOptions::maxWhere) {
        std::cerr << "kavwords: --where: at most " << kavWordOptions::maxWhere << " words\n";
        return false;
    }
    kavWordSplitter split;
    std::string word;
    int words = 0;
    const auto onWord = [&](const char* w) {
        word = w;
        ++words;
    };
    const auto onLine = [](const char*, long) {};
    split.feed(text, std::strlen(text), onWord, onLine);
    split.finish(onWord, onLine);
    std::string lowered = text;
    for (char& c : lowered)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    if (words != 1 || word != lowered) {
        std::cerr << "kavwords: --where: '" << text << "' is not a single word of at most "
                  << kavWordSplitter::maxWord << " bytes\n";
        return false;
    }
    options.where[options.nwhere++] = word;
    return true;
}

// Parses the command line; options and files may come in any order, and
// everything after -- is a file.  The files are gathered at the front of
// argv.  Returns -1 to go on, else the exit status.
int parseOptions(int argc, char** argv, kavWordOptions& options)
{
    options.files = argv + 1;
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (onlyFiles || arg == "-" || arg.empty() || arg[0] != '-') {
            options.files[options.nfiles++] = argv[i];
            continue;
        }
        if (arg == "--") {
            onlyFiles = true;
            continue;
        }
        // The option's value: the rest of the argument (-n5, --top=5) or the next one.
        std::string value;
        bool attached = false;
        const auto takesValue = [&](const char* shortName, const char* longName) {
            const std::string s = shortName, l = longName;
            if (arg == s || arg == l) {
                if (i + 1 >= argc) {
                    std::cerr << "kavwords: " << arg << " needs a value\n";
                    return -1;
                }
                value = argv[++i];
                return 1;
            }
            if (!s.empty() && arg.compare(0, s.size(), s) == 0) {
                value = arg.substr(s.size());
                attached = true;
                return 1;
            }
            if (arg.compare(0, l.size() + 1, l + "=") == 0) {
                value = arg.substr(l.size() + 1);
                attached = true;
                return 1;
            }
            return 0;
        };
        int v;
        if (arg == "-h" || arg == "--help") {
            std::cout << usage;
            return 0;
        } else if (arg == "--sorted") {
            options.sorted = true;
        } else if (arg == "--dump") {
            options.dump = true;
        } else if (arg == "--report") {
            options.report = true;
        } else if ((v = takesValue("-n", "--top")) != 0) {
            if (v < 0)
                return exitUsage;
            if (!parseNumber(value.c_str(), INT_MAX, options.top)) {
                std::cerr << "kavwords: " << (attached ? arg : arg + " " + value)
                          << ": not a number from 0 to " << INT_MAX << "\n";
                return exitUsage;
            }
        } else if ((v = takesValue("-w", "--where")) != 0) {
            if (v < 0 || !parseWhere(value.c_str(), options))
                return exitUsage;
        } else if ((v = takesValue("", "--flags")) != 0) {
            if (v < 0 || !parseFlags(value, options))
                return exitUsage;
            options.flags = value;
        } else {
            std::cerr << "kavwords: unknown option " << arg << "\n" << "Try kavwords --help.\n";
            return exitUsage;
        }
    }
    return -1;
}

// The run's state: pools, containers, totals.
class kavWordCounter {
public:
    explicit kavWordCounter(const kavWordOptions& options)
        : _keep(new kavPool), _scratch(new kavPool), _ranks(new kavPool),
          _words(new (_keep) kavHash<4191>), _files(new (_keep) kavFifo), _where(new (_keep) kavFifo),
          _ranking(new (_ranks) kavSList), _byText(), _total(0)
    {
        for (int i = 0; i < options.nwhere; ++i) {
            const kavString word(options.where[i].c_str());
            if (_where->find(word) == nullptr)
                _where->add(*new (_keep) kavWordWhere(word));
        }
    }

    // Reads one file ("-": standard input), known by `name`, and adds its
    // words.  On failure writes why to `err` and answers false.
    bool read(const char* path, const char* name, std::ostream& err);
    // Fills the ranking with the `n` most frequent words.
    void rank(long n);
    // Fills the alphabetical list of every word.
    void sort();

    void printSummary(std::ostream& os) const;
    void printRanking(std::ostream& os) const;
    void printWhere(std::ostream& os) const;
    void printSorted(std::ostream& os) const;
    void printTour(std::ostream& os) const;
    void dump(std::ostream& os, const std::string& flags) const;

private:
    void count(kavHash<4191>& seen, const kavString& word);
    void mergeFile(kavHash<4191>& seen, kavWordFile& file, const kavWordTally& tally);

    kavPool* _keep;          // what the run keeps: words, files, lines, containers
    kavPool* _scratch;       // one file's work, released after the file
    kavPool* _ranks;         // the ranking
    kavHash<4191>* _words;   // kavWord, one per distinct word of all files
    kavFifo* _files;         // kavWordFile, in the order read
    kavFifo* _where;         // kavWordWhere, in the order asked
    kavSList* _ranking;      // kavWordRank, most frequent first
    kavSList* _byText[256];  // kavWord in alphabetical order, by first byte
    long _total;             // words of all files
};

bool kavWordCounter::read(const char* path, const char* name, std::ostream& err)
{
    const bool standardInput = std::strcmp(path, "-") == 0;
    std::FILE* in = standardInput ? stdin : std::fopen(path, "rb");
    if (in == nullptr) {
        err << "kavwords: cannot open " << path << ": " << std::strerror(errno) << "\n";
        return false;
    }

    // The file's record is kept, in the pool of what the run keeps.  Its
    // name string goes to the same pool; the name's text is interned in the
    // global table.
    kavWordFile& file = *new (_keep) kavWordFile(kavString(name));

    // Scratch work for this file: the words of this file alone, counted in a
    // hash container of their own, and the read buffer.  Everything is made
    // in the scratch pool and given back at once by its release() below;
    // nothing in it is deleted one by one.
    kavHash<4191>& seen = *new (_scratch) kavHash<4191>;
    constexpr unsigned int chunkSize = 64 * 1024;
    char* chunk = static_cast<char*>(_scratch->alloc(chunkSize));

    kavWordSplitter split;
    bool hits = false; // a --where word was seen in the current line
    const auto onWord = [&](const char* text) {
        const kavString word(text); // interned: equal words share one element
        count(seen, word);
        if (_where->empty())
            return;
        if (kavObject* where = _where->find(word)) {
            kavCast<kavWordWhere>(*where).hit(file, split.line());
            hits = true;
        }
    };
    const auto onLine = [&](const char* text, long line) {
        if (!hits)
            return;
        hits = false;
        const kavString interned(text);
        for (kavObject& o : *_where) {
            kavWordWhere& where = kavCast<kavWordWhere>(o);
            if (where.hitIn(file, line))
                where.lines().add(*new (_keep) kavWordLine(file, line, interned));
        }
    };

    errno = 0;
    std::size_t n;
    while ((n = std::fread(chunk, 1, chunkSize, in)) > 0)
        split.feed(chunk, n, onWord, onLine);
    const bool failed = std::ferror(in) != 0;
    const int error = errno;
    if (!standardInput)
        std::fclose(in);
    if (failed) {
        // The run stops here.  The file record and whatever else was made
        // for this file stay in their pools until kavLib::reset.
        err << "kavwords: cannot read " << path << ": " << std::strerror(error) << "\n";
        return false;
    }
    split.finish(onWord, onLine);

    mergeFile(seen, file, split.tally());
    _scratch->release(); // the hash, its words, their names and links, the buffer
    if (file.tally().binary)
        err << "kavwords: " << path << ": binary data (NUL bytes) read as text\n";
    return true;
}

// One occurrence of a word in the current file.
void kavWordCounter::count(kavHash<4191>& seen, const kavString& word)
{
    if (kavObject* found = seen.find(word))
        kavCast<kavWord>(*found).add(1);
    else
        seen.add(*new (_scratch) kavWord(word, 1));
}

// Adds the counts of one file to those of the run.
void kavWordCounter::mergeFile(kavHash<4191>& seen, kavWordFile& file, const kavWordTally& tally)
{
    long fresh = 0;
    for (kavObject& o : seen) {
        const kavWord& word = kavCast<kavWord>(o);
        if (kavObject* total = _words->find(word.name())) {
            kavCast<kavWord>(*total).add(word.count());
        } else {
            _words->add(*new (_keep) kavWord(word.name(), word.count()));
            ++fresh;
        }
    }
    file.finish(tally, seen.count(), fresh);
    _files->add(file);
    _total += tally.words;
}

void kavWordCounter::rank(long n)
{
    if (n == 0)
        return;
    // The ranking keeps at most n ranks.  A word that would rank after the
    // last of n is passed over; otherwise the last rank leaves the list, and
    // since the list was its only holder, it is deleted into the rank pool,
    // where the next new rank takes its place.
    kavWordRank* last = nullptr;
    for (kavObject& o : *_words) {
        const kavWord& word = kavCast<kavWord>(o);
        if (_ranking->count() == n) {
            const kavWordRank candidate(word); // on the stack: compared only
            if (!objLess(candidate, *last))
                continue;
            _ranking->remove(*last);
        }
        _ranking->add(*new (_ranks) kavWordRank(word));
        if (_ranking->count() == n)
            for (kavObject& r : *_ranking)
                last = &kavCast<kavWordRank>(r);
    }
}

void kavWordCounter::sort()
{
    // Named objects order by the text of their names, so a sorted list of
    // words is alphabetical; each word is then held twice (use count 2).
    // A kavSList finds the place of a new element by walking from its head:
    // n words in one list cost about n * n / 4 comparisons.  One list per
    // first byte divides that by the number of first bytes in use, and
    // walking the lists in byte order keeps strcmp's order.
    for (kavObject& o : *_words) {
        const unsigned char first = static_cast<unsigned char>(*static_cast<const char*>(
            kavCast<kavWord>(o).name()));
        if (_byText[first] == nullptr)
            _byText[first] = new (_keep) kavSList;
        _byText[first]->add(o);
    }
}

void kavWordCounter::printSummary(std::ostream& os) const
{
    const kavStringTbl& table = *kavStringTbl::table();
    os << "Files, in the order read:\n";
    for (kavObject& o : *_files) {
        const kavWordFile& file = kavCast<kavWordFile>(o);
        const kavWordTally& t = file.tally();
        os << "  " << file.name() << ": " << t.lines << (t.lines == 1 ? " line, " : " lines, ") << t.words
           << (t.words == 1 ? " word, " : " words, ") << file.distinct() << " distinct, " << file.fresh() << " new";
        if (t.cut != 0)
            os << ", " << t.cut << (t.cut == 1 ? " word" : " words") << " cut to " << kavWordSplitter::maxWord
               << " bytes";
        os << "\n";
    }
    os << "Total: " << _total << (_total == 1 ? " word, " : " words, ") << _words->count() << " distinct\n";
    os << "String table: " << table.count() << " texts in 4191 chains, " << table.collisions()
       << " collisions\n";
}

void kavWordCounter::printRanking(std::ostream& os) const
{
    if (_ranking->empty())
        return;
    os << "\nThe " << _ranking->count() << " most frequent words:\n";
    int place = 0;
    char line[32];
    for (kavObject& o : *_ranking) {
        const kavWord& word = kavCast<kavWordRank>(o).word();
        std::snprintf(line, sizeof line, "%6d %8ld  ", ++place, word.count());
        os << line << word.name() << "\n";
    }
}

void kavWordCounter::printWhere(std::ostream& os) const
{
    for (kavObject& o : *_where) {
        const kavWordWhere& where = kavCast<kavWordWhere>(o);
        os << "\nLines with \"" << where.name() << "\": " << where.lines().count() << "\n";
        for (kavObject& l : where.lines()) {
            const kavWordLine& line = kavCast<kavWordLine>(l);
            os << "  " << line.file().name() << ":" << line.line() << ": " << line.text() << "\n";
        }
    }
}

void kavWordCounter::printSorted(std::ostream& os) const
{
    os << "\nAll " << _words->count() << " words in alphabetical order:\n";
    char line[32];
    for (const kavSList* list : _byText) {
        if (list == nullptr)
            continue;
        for (kavObject& o : *list) {
            const kavWord& word = kavCast<kavWord>(o);
            std::snprintf(line, sizeof line, "%8ld  ", word.count());
            os << line << word.name() << "\n";
        }
    }
}

// What the library did for the counts above: shown after the sample run.
void kavWordCounter::printTour(std::ostream& os) const
{
    os << "\nBehind the counts: each of the " << _total << " words was interned as a kavString, so the\n"
       << "global string table holds each distinct text once; a kavWord per distinct word,\n"
       << "held in a kavHash<4191> and found with the string as key, counts them; the\n"
       << "ranking is a kavSList of kavWordRank objects; each file's scratch work went\n"
       << "to a pool released after the file, and kavLib::reset gives the rest back.\n"
       << "Try: --where anne, --sorted, --dump --flags 3,5,6, --report, --help.\n";
}

void kavWordCounter::dump(std::ostream& os, const std::string& flags) const
{
    os << "\nContainer dumps, library flags " << (flags.empty() ? "none" : flags) << ":\n";
    os << "- the files, a kavFifo:\n";
    _files->dump(os, 0, 1);
    os << "- the ranking, a kavSList:\n";
    _ranking->dump(os, 0, 1);
    if (!_where->empty()) {
        os << "- the --where words, a kavFifo:\n";
        _where->dump(os, 0, 1);
    }
    os << "- the words, a kavHash<4191>:\n";
    _words->dump(os, 0, 1);
}

// Runs the program once the library is initialised.  Returns the exit status.
int run(const kavWordOptions& options, std::ostringstream& timers)
{
    kavWordCounter counter(options);
    const auto section = [&](const std::string& label) {
        if (options.report)
            kavLib::sectionTimer(timers, label.c_str());
    };

    if (options.nfiles == 0) {
        std::cout << "No file named: the sample text, Persuasion by Jane Austen (" << KAVWORDS_SAMPLE << ")\n\n";
        if (!counter.read(KAVWORDS_SAMPLE, "persuasion.txt", std::cerr))
            return exitFile;
        section("read persuasion.txt");
    }
    for (int i = 0; i < options.nfiles; ++i) {
        const char* path = options.files[i];
        const char* name = std::strcmp(path, "-") == 0 ? "(standard input)" : path;
        if (!counter.read(path, name, std::cerr))
            return exitFile;
        section(std::string("read ") + name);
    }

    counter.rank(options.top);
    section("rank");
    if (options.sorted) {
        counter.sort();
        section("sort");
    }

    counter.printSummary(std::cout);
    counter.printRanking(std::cout);
    counter.printWhere(std::cout);
    if (options.sorted)
        counter.printSorted(std::cout);
    if (options.nfiles == 0)
        counter.printTour(std::cout);
    section("print");
    if (options.dump) {
        counter.dump(std::cout, options.flags);
        section("dump");
    }

    if (options.report) {
        std::cout << "\nSection timers:\n" << timers.str();
        std::cout << "\nPools before kavLib::reset (0: main pool, string table; 1: words, files, lines;\n"
                     "2: scratch, released after each file; 3: the ranking):\n";
        kavPool::printAll(std::cout);
        std::cout << "\nWhole run:\n";
        kavLib::stopTimer(std::cout);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    kavWordOptions options;
    const int status = parseOptions(argc, argv, options);
    if (status >= 0)
        return status;

    kavLib::startTimer();
    kavLib::init(true); // the global string table, every flag clear
    for (int n = 0; n < kavLib::nflags; ++n)
        if (options.flag[n])
            kavLib::set(n);

    std::ostringstream timers;
    const int result = run(options, timers);

    kavLib::reset(); // every pool at once: the words, the files, the strings
    if (options.report && result == 0) {
        std::cout << "\nPools after kavLib::reset:\n";
        kavPool::printAll(std::cout);
    }
    // Output that could not be written (a full disk, a closed pipe) is a
    // failure too, not a silent success.
    if (!std::cout.flush()) {
        std::cerr << "kavwords: cannot write the output\n";
        return result != 0 ? result : exitFile;
    }
    return result;
}
