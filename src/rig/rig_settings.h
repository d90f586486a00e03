// What a frame source keeps of a rig: each device's role and offset by serial, and the user's
// space. Plain data with the checks that every way in (the C functions, the rig file) shares.
#pragma once

#include "../filter/one_euro.h"
#include "../pose/space.h"

#include <cstdint>
#include <map>
#include <string>

namespace ViveSystem {

// The point a device stands for, in its own frame: metres, and a unit quaternion w x y z.
struct DeviceOffset {
    float position[3];
    float orientation[4];
};

// False for a non-finite number, a quaternion of no length, axes outside 0..3 or units not above
// zero; the quaternion is normalised.
bool checkSpace(UserSpace& space);
// False for a non-finite number or a quaternion of no length; the quaternion is normalised.
bool checkOffset(DeviceOffset& offset);
// False for a number that is not finite or is below zero.
bool checkFilter(const FilterParams& filter);
// A serial as tavrin_device carries it: 1 to 63 characters.
bool validSerial(const char* serial);

struct RigSettings {
    UserSpace space = defaultSpace();
    std::map<std::string, int32_t> roles; // assignments; never kRoleNone
    std::map<std::string, DeviceOffset> offsets;
    FilterParams filter;                         // every device without one of its own
    std::map<std::string, FilterParams> filters; // a device's own (off too)
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
