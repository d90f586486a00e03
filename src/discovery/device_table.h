// The device table and the comparison of one scan with it. The comparison is a plain function
// of two tables: it brings the table up to date and reports each difference, with its kind, in
// order. Threads and clocks stay with the caller.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>

namespace vr {
class IVRSystem;
}

namespace ViveSystem {

// Device indices the legacy drivers scan and report (their records and events keep to 0..15).
constexpr int kMaxDevices = 16;
// Device indices a frame source scans: every index OpenVR serves.
constexpr int kSourceDevices = 64;
constexpr int kSerialField = 64;

// One device as discovery sees it. A slot whose serial begins with NUL is empty; a cleared slot
// is all zero.
struct DeviceSlot {
    char serial[kSerialField];
    int32_t index;
    int32_t deviceClass;
    bool connected;
    int32_t hand;    // a controller's ETrackedControllerRole as the runtime gives it (scopes that ask)
    uint8_t battery; // percent 0..100, kNoBattery when the device reports none (scopes that ask)
};

constexpr uint8_t kNoBattery = 255;

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

// The classes every discovery takes: headsets, controllers and generic trackers.
inline bool isTakenClass(int32_t cls)
{
    return cls >= 1 && cls <= 3;
}

// What one discovery looks at: the first `indices` device indices, whether base stations
// (class 4) are taken besides headsets, controllers and generic trackers, and whether a
// controller is asked which hand the runtime gives it.
struct ScanScope {
    int indices;
    bool baseStations;
    bool hands;     // a controller's hand asked
    bool batteries; // every device's battery asked

    bool takes(int32_t cls) const { return isTakenClass(cls) || (baseStations && cls == 4); }
};
constexpr ScanScope kLegacyScope{kMaxDevices, false, false, false};
constexpr ScanScope kSourceScope{kSourceDevices, true, true, true};

// The battery a device reports, in percent (0..100), or kNoBattery: none, a failed query, or a
// charge that is no number.
uint8_t readBattery(vr::IVRSystem* system, uint32_t index);

// Scans the scope's device indices: the classes it takes, with a readable, non-empty serial (and
// a controller's hand when the scope asks), packed from position 0 in ascending index into
// `scanned` (room for scope.indices). A serial
// already taken in this scan (two devices reporting one serial) is taken only at its lowest
// index. Returns the count, or -1 when keepGoing(), asked before every runtime call, says to give
// the scan up.
int scanDevices(vr::IVRSystem* system, DeviceSlot* scanned, const ScanScope& scope = kLegacyScope,
                const std::function<bool()>& keepGoing = [] { return true; });

// One difference between a scan and the table, as the comparison finds it.
enum class ChangeKind { Arrived, Left, SwitchedOn, SwitchedOff, IndexChanged };

struct DeviceChange {
    ChangeKind kind;
    int32_t deviceClass; // the stored class (Left, Switched*), the scanned one otherwise
    int32_t index;       // the device's index; IndexChanged: the new one
    int32_t oldIndex;    // IndexChanged: the previous index; otherwise equal to index
    int32_t scanCount;   // devices the scan took
    int32_t known;       // devices the table holds once this change is applied
    bool connected;      // the device's connected flag once this change is applied
    int64_t seenNs;      // when the scan was made (the caller's clock), 0 when not given
    char serial[kSerialField];
};

// The changes of comparisons, in order, waiting to be delivered. Fixed size: a comparison raises
// at most one change per table slot and one per scanned device.
struct PendingEvents {
    static constexpr int kCapacity = 2 * kSourceDevices;
    DeviceChange entries[kCapacity];
    int size = 0;
    int next = 0; // the first not yet delivered

    bool empty() const { return next >= size; }
    void clear() { size = next = 0; }
    // Appends after what is still waiting; the delivered entries make room first.
    void push(const DeviceChange& change)
    {
        if (next > 0) {
            for (int i = next; i < size; ++i)
                entries[i - next] = entries[i];
            size -= next;
            next = 0;
        }
        if (size < kCapacity)
            entries[size++] = change;
    }
};

// Compares `scan` (positions 0..count-1, unique non-empty serials, ascending index) with `table`
// (tableSize slots, a device at the position of its index), brings the table wholly up to date
// and appends each difference to `out`, in order, stamped with seenNs. The table is complete
// before any change is delivered, so a delivery that a stop cuts short loses nothing: the rest
// stays in `out` for the next run, and the table never misses a device whose change is waiting.
//
// A device that stays where it is takes the scan's hand silently: a hand is no change of presence.
// Order: departures and connected-flag changes in ascending table position, then arrivals and
// index changes in ascending device index. Matching for index changes uses the table as it stood
// before the arrivals step, and an old slot is cleared only while it still holds the device, so
// devices that trade indices in one pass each report an index change.
void reconcileScan(DeviceSlot* table, const DeviceSlot* scan, int count, PendingEvents& out,
                   int tableSize = kMaxDevices, int64_t seenNs = 0);

// Delivers the waiting changes in order through sink(change), which returns false to stop after
// that change. Returns false when stopped; the undelivered rest stays waiting.
template <class Sink>
bool deliverChanges(PendingEvents& changes, Sink&& sink)
{
    while (!changes.empty()) {
        const DeviceChange& c = changes.entries[changes.next++];
        if (!sink(c))
            return false;
    }
    changes.clear();
    return true;
}

} // namespace ViveSystem
