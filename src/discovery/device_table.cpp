#include "device_table.h"

#include "../session/runtime_values.h"

#include <openvr.h>

#include <algorithm>
#include <cmath>

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
    vr::ETrackedPropertyError error;
    clearRuntimeValue(error);
    const uint32_t length =
        system->GetStringTrackedDeviceProperty(index, vr::Prop_SerialNumber_String, buffer, kSerialQueryBuffer, &error);
    if (runtimeValue(error) != vr::TrackedProp_Success || length > kSerialQueryBuffer)
        return false;
    buffer[kSerialQueryBuffer - 1] = '\0';
    copySerial(field, buffer);
    return field[0] != '\0';
}

uint8_t readBattery(vr::IVRSystem* system, uint32_t index)
{
    vr::ETrackedPropertyError error;
    clearRuntimeValue(error);
    const bool has = system->GetBoolTrackedDeviceProperty(index, vr::Prop_DeviceProvidesBatteryStatus_Bool, &error);
    if (runtimeValue(error) != vr::TrackedProp_Success || !has)
        return kNoBattery;
    clearRuntimeValue(error);
    const float charge = system->GetFloatTrackedDeviceProperty(index, vr::Prop_DeviceBatteryPercentage_Float, &error);
    if (runtimeValue(error) != vr::TrackedProp_Success || !std::isfinite(charge))
        return kNoBattery;
    return static_cast<uint8_t>(std::lround(std::clamp(charge, 0.0f, 1.0f) * 100.0f));
}

int scanDevices(vr::IVRSystem* system, DeviceSlot* scanned, const ScanScope& scope,
                const std::function<bool()>& keepGoing)
{
    int found = 0;
    for (uint32_t j = 0; j < static_cast<uint32_t>(scope.indices); ++j) {
        if (!keepGoing())
            return -1;
        const int32_t cls = system->GetTrackedDeviceClass(j);
        if (!scope.takes(cls))
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
        if (scope.hands && cls == 2) {
            if (!keepGoing())
                return -1;
            slot.hand = system->GetControllerRoleForTrackedDeviceIndex(j);
        }
        slot.battery = kNoBattery;
        if (scope.batteries) {
            if (!keepGoing())
                return -1;
            slot.battery = readBattery(system, j);
        }
        ++found;
    }
    for (int s = found; s < scope.indices; ++s)
        clearSlot(scanned[s]);
    return found;
}

namespace {

DeviceChange makeChange(ChangeKind kind, const DeviceSlot& device, int32_t index, int32_t oldIndex, int scanCount,
                        int known, int64_t seenNs)
{
    DeviceChange c;
    std::memset(&c, 0, sizeof c);
    c.kind = kind;
    c.deviceClass = device.deviceClass;
    c.index = index;
    c.oldIndex = oldIndex;
    c.scanCount = scanCount;
    c.known = known;
    c.connected = device.connected;
    c.seenNs = seenNs;
    copySerial(c.serial, device.serial);
    return c;
}

} // namespace

void reconcileScan(DeviceSlot* table, const DeviceSlot* scan, int count, PendingEvents& out, int tableSize,
                   int64_t seenNs)
{
    int known = 0;
    for (int k = 0; k < tableSize; ++k)
        known += isEmpty(table[k]) ? 0 : 1;

    // Departures and connected-flag changes.
    for (int k = 0; k < tableSize; ++k) {
        DeviceSlot& stored = table[k];
        if (isEmpty(stored))
            continue;
        const DeviceSlot* match = nullptr;
        for (int s = 0; s < count && !match; ++s)
            if (sameSerial(scan[s].serial, stored.serial))
                match = &scan[s];
        if (!match) {
            --known;
            out.push(makeChange(ChangeKind::Left, stored, stored.index, stored.index, count, known, seenNs));
            clearSlot(stored);
        }
        if (match) {
            stored.hand = match->hand;
            stored.battery = match->battery;
        }
        if (match && match->connected != stored.connected) {
            stored.connected = match->connected;
            out.push(makeChange(stored.connected ? ChangeKind::SwitchedOn : ChangeKind::SwitchedOff, stored,
                                stored.index, stored.index, count, known, seenNs));
        }
    }

    // Arrivals and index changes, matched against the table as it stands now.
    constexpr int kMost = kSourceDevices;
    DeviceSlot before[kMost];
    std::memcpy(before, table, sizeof(DeviceSlot) * static_cast<size_t>(tableSize));
    for (int s = 0; s < count; ++s) {
        const DeviceSlot& d = scan[s];
        const int i = d.index;
        int old = -1;
        for (int k = 0; k < tableSize && old < 0; ++k)
            if (!isEmpty(before[k]) && sameSerial(before[k].serial, d.serial))
                old = k;
        if (old == i)
            continue;
        if (old >= 0 && sameSerial(table[old].serial, d.serial))
            clearSlot(table[old]);
        // A device overwritten here is still in the scan at a higher index (serials are unique)
        // and in the table as it stood: it reports its own move there. So the count follows the
        // changes alone, as whoever applies them one by one sees it.
        DeviceSlot& slot = table[i];
        clearSlot(slot);
        copySerial(slot.serial, d.serial);
        slot.index = i;
        slot.deviceClass = d.deviceClass;
        slot.connected = d.connected;
        slot.hand = d.hand;
        slot.battery = d.battery;
        if (old < 0)
            out.push(makeChange(ChangeKind::Arrived, slot, i, i, count, ++known, seenNs));
        else
            out.push(makeChange(ChangeKind::IndexChanged, slot, i, old, count, known, seenNs));
    }
}

} // namespace ViveSystem
