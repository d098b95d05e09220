// String benchmarks: interning with kavString against find-or-insert into a
// std::unordered_set<std::string> and an absl::flat_hash_set<std::string>,
// and the equality of interned strings against comparing std::strings.
//
//   intern_ids/libstdcxx    every identifier token of libstdc++ 12's headers,
//                           in file order (719 380 tokens, 18 323 distinct):
//                           a compiler's identifier table; items are tokens
//   intern_text/austen      every word of bench/data/austen.txt (two novels,
//                           243 551 words, 8 910 distinct); items are words
//   intern_distinct/N       N distinct generated words, N from 1000 to
//                           1 000 000: every word is new
//   lookup_hit/N            every one of N held words looked up again, in a
//                           shuffled order, without interning: the cost of a
//                           hit once the table outgrows the caches
//   equal_same/1000         1000 pairs of equal words, made separately
//   equal_length/1000       1000 pairs of different words of equal length
//   equal_mixed/1000        1000 pairs of neighbouring words of the text
//                           (mostly of different lengths)
//
// Equality is asked three ways: kavString::isEqual (a virtual call), the
// element pointers of two kavStrings, and operator== of two std::strings.
//
// Every side starts from the same NUL-terminated words in one buffer, the
// way text arrives from a parser.  The kav side interns through the public
// kavString(const char*) (kavString_chain: the same with the lookup index
// turned off, so every interning walks its chain, as the written algorithm
// does).  unordered_set builds a std::string key, looks it up and inserts it
// when it is missing; flat_hash_set looks the text up as a string_view
// (no copy) and inserts a std::string when it is missing.  Emptying the
// table (kavLib::reInit) or the set between repetitions is not timed.
#include "benchmain.h"
#include "words.h"

#include <kavlib/kavlib.h>

#include <benchmark/benchmark.h>

#if KAVLIB_BENCH_ABSL
#include <absl/container/flat_hash_set.h>
#include <absl/strings/string_view.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

using benchWords::distinctWords;
using benchWords::identifierWords;
using benchWords::textWords;

// ---- interning ----------------------------------------------------------------

void internKav(benchmark::State& state, const std::vector<const char*>* all, std::size_t n, bool index)
{
    const std::vector<const char*> words(all->begin(), all->begin() + static_cast<std::ptrdiff_t>(n));
    kavStringTbl::useIndex(index);
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
    kavStringTbl::useIndex(true);
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

#if KAVLIB_BENCH_ABSL
void internAbsl(benchmark::State& state, const std::vector<const char*>* all, std::size_t n)
{
    const std::vector<const char*> words(all->begin(), all->begin() + static_cast<std::ptrdiff_t>(n));
    std::optional<absl::flat_hash_set<std::string>> set;
    for (auto _ : state) {
        state.PauseTiming();
        set.emplace();
        state.ResumeTiming();
        for (const char* w : words) {
            const absl::string_view key(w); // Debian's absl has a string_view of its own
            auto it = set->find(key);
            if (it == set->end())
                it = set->insert(std::string(key)).first;
            benchmark::DoNotOptimize(&*it);
        }
    }
    state.counters["distinct"] = static_cast<double>(set->size());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}
#endif

// The first n distinct words in a fixed shuffled order.
std::vector<const char*> shuffled(std::size_t n)
{
    const auto& all = distinctWords();
    std::vector<const char*> words(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n));
    std::shuffle(words.begin(), words.end(), std::mt19937(42));
    return words;
}

void hitKav(benchmark::State& state, std::size_t n)
{
    kavLib::reInit(false);
    for (std::size_t i = 0; i < n; ++i)
        kavString s(distinctWords()[i]);
    const std::vector<const char*> words = shuffled(n);
    for (auto _ : state)
        for (const char* w : words)
            benchmark::DoNotOptimize(kavString::lookup(w));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
    kavLib::reset();
}

void hitStd(benchmark::State& state, std::size_t n)
{
    const auto& all = distinctWords();
    const std::unordered_set<std::string> set(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n));
    const std::vector<const char*> words = shuffled(n);
    for (auto _ : state)
        for (const char* w : words)
            benchmark::DoNotOptimize(&*set.find(std::string(w)));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}

