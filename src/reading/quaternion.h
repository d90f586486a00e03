// Rotation matrix to quaternion, in single precision, with no normalisation and no choice of
// sign: the trace branch when the trace is positive, otherwise the branch of the largest diagonal
// element (the lower index on a tie).
#pragma once

namespace ViveSystem {

struct Quaternion {
    float x, y, z, w;
};

Quaternion rotationToQuaternion(const float (&r)[3][3]);

} // namespace ViveSystem
