// Body roles (tavrin_role): each device's default, and who holds which role in a frame: every
// role but PROP by at most one device. (Their names are the recording library's.)
#pragma once

#include <cstdint>

namespace ViveSystem {

constexpr int32_t kRoleNone = 0;
constexpr int32_t kRoleHead = 1;
constexpr int32_t kRoleLeftHand = 2;
constexpr int32_t kRoleRightHand = 3;
constexpr int32_t kRoleProp = 15;
constexpr int32_t kRoles = 16;

inline bool validRole(int32_t role)
{
    return role >= 0 && role < kRoles;
}

// A device's role when nothing is assigned to it: a headset is the head; a controller the runtime
// gives a hand (ETrackedControllerRole 1 left, 2 right) that hand; anything else none.
int32_t defaultRole(int32_t deviceClass, int32_t hand);

inline uint32_t roleBit(int32_t role)
{
    return uint32_t{1} << role;
}

// The roles of the n devices of a frame, in order. assigned[i] is the role assigned to device i
// (kRoleNone: none); claimed has the bit of every role assigned to any serial, present or not.
// An assigned device holds its role; any other holds its default unless an assignment claims that
// role or an earlier device of the frame already holds it, and otherwise none.
void resolveRoles(const int32_t* assigned, const int32_t* defaults, int n, uint32_t claimed, uint8_t* out);

} // namespace ViveSystem
