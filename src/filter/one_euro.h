// The One Euro filter (Casiez, Roussel and Vogel, CHI 2012) on a device's pose: a low-pass whose
// cutoff rises with speed, so that a still device is steady and a moving one does not lag. The
// position is low-passed per axis; the orientation on the sphere of rotations (a step of the way
// along the shortest arc); each cutoff is min_cutoff + beta x the speed, the speed being the length
// of the low-passed velocity vector (for rotation, its angular speed on a 0.1 m lever, so that one
// beta serves both). The velocities reported are low-passed as the pose they go with. Plain
// arithmetic on one device's state; the caller keeps a state per device.
#pragma once

#include "../pose/placement.h"

namespace ViveSystem {

struct FilterParams {
    float minCutoffHz = 0.0f; // 0: no filter
    float beta = 0.0f;
    float derivativeCutoffHz = 0.0f;
    bool on() const { return minCutoffHz > 0.0f; }
};

// The defaults for body trackers: a still tracker's jitter cut several times over, a tracker moving
// at a walk followed within millimetres.
constexpr FilterParams kDefaultFilter{0.5f, 15.0f, 0.5f};

struct OneEuroState {
    bool primed = false; // false: the next pose passes as it is and starts the filter
    double position[3];
    double velocity[3];    // the low-passed rate of the filtered position
    double reported[3];    // the runtime's velocity, low-passed
    double orientation[4]; // w x y z, of length 1
    double spin[3];        // the low-passed angular rate of the filtered orientation, rad/s
    double angular[3];     // the runtime's angular velocity, low-passed
};

// Filters one pose, `dtSeconds` after the previous one of this state (a step that is not above 0
// starts the filter again: the pose passes as it is).
void oneEuro(const FilterParams& params, OneEuroState& state, double dtSeconds, Placement& pose);

} // namespace ViveSystem
