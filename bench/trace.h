// Heap traces of real programs, as bench/data/capture.sh writes them: the
// loader shared by the replay benchmark and the tests.  Header only, with no
// dependency beyond the standard library (and the `xz` program for
// compressed files).
//
// A trace is text, one operation a line; allocations are numbered 0, 1, 2,
// ... in their order ("pieces"):
//
//     a SIZE    allocate SIZE bytes: the next piece
//     f K       free piece K (allocated earlier and not yet freed)
//
// Lines starting with '#' are comments.  Every piece is freed exactly once,
// so a replay ends with nothing live.
#ifndef KAVLIB_BENCH_TRACE_H
#define KAVLIB_BENCH_TRACE_H

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

/// One operation of a trace.  A free names the size again, as kavPool::free
/// requires.
struct TraceOp {
    unsigned int piece; ///< the piece allocated or freed (0, 1, 2, ...)
    unsigned int size;  ///< its size in bytes as requested (may be 0)
    bool isFree;        ///< false: allocate the piece; true: free it
};

/// A whole trace and the figures a replay is judged by.
struct HeapTrace {
    std::string name;               ///< the file's name without directory and suffixes
    std::vector<TraceOp> ops;       ///< the operations in order
    unsigned int pieces = 0;        ///< allocations (each freed once)
    unsigned long long peakLive = 0;        ///< most bytes live at once, as requested
    unsigned long long peakLiveRounded = 0; ///< the same with every size rounded up to 8
};

namespace traceDetail {

inline bool fail(std::string* error, const std::string& what)
{
    if (error != nullptr)
        *error = what;
    return false;
}

// Parses the decimal number at `p`; advances `p` past it.  False when there
// is none or it does not fit in 32 bits.
inline bool number(const char*& p, unsigned int& out)
{
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p < '0' || *p > '9')
        return false;
    unsigned long long v = 0;
    while (*p >= '0' && *p <= '9') {
        v = v * 10 + static_cast<unsigned long long>(*p++ - '0');
        if (v > 0xFFFFFFFFull)
            return false;
    }
    out = static_cast<unsigned int>(v);
    return true;
}

// Reads one line (without its newline) into `line`; false at the end.
inline bool readLine(std::FILE* in, std::string& line)
{
    line.clear();
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, in) != nullptr) {
        line += chunk;
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            return true;
        }
    }
    return !line.empty();
}

inline bool endsWith(const std::string& s, const std::string& suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace traceDetail

/// Reads the trace at `path` (plain, or compressed when the name ends in
/// ".xz", through `xz -dc`) into `out`.  False, with the reason in `*error`
/// when given, for a file that cannot be read or is not a valid trace (a
/// free of a piece not live, a piece left live at the end).
inline bool loadTrace(const std::string& path, HeapTrace& out, std::string* error = nullptr)
{
    using traceDetail::fail;
    out = HeapTrace();
    const std::string::size_type slash = path.find_last_of('/');
    out.name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    out.name = out.name.substr(0, out.name.find('.'));

    const bool compressed = traceDetail::endsWith(path, ".xz");
    std::FILE* in = nullptr;
    if (compressed) {
        if (path.find('\'') != std::string::npos)
            return fail(error, "a quote in the path: " + path);
        in = popen(("xz -dc -- '" + path + "'").c_str(), "r");
    } else {
        in = std::fopen(path.c_str(), "r");
    }
    if (in == nullptr)
        return fail(error, "cannot open " + path);

    std::vector<unsigned int> sizes; // per piece
    std::vector<bool> live;          // per piece
    unsigned long long liveBytes = 0, liveRounded = 0;
    std::string bad;
    unsigned long lineNo = 0;
    std::string line;
    while (bad.empty() && traceDetail::readLine(in, line)) {
        ++lineNo;
        const char* p = line.c_str();
        unsigned int n = 0;
        if (*p == '#' || *p == '\0')
            continue;
        const char kind = *p++;
        if ((kind != 'a' && kind != 'f') || !traceDetail::number(p, n) || *p != '\0') {
            bad = "line " + std::to_string(lineNo) + ": not an operation";
        } else if (kind == 'a') {
            out.ops.push_back(TraceOp{static_cast<unsigned int>(sizes.size()), n, false});
            sizes.push_back(n);
            live.push_back(true);
            liveBytes += n;
            liveRounded += (n + 7ull) & ~7ull;
            if (liveBytes > out.peakLive)
                out.peakLive = liveBytes;
            if (liveRounded > out.peakLiveRounded)
                out.peakLiveRounded = liveRounded;
        } else if (n >= sizes.size() || !live[n]) {
            bad = "line " + std::to_string(lineNo) + ": free of a piece that is not live";
        } else {
            out.ops.push_back(TraceOp{n, sizes[n], true});
            live[n] = false;
            liveBytes -= sizes[n];
            liveRounded -= (sizes[n] + 7ull) & ~7ull;
        }
    }
    const bool readError = std::ferror(in) != 0;
    const int closed = compressed ? pclose(in) : std::fclose(in);
    if (!bad.empty())
        return fail(error, path + ": " + bad);
    if (readError || closed != 0)
        return fail(error, "cannot read " + path);
    if (liveBytes != 0 || liveRounded != 0)
        return fail(error, path + ": pieces left live at the end");
    for (bool l : live)
        if (l)
            return fail(error, path + ": pieces left live at the end");
    out.pieces = static_cast<unsigned int>(sizes.size());
    return true;
}

#endif
