// The operating-system layer: clocks and the relative sleep.
#include <platform/platform.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

using namespace ViveSystem::platform;

TEST(Platform, SteadyClockIsMonotonic)
{
    int64_t s0 = steadyNanoseconds();
    for (int i = 0; i < 100000; ++i) {
        const int64_t s = steadyNanoseconds();
        ASSERT_GE(s, s0);
        s0 = s;
    }
}

TEST(Platform, SleepWakesCloseToItsTarget)
{
    const int64_t start = steadyNanoseconds();
    sleepMicros(0);
    sleepMicros(-5);
    EXPECT_LT(steadyNanoseconds() - start, 1'000'000'000) << "a sleep of zero does not block";

    // No sleep may end early; the median of several lands within a few milliseconds (a plain
    // timer-tick sleep on Windows would be up to 15.6 ms late).
    std::vector<int64_t> lateUs;
    for (int i = 0; i < 7; ++i) {
        const int64_t t0 = steadyNanoseconds();
        sleepMicros(3000);
        const int64_t took = (steadyNanoseconds() - t0) / 1000;
        ASSERT_GE(took, 3000 - 100) << "woke early";
        lateUs.push_back(took - 3000);
    }
    std::sort(lateUs.begin(), lateUs.end());
    EXPECT_LT(lateUs[lateUs.size() / 2], 8000) << "median lateness in us";
}
