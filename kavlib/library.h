// kavlib: library-wide services.
//
// kavLib is a static-only class.  It holds the 200 library flags that switch
// the detail of every dump and report, the indentation buffer that dumps
// write their leading blanks from, the section timer, and the start-up and
// reset of the library's global state (string tables and pools).
//
// Flags read by the library itself:
//   0  object dumps show "P[pool]"; pool reports list blocks and recycle lists
//   1  object dumps show "@[address]"
//   3  object dumps show "RC[use count]"
//   4  strings, string elements and named objects show their object line
//   5  hash containers show "CT[count] CL[collisions]"
//   6  containers show "CT[count]"
// Flags 2 and 7 to 199 are never read by the library; they are the
// application's.
//
// Everything here is plain static data: one thread at a time.
#ifndef KAVLIB_LIBRARY_H
#define KAVLIB_LIBRARY_H

#include <kavlib/export.h>

#include <ctime>
#include <iosfwd>

class kavPool;

/// The timer record: when the run started, when the current section began
/// and the latest update, each as calendar time and processor clock.
struct KAVLIB_API kavTime {
    std::time_t startTime;    ///< calendar time of startTimer
    std::clock_t startClock;  ///< clock reading of startTimer
    std::time_t sectionTime;  ///< calendar time the current section began
    std::clock_t sectionClock;///< clock reading the current section began
    std::time_t lastTime;     ///< calendar time of the latest update
    std::clock_t lastClock;   ///< clock reading of the latest update
};

/// The library's services: static members only, no instance state.
class KAVLIB_API kavLib {
public:
    /// Number of library flags.
    static constexpr int nflags = 200;
    /// Size of the indentation buffer: at most 127 blanks and the terminator.
    static constexpr int bufferSize = 128;

    // ---- flags -----------------------------------------------------------
    /// Flag n (0 to 199; not range checked).
    static bool get(int n) { return _f[n]; }
    /// Sets flag n.
    static void set(int n) { _f[n] = true; }
    /// Clears flag n.
    static void clr(int n) { _f[n] = false; }
    /// Clears flags 0 to 199.
    static void clrAll();

    /// Fills the shared indentation buffer with |n| blanks (n up to 127) and
    /// returns it; the next call overwrites it.
    static char* space(int n);

    // ---- section timers --------------------------------------------------
    /// Starts the run and its first section; returns the record.
    static kavTime startTimer();
    /// Ends the current section and reports it under `label` (none if empty).
    static std::ostream& sectionTimer(std::ostream& os, const char* label);
    /// Ends the current section and reports the whole run since startTimer.
    static std::ostream& stopTimer(std::ostream& os);

    // ---- start-up and reset ----------------------------------------------
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

private:
    static bool _f[nflags];          ///< the library flags, all false at load
    static char _buffer[bufferSize]; ///< the indentation buffer, empty at load

    /// Ends a section: the previous update becomes the section start and the
    /// latest fields are read anew.  Returns the record.
    static kavTime updateTimer();

    static kavTime _time;            ///< the timer record, all zero at load
    friend class kavLibTestAccess;
};

#endif
