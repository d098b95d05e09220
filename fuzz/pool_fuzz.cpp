// Fuzzes one pool with alloc, free, release and establish decoded from the
// input, against a model of the pool's algorithm built on std::map: the model
// predicts every address the pool returns, every statistic and the whole
// free-block list of the report.  Pieces are filled with a pattern that must
// survive until they are freed, so overlapping pieces are found too.
#include <kavlib/kavlib.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using addr_t = std::uintptr_t;

void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "pool_fuzz: %s\n", what);
        std::abort();
    }
}

unsigned int rounded(unsigned int size) { return (size + 7u) & ~7u; }

struct Model {
    std::map<addr_t, unsigned int> free;      // free blocks by address
    std::vector<addr_t> recycle[64];          // LIFO lists by size class
    std::vector<std::pair<addr_t, unsigned int>> blocks;
    unsigned int amem = 0, fmem = 0, rmem = 0, umem = 0;

    // A block of n bytes at `at`, linked in by address, not merged.
    void addBlock(addr_t at, unsigned int n)
    {
        for (const auto& b : blocks)
            require(at + n <= b.first || b.first + b.second <= at, "new block overlaps an old one");
        blocks.emplace_back(at, n);
        free[at] = n;
        amem += n;
        fmem += n;
    }

    // The address alloc(r) takes without a new block, or 0.
    addr_t predict(unsigned int r) const
    {
        const unsigned int c = r / 8;
        if (c < 64 && !recycle[c].empty())
            return recycle[c].back();
        for (const auto& f : free)
            if (f.second >= r)
                return f.first;
        return 0;
    }

    void take(addr_t p, unsigned int r)
    {
        const unsigned int c = r / 8;
        if (c < 64 && !recycle[c].empty()) {
            recycle[c].pop_back();
            rmem -= r;
        } else {
            const unsigned int size = free.at(p);
            free.erase(p);
            if (size > r)
                free[p + r] = size - r;
            fmem -= r;
        }
        umem += r;
    }

    void give(addr_t p, unsigned int r)
    {
        umem -= r;
        if (r < 512) {
            recycle[r / 8].push_back(p);
            rmem += r;
            return;
        }
        fmem += r;
        auto right = free.upper_bound(p);
        addr_t start = p;
        unsigned int size = r;
        if (right != free.begin()) {
            auto left = std::prev(right);
            if (left->first + left->second == p) {
                start = left->first;
                size += left->second;
                free.erase(left);
            }
        }
        if (right != free.end() && p + r == right->first) {
            size += right->second;
            free.erase(right);
        }
        free[start] = size;
    }

    void clear() { *this = Model(); }
};

struct Piece {
    unsigned char* at;
    unsigned int size;
    unsigned char fill;
};

// The free blocks of the pool's report (library flag 0), by address.
std::map<addr_t, unsigned int> reportedFreeBlocks(const kavPool& pool)
{
    std::ostringstream os;
    pool.print(os);
    const std::string text = os.str();
    const std::string label = "  Free blocks: ";
    std::map<addr_t, unsigned int> blocks;
    std::size_t pos = text.find(label);
    require(pos != std::string::npos, "report lacks its free blocks");
    const std::size_t end = text.find('\n', pos);
    pos += label.size();
    while (pos < end) {
        void* p = nullptr;
        unsigned int size = 0;
        int used = 0;
        require(std::sscanf(text.c_str() + pos, " @%p(%u)%n", &p, &size, &used) == 2, "bad free block entry");
        blocks[reinterpret_cast<addr_t>(p)] = size;
        pos += static_cast<std::size_t>(used);
    }
    return blocks;
}

// The figures after every step; the whole free-block list, read from the
// report (the costly part), when `full`.
void check(const kavPool& pool, const Model& m, bool full)
{
    require(pool.amem() == m.amem, "amem");
    require(pool.fmem() == m.fmem, "fmem");
    require(pool.rmem() == m.rmem, "rmem");
    require(pool.umem() == m.umem, "umem");
    require(pool.ablocks() == m.blocks.size(), "ablocks");
    require(pool.fblocks() == m.free.size(), "fblocks");
    std::size_t recycled = 0;
    for (const auto& list : m.recycle)
        recycled += list.size();
    require(pool.rblocks() == recycled, "rblocks");
    require(!full || reportedFreeBlocks(pool) == m.free, "free-block list");
}

unsigned int pickSize(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0:
        return in.ConsumeIntegralInRange(0u, 16u);
    case 1:
        return in.ConsumeIntegralInRange(7990u, 8010u);
    case 2:
        return in.ConsumeIntegralInRange(8011u, 30000u);
    case 3:
    case 4:
        return in.ConsumeIntegralInRange(500u, 2000u);
    default:
        return in.ConsumeIntegralInRange(1u, 520u);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    kavPool pool;
    Model m;
    std::vector<Piece> live;
    unsigned int steps = 0;
    kavLib::set(0); // reports list the free blocks

    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 9)) {
        case 0:
        case 1:
        case 2:
        case 3: { // alloc
            if (live.size() >= 200 || m.amem > (1u << 20))
                break;
            const unsigned int s = pickSize(in);
            const unsigned int r = rounded(s);
            addr_t expect = m.predict(r);
            auto* p = static_cast<unsigned char*>(pool.alloc(s));
            if (expect == 0) { // a new block, cut from its front
                m.addBlock(reinterpret_cast<addr_t>(p), rounded(r < 8000 ? 8000 : r));
                expect = m.predict(r);
            }
            require(reinterpret_cast<addr_t>(p) == expect, "alloc address");
            if (s == 0)
                break; // reserves nothing
            m.take(expect, r);
            const auto fill = static_cast<unsigned char>(live.size() * 37 + 1);
            std::memset(p, fill, s);
            live.push_back(Piece{p, s, fill});
            break;
        }
        case 4:
        case 5:
        case 6: { // free, with any size that rounds alike
            if (live.empty())
                break;
            const std::size_t i = in.ConsumeIntegralInRange<std::size_t>(0, live.size() - 1);
            const Piece piece = live[i];
            live[i] = live.back();
            live.pop_back();
            for (unsigned int k = 0; k < piece.size; ++k)
                require(piece.at[k] == piece.fill, "a piece was overwritten");
            const unsigned int r = rounded(piece.size);
            const unsigned int s = in.ConsumeIntegralInRange(r - 7 > 0 ? r - 7 : 1, r);
            pool.free(piece.at, s);
            m.give(reinterpret_cast<addr_t>(piece.at), r);
            break;
        }
        case 7: { // establish: one more block, wherever the heap puts it
            if (m.amem > (1u << 20))
                break;
            const unsigned int s = pickSize(in);
            pool.establish(s);
            const auto reported = reportedFreeBlocks(pool);
            addr_t added = 0;
            for (const auto& f : reported)
                if (m.free.count(f.first) == 0)
                    added = f.first;
            require(added != 0, "established block not in the free list");
            m.addBlock(added, rounded(s < 8000 ? 8000 : s));
            break;
        }
        case 8: // release
            if (in.ConsumeBool()) {
                pool.release();
                m.clear();
                live.clear();
            }
            break;
        default: // statistics only
            break;
        }
        check(pool, m, ++steps % 32 == 0);
    }
    check(pool, m, true);
    kavLib::clr(0);
    return 0;
}
