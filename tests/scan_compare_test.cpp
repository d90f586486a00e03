// The comparison of a scan with the device table, called directly with tables; and the scan
// itself against the simulated rig, including serials that are missing, too long or repeated.
#include "sim_session.h"
#include "support.h"

#include <discovery/device_table.h>
#include <legacy/legacy_records.h>

#include <openvr.h>

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <random>
#include <set>
#include <string>

using namespace ViveSystem;
using namespace testing_support;

namespace {

DeviceSlot slot(const char* serial, int index, int cls, bool connected)
{
    DeviceSlot s;
    clearSlot(s);
    copySerial(s.serial, serial);
    s.index = index;
    s.deviceClass = cls;
    s.connected = connected;
    return s;
}

struct Table {
    DeviceSlot s[kMaxDevices];
    Table() { std::memset(s, 0, sizeof s); }
    void put(const char* serial, int index, int cls, bool connected) { s[index] = slot(serial, index, cls, connected); }
    bool slotZero(int k) const
    {
        DeviceSlot zero;
        std::memset(&zero, 0, sizeof zero);
        return std::memcmp(&s[k], &zero, sizeof zero) == 0;
    }
};

// Delivers up to `stopAfter` waiting changes (all when negative) into `into`, as the legacy
// driver reports them.
void deliver(PendingEvents& p, std::vector<Event>& into, int stopAfter = -1)
{
    deliverChanges(p, [&](const DeviceChange& c) {
        Event e{};
        e.count = c.scanCount;
        legacyEvent(c, e.event, e.arg);
        into.push_back(e);
        return stopAfter < 0 || static_cast<int>(into.size()) < stopAfter;
    });
}

std::vector<Event> compare(Table& t, const std::vector<DeviceSlot>& scan)
{
    PendingEvents p;
    reconcileScan(t.s, scan.data(), static_cast<int>(scan.size()), p);
    std::vector<Event> events;
    deliver(p, events);
    return events;
}

bool sameEvent(const Event& a, const Event& b)
{
    return a.count == b.count && a.event == b.event && std::memcmp(&a.arg, &b.arg, sizeof a.arg) == 0;
}

} // namespace

TEST(ScanCompare, ArrivalsAreReportedInIndexOrderWithTheNewCount)
{
    Table t;
    const auto events = compare(t, {slot("HMD", 0, 1, true), slot("C1", 1, 2, true), slot("TRK", 2, 3, false)});
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].event, DeviceEvent_HmdConnected);
    EXPECT_TRUE(argIs(events[0].arg, "HMD", 0, 0));
    EXPECT_EQ(events[1].event, DeviceEvent_ControllerConnected);
    EXPECT_TRUE(argIs(events[1].arg, "C1", 1, 1));
    // First seen unconnected: its disconnect event, not its connect event.
    EXPECT_EQ(events[2].event, DeviceEvent_TrackerDisconnected);
    EXPECT_TRUE(argIs(events[2].arg, "TRK", 2, 2));
    for (const Event& e : events)
        EXPECT_EQ(e.count, 3);
    EXPECT_STREQ(t.s[2].serial, "TRK");
    EXPECT_EQ(t.s[2].deviceClass, 3);
    EXPECT_TRUE(t.slotZero(3));
}

TEST(ScanCompare, DeparturesAndConnectedFlagChanges)
{
    Table t;
    t.put("HMD", 0, 1, true);
    t.put("C1", 1, 2, true);
    t.put("C2", 2, 2, false);
    // C1 switched off but still reported, C2 switched on, HMD gone.
    const auto events = compare(t, {slot("C1", 1, 2, false), slot("C2", 2, 2, true)});
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].event, DeviceEvent_HmdDisconnected);
    EXPECT_TRUE(argIs(events[0].arg, "HMD", 0, 0));
    EXPECT_EQ(events[1].event, DeviceEvent_ControllerDisconnected);
    EXPECT_TRUE(argIs(events[1].arg, "C1", 1, 1));
    EXPECT_EQ(events[2].event, DeviceEvent_ControllerConnected);
    EXPECT_TRUE(argIs(events[2].arg, "C2", 2, 2));
    for (const Event& e : events)
        EXPECT_EQ(e.count, 2);
    EXPECT_TRUE(t.slotZero(0));
    EXPECT_FALSE(t.s[1].connected);
    EXPECT_TRUE(t.s[2].connected);
}

