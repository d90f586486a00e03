#include "frame_clock.h"

namespace ViveSystem {

// Through the clock's own sleeper: on Windows its timer is made once for the reader, not for every
// read. A second thread reading at the same moment (the legacy reads allow it) sleeps the plain way
// rather than share the timer.
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
