#include "pose_reader.h"

#include "../platform/platform.h"
#include "../session/runtime_values.h"

#include <openvr.h>

#include <cstring>

namespace ViveSystem {

bool hasMotion(const vr::TrackedDevicePose_t& pose)
{
    const float* v = pose.vVelocity.v;
    return !((v[1] * v[1] + v[0] * v[0]) + v[2] * v[2] == 0.0f);
}

bool showsDevice(const vr::TrackedDevicePose_t& pose)
{
    return pose.bDeviceIsConnected || (runtimeValue(pose.eTrackingResult) != 0 && hasMotion(pose));
}

namespace {

// One call's learning; see labelIndices.
class Learner {
public:
    Learner(vr::IVRSystem* system, const vr::TrackedDevicePose_t* raw, uint32_t count, KnownDevice* known,
            const LabelRules& rules)
        : system(system), raw(raw), count(count), known(known), rules(rules)
    {
    }

    void learnAll()
    {
        for (uint32_t i = 0; i < count; ++i) {
            KnownDevice& k = known[i];
            const bool shows = showsDevice(raw[i]);
            if (!shows && k.state == KnownDevice::Device)
                k.recheck = true;
            else if (shows && (k.state == KnownDevice::Unknown || (k.state == KnownDevice::Device && k.recheck)))
                learn(i);
        }
        while (queued > 0) {
            const uint32_t i = queue[--queued];
            if (known[i].state == KnownDevice::Unknown && showsDevice(raw[i]) && !asked(i))
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
        k.recheck = false;
        k.hand = 0; // discovery asks these: never a read
        k.battery = kNoBattery;
        k.deviceClass = system->GetTrackedDeviceClass(index);
        if (!rules.scope.takes(k.deviceClass))
            return;
        if (!readSerial(system, index, k.serial) && !rules.unnamedDevices)
            return;
        if (k.serial[0] != '\0')
            forgetElsewhere(index, k.serial);
        k.state = KnownDevice::Device;
    }

    // The device was known at another index: that index is asked again (or left unknown).
    void forgetElsewhere(uint32_t index, const char* serial)
    {
        for (uint32_t i = 0; i < count; ++i) {
            if (i == index || known[i].state != KnownDevice::Device || !sameSerial(known[i].serial, serial))
                continue;
            known[i].state = KnownDevice::Unknown;
            if (queued < kSourceDevices)
                queue[queued++] = i;
        }
    }

    vr::IVRSystem* system;
    const vr::TrackedDevicePose_t* raw;
    const uint32_t count;
    KnownDevice* known;
    const LabelRules& rules;
    uint64_t askedMask = 0;
    uint32_t queue[kSourceDevices];
    int queued = 0;
};

} // namespace

void labelIndices(vr::IVRSystem* system, const vr::TrackedDevicePose_t* raw, uint32_t count, KnownDevice* known,
                  const LabelRules& rules)
{
    Learner(system, raw, count, known, rules).learnAll();
}

poseReader::poseReader(const LabelRules& rules) : rules(rules)
{
    std::memset(known, 0, sizeof known);
}

void poseReader::noteTable(const DeviceSlot* table, int size)
{
    std::lock_guard<std::mutex> lock(knownMutex);
    for (int i = 0; i < size && i < kSourceDevices; ++i) {
        KnownDevice& k = known[i];
        if (!isEmpty(table[i])) {
            k.state = KnownDevice::Device;
            k.recheck = !table[i].connected;
            k.deviceClass = table[i].deviceClass;
            k.hand = table[i].hand;
            k.battery = table[i].battery;
            std::memcpy(k.serial, table[i].serial, sizeof k.serial);
        } else if (k.state == KnownDevice::Device) {
            k.state = KnownDevice::Unknown;
        }
    }
}

void poseReader::forget()
{
    std::lock_guard<std::mutex> lock(knownMutex);
    std::memset(known, 0, sizeof known);
}

bool poseReader::read(const sessionTicket& ticket, std::mutex* serialise, uint32_t count, int64_t instantNs,
                      sampleFrame& out)
{
    if (count > static_cast<uint32_t>(kSourceDevices))
        count = kSourceDevices;
    return sessionOwner::instance().useSession(ticket, serialise, [&](vr::IVRSystem* system) {
        vr::TrackedDevicePose_t raw[kSourceDevices];
        std::memset(raw, 0, sizeof raw[0] * count); // a runtime serving fewer leaves the rest empty
        const int64_t queryNs = platform::steadyNanoseconds();
        const int64_t instant = instantNs == kQueryInstant ? queryNs : instantNs;
        const float prediction =
            instantNs == kQueryInstant ? 0.0f : static_cast<float>(static_cast<double>(instant - queryNs) / 1e9);
        system->GetDeviceToAbsoluteTrackingPose(vr::TrackingUniverseStanding, prediction, raw, count);
        out.timeNs = platform::steadyNanoseconds();
        out.instantNs = instant;
        out.queryNs = queryNs;
        out.count = count;
        std::lock_guard<std::mutex> lock(knownMutex);
        labelIndices(system, raw, count, known, rules);
        for (uint32_t i = 0; i < count; ++i)
            sampleIndex(raw[i], known[i], out.devices[i]);
    });
}

void sampleIndex(const vr::TrackedDevicePose_t& pose, const KnownDevice& label, DeviceSample& out)
{
    out.labelled = label.state == KnownDevice::Device;
    if (!out.labelled)
        return;
    out.connected = pose.bDeviceIsConnected;
    out.poseValid = pose.bPoseIsValid;
    out.moving = hasMotion(pose);
    out.result = runtimeValue(pose.eTrackingResult);
    out.deviceClass = label.deviceClass;
    out.hand = label.hand;
    out.battery = label.battery;
    std::memcpy(out.serial, label.serial, sizeof out.serial);
    Placement& p = out.placement;
    const auto& m = pose.mDeviceToAbsoluteTracking.m;
    for (int row = 0; row < 3; ++row) {
        p.position[row] = m[row][3];
        for (int col = 0; col < 3; ++col)
            p.rotation[row][col] = m[row][col];
        p.velocity[row] = pose.vVelocity.v[row];
        p.angularVelocity[row] = pose.vAngularVelocity.v[row];
    }
}

} // namespace ViveSystem