TEST(ScanCompare, IndexChangeMovesTheSlot)
{
    Table t;
    t.put("TRK", 3, 3, true);
    const auto events = compare(t, {slot("TRK", 6, 3, true)});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event, DeviceEvent_IndexChanged);
    EXPECT_TRUE(argIs(events[0].arg, "TRK", 6, 3));
    EXPECT_TRUE(t.slotZero(3));
    EXPECT_STREQ(t.s[6].serial, "TRK");
    EXPECT_EQ(t.s[6].index, 6);
}

TEST(ScanCompare, FlagAndIndexChangeGiveTheFlagEventFirstWithTheOldIndex)
{
    Table t;
    t.put("C1", 1, 2, true);
    const auto events = compare(t, {slot("C1", 4, 2, false)});
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].event, DeviceEvent_ControllerDisconnected);
    EXPECT_TRUE(argIs(events[0].arg, "C1", 1, 1));
    EXPECT_EQ(events[1].event, DeviceEvent_IndexChanged);
    EXPECT_TRUE(argIs(events[1].arg, "C1", 4, 1));
}

TEST(ScanCompare, DevicesTradingIndicesEachReportAnIndexChange)
{
    Table t;
    t.put("A", 1, 2, true);
    t.put("B", 2, 2, true);
    const auto events = compare(t, {slot("B", 1, 2, true), slot("A", 2, 2, true)});
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].event, DeviceEvent_IndexChanged);
    EXPECT_TRUE(argIs(events[0].arg, "B", 1, 2));
    EXPECT_EQ(events[1].event, DeviceEvent_IndexChanged);
    EXPECT_TRUE(argIs(events[1].arg, "A", 2, 1));
    EXPECT_STREQ(t.s[1].serial, "B");
    EXPECT_STREQ(t.s[2].serial, "A");
    EXPECT_TRUE(compare(t, {slot("B", 1, 2, true), slot("A", 2, 2, true)}).empty());
}

TEST(ScanCompare, ADeviceOverwrittenByAMoverIsStillAMoverItself)
{
    Table t;
    t.put("A", 1, 2, true);
    t.put("B", 3, 3, true);
    const auto events = compare(t, {slot("B", 1, 3, true), slot("A", 5, 2, true)});
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(argIs(events[0].arg, "B", 1, 3));
    EXPECT_EQ(events[1].event, DeviceEvent_IndexChanged);
    EXPECT_TRUE(argIs(events[1].arg, "A", 5, 1));
    EXPECT_TRUE(t.slotZero(3));
    EXPECT_STREQ(t.s[1].serial, "B");
    EXPECT_STREQ(t.s[5].serial, "A");
}

TEST(ScanCompare, ClassChangeAtTheSameIndexIsIgnored)
{
    Table t;
    t.put("X", 2, 2, true);
    EXPECT_TRUE(compare(t, {slot("X", 2, 3, true)}).empty());
    EXPECT_EQ(t.s[2].deviceClass, 2);
}

TEST(ScanCompare, AStopDuringAnIndexSwapLosesNoDevice)
{
    Table t;
    t.put("TRK-A", 1, 3, true);
    t.put("TRK-B", 2, 3, true);
    PendingEvents p;
    reconcileScan(t.s, std::vector<DeviceSlot>{slot("TRK-B", 1, 3, true), slot("TRK-A", 2, 3, true)}.data(), 2, p);
    std::vector<Event> first;
    deliver(p, first, 1); // stopped at the first IndexChanged
    ASSERT_EQ(first.size(), 1u);
    EXPECT_TRUE(argIs(first[0].arg, "TRK-B", 1, 2));
    // Both trackers are in the table, and the next run reports the move that is still owed.
    EXPECT_STREQ(t.s[1].serial, "TRK-B");
    EXPECT_STREQ(t.s[2].serial, "TRK-A");
    std::vector<Event> rest;
    deliver(p, rest);
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].event, DeviceEvent_IndexChanged);
    EXPECT_TRUE(argIs(rest[0].arg, "TRK-A", 2, 1));
    // Unplugged later, TRK-A is reported gone: no ghost.
    const auto gone = compare(t, {slot("TRK-B", 1, 3, true)});
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(gone[0].event, DeviceEvent_TrackerDisconnected);
    EXPECT_TRUE(argIs(gone[0].arg, "TRK-A", 2, 2));
}

