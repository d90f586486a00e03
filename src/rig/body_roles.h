// Which tracker is which part of a body, from where the trackers are around the head of a person
// standing or walking upright: plain arithmetic on one moment's positions.
#pragma once

#include "../pose/placement.h"

#include <cstdint>

namespace ViveSystem {

// The heading of a device on the floor (OpenVR's axes, +y up): its -z axis projected, or its +y
// axis when -z is within 20 degrees of vertical (a device looking down or up). False when even
// that has no length on the floor.
bool floorForward(const float (&rotation)[3][3], float& fx, float& fz);

// The body role (a tavrin_role) of each of `count` trackers at `positions` (the standing universe,
// metres, the floor at y 0), seen from the head: feet and knees, the waist and chest, the
// shoulders (trackers on the upper arms) and elbows, left and right as the head faces; kRoleNone
// for one it cannot place (two for one role: the one nearer to where the role is expected keeps
// it). False, with every role kRoleNone, when the head has no heading on the floor or is not above
// the floor.
bool placeBodyRoles(const Placement& head, const float (*positions)[3], int count, int32_t* roles);

} // namespace ViveSystem
