// kavlib: the checked build's watcher of the pools (KAVLIB_CHECKED).
//
// A table of the pieces of each pool, by address: every piece handed out and
// every recycled element.  Large pieces that come back leave the table; their
// memory is a free block again.  Every piece given back is looked up, every
// piece handed out must overlap no other, and the free-block list is checked
// after every change.  The reports are listed in internal/poolwatch.h.
#include <kavlib/internal/poolblocks.h>

#include <iterator>
#include <map>
#include <new>
#include <unordered_map>

using kavpool::addr;
using kavpool::addr_t;
using kavpool::misuse;

namespace {

struct Piece {
    unsigned int size; ///< rounded size
    bool recycled;     ///< waiting on a recycle list
};
using PieceTable = std::map<addr_t, Piece>;

// The table of one pool, and a node obtained before each allocation, so that
// entering a piece needs no heap call once the pool has changed.
struct PoolPieces {
    PieceTable table;
    PieceTable::node_type spare;
    bool spareMade = false; ///< the last prepare() had to get the spare
};

// Made once and never destroyed: pools outlive every static destructor.
std::unordered_map<const kavPool*, PoolPieces>& pieceTables()
{
    static auto* tables = new std::unordered_map<const kavPool*, PoolPieces>;
    return *tables;
}

// Gets the spare node if there is none: may throw std::bad_alloc.
void fillSpare(PoolPieces& pieces)
{
    if (pieces.spare.empty()) {
        PieceTable one;
        one.emplace(0, Piece{0, false});
        pieces.spare = one.extract(one.begin());
    }
}

} // namespace

void kavPool::CheckedWatch::created(kavPool& pool) { pieceTables()[&pool]; }

void kavPool::CheckedWatch::destroyed(kavPool& pool) { pieceTables().erase(&pool); }

void kavPool::CheckedWatch::releasing(kavPool& pool)
{
    PoolPieces& pieces = pieceTables().at(&pool);
    pieces.table.clear();
    pieces.spare = PieceTable::node_type(); // an empty pool keeps no heap memory
}

void kavPool::CheckedWatch::prepare(const kavPool& pool)
{
    PoolPieces& pieces = pieceTables().at(&pool);
    pieces.spareMade = pieces.spare.empty();
    fillSpare(pieces);
}

void kavPool::CheckedWatch::popping(const kavPool& pool, unsigned int c)
{
    const PieceTable& table = pieceTables().at(&pool).table;
    const auto isRecycled = [&](addr_t p) {
        const auto it = table.find(p);
        return it != table.end() && it->second.recycled && it->second.size == c * 8;
    };
    const addr_t head = addr(pool._recycleList[c]);
    const addr_t link = kavpool::loadWord(head);
    misuse(isRecycled(head) && (link == 0 || isRecycled(link)), kavCheck::poolRecycledIntact);
}

void kavPool::CheckedWatch::handOut(kavPool& pool, void* piece, unsigned int r)
{
    PoolPieces& pieces = pieceTables().at(&pool);
    PieceTable& table = pieces.table;
    auto it = table.lower_bound(addr(piece));
    if (it != table.end() && it->first == addr(piece)) {
        // A recycled element handed out again (popping() checked it), never
        // a piece that is still in use.
        misuse(it->second.recycled, kavCheck::poolNoOverlap);
        it->second.recycled = false;
        return;
    }
    // Cut from a free block: it must not reach into any other piece.
    const bool clearAbove = it == table.end() || it->first >= addr(piece) + r;
    const bool clearBelow = it == table.begin() || std::prev(it)->first + std::prev(it)->second.size <= addr(piece);
    misuse(clearAbove && clearBelow, kavCheck::poolNoOverlap);
    pieces.spare.key() = addr(piece);
    pieces.spare.mapped() = Piece{r, false};
    table.insert(it, std::move(pieces.spare));
    // The node of the pool's next piece is taken now, while a heap that
    // fails changes nothing: an allocation nested in the construction of
    // this piece's object (a string element's text) then finds its entry
    // ready, and cannot fail here after this piece was cut.  If the heap
    // fails, the next prepare() asks again, before its pool changes.
    try {
        fillSpare(pieces);
    } catch (const std::bad_alloc&) {
    }
}

void kavPool::CheckedWatch::takeBack(kavPool& pool, void* piece, unsigned int r)
{
    PieceTable& table = pieceTables().at(&pool).table;
    const auto it = table.find(addr(piece));
    if (it == table.end()) {
        // A large piece that came back already lies in a free block.
        misuse(!inFreeBlock(pool, addr(piece)), kavCheck::poolFreedTwice);
        misuse(false, kavCheck::poolOwnsPiece);
    }
    misuse(!it->second.recycled, kavCheck::poolFreedTwice);
    misuse(it->second.size == r, kavCheck::poolSizeRounds);
    if (r < recycleLimit)
        it->second.recycled = true;
    else
        table.erase(it);
}

// The newest piece leaves the table, and the spare is as it was before its
// allocation: the table's heap memory is what it was then.
void kavPool::CheckedWatch::undone(kavPool& pool, void* piece)
{
    PoolPieces& pieces = pieceTables().at(&pool);
    const auto it = pieces.table.find(addr(piece));
    misuse(it != pieces.table.end() && !it->second.recycled, kavCheck::poolOwnsPiece);
    PieceTable::node_type node = pieces.table.extract(it);
    if (pieces.spareMade)
        pieces.spare = PieceTable::node_type();
    else if (pieces.spare.empty())
        pieces.spare = std::move(node);
}

// r bytes at `piece` (not a piece itself) reach into no piece of the table.
void kavPool::CheckedWatch::clearOfPieces(const kavPool& pool, addr_t piece, unsigned int r)
{
    const PieceTable& table = pieceTables().at(&pool).table;
    const auto it = table.lower_bound(piece);
    const bool clearAbove = it == table.end() || it->first >= piece + r;
    const bool clearBelow = it == table.begin() || std::prev(it)->first + std::prev(it)->second.size <= piece;
    misuse(clearAbove && clearBelow, kavCheck::poolNoOverlap);
}

// The free-block list: its order, and its sizes against fmem.  (amem = fmem +
// rmem + umem holds by construction: umem is derived from the other three.)
void kavPool::CheckedWatch::changed(const kavPool& pool)
{
    unsigned int total = 0;
    addr_t prevEnd = 0;
    for (addr_t b = addr(pool._freeList); b != 0; b = kavpool::nextOf(b)) {
        misuse(b >= prevEnd, kavCheck::poolFreeOrder);
        misuse(b != prevEnd || blockStart(pool, b), kavCheck::poolFreeApart);
        const unsigned int size = kavpool::sizeOf(b);
        total += size;
        prevEnd = b + size;
    }
    misuse(total == pool._fmem, kavCheck::poolCounters);
}

// Does `p` lie inside one of the pool's free blocks?
bool kavPool::CheckedWatch::inFreeBlock(const kavPool& pool, addr_t p)
{
    for (addr_t b = addr(pool._freeList); b != 0 && b <= p; b = kavpool::nextOf(b))
        if (p < b + kavpool::sizeOf(b))
            return true;
    return false;
}

// Does one of the pool's blocks start at `p`?  Two free blocks may touch
// there: the heap can place blocks side by side and addblock() does not
// merge.
bool kavPool::CheckedWatch::blockStart(const kavPool& pool, addr_t p)
{
    for (const BlockRecord* b = pool._blockList; b != nullptr; b = b->next)
        if (addr(b->start) == p)
            return true;
    return false;
}
