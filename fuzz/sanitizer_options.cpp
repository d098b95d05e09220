// The sanitizer defaults of every fuzz target; ASAN_OPTIONS still overrides
// them.  A freed chunk waits in a quarantine of 4 MB instead of the default
// 256 MB before its memory is handed out again; string_fuzz's is 1 MB
// (KAVLIB_FUZZ_QUARANTINE_MB, set by fuzz/CMakeLists.txt).
//
// What that keeps: a use after free is found while the chunk is still among
// the last 4 MB (1 MB) freed.  That covers what a pool_fuzz input holds (at
// most about 1 MB of blocks at a time) and, for string_fuzz, the last dozen
// or so tables and main-pool blocks of 33 to 64 KB given back, which is the
// whole input for all but the inputs that start over most often, and the
// input before it for most.
// What it gives up: a stale pointer kept across many inputs and used once
// its chunk is handed out again is no longer caught; the targets keep no
// pointer into the library from one input to the next.
//
// What it gains: the chunks freed by one input are handed out again while
// they are still in the cache, so the string tables (a 33 KB chain array
// cleared at every reInit and temporary table) and the pools' blocks no
// longer clear cold memory, and each target stays well under 100 MB
// resident.  A quarantine of 16 MB cost string_fuzz a fifth more time per
// input than 4 MB; below 4 MB the other targets gain little.  string_fuzz's
// inputs start over (reInit, a new temporary table) several times each, each
// time with a 33 KB table and the blocks behind it, and at 1 MB it spends
// about a tenth less time per input than at 4 MB.
//
// AddressSanitizer's other costs per heap call were measured too and kept:
// filling the first 4 KB of each new chunk with 0xbe (reads of memory the
// pool never wrote then see a recognisable pattern) and the 30-frame stacks
// of each allocation and free (the reports name the library's caller) cost
// no measurable time once the quarantine is small.
#ifndef KAVLIB_FUZZ_QUARANTINE_MB
#define KAVLIB_FUZZ_QUARANTINE_MB 4
#endif
#define KAVLIB_FUZZ_TEXT(x) #x
#define KAVLIB_FUZZ_NUMBER(x) KAVLIB_FUZZ_TEXT(x)

extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=" KAVLIB_FUZZ_NUMBER(KAVLIB_FUZZ_QUARANTINE_MB);
}
