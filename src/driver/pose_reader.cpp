#include "pose_reader.h"

#include "device_table.h"
#include "quaternion.h"
#include "runtime_values.h"

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

// Position, rotation rows (three elements of each; a fourth, if the layout has one, is left as it
// was) and the quaternion, stored w x y z, from the device-to-absolute matrix.
template <size_t Columns>
void writePlacement(const vr::TrackedDevicePose_t& pose, float (&position)[3], float (&rotation)[3][Columns],
                    float (&quaternion)[4])
{
    const auto& m = pose.mDeviceToAbsoluteTracking.m;
    float r[3][3];
    for (int row = 0; row < 3; ++row) {
        position[row] = m[row][3];
        for (int col = 0; col < 3; ++col)
            rotation[row][col] = r[row][col] = m[row][col];
    }
    const Quaternion q = rotationToQuaternion(r);
    quaternion[0] = q.w;
    quaternion[1] = q.x;
    quaternion[2] = q.y;
    quaternion[3] = q.z;
}

} // namespace

int fillPoseRecords(vr::IVRSystem* system, const vr::TrackedDevicePose_t* raw, float timestampMs,
                    _TrackedDevicePose* out)
{
    int n = 0;
    for (uint32_t i = 0; i < static_cast<uint32_t>(kMaxDevices); ++i) {
        const vr::TrackedDevicePose_t& pose = raw[i];
        const int32_t result = runtimeValue(pose.eTrackingResult);
        if (result == 0)
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
        rec.trackingOk = result == vr::TrackingResult_Running_OK ? 1 : 0;
        rec.timestampMs = timestampMs;
        readSerial(system, i, rec.serial); // a failed query leaves the serial empty
        writePlacement(pose, rec.position, rec.rotation, rec.quaternion);
        for (int c = 0; c < 3; ++c) {
            rec.velocity[c] = pose.vVelocity.v[c];
            rec.angularVelocity[c] = pose.vAngularVelocity.v[c];
        }
    }
    return n;
}

namespace {

// One read's learning of indices it does not know: each index is asked at most once per read.
class Learner {
public:
    Learner(vr::IVRSystem* system, const vr::TrackedDevicePose_t* raw, KnownDevice* known)
        : system(system), raw(raw), known(known)
    {
    }

    // Asks every connected index not looked at yet, and every index whose device was just found
    // elsewhere: discovery's index of a serial may be a pass old, and the index it left may hold
    // another device now. Such an index that is not connected, or that was asked already in this
    // read, stays unknown (out of the frame) until discovery or a later read knows it.
    void learnAll()
    {
        for (uint32_t i = 0; i < static_cast<uint32_t>(kSourceDevices); ++i)
            if (known[i].state == KnownDevice::Unknown && raw[i].bDeviceIsConnected)
                learn(i);
        while (queued > 0) {
            const uint32_t i = queue[--queued];
            if (known[i].state == KnownDevice::Unknown && raw[i].bDeviceIsConnected && !asked(i))
                learn(i);
        }
    }

private:
    bool asked(uint32_t i) const { return (askedMask >> i) & 1u; }

    void learn(uint32_t index)
    {
        askedMask |= uint64_t{1} << index;
        KnownDevice& k = known[index];
        k.state = KnownDevice::NotDevice;
        const int32_t cls = system->GetTrackedDeviceClass(index);
        if (!kSourceScope.takes(cls) || !readSerial(system, index, k.serial))
            return;
        for (uint32_t i = 0; i < static_cast<uint32_t>(kSourceDevices); ++i) {
            if (i == index || known[i].state != KnownDevice::Device || !sameSerial(known[i].serial, k.serial))
                continue;
            known[i].state = KnownDevice::Unknown;
            if (queued < kSourceDevices)
                queue[queued++] = i;
        }
        k.deviceClass = cls;
        k.state = KnownDevice::Device;
    }

    vr::IVRSystem* system;
    const vr::TrackedDevicePose_t* raw;
    KnownDevice* known;
    uint64_t askedMask = 0;
    uint32_t queue[kSourceDevices];
    int queued = 0;
};

} // namespace

uint32_t fillFrameDevices(vr::IVRSystem* system, const vr::TrackedDevicePose_t* raw, KnownDevice* known,
                          tavrin_device* out)
{
    Learner(system, raw, known).learnAll();
    uint32_t n = 0;
    for (uint32_t i = 0; i < static_cast<uint32_t>(kSourceDevices); ++i) {
        const vr::TrackedDevicePose_t& pose = raw[i];
        if (known[i].state != KnownDevice::Device)
            continue;
        tavrin_device& d = out[n++];
        std::memcpy(d.serial, known[i].serial, sizeof d.serial);
        d.index = i;
        d.device_class = known[i].deviceClass;
        d.tracking_result = runtimeValue(pose.eTrackingResult);
        d.connected = pose.bDeviceIsConnected ? 1 : 0;
        d.pose_valid = pose.bPoseIsValid ? 1 : 0;
        d.reserved[0] = d.reserved[1] = 0;
        writePlacement(pose, d.position, d.rotation, d.orientation);
        for (int c = 0; c < 3; ++c) {
            d.velocity[c] = pose.vVelocity.v[c];
            d.angular_velocity[c] = pose.vAngularVelocity.v[c];
        }
    }
    return n;
}

} // namespace ViveSystem
