// A test program that ends with code 0 in the middle of its tests, the way a program can
// when it dies in a crash handler that fails too. Its test run must count as failed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

TEST(EndsEarly, FirstTestPasses) {
    SUCCEED();
}

TEST(EndsEarly, SecondTestEndsTheProgramWithCodeZero) {
    std::fflush(nullptr);
    std::_Exit(0);
}

TEST(EndsEarly, ThirdTestNeverRuns) {
    SUCCEED();
}
