// The sanitizer defaults of every fuzz target; ASAN_OPTIONS still overrides
// them.  A freed chunk waits in a quarantine of 16 MB instead of the default
// 256 MB before its memory is handed out again.  Use after free is still
// found across many inputs (an input frees far less than that), while the
// process stops touching fresh pages for every pool block and table that an
// input takes, which was most of an input's time, and its resident size
// stays well under 100 MB instead of growing past 400 MB.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=16";
}
