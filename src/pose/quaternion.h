// Rotation matrix to quaternion, in single precision, with no normalisation and no choice of
// sign: the trace branch when the trace is positive, otherwise the branch of the largest diagonal
// element (the lower index on a tie).
#pragma once

namespace ViveSystem {

struct Quaternion {
    float x, y, z, w;
};

Quaternion rotationToQuaternion(const float (&r)[3][3]);

// The quaternion of a rotation, stored w x y z as the records hold it.
inline void writeQuaternion(const float (&r)[3][3], float (&wxyz)[4])
{
    const Quaternion q = rotationToQuaternion(r);
    wxyz[0] = q.w;
    wxyz[1] = q.x;
    wxyz[2] = q.y;
    wxyz[3] = q.z;
}

} // namespace ViveSystem
