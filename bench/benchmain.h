// The end of each benchmark program's main(): once the program has registered
// its cases, Google Benchmark reads the command line, runs them and reports.
#ifndef KAVLIB_BENCH_BENCHMAIN_H
#define KAVLIB_BENCH_BENCHMAIN_H

#include <benchmark/benchmark.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

/// Keeps freed memory in glibc's heap for the whole run.  glibc gives the
/// top of its heap back to the system once more than 128 KiB there are
/// free, and the pages are faulted in again when they are used next.
/// Whether a case pays for that depends on where the cases before it left
/// their memory: a pool released between two replays gave its whole peak
/// back in some runs and none of it in others (2 to 5 times its time on
/// the hash and json traces), and batches of 8000-byte pieces from malloc
/// took 30 ns a pair in one run and 20 us in another, the top of the heap
/// going back and forth at every batch.  Keeping the memory in the heap
/// makes every case start as the one before left it, for kavPool and for
/// malloc alike; mimalloc keeps its own memory anyway.
inline void keepHeapMemory()
{
#if defined(__GLIBC__)
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
}

/// Runs the registered benchmarks as the command line asks; 1 for an
/// argument Google Benchmark does not know, else 0.
inline int runBenchmarks(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#endif
