// vrDriver: a devFinder plus the caller's handler, the tracking mode and the pose reader.
#pragma once

#include "dev_finder.h"

#include <tavrin.h>

#include <atomic>
#include <cstdint>

namespace vr {
struct TrackedDevicePose_t;
}

namespace ViveSystem {

class vrDriver : public devFinder {
public:
    vrDriver();
    ~vrDriver();

    // Passes an event to the registered handler, if any. Runs on the discovery thread with no
    // lock held; an exception from the handler is caught so that the loop goes on.
    void relayEvent(int count, _DeviceEvent event, _DeviceEventArg arg);

    // The paced pose read into 16 records (see the public header). Sets the status word to
    // DeviceError_NoSession when no session is open; never writes 0 into it.
    void readPoses(_TrackedDevicePose* poses);

    // Single stores from callers' threads, read by the loop and by reads.
    std::atomic<DeviceStatusChangedHandler> statusHandler{nullptr};
    std::atomic<int32_t> trackingMode{1};
    std::atomic<double> framePeriodMs{1000.0 / 120.0};
    std::atomic<int64_t> lastFrameNs{0};
    int64_t startTicks = 0; // monotonic clock at construction, 100-ns ticks: the stamps' origin
    int64_t qpcFrequency = 1;
    int64_t qpcStart = 0;
    std::atomic<int64_t> qpcNow{0};
    std::atomic<int64_t> elapsedMicros{0};
    int64_t startEpochMicros = 0;

    // Microseconds since 1970 on the high-resolution counter: the construction-time wall clock
    // (to the millisecond) plus the counter time since construction.
    uint64_t nowMicros();

private:
    struct Clock;
};

// Fills records 0..n-1 from a pose query, skipping devices with no tracking result, with a
// velocity of exactly zero, or of a class other than 1..3. Returns n. Records from n on, and the
// fourth float of each matrix row, are left as they were.
int fillPoseRecords(vr::IVRSystem* system, const vr::TrackedDevicePose_t* raw, float timestampMs,
                    _TrackedDevicePose* out);

} // namespace ViveSystem
