// The pose read shared by both faces: one pose query of the runtime, and what is known of each
// index (class and serial) from discovery's table and from what earlier reads learnt. A steady
// read asks the runtime nothing else; an index whose pose shows a device the reader does not know
// (or has seen go dark since) is asked for its class and serial once, in that read.
#pragma once

#include "../discovery/device_table.h"
#include "../pose/placement.h"
#include "../session/session.h"

#include <climits>
#include <cstdint>
#include <mutex>

namespace vr {
struct TrackedDevicePose_t;
}

namespace ViveSystem {

// What a reader knows of one device index: a device (its class and serial), nothing, or not
// looked at yet. `recheck`: a read has seen the index show no device since it was labelled, so
// the next read that sees one there asks again (another device may have taken the index).
struct KnownDevice {
    enum State : uint8_t { Unknown, Device, NotDevice };
    State state;
    bool recheck;
    int32_t deviceClass;
    int32_t hand;    // a controller's hand, as discovery asked it (0 until it has)
    uint8_t battery; // percent, as discovery asked it (kNoBattery until it has)
    char serial[kSerialField];
};

// Which devices a reader labels: the classes of its scope, and whether a device whose serial
// cannot be read is still one (the legacy records keep it, with an empty serial).
struct LabelRules {
    ScanScope scope;
    bool unnamedDevices;
};
constexpr LabelRules kLegacyLabels{kLegacyScope, true};
constexpr LabelRules kSourceLabels{kSourceScope, false};

// Whether a pose moves: a velocity that is not exactly zero (NaN counts as moving).
bool hasMotion(const vr::TrackedDevicePose_t& pose);
// Whether a pose shows a device at its index: connected, or tracked and moving.
bool showsDevice(const vr::TrackedDevicePose_t& pose);

// Brings the labels of `count` indices up to date with one pose query: every index whose pose
// shows a device it does not know (or must recheck) is asked for its class and serial, and so is
// every index whose device was just found at another index (discovery's index of a serial may be
// a pass old, and the index it left may hold another device now). Each index is asked at most
// once; one found so and not asked again in this call stays unknown, out of the frame, until
// discovery or a later read knows it. So no two indices carry one serial.
void labelIndices(vr::IVRSystem* system, const vr::TrackedDevicePose_t* raw, uint32_t count, KnownDevice* known,
                  const LabelRules& rules);

// An instant of a read: the moment the runtime is asked, with no prediction (the legacy reads).
constexpr int64_t kQueryInstant = INT64_MIN;

// One index of a read: what the reader knows of it, and its pose taken out of the runtime's answer
// once. Only a labelled index carries the rest.
struct DeviceSample {
    bool labelled; // a device the reader knows: its class, hand and serial follow
    bool connected;
    bool poseValid;
    bool moving;    // a velocity that is not exactly zero (see hasMotion)
    int32_t result; // the ETrackingResult as the runtime wrote it, an integer
    int32_t deviceClass;
    int32_t hand;
    uint8_t battery; // percent 0..100, kNoBattery for none
    char serial[kSerialField];
    Placement placement; // OpenVR's standing universe, metres
};

// One read, as both faces take it: `count` indices, the instant the poses are for, when the runtime
// was asked (queryNs, just before the call) and when it answered (timeNs), all on the monotonic
// clock in ns.
struct sampleFrame {
    uint32_t count;
    int64_t timeNs;
    int64_t instantNs;
    int64_t queryNs;
    DeviceSample devices[kSourceDevices];
};

// The sample of one index from the runtime's pose and the label the reader holds.
void sampleIndex(const vr::TrackedDevicePose_t& pose, const KnownDevice& label, DeviceSample& out);

class poseReader {
public:
    explicit poseReader(const LabelRules& rules);
    poseReader(const poseReader&) = delete;
    poseReader& operator=(const poseReader&) = delete;

    // Discovery's table (a slot per index): what it holds is known; an index it no longer holds is
    // looked at again by the next read that sees a device there.
    void noteTable(const DeviceSlot* table, int size);
    // Everything is unknown again: a new session may number its devices afresh.
    void forget();

    // One pose query of indices 0..count-1 (at most kSourceDevices) inside a use of the ticket's
    // session, under `serialise` when given, for `instantNs` (the runtime's prediction: the instant
    // less the moment it is asked; kQueryInstant: no prediction, the poses of that moment); the
    // labels brought up to date and `out` filled. False, with `out` as it was, when the ticket
    // holds no live session.
    bool read(const sessionTicket& ticket, std::mutex* serialise, uint32_t count, int64_t instantNs, sampleFrame& out);

private:
    const LabelRules rules;
    std::mutex knownMutex; // discovery's table updates against reads
    KnownDevice known[kSourceDevices];
};

} // namespace ViveSystem
