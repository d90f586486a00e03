// A recording's frames rebuilt as the frame source gave them, for writing its take again in other
// forms (--convert) without a runtime and not in real time.
#pragma once

#include <recording/recording_format.h>
#include <tavrin.h>

#include <functional>

namespace monitor {

// The recording's space: the one its first row was written in.
tavrin_space recordedSpace(const recording::Recording& take);

// Every frame of the recording in time order, each device in the recording's space; `timestampMs`
// is ms since its first frame. A 0.2.0 recording's frames are numbered 1, 2, ... as they come.
void forEachFrame(const recording::Recording& take,
                  const std::function<void(const tavrin_frame& frame, double timestampMs)>& visit);

// The rate frames were taken at, to a thousandth of a hertz, from the first and the last frame's
// numbers and instants (numbers count the instants skipped between them); 0 without two numbers.
double rateOf(uint64_t firstNumber, int64_t firstNs, uint64_t lastNumber, int64_t lastNs);

} // namespace monitor
