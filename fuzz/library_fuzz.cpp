// Fuzzes the whole library at once: the input chooses every step of the
// soak run (tests/soak/soak.h): pools, pooled and unpooled objects, the four
// containers and their iterators, strings in the global and a temporary
// table, named objects, temporary-table cycles and reset cycles, some of
// them while containers still hold elements.  Every step is checked against
// the soak run's models; the run ends with a reset that must leave the main
// pool alone and empty.
#include "soak/soak.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    {
        soak::Run run([&](unsigned int n) { return in.ConsumeIntegralInRange(0u, n - 1); });
        for (int steps = 0; in.remaining_bytes() > 0 && steps < 2000; ++steps)
            run.step();
    }
    soak::check(kavPool::npools() == 1 && kavPool::apools() == 0, "pools left after the run", 0);
    return 0;
}
