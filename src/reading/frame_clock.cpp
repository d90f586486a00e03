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

void frameClock::sleepMicros(int64_t us) const
{
    platform::sleepMicros(us);
}

void frameClock::sleepUntilNs(int64_t deadlineNs)
{
    sleeper.sleepUntil(deadlineNs);
}

} // namespace ViveSystem
