// The one pacer of both faces' reads: when to wake, and how the wait ends. The coarse part of a
// wait is slept to an absolute deadline on the monotonic clock; the rest is spun, or not at all:
// - the frame source waits for its grid's next instant, ending the wait as its spin setting says
//   (sleep only; a fixed spin; or a spin margin learnt from this machine's own oversleep);
// - the legacy face waits until one frame period after its previous wait ended, sleeping to 2 ms
//   before that and spinning the rest, so that it ends within microseconds of its target whatever
//   the sleep's accuracy.
//
// The clock is a parameter, so that the logic runs without real time:
//   int64_t steadyNs();                  monotonic nanoseconds
//   void sleepUntilNs(int64_t deadline); an absolute sleep on that clock
#pragma once

#include <atomic>
#include <cstdint>

namespace ViveSystem {

// The adaptive spin: the 90th percentile of the recent oversleeps plus a small pad, bounded; it
// grows at once, by half again, after a miss (a sleep that ended past the deadline itself: a
// systematic lateness shows in the percentile within a few reads, a thread preempted once should
// not make every later read spin long), and shrinks slowly, by 1/64 of the difference a read, while
// sleeps are punctual.
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

// How a wait ends: -1 adaptive (spinMargin), 0 sleep only, N > 0 spin exactly the last N
// microseconds.
constexpr int32_t kAdaptiveSpin = -1;
// The legacy face's spin.
constexpr int32_t kLegacySpinUs = 2000;

// Waits until `deadline` (the clock's ns), ending the wait as spinUs says (`margin` is needed for
// kAdaptiveSpin only); returns the clock then.
template <class Clock>
int64_t waitUntilDeadline(Clock& clock, int64_t deadline, int32_t spinUs, spinMargin* margin)
{
    int64_t now = clock.steadyNs();
    if (now < deadline) {
        const bool adaptive = spinUs < 0 && margin != nullptr;
        const int64_t spin = adaptive ? margin->marginNs() : static_cast<int64_t>(spinUs > 0 ? spinUs : 0) * 1000;
        const int64_t wakeAt = deadline - spin;
        if (now < wakeAt) {
            clock.sleepUntilNs(wakeAt);
            now = clock.steadyNs();
            if (adaptive)
                margin->note(now - wakeAt, now > deadline);
        }
        while (now < deadline) {
            if (spin == 0) // sleep only: a sleep that ended early (it may) sleeps again
                clock.sleepUntilNs(deadline);
            now = clock.steadyNs();
        }
    }
    return now;
}

// The legacy wait: until one period has passed since the previous wait ended (lastFrameNs), the
// last 2 ms spun, then lastFrameNs moved to the end of this wait. A read that comes later than that
// does not wait. lastFrameNs is atomic so that two reading threads are not undefined behaviour; a
// single reader paces exactly as described.
template <class Clock>
void waitForFrame(Clock& clock, double periodMs, std::atomic<int64_t>& lastFrameNs)
{
    const int64_t deadline = lastFrameNs.load(std::memory_order_relaxed) + static_cast<int64_t>(periodMs * 1e6);
    lastFrameNs.store(waitUntilDeadline(clock, deadline, kLegacySpinUs, nullptr), std::memory_order_relaxed);
}

} // namespace ViveSystem
