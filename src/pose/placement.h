// Where a device is and how it moves: the pose as the library carries it from the runtime's matrix
// to a record, through any transforms on the way.
#pragma once

namespace ViveSystem {

struct Placement {
    float position[3];        // metres, or the space's units
    float rotation[3][3];     // rows; columns are the device's axes
    float velocity[3];        // per second
    float angularVelocity[3]; // rad/s
};

} // namespace ViveSystem
