#include <kavlib/kavlib.h>
#include <gtest/gtest.h>
TEST(Smoke, Loads) { EXPECT_EQ(kavPool::npools(), 1u); }
