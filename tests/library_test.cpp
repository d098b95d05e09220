#include "testutil.h"

TEST_F(kavLibTest, LoadsWithTheMainPoolAlone)
{
    EXPECT_EQ(kavPool::npools(), 1u);
}
