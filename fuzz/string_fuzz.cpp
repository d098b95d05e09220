// Fuzzes interned strings: texts decoded from the input are interned in the
// global and the temporary table (kavLib::tempInit / tempReset, reInit) and
// compared, against std::unordered_map<std::string, kavStrElem*> models of
// the two tables.  Equal texts of one table must give the same element,
// distinct texts distinct elements; equality, order and hash of strings must
// agree with std::string.
#include <kavlib/kavlib.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "string_fuzz: %s\n", what);
        std::abort();
    }
}

using Table = std::unordered_map<std::string, kavStrElem*>;

int sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

// The string hash: h = 1; h = h * 257 + (signed) byte, modulo 2^32.
unsigned int textHash(const std::string& s, unsigned int n)
{
    std::uint32_t h = 1;
    for (const char c : s)
        h = h * 257u + static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(c)));
    return h % n;
}

// Interns `text` (null stands for the empty text) and checks it against the
// model of the table in use.
kavStrElem* intern(const char* text, Table& model)
{
    const std::string key = text != nullptr ? text : "";
    kavString s(text);
    kavStrElem* elem = s.elem();
    require(std::strcmp(static_cast<char*>(s), key.c_str()) == 0, "text of the element");
    const auto found = model.find(key);
    if (found != model.end()) {
        require(elem == found->second, "equal text, other element");
    } else {
        for (const auto& e : model)
            require(e.second != elem, "new text, old element");
        model.emplace(key, elem);
    }
    require(elem->hash(4191) == textHash(key, 4191), "string hash");
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
    Table global, temp;
    bool tempActive = false;
    std::vector<std::string> seen;

    int steps = 0;
    while (in.remaining_bytes() > 0 && steps++ < 500) {
        Table& model = tempActive ? temp : global;
        switch (in.ConsumeIntegralInRange(0, 9)) {
        case 0:
        case 1:
        case 2:
        case 3: { // intern a new text, or one seen before
            std::string text;
            if (!seen.empty() && in.ConsumeBool())
                text = seen[in.ConsumeIntegralInRange<std::size_t>(0, seen.size() - 1)];
            else
                text = in.ConsumeRandomLengthString(24).c_str(); // up to a NUL
            seen.push_back(text);
            intern(text.empty() && in.ConsumeBool() ? nullptr : text.c_str(), model);
            break;
        }
        case 4:
        case 5:
        case 6: { // compare two strings of the table in use
            if (seen.empty())
                break;
            const std::string& a = seen[in.ConsumeIntegralInRange<std::size_t>(0, seen.size() - 1)];
            const std::string& b = seen[in.ConsumeIntegralInRange<std::size_t>(0, seen.size() - 1)];
            intern(a.c_str(), model);
            intern(b.c_str(), model);
            const kavString sa(a.c_str());
            const kavString sb(b.c_str());
            require(sa.isEqual(sb) == (a == b), "isEqual");
            require(objEqual(sa, sb) == (a == b), "objEqual");
            require(sign(sa.objcmp(sb)) == sign(a.compare(b)), "objcmp");
            require(objLess(sa, sb) == (a < b), "objLess");
            require((sa.hash(4191) == sb.hash(4191)) || a != b, "hash of equal texts");
            break;
        }
        case 7: // the temporary table comes or goes (each makes a 33 KB table)
            if (in.ConsumeIntegralInRange(0, 7) != 0)
                break;
            if (!tempActive) {
                kavLib::tempInit(&scratch);
                tempActive = true;
            } else {
                kavLib::tempReset();
                temp.clear();
                tempActive = false;
            }
            break;
        case 8: // start over
            if (in.ConsumeIntegralInRange(0, 31) == 0) { // rare: each makes a 33 KB table
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
    for (const auto& e : global)
        require(table->remove(*e.second), "an interned element is in the table");
    require(table->count() == 0, "the global table is empty at the end");
    require(kavPool::mainPool()->umem() == used, "the main pool holds the table alone");
    return 0;
}
