// kavlib internal: zeroed pages from the system, outside the global heap.
//
// The indexes that speed up a pool's or a table's lookups live here rather
// than on the global heap, where they would move the addresses of the pool's
// later blocks (and so what first fit hands out) and add heap calls of their
// own.  Pages given back are kept for the next taker up to a limit.  Not
// thread safe, like the pools themselves.
#ifndef KAVLIB_INTERNAL_SYSPAGES_H
#define KAVLIB_INTERNAL_SYSPAGES_H

#include <cstddef>

namespace kavpages {

/// Zeroed pages of at least `bytes` (a spare mapping of up to four times
/// that, else a new one); `bytes` becomes their size.  Null when the system
/// has none.
void* take(std::size_t& bytes);
/// Gives back pages that take() handed out, with the size it reported.
void give(void* p, std::size_t bytes);

} // namespace kavpages

#endif
