// A pose's placement in a record: position, rotation rows and the quaternion, from OpenVR's
// device-to-absolute matrix.
#pragma once

#include "quaternion.h"

#include <openvr.h>

#include <cstddef>

namespace ViveSystem {

// The quaternion of a rotation, stored w x y z.
inline void writeQuaternion(const float (&r)[3][3], float (&quaternion)[4])
{
    const Quaternion q = rotationToQuaternion(r);
    quaternion[0] = q.w;
    quaternion[1] = q.x;
    quaternion[2] = q.y;
    quaternion[3] = q.z;
}

// Position, rotation rows (three elements of each; a fourth, if the layout has one, is left as it
// was) and the quaternion, stored w x y z.
template <size_t Columns>
void writePlacement(const vr::TrackedDevicePose_t& pose, float (&position)[3], float (&rotation)[3][Columns],
                    float (&quaternion)[4])
{
    const auto& m = pose.mDeviceToAbsoluteTracking.m;
    float r[3][3];
    for (int row = 0; row < 3; ++row) {
        position[row] = m[row][3];
        for (int col = 0; col < 3; ++col)
            rotation[row][col] = r[row][col] = m[row][col];
    }
    writeQuaternion(r, quaternion);
}

} // namespace ViveSystem
