// The frame source's wait: sleep to an absolute deadline less a margin, then spin only that
// margin. The margin is learnt from this machine's own oversleep: the 90th percentile of the
// recent oversleeps plus a small pad, bounded; it grows at once, by half again, after a miss (a
// sleep that ended past the deadline itself: a systematic lateness shows in the percentile within
// a few reads, a thread preempted once should not make every later read spin long), and shrinks
// slowly, by 1/64 of the difference a read, while sleeps are punctual. So a reading thread
// spends a few hundred microseconds of CPU a read where the legacy wait spins two milliseconds,
// and keeps its precision where the system's sleeps are coarse.
//
// The clock is a parameter, as in pacing.h, so that the logic runs without real time:
//   int64_t steadyNs();                 monotonic nanoseconds
//   void sleepUntilNs(int64_t deadline); an absolute sleep on that clock
#pragma once

#include <atomic>
#include <cstdint>

namespace ViveSystem {

class spinMargin {
public:
    static constexpr int64_t kMinNs = 20000;      // never spin less than this
    static constexpr int64_t kMaxNs = 20000000;   // nor more (a coarse 15.6 ms tick fits)
    static constexpr int64_t kPadNs = 30000;      // above the percentile
    static constexpr int64_t kInitialNs = 500000; // before anything is learnt
    static constexpr int kHistory = 64;           // oversleeps remembered

    // How long before a deadline to stop sleeping and spin.
    int64_t marginNs() const { return margin; }
    // A sleep meant to end `wakeAt` ended `oversleepNs` later; `missed`: past the deadline itself.
    void note(int64_t oversleepNs, bool missed);

private:
    int64_t percentile() const;

    int64_t margin = kInitialNs;
    int64_t recent[kHistory] = {};
    int count = 0; // oversleeps noted, up to kHistory
    int next = 0;  // where the next one goes
};

// How the frame source's wait ends: -1 adaptive (spinMargin), 0 sleep only, N > 0 spin exactly the
// last N microseconds (2000 is the legacy wait's).
constexpr int32_t kAdaptiveSpin = -1;

// Waits until `deadline` (the clock's ns), ending the wait as spinUs says; returns the clock then.
template <class Clock>
int64_t waitUntilAdaptive(Clock& clock, int64_t deadline, int32_t spinUs, spinMargin& margin)
{
    int64_t now = clock.steadyNs();
    if (now < deadline) {
        const int64_t spin = spinUs < 0 ? margin.marginNs() : static_cast<int64_t>(spinUs) * 1000;
        const int64_t wakeAt = deadline - spin;
        if (now < wakeAt) {
            clock.sleepUntilNs(wakeAt);
            now = clock.steadyNs();
            if (spinUs < 0)
                margin.note(now - wakeAt, now > deadline);
        }
        while (now < deadline) {
            if (spin == 0) // sleep only: a sleep that ended early (it may) sleeps again
                clock.sleepUntilNs(deadline);
            now = clock.steadyNs();
        }
    }
    return now;
}

// Waits until one period has passed since the previous wait ended (lastFrameNs), then moves
// lastFrameNs to the end of this wait. periodMs above zero.
template <class Clock>
void waitForFrameAdaptive(Clock& clock, double periodMs, std::atomic<int64_t>& lastFrameNs, int32_t spinUs,
                          spinMargin& margin)
{
    const int64_t deadline = lastFrameNs.load(std::memory_order_relaxed) + static_cast<int64_t>(periodMs * 1e6);
    const int64_t now = waitUntilAdaptive(clock, deadline, spinUs, margin);
    lastFrameNs.store(now, std::memory_order_relaxed);
}

} // namespace ViveSystem
