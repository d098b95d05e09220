// kavlib: the library flags, the indentation buffer and the section timers.
//
// These are the services every dump and report needs, so they sit at the
// bottom of the library: they depend on nothing else in it.  Applications
// reach them as kavLib's static members (kavLib::get, kavLib::space,
// kavLib::startTimer); kavLib adds start-up and reset on top.
// Plain static data: one thread at a time.
#ifndef KAVLIB_SERVICES_H
#define KAVLIB_SERVICES_H

#include <kavlib/export.h>

#include <ctime>
#include <iosfwd>

/// The flags the library itself reads.  Any int from 0 to 199 is a flag;
/// all others (2 and 7 to 199) are the application's.
enum kavFlag : int {
    kavFlagPool = 0,       ///< dumps show "P[pool]"; pool reports list blocks and recycle lists
    kavFlagAddress = 1,    ///< dumps show "@[address]"
    kavFlagUseCount = 3,   ///< dumps show "RC[use count]"
    kavFlagObjectLine = 4, ///< strings, string elements and named objects show their object line
    kavFlagHashCounts = 5, ///< hash containers show "CT[count] CL[collisions]"
    kavFlagCount = 6       ///< containers show "CT[count]"
};

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

/// Flags, indentation and timers: static members only (used as kavLib's).
class KAVLIB_API kavServices {
public:
    /// Number of library flags.
    static constexpr int nflags = 200;
    /// Size of the indentation buffer: at most 127 blanks and the terminator.
    static constexpr int bufferSize = 128;

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

    /// Starts the run and its first section; returns the record.
    static kavTime startTimer();
    /// Ends the current section and reports it under `label` (none if empty).
    static std::ostream& sectionTimer(std::ostream& os, const char* label);
    /// Ends the current section and reports the whole run since startTimer.
    static std::ostream& stopTimer(std::ostream& os);

private:
    /// Ends a section: the previous update becomes the section start.
    static kavTime updateTimer();

    static bool _f[nflags];          ///< the library flags, all false at load
    static char _buffer[bufferSize]; ///< the indentation buffer, empty at load
    static kavTime _time;            ///< the timer record, all zero at load
};

#endif
