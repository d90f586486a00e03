#include "pose_reader.h"

#include "device_table.h"
#include "quaternion.h"

#include "../platform/platform.h"

#include "pacing.h"

#include <openvr.h>

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

namespace {

struct Orientation {
    float position[3];
    float rotation[3][3];
    Quaternion q;
};

Orientation orientationOf(const vr::TrackedDevicePose_t& pose)
{
    Orientation o;
    const auto& m = pose.mDeviceToAbsoluteTracking.m;
    for (int row = 0; row < 3; ++row) {
        o.position[row] = m[row][3];
        for (int col = 0; col < 3; ++col)
            o.rotation[row][col] = m[row][col];
    }
    o.q = rotationToQuaternion(o.rotation);
    return o;
}

} // namespace

int fillPoseRecords(vr::IVRSystem* system, const vr::TrackedDevicePose_t* raw, float timestampMs,
                    _TrackedDevicePose* out)
{
    int n = 0;
    for (uint32_t i = 0; i < static_cast<uint32_t>(kMaxDevices); ++i) {
        const vr::TrackedDevicePose_t& pose = raw[i];
        if (pose.eTrackingResult == 0)
            continue;
        const float* v = pose.vVelocity.v;
        if ((v[1] * v[1] + v[0] * v[0]) + v[2] * v[2] == 0.0f)
            continue;
        const int32_t cls = system->GetTrackedDeviceClass(i);
        if (!isTakenClass(cls))
            continue;

        _TrackedDevicePose& rec = out[n++];
        rec.index = static_cast<int32_t>(i);
        rec.deviceClass = cls;
        rec.trackingOk = pose.eTrackingResult == vr::TrackingResult_Running_OK ? 1 : 0;
        rec.timestampMs = timestampMs;
        readSerial(system, i, rec.serial); // a failed query leaves the serial empty
        const Orientation o = orientationOf(pose);
        for (int row = 0; row < 3; ++row) {
            rec.position[row] = o.position[row];
            for (int col = 0; col < 3; ++col)
                rec.rotation[row][col] = o.rotation[row][col];
        }
        rec.quaternion[0] = o.q.w;
        rec.quaternion[1] = o.q.x;
        rec.quaternion[2] = o.q.y;
        rec.quaternion[3] = o.q.z;
        for (int c = 0; c < 3; ++c) {
            rec.velocity[c] = pose.vVelocity.v[c];
            rec.angularVelocity[c] = pose.vAngularVelocity.v[c];
        }
    }
    return n;
}

namespace {

// Asks the runtime what a newly connected index holds; remembered, so that it is asked once.
void learn(vr::IVRSystem* system, uint32_t index, KnownDevice* known)
{
    KnownDevice& k = known[index];
    k.state = KnownDevice::NotDevice;
    const int32_t cls = system->GetTrackedDeviceClass(index);
    if (!kSourceScope.takes(cls) || !readSerial(system, index, k.serial))
        return;
    // The same device may still be remembered at the index it left.
    for (int i = 0; i < kSourceDevices; ++i)
        if (known[i].state == KnownDevice::Device && sameSerial(known[i].serial, k.serial))
            known[i].state = KnownDevice::Unknown;
    k.deviceClass = cls;
    k.state = KnownDevice::Device;
}

} // namespace

uint32_t fillFrameDevices(vr::IVRSystem* system, const vr::TrackedDevicePose_t* raw, KnownDevice* known,
                          tavrin_device* out)
{
    uint32_t n = 0;
    for (uint32_t i = 0; i < static_cast<uint32_t>(kSourceDevices); ++i) {
        const vr::TrackedDevicePose_t& pose = raw[i];
        if (known[i].state == KnownDevice::Unknown && pose.bDeviceIsConnected)
            learn(system, i, known);
        if (known[i].state != KnownDevice::Device)
            continue;
        tavrin_device& d = out[n++];
        std::memcpy(d.serial, known[i].serial, sizeof d.serial);
        d.index = i;
        d.device_class = known[i].deviceClass;
        d.tracking_result = static_cast<int32_t>(pose.eTrackingResult);
        d.connected = pose.bDeviceIsConnected ? 1 : 0;
        d.pose_valid = pose.bPoseIsValid ? 1 : 0;
        d.reserved[0] = d.reserved[1] = 0;
        const Orientation o = orientationOf(pose);
        for (int row = 0; row < 3; ++row) {
            d.position[row] = o.position[row];
            d.velocity[row] = pose.vVelocity.v[row];
            d.angular_velocity[row] = pose.vAngularVelocity.v[row];
            for (int col = 0; col < 3; ++col)
                d.rotation[row][col] = o.rotation[row][col];
        }
        d.orientation[0] = o.q.w;
        d.orientation[1] = o.q.x;
        d.orientation[2] = o.q.y;
        d.orientation[3] = o.q.z;
    }
    return n;
}

} // namespace ViveSystem
