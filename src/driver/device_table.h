// The device table and the comparison of one scan with it. The comparison is a plain function
// of two tables: it brings the table up to date and reports each difference, in order, to a
// sink. Threads and clocks stay with the caller.
#pragma once

#include <tavrin.h>

#include <cstdint>
#include <cstring>
#include <functional>

namespace vr {
class IVRSystem;
}

namespace ViveSystem {

constexpr int kMaxDevices = 16;
constexpr int kSerialField = 64;

// One device as discovery sees it. A slot whose serial begins with NUL is empty; a cleared slot
// is all zero.
struct DeviceSlot {
    char serial[kSerialField];
    int32_t index;
    int32_t deviceClass;
    bool connected;
};

inline void clearSlot(DeviceSlot& slot)
{
    std::memset(&slot, 0, sizeof slot);
}

inline bool isEmpty(const DeviceSlot& slot)
{
    return slot.serial[0] == '\0';
}

inline bool sameSerial(const char* a, const char* b)
{
    return std::strncmp(a, b, kSerialField) == 0;
}

// Copies a NUL-terminated text into a 64-byte field: at most 63 characters, every byte after
// the terminating NUL zero.
void copySerial(char (&field)[kSerialField], const char* text);

// Reads a device's serial into a 64-byte field. The field is cleared first; a serial longer than
// 63 characters is kept as its first 63. Returns false (field empty) when the query fails, the
// serial is empty, or it does not fit even in 256 bytes.
bool readSerial(vr::IVRSystem* system, uint32_t index, char (&field)[kSerialField]);

// The connect and disconnect events of OpenVR class c (1..3): 2c+1 and 2c+2.
inline _DeviceEvent connectEvent(int32_t cls)
{
    return static_cast<_DeviceEvent>(2 * cls + 1);
}
inline _DeviceEvent disconnectEvent(int32_t cls)
{
    return static_cast<_DeviceEvent>(2 * cls + 2);
}

inline bool isTakenClass(int32_t cls)
{
    return cls >= 1 && cls <= 3;
}

inline _DeviceEventArg makeEventArg(const char* serial, int32_t index, int32_t index2)
{
    _DeviceEventArg arg;
    std::memset(&arg, 0, sizeof arg);
    copySerial(arg.serial, serial);
    arg.index = index;
    arg.index2 = index2;
    return arg;
}

// Scans the 16 device indices: headsets, controllers and generic trackers with a readable,
// non-empty serial, packed from position 0 in ascending index. A serial already taken in this
// scan (two devices reporting one serial) is taken only at its lowest index. Returns the count,
// or -1 when keepGoing(), asked before every runtime call, says to give the scan up.
int scanDevices(vr::IVRSystem* system, DeviceSlot (&scanned)[kMaxDevices],
                const std::function<bool()>& keepGoing = [] { return true; });

// Compares `scan` (positions 0..count-1, unique non-empty serials, ascending index) with `table`
// (16 slots, a device at the position of its index), updates the table and raises each event
// through sink(count, event, arg), which returns false to stop after that event. Every event's
// table change is made before the sink is called, so a comparison stopped early leaves a valid
// table whose remaining differences the next comparison reports. Returns false when stopped.
//
// Order: departures and connected-flag changes in ascending table position, then arrivals and
// index changes in ascending device index. Matching for index changes uses the table as it stood
// before the arrivals step, and an old slot is cleared only while it still holds the device, so
// devices that trade indices in one pass each report DeviceEvent_IndexChanged.
template <class Sink>
bool reconcileScan(DeviceSlot* table, const DeviceSlot* scan, int count, Sink&& sink)
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
            const _DeviceEventArg arg = makeEventArg(stored.serial, stored.index, stored.index);
            const int32_t cls = stored.deviceClass;
            clearSlot(stored);
            if (!sink(count, disconnectEvent(cls), arg))
                return false;
        } else if (match->connected != stored.connected) {
            const _DeviceEventArg arg = makeEventArg(stored.serial, stored.index, stored.index);
            stored.connected = match->connected;
            const _DeviceEvent event =
                stored.connected ? connectEvent(stored.deviceClass) : disconnectEvent(stored.deviceClass);
            if (!sink(count, event, arg))
                return false;
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
        _DeviceEvent event;
        _DeviceEventArg arg;
        if (old < 0) {
            event = d.connected ? connectEvent(d.deviceClass) : disconnectEvent(d.deviceClass);
            arg = makeEventArg(d.serial, i, i);
        } else {
            event = DeviceEvent_IndexChanged;
            arg = makeEventArg(d.serial, i, old);
        }
        if (!sink(count, event, arg))
            return false;
    }
    return true;
}

} // namespace ViveSystem
