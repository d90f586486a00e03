// A frame source's rig: the roles, offsets and space its user set up (by serial, kept across stop
// and start), and the fill of a frame's records through them. Setters run on any thread; the fill
// on the reading thread; one lock orders them.
#pragma once

#include "../reading/pose_reader.h"
#include "../rig/rig_settings.h"

#include <tavrin.h>

#include <cstdint>
#include <mutex>
#include <string>

namespace ViveSystem {

// A record read in space `from` re-expressed in space `to` (see tavrin_space_convert).
int32_t convertRecord(const tavrin_space* from, const tavrin_space* to, tavrin_device* device);

class sourceRig {
public:
    sourceRig();
    sourceRig(const sourceRig&) = delete;
    sourceRig& operator=(const sourceRig&) = delete;

    // A record for every labelled device of a read, ascending by index: its pose with its offset
    // and the space applied, and its role (a pure function of the read and the rig). Returns the
    // number of records.
    // `filtered`: a paced read's frame, each device's filter applied (its state kept by serial).
    uint32_t fill(const sampleFrame& frame, tavrin_device* out, bool filtered = false);

    // The C functions' operations: DeviceError_None, or DeviceError_InvalidArgument with nothing
    // changed (see tavrin.h).
    int32_t setRole(const char* serial, int32_t role);
    int32_t setSpace(const tavrin_space* space);
    void getSpace(tavrin_space& out) const;
    int32_t setOriginFrom(const char* serial);
    int32_t setOffset(const char* serial, const float* position, const float* orientation);
    int32_t setFilter(const char* serial, const tavrin_filter* filter);
    int32_t getFilter(const char* serial, tavrin_filter& out) const;
    // Gives body roles to the trackers of the latest frame it can place around its head (see
    // placeBodyRoles): how many, or -1, changing nothing, without a valid head pose there.
    int32_t assignRoles();
    int32_t save(const char* path);
    int32_t load(const char* path);
    // The reason for the calling thread's latest load or save on this rig: "" when it went well.
    const char* error() const;
    // A read without a session: the latest frame has no devices to take an origin from.
    void forgetSeen();

private:
    // What a fill needs of one index, looked up again only when its serial or the rig changes.
    struct IndexRig {
        char serial[kSerialField];
        uint64_t version;
        int32_t assigned;
        FilterParams filter;
        mutable int32_t filterSlot; // where its serial's filter state was last found
        PoseChain offset; // the device's own link, or none
    };
    // The latest frame's devices in the standing universe, their offsets applied.
    struct Seen {
        char serial[kSerialField];
        bool valid;
        int32_t deviceClass;
        int32_t role; // as the frame gave it
        Placement placement;
    };

    const IndexRig& lookUp(uint32_t index, const char* serial); // holds mutex
    void changed(); // holds mutex

    mutable std::mutex mutex;
    RigSettings rig;
    uint64_t version = 1;
    uint32_t claimed = 0; // the roles assigned to any serial
    PoseChain space;      // the space's links: none for the default
    IndexRig cache[kSourceDevices] = {}; // version 0: looked up at first use
    // The filters' states by serial: a device keeps its own across an index change, and loses it
    // when it is in no frame.
    struct FilterSlot {
        char serial[kSerialField];
        bool used;
        uint64_t frame;  // the fill that last met it
        int64_t instant; // its latest pose's instant
        OneEuroState state;
    };
    // The serial's state: at `hint` when it is still there, else found or taken (and `hint` set).
    FilterSlot& filterSlot(const char* serial, int32_t& hint); // holds mutex
    FilterSlot filterSlots[kSourceDevices] = {};
    uint64_t fills = 0;
    Seen seen[kSourceDevices];
    uint32_t seenCount = 0;
    const uint64_t id; // names the rig in each thread's reasons; never reused
};

} // namespace ViveSystem
