// Fuzzes one pool with alloc, free, undo of the newest allocation, release
// and establish decoded from the input, against the plain model of the pool's algorithm that the tests use
// (tests/plainpool.h): the model predicts every address the pool returns,
// every statistic and the whole free-block line of the report.  Some inputs
// place the pool's blocks side by side, above, below and with gaps, so that
// free blocks are cut and merged across block borders.  Pieces carry a
// pattern at both ends that must survive until they are freed, so a header
// or a recycle link written into a live piece, or a piece handed out over
// another, is found even where the counts agree.
//
// Besides the pool's blocks, an input takes little from the heap: the model,
// the list of pieces and the report lines keep their memory from input to
// input, and the reports are written into a buffer by a stream made once
// (a string stream per report cost more than the pool's own work); the
// line the model predicts is written by hand.
#include "plainpool.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

using namespace heapWatch;

// The models and checks are not what is fuzzed: they give no coverage
// feedback, and cost none of its instrumentation.
#define KAV_MODEL_CODE __attribute__((no_sanitize("coverage")))

void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "pool_fuzz: %s\n", what);
        std::abort();
    }
}

struct Piece {
    unsigned char* at;
    unsigned int size;
    unsigned char fill;

    // The bytes that carry the pattern: all of a piece of up to 512 bytes,
    // the first and last 256 of a larger one.  The pool writes headers and
    // recycle links at the start of what it takes for free, and a piece laid
    // over another starts or ends inside it unless it lies in its middle,
    // where the model's addresses find it; filling every byte of the large
    // pieces was a twentieth of a fuzzing run.
    static constexpr unsigned int end = 256;

    void write() const
    {
        if (size <= 2 * end) {
            std::memset(at, fill, size);
        } else {
            std::memset(at, fill, end);
            std::memset(at + size - end, fill, end);
        }
    }

    // Every byte of the pattern equals the first, and the first is the
    // fill: a memcmp instead of a checked comparison per byte.
    bool intact() const
    {
        if (at[0] != fill)
            return false;
        if (size <= 2 * end)
            return std::memcmp(at, at + 1, size - 1) == 0;
        return std::memcmp(at, at + 1, end - 1) == 0 && std::memcmp(at, at + size - end, end) == 0;
    }
};

// A stream that writes into a buffer kept from use to use, straight into
// its put area (the buffer doubles when a text outgrows it).
class textStream : public std::ostream {
public:
    textStream() : std::ostream(&_buf) {}

    // Empties the text (its memory stays) for the next report.
    textStream& restart()
    {
        _buf.restart();
        return *this;
    }

    const char* begin() const { return _buf.begin(); }
    const char* end() const { return _buf.end(); }

private:
    class textBuf : public std::streambuf {
    public:
        textBuf() { grow(); }
        void restart() { setp(_text.data(), _text.data() + _text.size()); }
        const char* begin() const { return pbase(); }
        const char* end() const { return pptr(); }

    protected:
        int_type overflow(int_type c) override
        {
            if (traits_type::eq_int_type(c, traits_type::eof()))
                return traits_type::not_eof(c);
            grow();
            return sputc(traits_type::to_char_type(c));
        }

    private:
        void grow()
        {
            const std::ptrdiff_t used = pptr() - pbase();
            _text.resize(std::max<std::size_t>(16 * 1024, 2 * _text.size()));
            setp(_text.data(), _text.data() + _text.size());
            pbump(static_cast<int>(used));
        }
        std::vector<char> _text;
    } _buf;
};

