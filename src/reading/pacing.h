// Frame pacing: a read returns no sooner than one frame period after the previous read's wait
// ended. The coarse part of the wait is slept; the last 2000 us are spun on the high-resolution
// counter, so the wait ends within microseconds of its target whatever the sleep's accuracy.
//
// The clock is a parameter so that the arithmetic can be driven by a fake clock:
//   int64_t steadyNs();            monotonic nanoseconds
//   uint64_t nowMicros();          microseconds on the high-resolution counter
//   int64_t counter(); int64_t counterFrequency();
//   void sleepMicros(int64_t);
#pragma once

#include <atomic>
#include <cstdint>

namespace ViveSystem {

constexpr double kSpinMicros = 2000.0;

// Counter counts to whole microseconds, truncated, without 64-bit overflow for any span.
inline int64_t countsToMicros(int64_t counts, int64_t frequency)
{
    return (counts / frequency) * 1000000 + (counts % frequency) * 1000000 / frequency;
}

// Waits out what is left of the period that began at lastFrameNs, then moves lastFrameNs to the
// end of this wait. lastFrameNs is atomic so that two reading threads are not undefined
// behaviour; a single reader paces exactly as described.
template <class Clock>
void waitForFrame(Clock& clock, double periodMs, std::atomic<int64_t>& lastFrameNs)
{
    const int64_t start = clock.steadyNs();
    const double elapsed = static_cast<double>(start - lastFrameNs.load(std::memory_order_relaxed)) / 1000.0;
    double remaining = periodMs * 1000.0 - elapsed;
    if (remaining > kSpinMicros) {
        const double before = static_cast<double>(clock.nowMicros());
        clock.sleepMicros(static_cast<int64_t>(remaining) - static_cast<int64_t>(kSpinMicros));
        const double after = static_cast<double>(clock.nowMicros());
        remaining -= after - before; // an overshooting sleep leaves nothing to spin
    }
    if (remaining > 0.0) {
        const int64_t frequency = clock.counterFrequency();
        const int64_t t0 = clock.counter();
        while (static_cast<double>(countsToMicros(clock.counter() - t0, frequency)) < remaining) {
        }
    }
    lastFrameNs.store(clock.steadyNs(), std::memory_order_relaxed);
}

} // namespace ViveSystem
