// A space poses are reported in: an origin and rotation in OpenVR's standing universe, its axes
// and its units, and the transforms into it, out of it and between two of them. Plain arithmetic.
#pragma once

#include "placement.h"
#include "pose_chain.h"

#include <cstdint>

namespace ViveSystem {

// The space: its origin and rotation in the standing universe, its axes (a tavrin_axes) and its
// units per metre.
struct UserSpace {
    float position[3];
    float orientation[4];
    int32_t axes;
    float unitsPerMetre;
};

UserSpace defaultSpace();
// OpenVR's own space: what a frame reports with no transform of the space at all.
bool isDefault(const UserSpace& space);

// The chain of the space's links (origin and heading, axes, units), appended after any device's
// own; empty for the default space.
void pushSpace(PoseChain& chain, const UserSpace& space);

// Re-expresses a pose reported in space `from` in space `to`: from's links undone, then to's. The
// orientation (w x y z) follows the rotation: between spaces of one origin and heading its values
// are only moved and negated, exactly, keeping its sign; otherwise it is the new rotation's.
void convertSpace(const UserSpace& from, const UserSpace& to, Placement& p, float (&orientation)[4]);

} // namespace ViveSystem
