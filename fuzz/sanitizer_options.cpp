// The sanitizer defaults of every fuzz target; ASAN_OPTIONS still overrides
// them.  A freed chunk waits in a quarantine of 4 MB instead of the default
// 256 MB before its memory is handed out again.
//
// What that keeps: a use after free is found while the chunk is still among
// the last 4 MB freed, which covers everything an input frees (a pool_fuzz
// input holds at most about 1 MB of blocks at a time, a string_fuzz input a
// few tables and pool blocks of 33 to 64 KB) and the inputs just before it.
// What it gives up: a stale pointer kept across many inputs and used once
// its chunk is handed out again is no longer caught; the targets keep no
// pointer into the library from one input to the next.
//
// What it gains: the chunks freed by one input are handed out again while
// they are still in the cache, so the string tables (a 33 KB chain array
// cleared at every reInit and temporary table) and the pools' blocks no
// longer clear cold memory, and each target stays well under 100 MB
// resident.  A quarantine of 16 MB cost string_fuzz a fifth more time per
// input, and smaller ones gained little more.
//
// AddressSanitizer's other costs per heap call were measured too and kept:
// filling the first 4 KB of each new chunk with 0xbe (reads of memory the
// pool never wrote then see a recognisable pattern) and the 30-frame stacks
// of each allocation and free (the reports name the library's caller) cost
// no measurable time once the quarantine is small.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=4";
}
