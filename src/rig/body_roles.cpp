#include "body_roles.h"

#include "roles.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace ViveSystem {

namespace {

constexpr int32_t kWaist = 4, kChest = 5, kLeftFoot = 6, kRightFoot = 7, kLeftKnee = 8, kRightKnee = 9, kLeftElbow = 10,
                  kRightElbow = 11, kLeftShoulder = 12, kRightShoulder = 13;

// Heights as fractions of the head's, and how far from the body's middle a limb is. Knees sit well
// below the waist and above the ankles for any build; the torso's trackers lie near the middle,
// the arms' well to a side.
constexpr double kLegsBelow = 0.45;     // thighs down
constexpr double kFootBelow = 0.18;     // a leg tracker lower than this is at the foot
constexpr double kWaistBelow = 0.72;    // a torso tracker lower than this is at the waist
constexpr double kChestBelow = 0.88;    // higher than this: the neck or the head's, not placed
constexpr double kShoulderAbove = 0.80; // an arm tracker higher than this is on the upper arm
constexpr double kMiddle = 0.09;        // metres either side of the head: the torso

struct Tracker {
    int k;         // its place in the caller's list
    double height; // as a fraction of the head's
    double left;   // metres to the head's left (negative: right)
};

// Left and right of one joint (feet, knees, elbows, shoulders): of two or more, the farthest to the
// head's left and the farthest to its right (a stride or a turned head moves a limb forward more
// than across, so their order holds where their sides may not); a lone one by its side.
void placePair(const std::vector<Tracker>& joint, int32_t left, int32_t right, int32_t* roles)
{
    if (joint.empty())
        return;
    if (joint.size() == 1) {
        roles[joint[0].k] = joint[0].left > 0 ? left : right;
        return;
    }
    const auto [mostRight, mostLeft] = std::minmax_element(
        joint.begin(), joint.end(), [](const Tracker& a, const Tracker& b) { return a.left < b.left; });
    roles[mostLeft->k] = left;
    roles[mostRight->k] = right;
}

} // namespace

bool floorForward(const float (&r)[3][3], float& fx, float& fz)
{
    const float kNearVertical = 0.93969262f; // cos 20 degrees
    fx = -r[0][2];
    fz = -r[2][2];
    if (std::abs(r[1][2]) > kNearVertical) {
        fx = r[0][1];
        fz = r[2][1];
    }
    const float length = std::hypot(fx, fz);
    if (!(length > 1e-6f))
        return false;
    fx /= length;
    fz /= length;
    return true;
}

bool placeBodyRoles(const Placement& head, const float (*positions)[3], int count, int32_t* roles)
{
    for (int k = 0; k < count; ++k)
        roles[k] = kRoleNone;
    float fx = 0, fz = 0;
    const double h = head.position[1];
    if (!floorForward(head.rotation, fx, fz) || !(h > 0.3) || !std::isfinite(h))
        return false;
    // Facing (fx, 0, fz) with +y up, the left is (fz, 0, -fx).
    std::vector<Tracker> feet, knees, torso, elbows, shoulders;
    for (int k = 0; k < count; ++k) {
        const float* p = positions[k];
        const double dx = p[0] - head.position[0], dz = p[2] - head.position[2];
        const Tracker t{k, p[1] / h, dx * fz - dz * fx};
        if (!std::isfinite(t.height) || !std::isfinite(t.left))
            continue;
        if (t.height < kLegsBelow)
            (t.height < kFootBelow ? feet : knees).push_back(t);
        else if (std::abs(t.left) < kMiddle)
            torso.push_back(t);
        else
            (t.height > kShoulderAbove ? shoulders : elbows).push_back(t);
    }
    placePair(feet, kLeftFoot, kRightFoot, roles);
    placePair(knees, kLeftKnee, kRightKnee, roles);
    placePair(elbows, kLeftElbow, kRightElbow, roles);
    placePair(shoulders, kLeftShoulder, kRightShoulder, roles);
    // The torso: the waist and the chest by their heights; of two for one, the nearer to its band's
    // middle.
    const Tracker* waist = nullptr;
    const Tracker* chest = nullptr;
    auto closer = [](const Tracker* held, const Tracker& t, double centre) {
        return held == nullptr || std::abs(t.height - centre) < std::abs(held->height - centre);
    };
    for (const Tracker& t : torso) {
        if (t.height < kWaistBelow && closer(waist, t, (kLegsBelow + kWaistBelow) / 2))
            waist = &t;
        else if (t.height >= kWaistBelow && t.height < kChestBelow && closer(chest, t, (kWaistBelow + kChestBelow) / 2))
            chest = &t;
    }
    if (waist)
        roles[waist->k] = kWaist;
    if (chest)
        roles[chest->k] = kChest;
    return true;
}

} // namespace ViveSystem
