// The object the benchmarks make: a kavObject with one word of payload, 32
// bytes in all on a 64-bit target (virtual table pointer, pool, use count and
// the payload).
#ifndef KAVLIB_BENCH_BENCHOBJ_H
#define KAVLIB_BENCH_BENCHOBJ_H

#include <kavlib/object.h>

class benchObject32 : public kavObject {
public:
    long long _payload = 0;
};

static_assert(sizeof(void*) != 8 || sizeof(benchObject32) == 32, "the benchmark object should be 32 bytes");

#endif
