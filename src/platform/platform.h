// What the driver takes from the operating system. One implementation file per system.
#pragma once

#include <cstdint>

namespace ViveSystem::platform {

// A monotonic high-resolution counter and its fixed frequency in counts per second.
int64_t counterNow();
int64_t counterFrequency();

// The millisecond field (0..999) of the current local time.
int localMilliseconds();

// The system (wall) clock in 100-ns ticks since 1970-01-01 UTC.
int64_t systemTicks100ns();

// A monotonic clock in nanoseconds.
int64_t steadyNanoseconds();

// Sleeps the calling thread for about this many microseconds; zero or less returns at once.
void sleepMicros(int64_t microseconds);

} // namespace ViveSystem::platform
