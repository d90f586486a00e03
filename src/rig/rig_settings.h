// What a frame source keeps of a rig: each device's role and offset by serial, and the user's
// space. Plain data with the checks that every way in (the C functions, the rig file) shares.
#pragma once

#include "pose_chain.h"

#include <cstdint>
#include <map>
#include <string>

namespace ViveSystem {

// The point a device stands for, in its own frame: metres, and a unit quaternion w x y z.
struct DeviceOffset {
    float position[3];
    float orientation[4];
};

// The user's space: its origin and rotation in the standing universe, its axes (a tavrin_axes) and
// its units per metre.
struct UserSpace {
    float position[3];
    float orientation[4];
    int32_t axes;
    float unitsPerMetre;
};

UserSpace defaultSpace();
// OpenVR's own space: what a frame reports with no transform of the space at all.
bool isDefault(const UserSpace& space);
// False for a non-finite number, a quaternion of no length, axes outside 0..3 or units not above
// zero; the quaternion is normalised.
bool checkSpace(UserSpace& space);
// False for a non-finite number or a quaternion of no length; the quaternion is normalised.
bool checkOffset(DeviceOffset& offset);
// A serial as tavrin_device carries it: 1 to 63 characters.
bool validSerial(const char* serial);

// The chain of the space's links (origin and heading, axes, units), appended after any device's
// own; empty for the default space.
void pushSpace(PoseChain& chain, const UserSpace& space);

// Re-expresses a pose reported in space `from` in space `to`: from's links undone, then to's. The
// orientation (w x y z) follows the rotation: between spaces of one origin and heading its values
// are only moved and negated, exactly, keeping its sign; otherwise it is the new rotation's.
void convertSpace(const UserSpace& from, const UserSpace& to, Placement& p, float (&orientation)[4]);

struct RigSettings {
    UserSpace space = defaultSpace();
    std::map<std::string, int32_t> roles; // assignments; never kRoleNone
    std::map<std::string, DeviceOffset> offsets;
    // What a rig file held that this library does not read (a note, a device's label), kept as
    // JSON objects' text so that a save writes it back: at the top, in the space, by device.
    std::string extraTop, extraSpace;
    std::map<std::string, std::string> extraDevices;

    // Assigns a role to a serial; kRoleNone removes its assignment. Any other serial that held
    // the role (but prop, which any number may hold) loses its assignment.
    void assignRole(const std::string& serial, int32_t role);
    // The bits of the roles assigned to any serial.
    uint32_t claimed() const;
};

} // namespace ViveSystem
