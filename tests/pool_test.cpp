#include <kavlib/kavlib.h>
#include <gtest/gtest.h>
TEST(Smoke2, Loads) { EXPECT_EQ(kavPool::npools(), 1u); }
