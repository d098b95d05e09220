// kavwords: the program's own classes.
#include "words.h"

#include <ostream>

const char* const kavWordClass = "kavWord";
const char* const kavWordFileClass = "kavWordFile";
const char* const kavWordRankClass = "kavWordRank";
const char* const kavWordLineClass = "kavWordLine";
const char* const kavWordWhereClass = "kavWordWhere";

std::ostream& kavWord::dump(std::ostream& os, int indent, int endLine) const
{
    kavNamedObj::dump(os, indent, 0) << "count[" << _count << "] ";
    if (endLine != 0)
        os << std::endl;
    return os;
}

std::ostream& kavWordFile::dump(std::ostream& os, int indent, int endLine) const
{
    kavNamedObj::dump(os, indent, 0) << "lines[" << _tally.lines << "] words[" << _tally.words << "] distinct["
                                     << _distinct << "] new[" << _fresh << "] ";
    if (endLine != 0)
        os << std::endl;
    return os;
}

int kavWordRank::objcmp(const kavObject& other) const
{
    if (&other == this)
        return 0;
    if (!other.isA(kavWordRankClass))
        return addressOrder(*this, other);
    const kavWord& mine = *_word;
    const kavWord& theirs = static_cast<const kavWordRank&>(other).word();
    if (mine.count() != theirs.count())
        return mine.count() > theirs.count() ? -1 : 1;
    const int byText = mine.name().objcmp(theirs.name()); // strcmp order; 0 for the same word
    return byText < 0 ? -1 : byText > 0 ? 1 : 0;
}

std::ostream& kavWordRank::dump(std::ostream& os, int indent, int endLine) const
{
    kavObject::dump(os, indent, 0);
    return _word->dump(os, 0, endLine);
}

std::ostream& kavWordLine::dump(std::ostream& os, int indent, int endLine) const
{
    kavObject::dump(os, indent, 0) << _file->name() << ':' << _line << ": " << _text;
    if (endLine != 0)
        os << std::endl;
    return os;
}

std::ostream& kavWordWhere::dump(std::ostream& os, int indent, int endLine) const
{
    kavNamedObj::dump(os, indent, 1);
    for (kavObject& line : _lines)
        line.dump(os, indent + 4, endLine);
    return os;
}

int kavWordSplitter::completeLength(const char* text, int length)
{
    // Step back over at most three continuation bytes (10xxxxxx) to the byte
    // that leads the last sequence; keep the sequence only if it is whole.
    int lead = length;
    while (lead > 0 && length - lead < 3 && (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80)
        --lead;
    if (lead == 0)
        return length;
    const unsigned char c = static_cast<unsigned char>(text[lead - 1]);
    if (c < 0xC0)
        return length; // ASCII, or not UTF-8 at all: nothing to mend
    const int need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    return length - (lead - 1) < need ? lead - 1 : length;
}
