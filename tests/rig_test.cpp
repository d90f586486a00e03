// The pose chain against hand-computed cases: each axes preset, and an offset with an origin, a
// heading and units together.
#include <pose/pose_chain.h>
#include <rig/rig_settings.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>

using namespace ViveSystem;

namespace {

// A device at (1, 2, 3) turned 90 degrees about +y, moving and turning.
Placement device()
{
    return Placement{{1, 2, 3}, {{0, 0, 1}, {0, 1, 0}, {-1, 0, 0}}, {0.1f, 0.2f, 0.3f}, {0.4f, 0.5f, 0.6f}};
}

void expectNear(const float* got, std::initializer_list<float> want, const char* what)
{
    int i = 0;
    for (float w : want) { // single precision, relative to the size of the value
        EXPECT_NEAR(got[i], w, 1e-5f * std::max(1.0f, std::abs(w))) << what << " [" << i << "]";
        ++i;
    }
}

void expectRotation(const Placement& p, std::initializer_list<std::initializer_list<float>> rows)
{
    int r = 0;
    for (const auto& row : rows)
        expectNear(p.rotation[r++], row, "rotation row");
}

Placement inSpace(int32_t axes)
{
    UserSpace s = defaultSpace();
    s.axes = axes;
    PoseChain chain;
    pushSpace(chain, s);
    Placement p = device();
    chain.resolve(p);
    return p;
}

} // namespace

TEST(PoseChain, EachAxesPreset)
{
    Placement p = inSpace(0); // OpenVR's own
    expectNear(p.position, {1, 2, 3}, "openvr position");
    expectRotation(p, {{0, 0, 1}, {0, 1, 0}, {-1, 0, 0}});

    p = inSpace(1); // z up: (-z, -x, y); a turn about OpenVR's up is one about +z
    expectNear(p.position, {-3, -1, 2}, "z-up position");
    expectNear(p.velocity, {-0.3f, -0.1f, 0.2f}, "z-up velocity");
    expectNear(p.angularVelocity, {-0.6f, -0.4f, 0.5f}, "z-up angular velocity");
    expectRotation(p, {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}});

    p = inSpace(2); // Unity: (x, y, -z), left-handed: the turn's sense and the spin flip
    expectNear(p.position, {1, 2, -3}, "unity position");
    expectNear(p.velocity, {0.1f, 0.2f, -0.3f}, "unity velocity");
    expectNear(p.angularVelocity, {-0.4f, -0.5f, 0.6f}, "unity angular velocity");
    expectRotation(p, {{0, 0, -1}, {0, 1, 0}, {1, 0, 0}});

    p = inSpace(3); // Unreal: (-z, x, y), left-handed, z up
    expectNear(p.position, {-3, 1, 2}, "unreal position");
    expectNear(p.velocity, {-0.3f, 0.1f, 0.2f}, "unreal velocity");
    expectNear(p.angularVelocity, {0.6f, -0.4f, -0.5f}, "unreal angular velocity");
    expectRotation(p, {{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}});
}

TEST(PoseChain, OffsetOriginHeadingAndUnitsTogether)
{
    // The device spins about +y at 1 rad/s; the point it stands for is 10 cm along its own +z.
    Placement p{{1, 2, 3}, {{0, 0, 1}, {0, 1, 0}, {-1, 0, 0}}, {0.1f, 0, 0}, {0, 1, 0}};
    const float t[3] = {0, 0, 0.1f};
    const float identity[4] = {1, 0, 0, 0};
    UserSpace s = defaultSpace();
    s.position[0] = 1;
    s.position[2] = 1;
    const float half = static_cast<float>(std::sqrt(0.5));
    const float turned[4] = {half, 0, half, 0}; // the space turned 90 degrees about +y
    std::copy(turned, turned + 4, s.orientation);
    s.unitsPerMetre = 100;
    ASSERT_TRUE(checkSpace(s));
    PoseChain chain;
    chain.push(bodyLink(t, identity));
    pushSpace(chain, s);
    chain.resolve(p);
    // Offset: p + R t = (1.1, 2, 3); v + w x (R t) = (0.1, 0, -0.1). Space: R_L^T (p - o) * 100.
    expectNear(p.position, {-200, 200, 10}, "position");
    expectNear(p.velocity, {10, 0, 10}, "velocity");
    expectNear(p.angularVelocity, {0, 1, 0}, "angular velocity");
    expectRotation(p, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}});
}