// ---- the scan against the simulated rig ---------------------------------------------------------

namespace {

class Scan : public SimSession {
protected:
    int scan() { return scanDevices(sys, scanned); }

    DeviceSlot scanned[kMaxDevices];
};

} // namespace

TEST_F(Scan, TakesOnlyHeadsetsControllersAndTrackersPackedFromTheFront)
{
    ASSERT_NE(sys, nullptr);
    vrsim_set_device(1, 4, "LHB-BASE", 1);
    vrsim_set_device(3, 2, "LHR-C", 1);
    vrsim_set_device(5, 5, "DISPLAY", 1);
    vrsim_set_device(9, 3, "LHR-T", 0);
    vrsim_set_device(12, 7, "ODD", 1);
    ASSERT_EQ(scan(), 2);
    EXPECT_STREQ(scanned[0].serial, "LHR-C");
    EXPECT_EQ(scanned[0].index, 3);
    EXPECT_TRUE(scanned[0].connected);
    EXPECT_STREQ(scanned[1].serial, "LHR-T");
    EXPECT_EQ(scanned[1].index, 9);
    EXPECT_EQ(scanned[1].deviceClass, 3);
    EXPECT_FALSE(scanned[1].connected);
}

TEST_F(Scan, SerialsThatAreMissingLongOrRepeated)
{
    ASSERT_NE(sys, nullptr);
    const std::string s70(70, 'L');
    const std::string s300(300, 'X');
    vrsim_set_device(0, 1, "", 1);               // empty: not taken
    vrsim_set_device(1, 2, s70.c_str(), 1);      // kept as its first 63 characters
    vrsim_set_device(2, 2, "LHR-FAIL", 1);       // failing query: not taken
    vrsim_set_serial_error(2, vr::TrackedProp_NotYetAvailable);
    vrsim_set_device(3, 3, s300.c_str(), 1);     // does not fit in 256 bytes: not taken
    vrsim_set_device(4, 3, "LHR-TWIN", 1);
    vrsim_set_device(6, 2, "LHR-TWIN", 0);       // same serial again: only the lower index
    ASSERT_EQ(scan(), 2);
    EXPECT_EQ(std::string(scanned[0].serial), s70.substr(0, 63));
    EXPECT_EQ(scanned[0].serial[63], '\0');
    EXPECT_STREQ(scanned[1].serial, "LHR-TWIN");
    EXPECT_EQ(scanned[1].index, 4);

    // A later pass never sees text left over from an earlier one.
    vrsim_set_device(1, 2, "LHR-SHORT", 1);
    ASSERT_EQ(scan(), 2);
    EXPECT_STREQ(scanned[0].serial, "LHR-SHORT");
    for (size_t i = std::strlen("LHR-SHORT"); i < sizeof scanned[0].serial; ++i)
        ASSERT_EQ(scanned[0].serial[i], 0);
}

