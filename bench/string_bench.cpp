// String benchmarks: interning with kavString against find-or-insert into a
// std::unordered_set<std::string>, and the equality of interned strings
// against comparing std::strings.
//
//   intern_text/austen      every word of bench/data/austen.txt (two novels,
//                           243 551 words, 8 910 distinct), into an empty
//                           table or set; items are words
//   intern_distinct/N       N distinct generated words (N up to 100 000), the
//                           curve of a table of 4191 chains filling up
//   equal_same/1000         1000 pairs of equal words, made separately
//   equal_mixed/1000        1000 pairs of neighbouring words of the text
//                           (mostly different)
//
// Both sides start from the same NUL-terminated words in one buffer, the way
// text arrives from a parser.  The kav side interns through the public
// kavString(const char*); the standard side builds a std::string key, looks
// it up and inserts it when it is missing.  Emptying the table (kavLib::reInit)
// or the set between repetitions is not timed.
#include <kavlib/kavlib.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

// Words as NUL-terminated texts in one buffer.
class wordList {
public:
    void add(const std::string& w)
    {
        _offsets.push_back(_chars.size());
        _chars.insert(_chars.end(), w.begin(), w.end());
        _chars.push_back('\0');
    }
    // The word pointers; valid until the next add().
    std::vector<const char*> words() const
    {
        std::vector<const char*> result;
        result.reserve(_offsets.size());
        for (std::size_t off : _offsets)
            result.push_back(_chars.data() + off);
        return result;
    }

private:
    std::vector<char> _chars;
    std::vector<std::size_t> _offsets;
};

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The words of the benchmark text: runs of ASCII letters, as they stand.
const std::vector<const char*>& textWords()
{
    static wordList list;
    static std::vector<const char*> words = [] {
        const char* path = KAVLIB_BENCH_DATA "/austen.txt";
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "string_bench: cannot read %s\n", path);
            std::exit(1);
        }
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string word;
        for (char c : text) {
            if (isLetter(c)) {
                word += c;
            } else if (!word.empty()) {
                list.add(word);
                word.clear();
            }
        }
        if (!word.empty())
            list.add(word);
        return list.words();
    }();
    return words;
}

// 100 000 distinct words of 4 to 11 lower-case letters, the same on every
// run: a fixed linear congruential generator, duplicates skipped.
const std::vector<const char*>& distinctWords()
{
    static wordList list;
    static std::vector<const char*> words = [] {
        std::unordered_set<std::string> seen;
        unsigned long long x = 88172645463325252ull;
        auto next = [&x] {
            x = x * 6364136223846793005ull + 1442695040888963407ull;
            return static_cast<unsigned int>(x >> 33);
        };
        while (seen.size() < 100000) {
            std::string w(4 + next() % 8, ' ');
            for (char& c : w)
                c = static_cast<char>('a' + next() % 26);
            if (seen.insert(w).second)
                list.add(w);
        }
        return list.words();
    }();
    return words;
}

// ---- interning ----------------------------------------------------------------

void internKav(benchmark::State& state, const std::vector<const char*>* all, std::size_t n)
{
    const std::vector<const char*> words(all->begin(), all->begin() + static_cast<std::ptrdiff_t>(n));
    for (auto _ : state) {
        state.PauseTiming();
        kavLib::reInit(false); // a new, empty global table in an emptied main pool
        state.ResumeTiming();
        for (const char* w : words) {
            kavString s(w);
            benchmark::DoNotOptimize(s.elem());
        }
    }
    state.counters["distinct"] = static_cast<double>(kavStringTbl::table()->count());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
    kavLib::reset();
}

void internStd(benchmark::State& state, const std::vector<const char*>* all, std::size_t n)
{
    const std::vector<const char*> words(all->begin(), all->begin() + static_cast<std::ptrdiff_t>(n));
    std::optional<std::unordered_set<std::string>> set;
    for (auto _ : state) {
        state.PauseTiming();
        set.emplace();
        state.ResumeTiming();
        for (const char* w : words) {
            std::string key(w);
            auto it = set->find(key);
            if (it == set->end())
                it = set->insert(std::move(key)).first;
            benchmark::DoNotOptimize(&*it);
        }
    }
    state.counters["distinct"] = static_cast<double>(set->size());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}

// ---- equality -------------------------------------------------------------------

// Pairs (a[i], b[i]): equal words made twice, or neighbours in the text.
struct wordPairs {
    std::vector<const char*> a, b;
};

wordPairs makePairs(bool same)
{
    const auto& words = textWords();
    wordPairs p;
    for (std::size_t i = 0; i < 1000; ++i) {
        p.a.push_back(words[1000 + i]);
        p.b.push_back(same ? words[1000 + i] : words[1001 + i]);
    }
    return p;
}

void equalKav(benchmark::State& state, bool same, bool byPointer)
{
    const wordPairs p = makePairs(same);
    kavLib::reInit(false);
    std::vector<kavString> a, b;
    a.reserve(p.a.size());
    b.reserve(p.b.size());
    for (std::size_t i = 0; i < p.a.size(); ++i) {
        a.emplace_back(p.a[i]);
        b.emplace_back(p.b[i]);
    }
    int equal = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < a.size(); ++i)
            equal += byPointer ? a[i].elem() == b[i].elem() : a[i].isEqual(b[i]);
        benchmark::DoNotOptimize(equal);
        benchmark::ClobberMemory();
    }
    state.counters["equal"] = static_cast<double>(equal) / static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(a.size()));
    a.clear();
    b.clear();
    kavLib::reset();
}

void equalStd(benchmark::State& state, bool same)
{
    const wordPairs p = makePairs(same);
    const std::vector<std::string> a(p.a.begin(), p.a.end()), b(p.b.begin(), p.b.end());
    int equal = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < a.size(); ++i)
            equal += a[i] == b[i];
        benchmark::DoNotOptimize(equal);
        benchmark::ClobberMemory();
    }
    state.counters["equal"] = static_cast<double>(equal) / static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(a.size()));
}

} // namespace

int main(int argc, char** argv)
{
    const auto* text = &textWords();
    benchmark::RegisterBenchmark("intern_text/austen/kavString", internKav, text, text->size());
    benchmark::RegisterBenchmark("intern_text/austen/unordered_set", internStd, text, text->size());

    const auto* distinct = &distinctWords();
    for (std::size_t n : {1000, 4191, 10000, 30000, 100000}) {
        const std::string g = "intern_distinct/" + std::to_string(n) + "/";
        benchmark::RegisterBenchmark((g + "kavString").c_str(), internKav, distinct, n);
        benchmark::RegisterBenchmark((g + "unordered_set").c_str(), internStd, distinct, n);
    }

    for (bool same : {true, false}) {
        const std::string g = same ? "equal_same/1000/" : "equal_mixed/1000/";
        benchmark::RegisterBenchmark((g + "kavString_isEqual").c_str(), equalKav, same, false);
        benchmark::RegisterBenchmark((g + "kavString_elem").c_str(), equalKav, same, true);
        benchmark::RegisterBenchmark((g + "std_string").c_str(), equalStd, same);
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
