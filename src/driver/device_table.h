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

// The events of one comparison, in order, waiting to be delivered. Fixed size: a comparison
// raises at most one event per table slot and one per scanned device.
struct PendingEvents {
    static constexpr int kCapacity = 2 * kMaxDevices;
    struct Entry {
        int count;
        _DeviceEvent event;
        _DeviceEventArg arg;
    };
    Entry entries[kCapacity];
    int size = 0;
    int next = 0; // the first not yet delivered

    bool empty() const { return next >= size; }
    void clear() { size = next = 0; }
    // Appends after what is still waiting; the delivered entries make room first.
    void push(int count, _DeviceEvent event, const _DeviceEventArg& arg)
    {
        if (next > 0) {
            for (int i = next; i < size; ++i)
                entries[i - next] = entries[i];
            size -= next;
            next = 0;
        }
        if (size < kCapacity)
            entries[size++] = Entry{count, event, arg};
    }
};

// Compares `scan` (positions 0..count-1, unique non-empty serials, ascending index) with `table`
// (16 slots, a device at the position of its index), brings the table wholly up to date and
// appends each difference to `out`, in order. The table is complete before any event is
// delivered, so a delivery that a stop cuts short loses nothing: the rest stays in `out` for the
// next run, and the table never misses a device whose event is still waiting.
//
// Order: departures and connected-flag changes in ascending table position, then arrivals and
// index changes in ascending device index. Matching for index changes uses the table as it stood
// before the arrivals step, and an old slot is cleared only while it still holds the device, so
// devices that trade indices in one pass each report DeviceEvent_IndexChanged.
void reconcileScan(DeviceSlot* table, const DeviceSlot* scan, int count, PendingEvents& out);

// Delivers the waiting events in order through sink(count, event, arg), which returns false to
// stop after that event. Returns false when stopped; the undelivered rest stays waiting.
template <class Sink>
bool deliverEvents(PendingEvents& events, Sink&& sink)
{
    while (!events.empty()) {
        const PendingEvents::Entry& e = events.entries[events.next++];
        if (!sink(e.count, e.event, e.arg))
            return false;
    }
    events.clear();
    return true;
}

} // namespace ViveSystem