// Random rigs, scanned and compared again and again: the table always ends up holding exactly the
// taken devices at their own indices, every event agrees with the tables, and comparing the same
// scan twice raises nothing the second time.
TEST_F(Scan, RandomRigsKeepTheTableAndEventsConsistent)
{
    ASSERT_NE(sys, nullptr);
    std::mt19937 rng(20261207);
    const char* pool[] = {"", "A", "B", "C", "D", "E", "F", "G", "H", "LHR-LONG-SERIAL-0123456789"};
    Table t;
    Table stopped;
    PendingEvents waiting;
    std::deque<Event> owed;
    for (int round = 0; round < 4000; ++round) {
        for (uint32_t i = 0; i < 16; ++i) {
            const int cls = std::uniform_int_distribution<int>(0, 5)(rng);
            const char* serial = pool[std::uniform_int_distribution<int>(0, 9)(rng)];
            vrsim_set_device(i, cls, serial, std::uniform_int_distribution<int>(0, 1)(rng));
            vrsim_set_serial_error(i, std::uniform_int_distribution<int>(0, 30)(rng) == 0 ? 6 : 0);
        }
        const Table before = t;
        const int n = scan();
        std::map<std::string, const DeviceSlot*> taken;
        for (int s = 0; s < n; ++s)
            taken[scanned[s].serial] = &scanned[s];
        ASSERT_EQ(taken.size(), static_cast<size_t>(n)) << "serials in one scan are unique";
        std::map<std::string, int> oldIndex;
        for (int k = 0; k < 16; ++k)
            if (!isEmpty(before.s[k]))
                oldIndex[before.s[k].serial] = k;

        const auto events = compare(t, std::vector<DeviceSlot>(scanned, scanned + n));
        for (int k = 0; k < 16; ++k) {
            if (isEmpty(t.s[k])) {
                ASSERT_TRUE(t.slotZero(k));
                continue;
            }
            auto it = taken.find(t.s[k].serial);
            ASSERT_NE(it, taken.end()) << "table holds a device the scan did not take";
            ASSERT_EQ(it->second->index, k);
            ASSERT_EQ(t.s[k].index, k);
            ASSERT_EQ(t.s[k].connected, it->second->connected);
        }
        for (const auto& [serial, d] : taken)
            ASSERT_STREQ(t.s[d->index].serial, serial.c_str()) << "a taken device is missing from the table";

        std::set<std::string> reportedMoves;
        for (const Event& e : events) {
            ASSERT_EQ(e.count, n);
            const std::string serial = e.serial();
            ASSERT_FALSE(serial.empty());
            const bool known = oldIndex.count(serial) > 0;
            if (e.event == DeviceEvent_IndexChanged) {
                ASSERT_TRUE(known);
                ASSERT_EQ(e.arg.index, taken.at(serial)->index);
                ASSERT_EQ(e.arg.index2, oldIndex.at(serial));
                reportedMoves.insert(serial);
            } else if (taken.count(serial) == 0) {
                ASSERT_TRUE(known);
                ASSERT_EQ(e.event, disconnectEvent(before.s[oldIndex.at(serial)].deviceClass));
                ASSERT_EQ(e.arg.index, oldIndex.at(serial));
            } else {
                const DeviceSlot* d = taken.at(serial);
                ASSERT_EQ(e.arg.index, e.arg.index2);
                if (!known) {
                    ASSERT_EQ(e.event, d->connected ? connectEvent(d->deviceClass) : disconnectEvent(d->deviceClass));
                }
            }
        }
        for (const auto& [serial, d] : taken) {
            if (oldIndex.count(serial) && oldIndex.at(serial) != d->index) {
                ASSERT_EQ(reportedMoves.count(serial), 1u) << "a moved device must report its move";
            }
        }

        const Table after = t;
        ASSERT_TRUE(compare(t, std::vector<DeviceSlot>(scanned, scanned + n)).empty());
        ASSERT_EQ(std::memcmp(after.s, t.s, sizeof t.s), 0);

        // The same scans with stops at random events: what a stop leaves waiting is delivered
        // first by the next run, so the events come out the same, and the table never differs.
        owed.insert(owed.end(), events.begin(), events.end());
        std::vector<Event> got;
        while (!waiting.empty())
            deliver(waiting, got, static_cast<int>(got.size()) + 1 + std::uniform_int_distribution<int>(0, 3)(rng));
        reconcileScan(stopped.s, scanned, n, waiting);
        deliver(waiting, got, static_cast<int>(got.size()) + std::uniform_int_distribution<int>(0, 4)(rng));
        for (const Event& e : got) {
            ASSERT_FALSE(owed.empty());
            ASSERT_TRUE(sameEvent(e, owed.front()));
            owed.pop_front();
        }
        ASSERT_EQ(owed.size(), static_cast<size_t>(waiting.size - waiting.next));
        ASSERT_EQ(std::memcmp(stopped.s, t.s, sizeof t.s), 0);
    }
}
