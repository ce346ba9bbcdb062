#include <gtest/gtest.h>
#include <windows.h>
int tavelinPlaceholder();
TEST(Smoke, RunsUnderWine) { EXPECT_EQ(1, tavelinPlaceholder()); EXPECT_NE(0u, GetCurrentProcessId()); }
