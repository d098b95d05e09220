// kavlib: assertion reports.
#include <kavlib/kavassert.h>

#include <cstdio>
#include <cstdlib>

void kavAssertFail(const char* expr, const char* file, int line)
{
    // stderr is unbuffered; one fprintf keeps the report in one piece.
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expr, file, line);
    std::fflush(stderr);
    std::abort();
}
