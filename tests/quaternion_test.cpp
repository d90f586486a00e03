// rotationToQuaternion: the branches, the tie rule, and random rotations.
#include <pose/quaternion.h>

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using ViveSystem::Quaternion;
using ViveSystem::rotationToQuaternion;

namespace {

Quaternion of(float r00, float r01, float r02, float r10, float r11, float r12, float r20, float r21, float r22)
{
    const float r[3][3] = {{r00, r01, r02}, {r10, r11, r12}, {r20, r21, r22}};
    return rotationToQuaternion(r);
}

void expectWxyz(const Quaternion& q, float w, float x, float y, float z)
{
    EXPECT_NEAR(q.w, w, 1e-6f);
    EXPECT_NEAR(q.x, x, 1e-6f);
    EXPECT_NEAR(q.y, y, 1e-6f);
    EXPECT_NEAR(q.z, z, 1e-6f);
}

} // namespace

TEST(Quaternion, KnownRotations)
{
    expectWxyz(of(1, 0, 0, 0, 1, 0, 0, 0, 1), 1, 0, 0, 0);
    // Half turn about x: trace -1, second branch with i = 0.
    expectWxyz(of(1, 0, 0, 0, -1, 0, 0, 0, -1), 0, 1, 0, 0);
    // Half turn about z: the tie between R11 and R00 keeps i = 0, then R22 wins.
    expectWxyz(of(-1, 0, 0, 0, -1, 0, 0, 0, 1), 0, 0, 0, 1);
    // Half turn about y.
    expectWxyz(of(-1, 0, 0, 0, 1, 0, 0, 0, -1), 0, 0, 1, 0);

    // 200 degrees about z: the second branch, with w negative (no choice of sign).
    const float a = 200.0f * 3.14159265f / 180.0f;
    const Quaternion q = of(std::cos(a), -std::sin(a), 0, std::sin(a), std::cos(a), 0, 0, 0, 1);
    EXPECT_NEAR(q.w, -0.173648f, 1e-5f);
    EXPECT_NEAR(q.z, 0.984808f, 1e-5f);
    EXPECT_NEAR(q.x, 0.0f, 1e-6f);
    EXPECT_NEAR(q.y, 0.0f, 1e-6f);
}

TEST(Quaternion, ATraceOfExactlyZeroTakesTheDiagonalBranch)
{
    // The trace branch would give w = 0.5; the diagonal branch gives x = sqrt(2)/2 and w = 0.
    const Quaternion q = of(0.5f, 0, 0, 0, -0.25f, 0, 0, 0, -0.25f);
    expectWxyz(q, 0.0f, std::sqrt(2.0f) / 2.0f, 0.0f, 0.0f);
}

TEST(Quaternion, RandomRotationsGiveUnitQuaternionsThatRotateAsTheMatrix)
{
    std::mt19937 rng(7);
    std::normal_distribution<double> n(0.0, 1.0);
    for (int iter = 0; iter < 20000; ++iter) {
        // A uniformly random rotation from a random unit quaternion.
        double w = n(rng), x = n(rng), y = n(rng), z = n(rng);
        const double len = std::sqrt(w * w + x * x + y * y + z * z);
        w /= len, x /= len, y /= len, z /= len;
        const float r[3][3] = {
            {float(1 - 2 * (y * y + z * z)), float(2 * (x * y - w * z)), float(2 * (x * z + w * y))},
            {float(2 * (x * y + w * z)), float(1 - 2 * (x * x + z * z)), float(2 * (y * z - w * x))},
            {float(2 * (x * z - w * y)), float(2 * (y * z + w * x)), float(1 - 2 * (x * x + y * y))},
        };
        const Quaternion q = rotationToQuaternion(r);
        const double qn = std::sqrt(double(q.w) * q.w + double(q.x) * q.x + double(q.y) * q.y + double(q.z) * q.z);
        ASSERT_NEAR(qn, 1.0, 1e-5) << iter;
        // q and -q are the same rotation: compare the vectors they rotate.
        const double v[3] = {0.3, -0.7, 0.64};
        const double qw = q.w, qx = q.x, qy = q.y, qz = q.z;
        // t = 2 q_vec x v; v' = v + w t + q_vec x t
        const double t[3] = {2 * (qy * v[2] - qz * v[1]), 2 * (qz * v[0] - qx * v[2]), 2 * (qx * v[1] - qy * v[0])};
        const double rotated[3] = {v[0] + qw * t[0] + (qy * t[2] - qz * t[1]),
                                   v[1] + qw * t[1] + (qz * t[0] - qx * t[2]),
                                   v[2] + qw * t[2] + (qx * t[1] - qy * t[0])};
        for (int i = 0; i < 3; ++i) {
            const double expected = r[i][0] * v[0] + r[i][1] * v[1] + r[i][2] * v[2];
            ASSERT_NEAR(rotated[i], expected, 2e-5) << iter;
        }
    }
}
