// The clock the pacing wait runs on (see pacing.h): the monotonic clock, and microseconds on the
// high-resolution counter from the construction-time wall clock (to the millisecond) on.
#pragma once

#include "../platform/platform.h"

#include <cstdint>
#include <mutex>

namespace ViveSystem {

class frameClock {
public:
    frameClock();
    int64_t steadyNs() const;
    uint64_t nowMicros() const;
    int64_t counter() const;
    int64_t counterFrequency() const;
    void sleepMicros(int64_t us);
    // Keeps the system's timer of the thread that reads (see platform::preciseSleeper).
    void sleepUntilNs(int64_t deadlineNs);

private:
    platform::preciseSleeper sleeper;
    std::mutex sleeperMutex; // the sleeper serves one thread at a time
    int64_t startEpochMicros = 0;
    int64_t qpcFrequency = 1;
    int64_t qpcStart = 0;
};

} // namespace ViveSystem
