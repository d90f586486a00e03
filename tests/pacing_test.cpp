// The pacing arithmetic, driven by a fake clock: no real time passes.
#include <reading/adaptive_wait.h>
#include <reading/pacing.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using ViveSystem::waitForFrame;

namespace {

// Steady time in nanoseconds. Each counter reading takes 1 us of fake time, as a spin would; a
// sleep takes what was asked plus an optional overshoot.
struct FakeClock {
    int64_t ns = 0;
    int64_t overshootUs = 0;
    std::vector<int64_t> sleeps;
    std::vector<int64_t> counterReads;

    int64_t steadyNs() const { return ns; }
    uint64_t nowMicros() const { return static_cast<uint64_t>(1'700'000'000'000'000 + ns / 1000); }
    int64_t counterFrequency() const { return 1'000'000'000; }
    int64_t counter()
    {
        counterReads.push_back(ns);
        const int64_t now = ns;
        ns += 1000;
        return now;
    }
    void sleepMicros(int64_t us)
    {
        sleeps.push_back(us);
        if (us > 0)
            ns += (us + overshootUs) * 1000;
    }
    int64_t spunMicros() const
    {
        return counterReads.empty() ? 0 : (counterReads.back() - counterReads.front()) / 1000;
    }
};

} // namespace

TEST(Pacing, SleepsToWithinTwoMillisecondsThenSpins)
{
    FakeClock clock;
    clock.ns = 1'000'000; // 1000 us after the previous wait ended
    std::atomic<int64_t> last{0};
    waitForFrame(clock, 1000.0 / 120.0, last);
    // 7333.33 us remain: sleep 5333, then spin to the first whole microsecond not below 2000.33.
    ASSERT_EQ(clock.sleeps, std::vector<int64_t>{5333});
    EXPECT_EQ(clock.spunMicros(), 2001);
    EXPECT_EQ(last.load(), clock.ns);
    EXPECT_GE(last.load(), 8'333'333);
}

TEST(Pacing, BoundariesAtTwoMillisecondsRemaining)
{
    {
        FakeClock clock;
        clock.ns = 8'000'000; // period 10 ms: exactly 2000.0 us remain
        std::atomic<int64_t> last{0};
        waitForFrame(clock, 10.0, last);
        EXPECT_TRUE(clock.sleeps.empty());
        EXPECT_EQ(clock.spunMicros(), 2000);
    }
    {
        FakeClock clock;
        clock.ns = 7'999'500; // 2000.5 us remain: a sleep of zero, then the spin
        std::atomic<int64_t> last{0};
        waitForFrame(clock, 10.0, last);
        ASSERT_EQ(clock.sleeps, std::vector<int64_t>{0});
        EXPECT_EQ(clock.spunMicros(), 2001);
    }
}

TEST(Pacing, ALateReadDoesNotWaitAndRestartsThePeriod)
{
    FakeClock clock;
    clock.ns = 20'000'000;
    std::atomic<int64_t> last{0};
    waitForFrame(clock, 1000.0 / 120.0, last);
    EXPECT_TRUE(clock.sleeps.empty());
    EXPECT_TRUE(clock.counterReads.empty());
    EXPECT_EQ(last.load(), 20'000'000);
}

TEST(Pacing, AnOvershootingSleepLeavesNothingToSpin)
{
    FakeClock clock;
    clock.overshootUs = 3000;
    std::atomic<int64_t> last{0};
    waitForFrame(clock, 1000.0 / 120.0, last);
    ASSERT_EQ(clock.sleeps.size(), 1u);
    EXPECT_TRUE(clock.counterReads.empty());
}

TEST(Pacing, OneMillisecondPeriodOnlySpins)
{
    FakeClock clock;
    std::atomic<int64_t> last{0};
    for (int i = 0; i < 5; ++i) {
        clock.counterReads.clear();
        waitForFrame(clock, 1.0, last);
        EXPECT_TRUE(clock.sleeps.empty());
        EXPECT_GE(clock.spunMicros(), 998);
        EXPECT_LE(clock.spunMicros(), 1000);
    }
    // Successive waits end at least one period apart.
    EXPECT_GE(last.load(), 5 * 1'000'000 - 5'000);
}

TEST(Pacing, CountsToMicrosIsExactForLongSpans)
{
    using ViveSystem::countsToMicros;
    EXPECT_EQ(countsToMicros(1'999, 1'000'000'000), 1);
    EXPECT_EQ(countsToMicros(10'000'000, 10'000'000), 1'000'000);
    // A hundred years of a 10 MHz counter: the plain product would overflow 64 bits.
    const int64_t f = 10'000'000;
    const int64_t counts = f * 3600 * 24 * 36525 + 12345;
    EXPECT_EQ(countsToMicros(counts, f), int64_t(3600) * 24 * 36525 * 1'000'000 + 1234);
}

// ---- the frame source's adaptive wait ------------------------------------------------------------

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
    using ViveSystem::waitForFrameAdaptive;
    const int64_t period = 8'333'333;
    {
        AbsoluteClock clock;
        clock.late = 120'000;
        spinMargin m;
        std::atomic<int64_t> last{0};
        waitForFrameAdaptive(clock, 1000.0 / 120.0, last, -1, m);
        EXPECT_EQ(clock.sleptUntil, period - spinMargin::kInitialNs);
        EXPECT_GE(last.load(), period);
        EXPECT_LT(last.load(), period + 2'000) << "the spin ends at the deadline";
        EXPECT_LT(m.marginNs(), spinMargin::kInitialNs) << "a punctual sleep shrinks the margin";
        EXPECT_GT(m.marginNs(), spinMargin::kInitialNs * 9 / 10) << "slowly";
    }
    {
        AbsoluteClock clock; // sleep only: no spin, the system's lateness goes into the read
        clock.late = 150'000;
        spinMargin m;
        std::atomic<int64_t> last{0};
        waitForFrameAdaptive(clock, 1000.0 / 120.0, last, 0, m);
        EXPECT_EQ(clock.sleptUntil, period);
        EXPECT_LE(clock.readings, 3);
    }
    {
        AbsoluteClock clock; // an exact spin of 2000 us
        spinMargin m;
        std::atomic<int64_t> last{0};
        waitForFrameAdaptive(clock, 1000.0 / 120.0, last, 2000, m);
        EXPECT_EQ(clock.sleptUntil, period - 2'000'000);
        EXPECT_GE(clock.readings, 1990);
    }
}
