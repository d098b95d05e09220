// kavlib: the library's services in one class.
//
// kavLib is a static-only class: the flags, the indentation buffer and the
// section timers (from kavServices, which the rest of the library uses) and
// the start-up and reset of the library's global state, which sit above the
// string tables and the pools.  One thread at a time.
#ifndef KAVLIB_LIBRARY_H
#define KAVLIB_LIBRARY_H

#include <kavlib/export.h>
#include <kavlib/services.h>

class kavPool;

/// The library's services: static members only, no instance state.
class KAVLIB_API kavLib : public kavServices {
public:
    /// Establishes the global string table in the main pool if there is none;
    /// clears every flag when `clear` is true.
    static void init(bool clear);
    /// Forgets both string tables, releases all pools, establishes a new
    /// global table in the main pool; clears every flag when `clear` is true.
    static void reInit(bool clear);
    /// Forgets both string tables and releases all pools.
    static void reset();
    /// Establishes the temporary string table in `pool`, or in a new pool
    /// when `pool` is null (the new pool is made even if a table exists).
    static void tempInit(kavPool* pool);
    /// Empties the temporary table's pool and forgets the table.
    static void tempReset();

    /// Assignment exists and changes nothing: kavLib has no instance state.
    kavLib& operator=(const kavLib&) { return *this; }
};

#endif
