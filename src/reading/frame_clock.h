// The clock a reader's pacer runs on (see pacer.h): the monotonic clock, and an absolute sleep
// through the reader's own precise sleeper.
#pragma once

#include "../platform/platform.h"

#include <cstdint>
#include <mutex>

namespace ViveSystem {

class frameClock {
public:
    int64_t steadyNs() const { return platform::steadyNanoseconds(); }
    // Keeps the system's timer of the thread that reads (see platform::preciseSleeper).
    void sleepUntilNs(int64_t deadlineNs);

private:
    platform::preciseSleeper sleeper;
    std::mutex sleeperMutex; // the sleeper serves one thread at a time
};

} // namespace ViveSystem
