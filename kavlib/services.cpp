// kavlib: the library flags, the indentation buffer and the section timers.
#include <kavlib/services.h>

#include <cstdio>
#include <ostream>
#include <type_traits>

bool kavServices::_f[kavServices::nflags];
char kavServices::_buffer[kavServices::bufferSize];
kavTime kavServices::_time;

void kavServices::clrAll()
{
    for (int i = 0; i < nflags; ++i)
        _f[i] = false;
}

char* kavServices::space(int n)
{
    if (n == 0) {
        _buffer[0] = '\0';
    } else {
        // "%*s" right-aligns one blank in a field of n (left-aligns for a
        // negative n): |n| blanks either way.  The bound keeps an indentation
        // past the buffer's 127 blanks from writing beyond it.
        std::snprintf(_buffer, sizeof _buffer, "%*s", n, " ");
    }
    return _buffer;
}

// ---- section timers ------------------------------------------------------

kavTime kavServices::startTimer()
{
    _time.startTime = std::time(nullptr);
    _time.sectionTime = std::time(nullptr);
    _time.lastTime = std::time(nullptr);
    _time.lastClock = _time.sectionClock = _time.startClock = std::clock();
    return _time;
}

kavTime kavServices::updateTimer()
{
    _time.sectionTime = _time.lastTime;
    _time.lastTime = std::time(nullptr);
    _time.sectionClock = _time.lastClock;
    _time.lastClock = std::clock();
    return _time;
}

namespace {

// Seconds of processor time between two clock readings.  Where clock_t is
// 32 bits (32-bit Linux, Windows) the readings wrap; the difference is taken
// modulo the width of clock_t, so it stays right across one wrap and never
// overflows.
double elapsed(std::clock_t from, std::clock_t to)
{
    using ticks = std::make_unsigned_t<std::clock_t>;
    const auto diff = static_cast<std::clock_t>(static_cast<ticks>(to) - static_cast<ticks>(from));
    return static_cast<double>(diff) / CLOCKS_PER_SEC;
}

// Writes one "    <label> hh:mm:ss" line of a section report.
void writeClockLine(std::ostream& os, const char* format, std::time_t t)
{
    char buf[100];
    const std::tm* tm = std::localtime(&t);
    if (tm == nullptr) // a calendar time the C library cannot convert
        std::snprintf(buf, sizeof buf, format, 0, 0, 0);
    else
        std::snprintf(buf, sizeof buf, format, tm->tm_hour, tm->tm_min, tm->tm_sec);
    os << buf;
}

// ctime's text for t ("\n" alone when the C library cannot convert t).
const char* dateLine(const std::time_t& t)
{
    const char* text = std::ctime(&t);
    return text != nullptr ? text : "\n";
}

} // namespace

std::ostream& kavServices::sectionTimer(std::ostream& os, const char* label)
{
    updateTimer();
    if (*label != '\0')
        os << label << std::endl;
    writeClockLine(os, "    Start section time   %2d:%02d:%02d\n", _time.sectionTime);
    writeClockLine(os, "    End section time     %2d:%02d:%02d\n", _time.lastTime);
    char buf[100];
    std::snprintf(buf, sizeof buf, "    Elapsed section time %fs\n",
                  elapsed(_time.sectionClock, _time.lastClock));
    os << buf;
    return os;
}

std::ostream& kavServices::stopTimer(std::ostream& os)
{
    updateTimer();
    os << "Starting time " << dateLine(_time.startTime);
    os << "Ending time   " << dateLine(_time.lastTime);
    os << "Elapsed time  " << elapsed(_time.startClock, _time.lastClock) << "s\n";
    return os;
}
