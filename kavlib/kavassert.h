// kavlib: the library's always-on precondition check.
//
// A failed check writes "Assertion failed: EXPR, file FILE, line N" and a
// newline to stderr and aborts the program.  Unlike <cassert> it stays on
// under NDEBUG, and EXPR, FILE and N are the fixed values that each check of
// the library names (for example "_current", "kavlist", 107), so that reports
// are the same in every build and on every platform.
#ifndef KAVLIB_KAVASSERT_H
#define KAVLIB_KAVASSERT_H

#include <kavlib/export.h>

/// Writes the assertion report for EXPR at FILE, line LINE, then aborts.
[[noreturn]] KAVLIB_API void kavAssertFail(const char* expr, const char* file, int line);

/// Checks COND; on failure reports the expression text TEXT with FILE and LINE.
#define KAV_ASSERT(cond, text, file, line) \
    ((cond) ? static_cast<void>(0) : kavAssertFail(text, file, line))

#endif
