// The end of each benchmark program's main(): once the program has registered
// its cases, Google Benchmark reads the command line, runs them and reports.
#ifndef KAVLIB_BENCH_BENCHMAIN_H
#define KAVLIB_BENCH_BENCHMAIN_H

#include <benchmark/benchmark.h>

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
