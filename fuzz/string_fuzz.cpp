// Fuzzes interned strings: texts decoded from the input are interned in the
// global and the temporary table (kavLib::tempInit / tempReset, reInit) and
// compared, against models of the two tables (text to element, and the set
// of elements each has given).  Equal texts of one table must give the same
// element, distinct texts distinct elements; equality, order and hash of
// strings must agree with std::string's.
//
// An input costs little besides the library's own work: the texts live in
// one buffer, and the models are open-addressed tables of fixed size that
// are emptied by a new stamp, so the checks take no memory from the heap.
#include <kavlib/kavlib.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "string_fuzz: %s\n", what);
        std::abort();
    }
}

int sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

// The string hash: h = 1; h = h * 257 + (signed) byte, modulo 2^32.
std::uint32_t textHash(const char* s)
{
    std::uint32_t h = 1;
    for (; *s != '\0'; ++s)
        h = h * 257u + static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(*s)));
    return h;
}

// The sign of std::string(a).compare(b): bytes compared as unsigned char,
// a prefix first.
int textOrder(const char* a, const char* b)
{
    for (; *a != '\0' && *a == *b; ++a, ++b) {
    }
    const auto x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

// A model of one table: its texts with their elements, and the elements it
// has given.  Both are open-addressed with linear probing in 2048 slots (an
// input interns at most 500 texts); a slot counts only when it carries the
// current stamp, so clear() is one increment.
class Model {
public:
    static constexpr std::size_t slots = 2048;

    void clear()
    {
        ++_stamp;
        _size = 0;
        _elems.clear(); // keeps its capacity
    }

    std::size_t size() const { return _size; }
    // The elements given, in a scattered order (that of their addresses'
    // hashes): the table then loses them from the heads, middles and ends of
    // its chains alike.
    std::vector<kavStrElem*>& scattered()
    {
        std::sort(_elems.begin(), _elems.end(),
                  [](const kavStrElem* a, const kavStrElem* b) { return elemSlot(a) < elemSlot(b); });
        return _elems;
    }

    // The element of `text`, or null.
    kavStrElem* find(const char* text, std::uint32_t h) const
    {
        for (std::size_t i = h % slots;; i = (i + 1) % slots) {
            const Text& t = _texts[i];
            if (t.stamp != _stamp)
                return nullptr;
            if (t.hash == h && std::strcmp(t.text, text) == 0)
                return t.elem;
        }
    }

    // Whether `elem` was given for some text.
    bool gave(const kavStrElem* elem) const
    {
        for (std::size_t i = elemSlot(elem);; i = (i + 1) % slots) {
            if (_given[i].stamp != _stamp)
                return false;
            if (_given[i].elem == elem)
                return true;
        }
    }

    // Records a text not seen before (`text` lives as long as the input).
    void add(const char* text, std::uint32_t h, kavStrElem* elem)
    {
        require(++_size < slots / 2, "model full");
        std::size_t i = h % slots;
        while (_texts[i].stamp == _stamp)
            i = (i + 1) % slots;
        _texts[i] = Text{_stamp, h, text, elem};
        i = elemSlot(elem);
        while (_given[i].stamp == _stamp)
            i = (i + 1) % slots;
        _given[i] = Given{_stamp, elem};
        _elems.push_back(elem);
    }

private:
    struct Text {
        unsigned int stamp;
        std::uint32_t hash;
        const char* text;
        kavStrElem* elem;
    };
    struct Given {
        unsigned int stamp;
        const kavStrElem* elem;
    };

    static std::size_t elemSlot(const kavStrElem* elem)
    {
        const std::uint64_t a = reinterpret_cast<std::uintptr_t>(elem) >> 3;
        return static_cast<std::size_t>(a * 0x9E3779B97F4A7C15u >> 53); // 11 bits: 2048 slots
    }

    unsigned int _stamp = 1;
    std::size_t _size = 0;
    Text _texts[slots] = {};
    Given _given[slots] = {};
    std::vector<kavStrElem*> _elems;
};

// Interns `text` (null stands for the empty text) and checks it against the
// model of the table in use.
kavStrElem* intern(const char* text, Model& model)
{
    const char* key = text != nullptr ? text : "";
    kavString s(text);
    kavStrElem* elem = s.elem();
    require(std::strcmp(static_cast<char*>(s), key) == 0, "text of the element");
    const std::uint32_t h = textHash(key);
    if (kavStrElem* found = model.find(key, h); found != nullptr) {
        require(elem == found, "equal text, other element");
    } else {
        require(!model.gave(elem), "new text, old element");
        model.add(key, h, elem);
    }
    require(elem->hash(4191) == h % 4191, "string hash");
    return elem;
}

// The main pool keeps room for an input's texts in a second block beside
// the table's, made again after a reInit.  An input then takes no more
// blocks from the heap than it gives back; one that did would make libFuzzer
// run it again under its leak check, which costs as much as many inputs.
void keepRoom()
{
    kavPool& main = *kavPool::mainPool();
    if (main.amem() < 64 * 1024)
        main.establish(64 * 1024 - main.amem());
}

// Appends to `texts` the text that in.ConsumeRandomLengthString(24) would
// give, up to its first NUL, and a NUL: the same bytes are consumed, without
// the two heap calls of a std::string of more than 15 bytes.
void takeText(FuzzedDataProvider& in, std::vector<char>& texts)
{
    bool ended = false; // a NUL was taken: the rest is consumed, not kept
    for (int i = 0; i < 24 && in.remaining_bytes() != 0; ++i) {
        char c;
        in.ConsumeData(&c, 1);
        if (c == '\\' && in.remaining_bytes() != 0) {
            in.ConsumeData(&c, 1);
            if (c != '\\')
                break; // a backslash before anything else ends the text
        }
        if (!ended)
            texts.push_back(c);
        ended = ended || c == '\0';
    }
    if (!ended)
        texts.push_back('\0');
}

// The models, the input's texts (each ended by a NUL) and the places where
// they start; kept from input to input with their memory.
Model global, temp;
std::vector<char> texts;
std::vector<std::size_t> seen;

// New tables (reInit, temporary) an input may make.  Each costs more than
// a hundred other steps, and libFuzzer counts each repetition as new
// coverage, so without a limit it soon favours inputs that make table after
// table, and half their time went to clearing new 33 KB chain arrays.
// Three tables reach all the string code that more did; what more reached
// lay deeper in the pool's index, which pool_fuzz drives.
constexpr int tablesPerInput = 3;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    // Inputs start from an empty global table without a new one: each input
    // takes out of the table the elements it interned (they go back to the
    // main pool's recycle lists), which costs far less than reInit's new
    // 33 KB table or a walk of all its 4191 chains.  The temporary tables
    // reuse one pool of their own.  reInit itself is still one of the steps.
    static kavPool& scratch = *[] {
        auto* p = new kavPool;
        p->setReleaseFlag(false);
        return p;
    }();
    kavLib::init(false);
    require(kavStringTbl::table()->count() == 0, "the global table is empty at the start");
    keepRoom();
    const unsigned int used = kavPool::mainPool()->umem(); // the table alone
    global.clear();
    temp.clear();
    texts.clear();
    seen.clear();
    texts.reserve(size + 501); // each text takes its bytes and a NUL: they never move
    bool tempActive = false;
    int tablesMade = 0;

    int steps = 0;
    while (in.remaining_bytes() > 0 && steps++ < 500) {
        Model& model = tempActive ? temp : global;
        switch (in.ConsumeIntegralInRange(0, 9)) {
        case 0:
        case 1:
        case 2:
        case 3: { // intern a new text, or one seen before
            std::size_t at = texts.size();
            if (!seen.empty() && in.ConsumeBool()) {
                at = seen[in.ConsumeIntegralInRange<std::size_t>(0, seen.size() - 1)];
            } else {
                takeText(in, texts);
            }
            seen.push_back(at);
            const char* text = &texts[at];
            intern(*text == '\0' && in.ConsumeBool() ? nullptr : text, model);
            break;
        }
        case 4:
        case 5:
        case 6: { // compare two strings of the table in use
            if (seen.empty())
                break;
            const char* a = &texts[seen[in.ConsumeIntegralInRange<std::size_t>(0, seen.size() - 1)]];
            const char* b = &texts[seen[in.ConsumeIntegralInRange<std::size_t>(0, seen.size() - 1)]];
            intern(a, model);
            intern(b, model);
            const kavString sa(a);
            const kavString sb(b);
            const int order = textOrder(a, b);
            require(sa.isEqual(sb) == (order == 0), "isEqual");
            require(objEqual(sa, sb) == (order == 0), "objEqual");
            require(sign(sa.objcmp(sb)) == order, "objcmp");
            require(objLess(sa, sb) == (order < 0), "objLess");
            require((sa.hash(4191) == sb.hash(4191)) || order != 0, "hash of equal texts");
            break;
        }
        case 7: // the temporary table comes or goes (each makes a 33 KB table)
            if (in.ConsumeIntegralInRange(0, 7) != 0)
                break;
            if (!tempActive) {
                if (tablesMade == tablesPerInput)
                    break;
                ++tablesMade;
                kavLib::tempInit(&scratch);
                tempActive = true;
            } else {
                kavLib::tempReset();
                temp.clear();
                tempActive = false;
            }
            break;
        case 8: // start over
            if (in.ConsumeIntegralInRange(0, 31) == 0 && tablesMade < tablesPerInput) { // a 33 KB table
                ++tablesMade;
                kavLib::reInit(false);
                keepRoom();
                global.clear();
                temp.clear();
                tempActive = false;
            }
            break;
        default:
            break;
        }
        require(kavStringTbl::table()->count() == static_cast<int>(global.size()), "global table count");
        require(tempActive == (kavStringTbl::tempTable() != nullptr), "temporary table");
        if (tempActive)
            require(kavStringTbl::tempTable()->count() == static_cast<int>(temp.size()), "temporary table count");
    }
    kavLib::tempReset();
    scratch.release(); // a reInit forgets the temporary table, not its blocks
    auto* table = const_cast<kavStringTbl*>(kavStringTbl::table());
    for (kavStrElem* e : global.scattered())
        require(table->remove(*e), "an interned element is in the table");
    require(table->count() == 0, "the global table is empty at the end");
    require(kavPool::mainPool()->umem() == used, "the main pool holds the table alone");
    return 0;
}
