// Fuzzes the whole library at once: the input chooses every step of the
// soak run (tests/soak/soak.h): pools, pooled and unpooled objects, the four
// containers and their iterators, strings in the global and a temporary
// table, named objects, temporary-table cycles and reset cycles, some of
// them while containers still hold elements.  Every step is checked against
// the soak run's models.
//
// Inputs share the global table: a run ends by giving back all it made and
// checks that the main pool then holds just the table, as when it began,
// instead of a reset whose new table (33 KB, and its index built on the
// first look-up) would cost more than the run's steps.  Reset cycles are
// still among the steps.  The hash container has 61 chains: its chains
// collide often, and a walk of it is short.
#include "soak/soak.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    {
        soak::Run<61> run([&](unsigned int n) { return in.ConsumeIntegralInRange(0u, n - 1); }, true);
        for (int steps = 0; in.remaining_bytes() > 0 && steps < 2000; ++steps)
            run.step();
    }
    soak::check(kavPool::npools() == 1, "pools left after the run", 0);
    return 0;
}
