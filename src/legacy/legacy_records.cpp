#include "legacy_records.h"

#include "../reading/placement.h"
#include "../session/runtime_values.h"

#include <openvr.h>

namespace ViveSystem {

void legacyEvent(const DeviceChange& c, _DeviceEvent& event, _DeviceEventArg& arg)
{
    switch (c.kind) {
    case ChangeKind::Arrived:
    case ChangeKind::SwitchedOn:
    case ChangeKind::SwitchedOff:
        event = c.connected ? connectEvent(c.deviceClass) : disconnectEvent(c.deviceClass);
        break;
    case ChangeKind::Left:
        event = disconnectEvent(c.deviceClass);
        break;
    case ChangeKind::IndexChanged:
        event = DeviceEvent_IndexChanged;
        break;
    }
    arg = makeEventArg(c.serial, c.index, c.oldIndex);
}

int fillPoseRecords(const poseFrame& frame, float timestampMs, _TrackedDevicePose* out)
{
    int n = 0;
    const uint32_t indices = frame.count < static_cast<uint32_t>(kMaxDevices) ? frame.count : kMaxDevices;
    for (uint32_t i = 0; i < indices; ++i) {
        const vr::TrackedDevicePose_t& pose = frame.poses[i];
        const int32_t result = runtimeValue(pose.eTrackingResult);
        if (result == 0 || !hasMotion(pose))
            continue;
        const KnownDevice& label = frame.known[i];
        if (label.state != KnownDevice::Device || !isTakenClass(label.deviceClass))
            continue;

        _TrackedDevicePose& rec = out[n++];
        copySerial(rec.serial, label.serial);
        rec.index = static_cast<int32_t>(i);
        rec.deviceClass = label.deviceClass;
        rec.trackingOk = result == vr::TrackingResult_Running_OK ? 1 : 0;
        rec.timestampMs = timestampMs;
        writePlacement(pose, rec.position, rec.rotation, rec.quaternion);
        for (int c = 0; c < 3; ++c) {
            rec.velocity[c] = pose.vVelocity.v[c];
            rec.angularVelocity[c] = pose.vAngularVelocity.v[c];
        }
    }
    return n;
}

} // namespace ViveSystem
