// kavlib: assertion reports.
#include <kavlib/kavassert.h>

#include <cstdio>
#include <cstdlib>

namespace {

const kavCheckEntry entries[] = {
#define KAVLIB_CHECK_ENTRY(name, expr, file, line, meaning) {expr, file, line, meaning},
    KAVLIB_CHECKS(KAVLIB_CHECK_ENTRY)
#undef KAVLIB_CHECK_ENTRY
};

} // namespace

const kavCheckEntry& kavCheckOf(kavCheck check)
{
    return entries[static_cast<int>(check)];
}

void kavCheckFail(kavCheck check, const char* text)
{
    const kavCheckEntry& e = kavCheckOf(check);
    kavAssertFail(text != nullptr ? text : e.expr, e.file, e.line);
}

void kavAssertFail(const char* expr, const char* file, int line)
{
    // stderr is unbuffered; one fprintf keeps the report in one piece.
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expr, file, line);
    std::fflush(stderr);
    std::abort();
}
