// kavlib: the library's always-on checks and the one table of their reports.
//
// A failed check writes "Assertion failed: EXPR, file FILE, line N" and a
// newline to stderr and aborts.  It stays on under NDEBUG, and EXPR, FILE and
// N are fixed per check (not __FILE__/__LINE__), so that a report is the same
// in every build and on every platform.  KAVLIB_CHECKS is the list of every
// check: the code names its entry, docs/guide.md shows the same list.
#ifndef KAVLIB_KAVASSERT_H
#define KAVLIB_KAVASSERT_H

#include <kavlib/export.h>

// X(name, expression, file, line, what it means)
#define KAVLIB_CHECKS(X)                                                                                    \
    X(listGet, "_current", "kavlist", 107, "`get` on a finished `kavList` iterator")                        \
    X(listNext, "_current", "kavlist", 101, "`next` on a finished `kavList` iterator")                      \
    X(slistGet, "_current", "kavslist", 107, "`get` on a finished `kavSList` iterator")                     \
    X(slistNext, "_current", "kavslist", 101, "`next` on a finished `kavSList` iterator")                   \
    X(fifoGet, "_current", "kavfifo", 105, "`get` on a finished `kavFifo` iterator")                        \
    X(fifoNext, "_current", "kavfifo", 99, "`next` on a finished `kavFifo` iterator")                       \
    X(hashGet, "_current", "kavhash", 287, "`get` on a finished `kavHash` iterator")                        \
    X(hashNext, "_index < size", "kavhash", 327, "`next` on a finished `kavHash` iterator")                 \
    X(hashRange, "hash < size", "kavhash", 401, "an element's `hash(n)` gave n or more in a `kavHash<n>`")   \
    X(stringNoTable, "kavStringTbl::_table", "kavstr", 190,                                                  \
      "a `kavString` made from a text before `kavLib::init` (or after `kavLib::reset`)")                     \
    X(stringTempOnly, "_table", "kavstr", 157, "interning while only a temporary table exists")             \
    X(poolFreeNull, "ptr", "kavpool", 192, "`kavPool::free` of a null pointer")                             \
    X(poolFreeZero, "size", "kavpool", 193, "`kavPool::free` of size 0")                                    \
    X(poolAllocSize, "size <= maxSize", "kavpool", 194,                                                     \
      "`kavPool::alloc` of a size above `kavPool::maxSize` (0xFFFFFFF8), which would round to 0")            \
    X(poolEstablishSize, "size <= maxSize", "kavpool", 195, "`kavPool::establish` of such a size")          \
    X(iterGet, "_link", "container", 201, "reading a standard iterator (`begin()`, `kavRangeIter`) at its end") \
    X(iterNext, "_link", "container", 211, "stepping a standard iterator past its end")                     \
    X(castClass, "kavCast<T> of a CLASS", "kavview", 30,                                                     \
      "`kavCast<T>` or `kavView<T>` met an object of class CLASS, which is no `T`")                          \
    X(poolFreedTwice, "ptr not freed twice", "kavpool", 301,                                                 \
      "checked build: the piece is already free (on a recycle list or inside a free block)")                 \
    X(poolSizeRounds, "size rounds as allocated", "kavpool", 302,                                            \
      "checked build: `free()` was given a size that rounds otherwise than the `alloc()`'s")                 \
    X(poolOwnsPiece, "ptr comes from this pool", "kavpool", 303,                                             \
      "checked build: not the start of a live piece of this pool")                                           \
    X(poolFreeOrder, "free blocks in ascending order", "kavpool", 304,                                       \
      "checked build: the free-block list is out of order or has overlapping blocks")                        \
    X(poolFreeApart, "free blocks do not touch", "kavpool", 305,                                             \
      "checked build: two free blocks touch: a free block's size was overwritten")                           \
    X(poolRecycledIntact, "recycled element intact", "kavpool", 306,                                         \
      "checked build: a recycle list leads to memory that is no recycled element: a freed piece was written") \
    X(poolCounters, "pool counters add up", "kavpool", 307, "checked build: the free blocks do not add up to `fmem`") \
    X(poolNoOverlap, "piece overlaps no other", "kavpool", 308,                                              \
      "checked build: the piece about to be handed out overlaps a piece in use")                             \
    X(poolIndex, "index ...", "kavpool", 309,                                                                \
      "checked or audited build: the free-block index disagrees with the free-block list (the text says how)")

/// Names of the library's checks, in the order of KAVLIB_CHECKS.
enum class kavCheck : unsigned char {
#define KAVLIB_CHECK_NAME(name, expr, file, line, meaning) name,
    KAVLIB_CHECKS(KAVLIB_CHECK_NAME)
#undef KAVLIB_CHECK_NAME
};

/// Number of the library's checks.
#define KAVLIB_CHECK_ONE(name, expr, file, line, meaning) +1
inline constexpr int kavCheckCount = 0 KAVLIB_CHECKS(KAVLIB_CHECK_ONE);
#undef KAVLIB_CHECK_ONE

/// One check's report and what it means.
struct kavCheckEntry {
    const char* expr;    ///< the expression text of the report
    const char* file;    ///< the file name of the report
    int line;            ///< the line number of the report
    const char* meaning; ///< what the report tells the user
};

/// The entry of `check`.
KAVLIB_API const kavCheckEntry& kavCheckOf(kavCheck check);

/// Writes the report of `check` (with `text` for its expression when given:
/// checks whose text names what was found) and aborts.
[[noreturn]] KAVLIB_API void kavCheckFail(kavCheck check, const char* text = nullptr);

/// Writes the assertion report for EXPR at FILE, line LINE, then aborts.
[[noreturn]] KAVLIB_API void kavAssertFail(const char* expr, const char* file, int line);

/// Checks COND; on failure stops with the report of kavCheck::NAME.
#define KAV_CHECK(cond, name) ((cond) ? static_cast<void>(0) : kavCheckFail(kavCheck::name))

#endif
