#include "source_rig.h"

#include "../pose/quaternion.h"
#include "../rig/body_roles.h"
#include "../rig/rig_file.h"
#include "../rig/roles.h"

#include <openvr.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstring>

namespace ViveSystem {

namespace {

// A caller's space, checked and its quaternion normalised; NULL is the default. False for one the
// rig refuses.
bool userSpace(const tavrin_space* space, UserSpace& s)
{
    s = defaultSpace();
    if (space == nullptr)
        return true;
    std::memcpy(s.position, space->position, sizeof s.position);
    std::memcpy(s.orientation, space->orientation, sizeof s.orientation);
    s.axes = space->axes;
    s.unitsPerMetre = space->units_per_metre;
    return checkSpace(s);
}

void write(const Placement& p, tavrin_device& d)
{
    std::memcpy(d.position, p.position, sizeof d.position);
    std::memcpy(d.rotation, p.rotation, sizeof d.rotation);
    std::memcpy(d.velocity, p.velocity, sizeof d.velocity);
    std::memcpy(d.angular_velocity, p.angularVelocity, sizeof d.angular_velocity);
    writeQuaternion(p.rotation, d.orientation);
}

// The rotation about +y that turns -z onto a device's heading on the floor (see floorForward).
bool headingOf(const float (&r)[3][3], float (&q)[4])
{
    float fx = 0, fz = 0;
    if (!floorForward(r, fx, fz))
        return false;
    const double theta = std::atan2(-static_cast<double>(fx), -static_cast<double>(fz));
    q[0] = static_cast<float>(std::cos(theta / 2));
    q[1] = 0;
    q[2] = static_cast<float>(std::sin(theta / 2));
    q[3] = 0;
    return true;
}

bool finitePlacement(const Placement& p)
{
    for (int row = 0; row < 3; ++row) {
        if (!std::isfinite(p.position[row]))
            return false;
        for (int col = 0; col < 3; ++col)
            if (!std::isfinite(p.rotation[row][col]))
                return false;
    }
    return true;
}

// Each thread's reasons for its latest load or save, by source: what one thread reads is its own
// call's reason, whatever other threads load meanwhile, and no other thread frees it. A few
// sources a thread, the oldest forgotten first.
struct Reason {
    uint64_t source = 0;
    std::string text;
};
thread_local std::array<Reason, 16> reasons;
thread_local size_t nextReason = 0;
std::atomic<uint64_t> sourceIds{1};

Reason* reasonFor(uint64_t source)
{
    for (Reason& r : reasons)
        if (r.source == source)
            return &r;
    return nullptr;
}

void noteReason(uint64_t source, std::string text)
{
    Reason* r = reasonFor(source);
    if (r == nullptr) {
        r = &reasons[nextReason];
        nextReason = (nextReason + 1) % reasons.size();
        r->source = source;
    }
    r->text = std::move(text);
}

} // namespace

sourceRig::sourceRig() : id(sourceIds.fetch_add(1, std::memory_order_relaxed))
{
    std::memset(seen, 0, sizeof seen);
}

void sourceRig::forgetSeen()
{
    std::lock_guard<std::mutex> lock(mutex);
    seenCount = 0;
}

// What every read would otherwise work out again: the roles assigned, the space's links.
void sourceRig::changed()
{
    ++version;
    claimed = rig.claimed();
    space = PoseChain();
    pushSpace(space, rig.space);
}

const sourceRig::IndexRig& sourceRig::lookUp(uint32_t index, const char* serial)
{
    IndexRig& c = cache[index];
    if (c.version == version && std::memcmp(c.serial, serial, kSerialField) == 0)
        return c;
    std::memcpy(c.serial, serial, kSerialField);
    c.version = version;
    const auto role = rig.roles.find(serial);
    c.assigned = role == rig.roles.end() ? kRoleNone : role->second;
    const auto own = rig.filters.find(serial);
    c.filter = own == rig.filters.end() ? rig.filter : own->second;
    c.filterSlot = -1;
    const auto offset = rig.offsets.find(serial);
    c.offset = PoseChain();
    if (offset != rig.offsets.end())
        c.offset.push(bodyLink(offset->second.position, offset->second.orientation));
    return c;
}

sourceRig::FilterSlot& sourceRig::filterSlot(const char* serial, int32_t& hint)
{
    const auto holds = [serial](const FilterSlot& slot) {
        return slot.used && std::memcmp(slot.serial, serial, kSerialField) == 0;
    };
    if (hint >= 0 && hint < kSourceDevices && holds(filterSlots[hint]))
        return filterSlots[hint];
    int32_t free = -1;
    for (int32_t k = 0; k < kSourceDevices; ++k) {
        if (holds(filterSlots[k]))
            return filterSlots[hint = k];
        if (!filterSlots[k].used && free < 0)
            free = k;
    }
    hint = free >= 0 ? free : 0; // a frame holds at most 64 devices: one is always free
    FilterSlot& slot = filterSlots[hint];
    std::memcpy(slot.serial, serial, kSerialField);
    slot.used = true;
    slot.state.primed = false;
    return slot;
}

uint32_t sourceRig::fill(const sampleFrame& frame, tavrin_device* out, bool filtered)
{
    std::lock_guard<std::mutex> lock(mutex);
    fills += filtered ? 1 : 0;
    int32_t assigned[kSourceDevices], defaults[kSourceDevices];
    uint32_t n = 0;
    for (uint32_t i = 0; i < frame.count; ++i) {
        const DeviceSample& s = frame.devices[i];
        if (!s.labelled)
            continue;
        tavrin_device& d = out[n];
        std::memcpy(d.serial, s.serial, sizeof d.serial);
        d.index = i;
        d.device_class = s.deviceClass;
        d.tracking_result = s.result;
        d.connected = s.connected ? 1 : 0;
        d.pose_valid = s.poseValid ? 1 : 0;
        d.battery = s.battery;
        Placement p = s.placement;
        const IndexRig& r = lookUp(i, s.serial);
        r.offset.resolve(p);
        if (filtered && r.filter.on()) {
            FilterSlot& f = filterSlot(s.serial, r.filterSlot);
            f.frame = fills;
            if (s.poseValid && s.connected) // tracking lost: the next pose starts the filter again
                oneEuro(r.filter, f.state, static_cast<double>(frame.instantNs - f.instant) / 1e9, p);
            else
                f.state.primed = false;
            f.instant = frame.instantNs;
        }
        std::memcpy(seen[n].serial, s.serial, kSerialField);
        seen[n].valid = s.poseValid;
        seen[n].deviceClass = s.deviceClass;
        seen[n].placement = p;
        space.resolve(p);
        write(p, d);
        assigned[n] = r.assigned;
        defaults[n] = defaultRole(s.deviceClass, s.hand);
        ++n;
    }
    seenCount = n;
    if (filtered) // a device in no paced frame starts again when it comes back
        for (FilterSlot& f : filterSlots)
            f.used = f.used && f.frame == fills;
    uint8_t roles[kSourceDevices];
    resolveRoles(assigned, defaults, static_cast<int>(n), claimed, roles);
    for (uint32_t k = 0; k < n; ++k)
        seen[k].role = out[k].role = roles[k];
    return n;
}

int32_t sourceRig::assignRoles()
{
    std::lock_guard<std::mutex> lock(mutex);
    const Seen* head = nullptr;
    const Seen* trackers[kSourceDevices];
    float positions[kSourceDevices][3];
    int count = 0;
    for (uint32_t k = 0; k < seenCount; ++k) {
        const Seen& s = seen[k];
        if (!s.valid || !finitePlacement(s.placement))
            continue;
        if (s.role == kRoleHead)
            head = &s;
        else if (s.deviceClass == vr::TrackedDeviceClass_GenericTracker) {
            trackers[count] = &s;
            std::memcpy(positions[count++], s.placement.position, sizeof positions[0]);
        }
    }
    int32_t roles[kSourceDevices];
    if (head == nullptr || !placeBodyRoles(head->placement, positions, count, roles))
        return -1;
    int32_t placed = 0;
    for (int k = 0; k < count; ++k) {
        if (roles[k] == kRoleNone)
            continue;
        rig.assignRole(trackers[k]->serial, roles[k]);
        ++placed;
    }
    if (placed > 0)
        changed();
    return placed;
}

int32_t sourceRig::setRole(const char* serial, int32_t role)
{
    if (!validSerial(serial) || !validRole(role))
        return DeviceError_InvalidArgument;
    std::lock_guard<std::mutex> lock(mutex);
    rig.assignRole(serial, role);
    changed();
    return DeviceError_None;
}

int32_t sourceRig::setSpace(const tavrin_space* space)
{
    UserSpace s;
    if (!userSpace(space, s))
        return DeviceError_InvalidArgument;
    std::lock_guard<std::mutex> lock(mutex);
    rig.space = s;
    changed();
    return DeviceError_None;
}

int32_t convertRecord(const tavrin_space* from, const tavrin_space* to, tavrin_device* device)
{
    UserSpace a, b;
    if (device == nullptr || !userSpace(from, a) || !userSpace(to, b))
        return DeviceError_InvalidArgument;
    tavrin_device& d = *device;
    Placement p;
    std::memcpy(p.position, d.position, sizeof p.position);
    std::memcpy(p.rotation, d.rotation, sizeof p.rotation);
    std::memcpy(p.velocity, d.velocity, sizeof p.velocity);
    std::memcpy(p.angularVelocity, d.angular_velocity, sizeof p.angularVelocity);
    convertSpace(a, b, p, d.orientation);
    std::memcpy(d.position, p.position, sizeof d.position);
    std::memcpy(d.rotation, p.rotation, sizeof d.rotation);
    std::memcpy(d.velocity, p.velocity, sizeof d.velocity);
    std::memcpy(d.angular_velocity, p.angularVelocity, sizeof d.angular_velocity);
    return DeviceError_None;
}

void sourceRig::getSpace(tavrin_space& out) const
{
    std::lock_guard<std::mutex> lock(mutex);
    std::memcpy(out.position, rig.space.position, sizeof out.position);
    std::memcpy(out.orientation, rig.space.orientation, sizeof out.orientation);
    out.axes = rig.space.axes;
    out.units_per_metre = rig.space.unitsPerMetre;
}

int32_t sourceRig::setOriginFrom(const char* serial)
{
    if (!validSerial(serial))
        return DeviceError_InvalidArgument;
    std::lock_guard<std::mutex> lock(mutex);
    for (uint32_t k = 0; k < seenCount; ++k) {
        const Seen& s = seen[k];
        float q[4];
        if (std::strncmp(s.serial, serial, kSerialField) != 0 || !s.valid || !finitePlacement(s.placement) ||
            !headingOf(s.placement.rotation, q))
            continue;
        const float origin[3] = {s.placement.position[0], 0.0f, s.placement.position[2]};
        std::memcpy(rig.space.position, origin, sizeof origin);
        std::memcpy(rig.space.orientation, q, sizeof q);
        changed();
        return DeviceError_None;
    }
    return DeviceError_InvalidArgument;
}

int32_t sourceRig::setOffset(const char* serial, const float* position, const float* orientation)
{
    if (!validSerial(serial))
        return DeviceError_InvalidArgument;
    DeviceOffset o{{0, 0, 0}, {1, 0, 0, 0}};
    if (position != nullptr)
        std::memcpy(o.position, position, sizeof o.position);
    if (orientation != nullptr)
        std::memcpy(o.orientation, orientation, sizeof o.orientation);
    if (!checkOffset(o))
        return DeviceError_InvalidArgument;
    std::lock_guard<std::mutex> lock(mutex);
    if (position == nullptr && orientation == nullptr)
        rig.offsets.erase(serial);
    else
        rig.offsets[serial] = o;
    changed();
    return DeviceError_None;
}

namespace {
FilterParams filterOf(const tavrin_filter* f)
{
    return f == nullptr ? FilterParams{} : FilterParams{f->min_cutoff_hz, f->beta, f->derivative_cutoff_hz};
}
} // namespace

int32_t sourceRig::setFilter(const char* serial, const tavrin_filter* filter)
{
    const FilterParams f = filterOf(filter);
    if ((serial != nullptr && !validSerial(serial)) || !checkFilter(f))
        return DeviceError_InvalidArgument;
    std::lock_guard<std::mutex> lock(mutex);
    if (serial == nullptr)
        rig.filter = f;
    else
        rig.filters[serial] = f;
    changed();
    return DeviceError_None;
}

int32_t sourceRig::getFilter(const char* serial, tavrin_filter& out) const
{
    if (serial != nullptr && !validSerial(serial))
        return DeviceError_InvalidArgument;
    std::lock_guard<std::mutex> lock(mutex);
    FilterParams f = rig.filter;
    if (serial != nullptr) {
        const auto own = rig.filters.find(serial);
        if (own != rig.filters.end())
            f = own->second;
    }
    out.min_cutoff_hz = f.minCutoffHz;
    out.beta = f.beta;
    out.derivative_cutoff_hz = f.derivativeCutoffHz;
    return DeviceError_None;
}

int32_t sourceRig::save(const char* path)
{
    if (path == nullptr)
        return DeviceError_InvalidArgument;
    RigSettings copy;
    {
        std::lock_guard<std::mutex> lock(mutex);
        copy = rig;
    }
    std::string why;
    const bool saved = saveRigFile(copy, path, why);
    noteReason(id, saved ? std::string() : why);
    return saved ? DeviceError_None : DeviceError_Unknown;
}

int32_t sourceRig::load(const char* path)
{
    if (path == nullptr)
        return DeviceError_InvalidArgument;
    RigSettings loaded;
    std::string why;
    const bool ok = loadRigFile(path, loaded, why);
    noteReason(id, ok ? std::string() : why);
    if (!ok)
        return DeviceError_InvalidArgument;
    std::lock_guard<std::mutex> lock(mutex);
    rig = std::move(loaded);
    changed();
    return DeviceError_None;
}

const char* sourceRig::error() const
{
    const Reason* r = reasonFor(id);
    return r == nullptr ? "" : r->text.c_str();
}

} // namespace ViveSystem
