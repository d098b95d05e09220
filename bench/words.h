// The words the string benchmarks and the memory probe intern: the words of
// bench/data/austen.txt, the identifier tokens of libstdc++'s headers
// (bench/data/libstdcxx-12-identifiers.tar.xz, unpacked into the build tree
// when it is configured), and up to 1 000 000 distinct generated words.
// All are NUL-terminated texts in one buffer each, the way text arrives from
// a parser, and the same on every run.
#ifndef KAVLIB_BENCH_WORDS_H
#define KAVLIB_BENCH_WORDS_H

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unordered_set>
#include <vector>

namespace benchWords {

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

inline bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The words of the benchmark text: runs of ASCII letters, as they stand
// (243 551 words, 8 910 distinct).
inline const std::vector<const char*>& textWords()
{
    static wordList list;
    static std::vector<const char*> words = [] {
        const char* path = KAVLIB_BENCH_DATA "/austen.txt";
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", path);
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

// The identifier tokens of every header of libstdc++ 12 (Debian's
// libstdc++-12-dev), file by file in path order, as a compiler's identifier
// table meets them (719 380 tokens, 18 323 distinct): one a line.
inline const std::vector<const char*>& identifierWords()
{
    static wordList list;
    static std::vector<const char*> words = [] {
        const char* path = KAVLIB_BENCH_UNPACKED "/libstdcxx-12-identifiers.txt";
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", path);
            std::exit(1);
        }
        std::string line;
        while (std::getline(in, line))
            if (!line.empty())
                list.add(line);
        return list.words();
    }();
    return words;
}

// 1 000 000 distinct words of 4 to 11 lower-case letters: a fixed linear
// congruential generator, duplicates skipped.  The first n of them are the
// n distinct words of a run.
inline const std::vector<const char*>& distinctWords()
{
    static wordList list;
    static std::vector<const char*> words = [] {
        std::unordered_set<std::string> seen;
        unsigned long long x = 88172645463325252ull;
        auto next = [&x] {
            x = x * 6364136223846793005ull + 1442695040888963407ull;
            return static_cast<unsigned int>(x >> 33);
        };
        while (seen.size() < 1000000) {
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

} // namespace benchWords

#endif
