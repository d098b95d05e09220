// A short soak run in the unit suite: scripts/soak runs the same mix for as
// long as asked.
#include "soak/soak.h"
#include "testutil.h"

TEST_F(kavLibTest, SoakShortRun)
{
    for (unsigned int seed : {1u, 2u, 3u}) {
        soak::Run run(seed);
        for (int i = 0; i < 20000; ++i)
            run.step();
    }
    EXPECT_EQ(std::make_pair(kavPool::npools(), kavPool::apools()), std::make_pair(1u, 0u)); // pools, their bytes
}