#if KAVLIB_BENCH_ABSL
void hitAbsl(benchmark::State& state, std::size_t n)
{
    const auto& all = distinctWords();
    const absl::flat_hash_set<std::string> set(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n));
    const std::vector<const char*> words = shuffled(n);
    for (auto _ : state)
        for (const char* w : words)
            benchmark::DoNotOptimize(&*set.find(absl::string_view(w)));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}
#endif

// Registers GROUP/PARAM/VARIANT for kavString and each peer, over the first
// n of `words`; and kavString_chain up to 100 000 distinct words (beyond, a
// chain walk takes seconds per run).
void registerIntern(const std::string& group, const std::vector<const char*>* words, std::size_t n)
{
    const std::string g = group + "/";
    benchmark::RegisterBenchmark((g + "kavString").c_str(), internKav, words, n, true);
    if (n <= 100000)
        benchmark::RegisterBenchmark((g + "kavString_chain").c_str(), internKav, words, n, false);
    benchmark::RegisterBenchmark((g + "unordered_set").c_str(), internStd, words, n);
#if KAVLIB_BENCH_ABSL
    benchmark::RegisterBenchmark((g + "flat_hash_set").c_str(), internAbsl, words, n);
#endif
}

// ---- equality -------------------------------------------------------------------

// 1000 pairs (a[i], b[i]) from the text, of one of three kinds.
enum class pairKind {
    same,      // a word and the same word again
    sameLength, // two different words of one length (std::string compares bytes)
    neighbours // a word and the next one in the text (mostly different lengths)
};

struct wordPairs {
    std::vector<const char*> a, b;
};

wordPairs makePairs(pairKind kind)
{
    const auto& words = textWords();
    wordPairs p;
    for (std::size_t i = 1000; p.a.size() < 1000; ++i) {
        const char* w = words[i];
        const char* other = w;
        if (kind == pairKind::neighbours) {
            other = words[i + 1];
        } else if (kind == pairKind::sameLength) {
            // The next word of the same length and another text.
            std::size_t j = i + 1;
            while (std::strlen(words[j]) != std::strlen(w) || std::strcmp(words[j], w) == 0)
                ++j;
            other = words[j];
        }
        p.a.push_back(w);
        p.b.push_back(other);
    }
    return p;
}

template <bool byPointer>
void equalKav(benchmark::State& state, pairKind kind)
{
    const wordPairs p = makePairs(kind);
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
            if constexpr (byPointer)
                equal += a[i].elem() == b[i].elem();
            else
                equal += a[i].isEqual(b[i]);
        benchmark::DoNotOptimize(equal);
        benchmark::ClobberMemory();
    }
    state.counters["equal"] = static_cast<double>(equal) / static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(a.size()));
    a.clear();
    b.clear();
    kavLib::reset();
}

void equalStd(benchmark::State& state, pairKind kind)
{
    const wordPairs p = makePairs(kind);
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
    const auto* ids = &identifierWords();
    registerIntern("intern_ids/libstdcxx", ids, ids->size());
    const auto* text = &textWords();
    registerIntern("intern_text/austen", text, text->size());

    const auto* distinct = &distinctWords();
    for (std::size_t n : {1000, 10000, 100000, 1000000})
        registerIntern("intern_distinct/" + std::to_string(n), distinct, n);
    for (std::size_t n : {1000, 100000, 1000000}) {
        const std::string g = "lookup_hit/" + std::to_string(n) + "/";
        benchmark::RegisterBenchmark((g + "kavString").c_str(), hitKav, n);
        benchmark::RegisterBenchmark((g + "unordered_set").c_str(), hitStd, n);
#if KAVLIB_BENCH_ABSL
        benchmark::RegisterBenchmark((g + "flat_hash_set").c_str(), hitAbsl, n);
#endif
    }

    const std::pair<pairKind, const char*> kinds[] = {
        {pairKind::same, "equal_same/1000/"},
        {pairKind::sameLength, "equal_length/1000/"},
        {pairKind::neighbours, "equal_mixed/1000/"}};
    for (const auto& [kind, g] : kinds) {
        const std::string group = g;
        benchmark::RegisterBenchmark((group + "kavString_isEqual").c_str(), equalKav<false>, kind);
        benchmark::RegisterBenchmark((group + "kavString_elem").c_str(), equalKav<true>, kind);
        benchmark::RegisterBenchmark((group + "std_string").c_str(), equalStd, kind);
    }

    return runBenchmarks(argc, argv);
}
