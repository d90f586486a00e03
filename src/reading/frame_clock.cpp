#include "frame_clock.h"

#include "pacing.h"

#include "../platform/platform.h"

#include <ctime>

namespace ViveSystem {

frameClock::frameClock()
    : startEpochMicros(static_cast<int64_t>(std::time(nullptr)) * 1000000 +
                       static_cast<int64_t>(platform::localMilliseconds()) * 1000),
      qpcFrequency(platform::counterFrequency()), qpcStart(platform::counterNow())
{
}

int64_t frameClock::steadyNs() const
{
    return platform::steadyNanoseconds();
}

uint64_t frameClock::nowMicros() const
{
    return static_cast<uint64_t>(startEpochMicros + countsToMicros(platform::counterNow() - qpcStart, qpcFrequency));
}

int64_t frameClock::counter() const
{
    return platform::counterNow();
}

int64_t frameClock::counterFrequency() const
{
    return platform::counterFrequency();
}

// Through the clock's own sleeper: on Windows its timer is made once for the reader, not for
// every read. A second thread reading at the same moment (the legacy reads allow it) sleeps the
// plain way rather than share the timer.
void frameClock::sleepMicros(int64_t us)
{
    if (us > 0)
        sleepUntilNs(platform::steadyNanoseconds() + us * 1000);
}

void frameClock::sleepUntilNs(int64_t deadlineNs)
{
    std::unique_lock<std::mutex> lock(sleeperMutex, std::try_to_lock);
    if (lock.owns_lock()) {
        sleeper.sleepUntil(deadlineNs);
        return;
    }
    const int64_t left = deadlineNs - platform::steadyNanoseconds();
    if (left > 0)
        platform::sleepMicros((left + 999) / 1000);
}

} // namespace ViveSystem
