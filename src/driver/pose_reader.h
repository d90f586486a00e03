// The pose reads, apart from discovery: the clock that paces them, the legacy fill of up to 16
// records, and the frame source's fill of every device it knows.
#pragma once

#include <tavrin.h>

#include <cstdint>

namespace vr {
class IVRSystem;
struct TrackedDevicePose_t;
} // namespace vr

namespace ViveSystem {

// The clock the pacing wait runs on (see pacing.h): the monotonic clock, and microseconds on the
// high-resolution counter from the construction-time wall clock (to the millisecond) on.
class frameClock {
public:
    frameClock();
    int64_t steadyNs() const;
    uint64_t nowMicros() const;
    int64_t counter() const;
    int64_t counterFrequency() const;
    void sleepMicros(int64_t us) const;

private:
    int64_t startEpochMicros = 0;
    int64_t qpcFrequency = 1;
    int64_t qpcStart = 0;
};

// Fills records 0..n-1 from a pose query, skipping devices with no tracking result, with a
// velocity of exactly zero, or of a class other than 1..3 (asked of the runtime for each device
// left). Returns n. Records from n on, and the fourth float of each matrix row, are left as they
// were.
int fillPoseRecords(vr::IVRSystem* system, const vr::TrackedDevicePose_t* raw, float timestampMs,
                    _TrackedDevicePose* out);

// What a frame source knows of one device index between discovery passes: a device (its class
// and serial), nothing, or not looked at yet.
struct KnownDevice {
    enum State : uint8_t { Unknown, Device, NotDevice };
    State state;
    int32_t deviceClass;
    char serial[64];
};

// The frame source's fill: a record for every index known as a device, ascending, from the pose
// query and the known class and serial. An index not looked at yet whose pose reports a connected
// device is asked for its class and serial here, once, and remembered either way. Returns the
// number of records.
uint32_t fillFrameDevices(vr::IVRSystem* system, const vr::TrackedDevicePose_t* raw, KnownDevice* known,
                          tavrin_device* out);

} // namespace ViveSystem
