// The pacing arithmetic, driven by a fake clock: no real time passes.
#include <reading/pacer.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <vector>

namespace {

// Monotonic nanoseconds; an absolute sleep ends `late` after its deadline; each clock reading of the
// spin takes 1 us.
struct AbsoluteClock {
    int64_t ns = 0;
    int64_t late = 0;
    int64_t sleptUntil = -1;
    int64_t readings = 0;
    int64_t steadyNs()
    {
        ++readings;
        return ns += 1000;
    }
    void sleepUntilNs(int64_t deadline)
    {
        sleptUntil = deadline;
        ns = std::max(ns, deadline + late);
    }
};

} // namespace

TEST(AdaptiveWait, AMissGrowsTheMarginAtOnceQuietSleepsShrinkItSlowlyWithinBounds)
{
    using ViveSystem::spinMargin;
    spinMargin m;
    for (int i = 0; i < 2000; ++i)
        m.note(100'000, false); // 100 us late, steadily
    const int64_t settled = m.marginNs();
    EXPECT_NEAR(settled, 100'000 + spinMargin::kPadNs, 100);
    m.note(2'000'000, true); // a sleep 2 ms late: past the deadline
    EXPECT_EQ(m.marginNs(), settled + settled / 2) << "grown at once, by half again";
    const int64_t grown = m.marginNs();
    m.note(100'000, false);
    EXPECT_GT(m.marginNs(), grown - 2'000) << "not shrunk at once";
    int quiet = 0;
    while (m.marginNs() > settled + 1'000 && quiet < 10'000) {
        m.note(100'000, false);
        ++quiet;
    }
    EXPECT_GT(quiet, 50) << "shrunk slowly";
    EXPECT_LT(quiet, 10'000) << "but shrunk";
    for (int i = 0; i < 100; ++i)
        m.note(0, false);
    EXPECT_GE(m.marginNs(), spinMargin::kMinNs);
    for (int i = 0; i < 100; ++i)
        m.note(int64_t{1} << 40, true);
    EXPECT_EQ(m.marginNs(), spinMargin::kMaxNs);
}

TEST(AdaptiveWait, SleepsToTheDeadlineLessTheMarginThenSpins)
{
    using ViveSystem::spinMargin;
    using ViveSystem::waitUntilDeadline;
    const int64_t period = 8'333'333;
    {
        AbsoluteClock clock;
        clock.late = 120'000;
        spinMargin m;
        const int64_t last = waitUntilDeadline(clock, period, -1, &m);
        EXPECT_EQ(clock.sleptUntil, period - spinMargin::kInitialNs);
        EXPECT_GE(last, period);
        EXPECT_LT(last, period + 2'000) << "the spin ends at the deadline";
        EXPECT_LT(m.marginNs(), spinMargin::kInitialNs) << "a punctual sleep shrinks the margin";
        EXPECT_GT(m.marginNs(), spinMargin::kInitialNs * 9 / 10) << "slowly";
    }
    {
        AbsoluteClock clock; // sleep only: no spin, the system's lateness goes into the read
        clock.late = 150'000;
        spinMargin m;
        waitUntilDeadline(clock, period, 0, &m);
        EXPECT_EQ(clock.sleptUntil, period);
        EXPECT_LE(clock.readings, 3);
    }
}

// The legacy wait: a period after the previous wait ended, slept to 2 ms before it and spun the
// rest; a read later than that does not wait; a 1 ms period only spins.
TEST(Pacing, TheLegacyWaitSleepsToTwoMillisecondsBeforeThenSpins)
{
    using ViveSystem::waitForFrame;
    AbsoluteClock clock;
    clock.ns = 1'000'000;
    std::atomic<int64_t> last{0};
    waitForFrame(clock, 1000.0 / 120.0, last);
    EXPECT_EQ(clock.sleptUntil, 8'333'333 - 2'000'000);
    EXPECT_GE(clock.readings, 1990) << "the last 2 ms spun";
    EXPECT_GE(last.load(), 8'333'333);
    EXPECT_LT(last.load(), 8'333'333 + 2'000);

    clock.ns = last.load() + 20'000'000;
    clock.sleptUntil = -1;
    clock.readings = 0;
    waitForFrame(clock, 1000.0 / 120.0, last);
    EXPECT_EQ(clock.sleptUntil, -1) << "late: no wait";
    EXPECT_LE(clock.readings, 2);
    EXPECT_EQ(last.load(), clock.ns) << "the period restarts from this read";

    const int64_t before = last.load();
    waitForFrame(clock, 1.0, last);
    EXPECT_EQ(clock.sleptUntil, -1) << "a 1 ms period only spins";
    EXPECT_GE(last.load(), before + 1'000'000);
}
