#include "kit/async/Task.h"
#include <gtest/gtest.h>
TEST(Smoke, Builds) { EXPECT_TRUE(true); }
