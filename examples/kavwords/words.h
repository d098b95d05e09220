// kavwords: the program's own classes.
//
// Each class that an application stores in kavlib containers follows the
// library's conventions: it derives from kavObject (here mostly through
// kavNamedObj), has a class-name constant that className() returns and isA()
// compares by pointer, and overrides dump() by writing its base's line with
// endLine 0 and then continuing the line itself.
//
//   kavWord      a distinct word and its count; named by its interned text, so
//                a container of words is searched with a kavString key
//   kavWordFile  a file that was read, with what reading it found
//   kavWordRank  an ordering object: refers to a word and orders by count,
//                highest first, then by text; a kavSList of ranks is a ranking
//   kavWordLine  one line of a concordance: file, line number, text
//   kavWordWhere a word asked for with --where, and the lines that hold it
//
//   kavWordSplitter  not a kavObject: cuts a byte stream into words.
#ifndef KAVWORDS_WORDS_H
#define KAVWORDS_WORDS_H

#include <kavlib/kavlib.h>

#include <cstddef>
#include <iosfwd>

extern const char* const kavWordClass;
extern const char* const kavWordFileClass;
extern const char* const kavWordRankClass;
extern const char* const kavWordLineClass;
extern const char* const kavWordWhereClass;

/// A distinct word and the number of times it occurred.
class kavWord : public kavNamedObj {
public:
    kavWord(const kavString& text, long count) : kavNamedObj(text), _count(count) {}

    long count() const { return _count; }
    void add(long n) { _count += n; }

    /// The named object's line, then "count[N] ".
    std::ostream& dump(std::ostream& os, int indent, int endLine) const override;
    bool isA(const char* name) const override { return name == kavWordClass || kavNamedObj::isA(name); }
    const char* className() const override { return kavWordClass; }

private:
    long _count; ///< occurrences
};
KAVLIB_CLASS_OF(kavWord, kavWordClass);

/// What reading one text found.
struct kavWordTally {
    long bytes = 0;    ///< bytes read
    long lines = 0;    ///< lines, the last one counted even without a line end
    long words = 0;    ///< words found
    long cut = 0;      ///< words longer than kavWordSplitter::maxWord, cut short
    bool binary = false; ///< a NUL byte was seen
};

/// A file that was read, named by its path ("(standard input)" for -).
class kavWordFile : public kavNamedObj {
public:
    explicit kavWordFile(const kavString& path) : kavNamedObj(path) {}

    /// Records what reading the file found: the tally, the number of
    /// distinct words and how many of them no earlier file had.
    void finish(const kavWordTally& tally, long distinct, long fresh)
    {
        _tally = tally;
        _distinct = distinct;
        _fresh = fresh;
    }
    const kavWordTally& tally() const { return _tally; }
    long distinct() const { return _distinct; }
    long fresh() const { return _fresh; }

    /// The named object's line, then the figures of the file.
    std::ostream& dump(std::ostream& os, int indent, int endLine) const override;
    bool isA(const char* name) const override { return name == kavWordFileClass || kavNamedObj::isA(name); }
    const char* className() const override { return kavWordFileClass; }

private:
    kavWordTally _tally; ///< what reading found
    long _distinct = 0;  ///< distinct words in this file
    long _fresh = 0;     ///< distinct words that no earlier file had
};
KAVLIB_CLASS_OF(kavWordFile, kavWordFileClass);

/// An ordering object: stands for a word in a ranking.  objcmp orders by
/// count, highest first, and words of equal count by text, so that a kavSList
/// of ranks is the ranking itself.  isEqual is the root's (identity), so
/// remove() takes out exactly the rank given.
class kavWordRank : public kavObject {
public:
    explicit kavWordRank(const kavWord& word) : _word(&word) {}

    const kavWord& word() const { return *_word; }

    /// Against another rank: -1 when this word ranks first, 1 when the other
    /// does; anything else by address, as the library does for strangers.
    int objcmp(const kavObject& other) const override;
    /// The object line, then the word's own line.
    std::ostream& dump(std::ostream& os, int indent, int endLine) const override;
    bool isA(const char* name) const override { return name == kavWordRankClass || kavObject::isA(name); }
    const char* className() const override { return kavWordRankClass; }

private:
    const kavWord* _word; ///< the word ranked; never owned
};
KAVLIB_CLASS_OF(kavWordRank, kavWordRankClass);

/// One line of a concordance.
class kavWordLine : public kavObject {
public:
    kavWordLine(const kavWordFile& file, long line, const kavString& text) : _file(&file), _line(line), _text(text) {}

    const kavWordFile& file() const { return *_file; }
    long line() const { return _line; }
    /// The line's text, interned (blanks at both ends taken off).
    const kavString& text() const { return _text; }

    /// The object line, then "FILE:LINE: TEXT".
    std::ostream& dump(std::ostream& os, int indent, int endLine) const override;
    bool isA(const char* name) const override { return name == kavWordLineClass || kavObject::isA(name); }
    const char* className() const override { return kavWordLineClass; }

private:
    const kavWordFile* _file; ///< where the line is
    long _line;               ///< its number, from 1
    kavString _text;          ///< its text; a member handle, so unpooled
};
KAVLIB_CLASS_OF(kavWordLine, kavWordLineClass);

/// A word asked for with --where and the lines that hold it, in the order
/// read.  Named by the word, so it is found with a kavString key.
class kavWordWhere : public kavNamedObj {
public:
    explicit kavWordWhere(const kavString& word) : kavNamedObj(word) {}

