#include "quaternion.h"

#include <cmath>

namespace ViveSystem {

Quaternion rotationToQuaternion(const float (&r)[3][3])
{
    Quaternion q{};
    const float t = (r[2][2] + r[1][1]) + r[0][0];
    if (t > 0.0f) {
        const float s = std::sqrt(t + 1.0f);
        const float g = 0.5f / s;
        q.w = 0.5f * s;
        q.x = (r[2][1] - r[1][2]) * g;
        q.y = (r[0][2] - r[2][0]) * g;
        q.z = (r[1][0] - r[0][1]) * g;
        return q;
    }
    int i = 0;
    if (r[1][1] > r[0][0])
        i = 1;
    if (r[2][2] > r[i][i])
        i = 2;
    const int j = (i + 1) % 3;
    const int k = (j + 1) % 3;
    const float s = std::sqrt(((r[i][i] - r[j][j]) - r[k][k]) + 1.0f);
    const float g = 0.5f / s;
    float v[3];
    v[i] = 0.5f * s;
    v[j] = (r[j][i] + r[i][j]) * g;
    v[k] = (r[k][i] + r[i][k]) * g;
    q.w = (r[k][j] - r[j][k]) * g;
    q.x = v[0];
    q.y = v[1];
    q.z = v[2];
    return q;
}

} // namespace ViveSystem
