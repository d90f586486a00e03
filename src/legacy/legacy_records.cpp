#include "legacy_records.h"

#include "../pose/quaternion.h"

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

int fillPoseRecords(const sampleFrame& frame, float timestampMs, _TrackedDevicePose* out)
{
    int n = 0;
    const uint32_t indices = frame.count < static_cast<uint32_t>(kMaxDevices) ? frame.count : kMaxDevices;
    for (uint32_t i = 0; i < indices; ++i) {
        const DeviceSample& d = frame.devices[i];
        if (!d.labelled || d.result == 0 || !d.moving || !isTakenClass(d.deviceClass))
            continue;
        const Placement& p = d.placement;
        _TrackedDevicePose& rec = out[n++];
        copySerial(rec.serial, d.serial);
        rec.index = static_cast<int32_t>(i);
        rec.deviceClass = d.deviceClass;
        rec.trackingOk = d.result == vr::TrackingResult_Running_OK ? 1 : 0;
        rec.timestampMs = timestampMs;
        for (int row = 0; row < 3; ++row) {
            rec.position[row] = p.position[row];
            for (int col = 0; col < 3; ++col) // the fourth float of the row is left as it was
                rec.rotation[row][col] = p.rotation[row][col];
            rec.velocity[row] = p.velocity[row];
            rec.angularVelocity[row] = p.angularVelocity[row];
        }
        writeQuaternion(p.rotation, rec.quaternion);
    }
    return n;
}

} // namespace ViveSystem
