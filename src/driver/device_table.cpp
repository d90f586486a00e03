#include "device_table.h"

#include <openvr.h>

namespace ViveSystem {

namespace {
// Serials longer than a field exist (virtual and third-party trackers); they are read whole
// through this much stack and kept as their first 63 characters.
constexpr uint32_t kSerialQueryBuffer = 256;
} // namespace

void copySerial(char (&field)[kSerialField], const char* text)
{
    std::memset(field, 0, sizeof field);
    std::size_t n = 0;
    while (n < kSerialField - 1 && text[n] != '\0')
        ++n;
    std::memcpy(field, text, n);
}

bool readSerial(vr::IVRSystem* system, uint32_t index, char (&field)[kSerialField])
{
    std::memset(field, 0, sizeof field);
    char buffer[kSerialQueryBuffer];
    buffer[0] = '\0';
    vr::ETrackedPropertyError error = vr::TrackedProp_Success;
    const uint32_t length =
        system->GetStringTrackedDeviceProperty(index, vr::Prop_SerialNumber_String, buffer, kSerialQueryBuffer, &error);
    if (error != vr::TrackedProp_Success || length > kSerialQueryBuffer)
        return false;
    buffer[kSerialQueryBuffer - 1] = '\0';
    copySerial(field, buffer);
    return field[0] != '\0';
}

int scanDevices(vr::IVRSystem* system, DeviceSlot (&scanned)[kMaxDevices], const std::function<bool()>& keepGoing)
{
    int found = 0;
    for (uint32_t j = 0; j < static_cast<uint32_t>(kMaxDevices); ++j) {
        if (!keepGoing())
            return -1;
        const int32_t cls = system->GetTrackedDeviceClass(j);
        if (!isTakenClass(cls))
            continue;
        DeviceSlot& slot = scanned[found];
        clearSlot(slot);
        if (!keepGoing())
            return -1;
        if (!readSerial(system, j, slot.serial))
            continue; // no usable serial: not taken in this pass
        bool duplicate = false;
        for (int s = 0; s < found && !duplicate; ++s)
            duplicate = sameSerial(scanned[s].serial, slot.serial);
        if (duplicate) {
            clearSlot(slot);
            continue;
        }
        if (!keepGoing())
            return -1;
        slot.deviceClass = cls;
        slot.connected = system->IsTrackedDeviceConnected(j);
        slot.index = static_cast<int32_t>(j);
        ++found;
    }
    for (int s = found; s < kMaxDevices; ++s)
        clearSlot(scanned[s]);
    return found;
}

void reconcileScan(DeviceSlot* table, const DeviceSlot* scan, int count, PendingEvents& out)
{
    // Departures and connected-flag changes.
    for (int k = 0; k < kMaxDevices; ++k) {
        DeviceSlot& stored = table[k];
        if (isEmpty(stored))
            continue;
        const DeviceSlot* match = nullptr;
        for (int s = 0; s < count && !match; ++s)
            if (sameSerial(scan[s].serial, stored.serial))
                match = &scan[s];
        if (!match) {
            out.push(count, disconnectEvent(stored.deviceClass), makeEventArg(stored.serial, stored.index, stored.index));
            clearSlot(stored);
        } else if (match->connected != stored.connected) {
            const _DeviceEventArg arg = makeEventArg(stored.serial, stored.index, stored.index);
            stored.connected = match->connected;
            out.push(count, stored.connected ? connectEvent(stored.deviceClass) : disconnectEvent(stored.deviceClass),
                     arg);
        }
    }

    // Arrivals and index changes, matched against the table as it stands now.
    DeviceSlot before[kMaxDevices];
    std::memcpy(before, table, sizeof before);
    for (int s = 0; s < count; ++s) {
        const DeviceSlot& d = scan[s];
        const int i = d.index;
        int old = -1;
        for (int k = 0; k < kMaxDevices && old < 0; ++k)
            if (!isEmpty(before[k]) && sameSerial(before[k].serial, d.serial))
                old = k;
        if (old == i)
            continue;
        if (old >= 0 && sameSerial(table[old].serial, d.serial))
            clearSlot(table[old]);
        DeviceSlot& slot = table[i];
        clearSlot(slot);
        copySerial(slot.serial, d.serial);
        slot.index = i;
        slot.deviceClass = d.deviceClass;
        slot.connected = d.connected;
        if (old < 0)
            out.push(count, d.connected ? connectEvent(d.deviceClass) : disconnectEvent(d.deviceClass),
                     makeEventArg(d.serial, i, i));
        else
            out.push(count, DeviceEvent_IndexChanged, makeEventArg(d.serial, i, old));
    }
}

} // namespace ViveSystem