// Appends " @0x<hex>(<decimal>)" to `out`: one free block as the report
// writes it, without a stream.
KAV_MODEL_CODE void appendFreeBlock(std::string& out, addr_t a, unsigned int n)
{
    char text[48];
    char* p = text + sizeof text;
    *--p = ')';
    do {
        *--p = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
    *--p = '(';
    do {
        *--p = "0123456789abcdef"[a & 15];
        a >>= 4;
    } while (a != 0);
    *--p = 'x';
    *--p = '0';
    *--p = '@';
    *--p = ' ';
    out.append(p, static_cast<std::size_t>(text + sizeof text - p));
}

// Whether the free-block line of the pool's report (its third line) is the
// one the model predicts (the line as plainPool::freeLine writes it).
KAV_MODEL_CODE bool sameFreeLine(const kavPool& pool, const plainPool& m)
{
    static textStream report;
    static std::string expected; // keeps its memory from use to use
    report.restart() << pool; // library flag 0 is set: the report lists the free blocks
    expected.assign("  Free blocks: ");
    for (const auto& [a, n] : m.freeBlocks)
        appendFreeBlock(expected, a, n);
    expected += '\n';
    const char* line = report.begin();
    const char* const end = report.end();
    for (int n = 0; n < 2 && line != nullptr; ++n) {
        line = static_cast<const char*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
        line = line != nullptr ? line + 1 : nullptr;
    }
    return line != nullptr && static_cast<std::size_t>(end - line) >= expected.size() &&
           std::memcmp(line, expected.data(), expected.size()) == 0;
}

// Adds the block of n bytes the pool made in its last call to the model.
void addBlock(plainPool& m, unsigned int n)
{
    require(blocksMade.size() == m.blocks + 1, "the pool made no block, or more than one");
    require(blocksMade.back().second == n, "block size");
    m.addblock(blocksMade.back().first, n);
}

// The byte counts after every step; the counts of free blocks and recycled
// elements, which walk the lists, after every 4th step; the whole
// free-block list, read from the report, after every 32nd.
KAV_MODEL_CODE void check(const kavPool& pool, const plainPool& m, unsigned int step)
{
    require(pool.amem() == m.amem, "amem");
    require(pool.fmem() == m.fmem, "fmem");
    require(pool.rmem() == m.rmem, "rmem");
    require(pool.umem() == m.umem, "umem");
    require(pool.ablocks() == m.blocks, "ablocks");
    if (step % 4 != 0)
        return;
    require(pool.fblocks() == m.freeBlocks.size(), "fblocks");
    require(pool.rblocks() == m.recycledCount(), "rblocks");
    require(step % 32 != 0 || sameFreeLine(pool, m), "free-block list");
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
    if (arena == nullptr)
        useArena(std::size_t(8) << 20);
    placing = in.ConsumeBool();
    placement.seed(in.ConsumeIntegral<std::uint16_t>());
    emptyArena();
    blocksMade.clear();
    kavPool pool;
    static plainPool m; // kept with its memory from input to input
    m.clear();
    static std::vector<Piece> live; // kept grown from input to input
    live.clear();
    unsigned int steps = 0, undos = 0;
    kavLib::set(0); // reports list the free blocks

    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 9)) {
        case 3: { // alloc, then undo it: the pool is exactly as before
            const unsigned int s = pickSize(in);
            if (s == 0 || m.amem > (1u << 20))
                break;
            // The model is left as it was: the pool must come back to it.
            // The counts are compared at once (check), the free blocks too;
            // the whole free-block list, as costly as the pool's own work
            // on a step, at every 4th undo besides every 32nd step.
            const std::size_t made = blocksMade.size();
            watching = true;
            void* p = pool.alloc(s);
            watching = false;
            pool.undoAlloc(p, s);
            blocksMade.resize(made); // a block added for it went back to the heap
            require(pool.fblocks() == m.freeBlocks.size(), "undo: free blocks");
            require(++undos % 4 != 0 || sameFreeLine(pool, m), "undo: free-block list");
            break;
        }
        case 0:
        case 1:
        case 2: { // alloc
            if (live.size() >= 200 || m.amem > (1u << 20))
                break;
            const unsigned int s = pickSize(in);
            const unsigned int n = m.blockFor(s);
            watching = true;
            auto* p = static_cast<unsigned char*>(pool.alloc(s));
            watching = false;
            if (n != 0)
                addBlock(m, n);
            require(reinterpret_cast<addr_t>(p) == m.alloc(s), "alloc address");
            if (s == 0)
                break; // reserves nothing
            const Piece piece{p, s, static_cast<unsigned char>(live.size() * 37 + 1)};
            piece.write();
            live.push_back(piece);
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
            require(piece.intact(), "a piece was overwritten");
            const unsigned int r = kavPool::roundSize(piece.size);
            const unsigned int s = in.ConsumeIntegralInRange(r > 7 ? r - 7 : 1, r);
            pool.free(piece.at, s);
            m.free(reinterpret_cast<addr_t>(piece.at), r);
            break;
        }
        case 7: { // establish: one more block
            if (m.amem > (1u << 20))
                break;
            const unsigned int s = pickSize(in);
            watching = true;
            pool.establish(s);
            watching = false;
            addBlock(m, plainPool::blockSize(s));
            break;
        }
        case 8: // release
            if (in.ConsumeBool()) {
                pool.release();
                m.clear();
                blocksMade.clear();
                emptyArena();
                live.clear();
            }
            break;
        default: // statistics only
            break;
        }
        check(pool, m, ++steps);
    }
    check(pool, m, 0); // everything
    kavLib::clr(0);
    // The model's free blocks go back to the heap with the input that made
    // them: an input that takes more from the heap than it gives back is
    // run again under libFuzzer's leak check, which costs more than many
    // inputs.
    m.clear();
    live.clear();
    return 0;
}