    /// Notes that the word occurs in `line` of `file`.
    void hit(const kavWordFile& file, long line)
    {
        _hitFile = &file;
        _hitLine = line;
    }
    /// True when the latest hit is `line` of `file`.
    bool hitIn(const kavWordFile& file, long line) const { return _hitFile == &file && _hitLine == line; }
    /// The lines found so far, a kavFifo of kavWordLine in the order read.
    kavFifo& lines() { return _lines; }
    const kavFifo& lines() const { return _lines; }

    /// The named object's line, then the lines, 4 blanks deeper.
    std::ostream& dump(std::ostream& os, int indent, int endLine) const override;
    bool isA(const char* name) const override { return name == kavWordWhereClass || kavNamedObj::isA(name); }
    const char* className() const override { return kavWordWhereClass; }

private:
    kavFifo _lines;                      ///< kavWordLine objects, in the order read
    const kavWordFile* _hitFile = nullptr; ///< file of the latest hit
    long _hitLine = 0;                   ///< line of the latest hit
};
KAVLIB_CLASS_OF(kavWordWhere, kavWordWhereClass);

/// Cuts a stream of bytes, given in chunks of any size, into words.  A word
/// is a run of ASCII letters and bytes above 127 (so UTF-8 letters stay
/// whole), with an apostrophe allowed between two of them (don't, Anne's).
/// Words are lower-cased (ASCII letters only) and cut to maxWord bytes, never
/// inside a UTF-8 sequence.  Every other byte separates words.  The splitter
/// also counts lines and keeps the start of the current line for a
/// concordance.
class kavWordSplitter {
public:
    static constexpr int maxWord = 64;  ///< longest word kept, in bytes
    static constexpr int maxLine = 160; ///< longest line text kept, in bytes

    /// Feeds `n` bytes.  Calls onWord(const char* word) for every word that
    /// ends in them, and onLine(const char* text, long number) at every line end.
    template <class OnWord, class OnLine>
    void feed(const char* bytes, std::size_t n, OnWord&& onWord, OnLine&& onLine);
    /// Ends the text: the last word and the last line, if unfinished.
    template <class OnWord, class OnLine>
    void finish(OnWord&& onWord, OnLine&& onLine);

    /// The number of the line being read, from 1.
    long line() const { return _tally.lines + 1; }
    const kavWordTally& tally() const { return _tally; }

private:
    static bool isWordByte(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c >= 0x80; }
    /// `length` less an incomplete UTF-8 sequence at the end of `text`.
    static int completeLength(const char* text, int length);

    template <class OnWord>
    void endWord(OnWord&& onWord);
    template <class OnLine>
    void endLine(OnLine&& onLine);

    kavWordTally _tally;
    char _word[maxWord + 1] = {}; ///< the word being read
    int _length = 0;              ///< its length
    bool _apostrophe = false;     ///< an apostrophe follows the word so far
    bool _cut = false;            ///< the word was longer than maxWord
    char _line[maxLine + 4] = {}; ///< the start of the line being read, room for "..."
    int _lineLength = 0;          ///< its length
    bool _lineCut = false;        ///< the line was longer than maxLine
    bool _midLine = false;        ///< bytes were read since the last line end
};

template <class OnWord, class OnLine>
void kavWordSplitter::feed(const char* bytes, std::size_t n, OnWord&& onWord, OnLine&& onLine)
{
    _tally.bytes += static_cast<long>(n);
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\n') {
            endWord(onWord);
            endLine(onLine);
            continue;
        }
        _midLine = true;
        if (c == '\0')
            _tally.binary = true;
        if (_lineLength < maxLine)
            _line[_lineLength++] = c < ' ' || c == 0x7F ? ' ' : static_cast<char>(c);
        else
            _lineCut = true;

        if (isWordByte(c)) {
            if (_apostrophe) {
                _apostrophe = false;
                if (_length < maxWord)
                    _word[_length++] = '\'';
                else
                    _cut = true;
            }
            if (_length < maxWord)
                _word[_length++] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
            else
                _cut = true;
        } else if (c == '\'' && _length > 0 && !_apostrophe) {
            _apostrophe = true;
        } else {
            endWord(onWord);
        }
    }
}

template <class OnWord, class OnLine>
void kavWordSplitter::finish(OnWord&& onWord, OnLine&& onLine)
{
    endWord(onWord);
    if (_midLine)
        endLine(onLine);
}

template <class OnWord>
void kavWordSplitter::endWord(OnWord&& onWord)
{
    _apostrophe = false;
    if (_length == 0)
        return;
    if (_cut) {
        // Never inside a UTF-8 sequence, and never ending in an apostrophe:
        // the word must read back as a word (--where takes it).
        _length = completeLength(_word, _length);
        while (_word[_length - 1] == '\'')
            --_length;
        ++_tally.cut;
        _cut = false;
    }
    _word[_length] = '\0';
    ++_tally.words;
    onWord(static_cast<const char*>(_word));
    _length = 0;
}

template <class OnLine>
void kavWordSplitter::endLine(OnLine&& onLine)
{
    int begin = 0, end = _lineCut ? completeLength(_line, _lineLength) : _lineLength;
    while (begin < end && _line[begin] == ' ')
        ++begin;
    while (end > begin && _line[end - 1] == ' ')
        --end;
    if (_lineCut)
        for (int i = 0; i < 3; ++i)
            _line[end++] = '.';
    _line[end] = '\0';
    ++_tally.lines;
    onLine(static_cast<const char*>(_line + begin), _tally.lines);
    _lineLength = 0;
    _lineCut = false;
    _midLine = false;
}

#endif
