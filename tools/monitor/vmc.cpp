#include "vmc.h"

#include <cmath>

namespace monitor {

namespace {

// The rows of each tavrin_axes matrix (new coordinates from OpenVR's) and its determinant.
const float kAxes[4][3][3] = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
                              {{0, 0, -1}, {-1, 0, 0}, {0, 1, 0}},
                              {{1, 0, 0}, {0, 1, 0}, {0, 0, -1}},
                              {{0, 0, -1}, {1, 0, 0}, {0, 1, 0}}};
const float kDeterminant[4] = {1, 1, -1, -1};

// M^T v: back to OpenVR's axes.
void fromAxes(int32_t axes, const float* v, float (&out)[3])
{
    const auto& m = kAxes[axes >= 0 && axes < 4 ? axes : 0];
    for (int i = 0; i < 3; ++i)
        out[i] = m[0][i] * v[0] + m[1][i] * v[1] + m[2][i] * v[2];
}

constexpr double kDegrees = 180.0 / 3.14159265358979323846;

} // namespace

void unityPose(const tavrin_device& d, const FrameUnits& units, float (&position)[3], float (&rotation)[4])
{
    const int32_t axes = units.axes >= 0 && units.axes < 4 ? units.axes : 0;
    float p[3], v[3];
    fromAxes(axes, d.position, p);
    // A quaternion's vector part turns with the axes, and with a mirror changes its sense.
    fromAxes(axes, d.orientation + 1, v);
    const float sense = kDeterminant[axes];
    const float s = units.unitsPerMetre > 0 ? units.unitsPerMetre : 1.0f;
    position[0] = p[0] / s;
    position[1] = p[1] / s;
    position[2] = -p[2] / s;
    rotation[0] = -sense * v[0];
    rotation[1] = -sense * v[1];
    rotation[2] = sense * v[2];
    rotation[3] = d.orientation[0];
}

const char* vmcAddress(int deviceClass)
{
    switch (deviceClass) {
    case 1: return "/VMC/Ext/Hmd/Pos";
    case 2: return "/VMC/Ext/Con/Pos";
    case 3: return "/VMC/Ext/Tra/Pos";
    default: return nullptr;
    }
}

std::vector<VmcPose> vmcPoses(const tavrin_frame& frame, const FrameUnits& units)
{
    std::vector<VmcPose> out;
    for (uint32_t k = 0; k < frame.device_count && k < TAVRIN_MAX_DEVICES; ++k) {
        const tavrin_device& d = frame.devices[k];
        const char* address = vmcAddress(d.device_class);
        if (address == nullptr || !d.connected || !d.pose_valid)
            continue;
        VmcPose pose{address, d.serial, {}, {}};
        unityPose(d, units, pose.position, pose.rotation);
        out.push_back(pose);
    }
    return out;
}

namespace {

// VRChat's tracker of a role: "1".."8" for waist .. right elbow, "head"; null for any other.
const char* vrchatTracker(int role)
{
    static const char* const kTrackers[] = {nullptr, "head", nullptr, nullptr, "1", "2", "3", "4", "5", "6", "7", "8"};
    return role >= 0 && role < 12 ? kTrackers[role] : nullptr;
}

} // namespace

std::vector<OscFloats> vrchatMessages(const tavrin_frame& frame, const FrameUnits& units)
{
    std::vector<OscFloats> out;
    for (uint32_t k = 0; k < frame.device_count && k < TAVRIN_MAX_DEVICES; ++k) {
        const tavrin_device& d = frame.devices[k];
        const char* tracker = vrchatTracker(d.role);
        if (tracker == nullptr || !d.connected || !d.pose_valid)
            continue;
        float p[3], q[4]; // q: x y z w
        unityPose(d, units, p, q);
        const double x = q[0], y = q[1], z = q[2], w = q[3];
        // R = Ry Rx Rz: Unity's Euler angles from the rotation's elements.
        const double r12 = 2 * (y * z - w * x), r02 = 2 * (x * z + w * y), r22 = 1 - 2 * (x * x + y * y);
        const double r10 = 2 * (x * y + w * z), r11 = 1 - 2 * (x * x + z * z);
        const double pitch = std::asin(std::fmax(-1.0, std::fmin(1.0, -r12))) * kDegrees;
        const std::string base = std::string("/tracking/trackers/") + tracker;
        out.push_back(OscFloats{base + "/position", {p[0], p[1], p[2]}});
        out.push_back(OscFloats{base + "/rotation",
                                {static_cast<float>(pitch), static_cast<float>(std::atan2(r02, r22) * kDegrees),
                                 static_cast<float>(std::atan2(r10, r11) * kDegrees)}});
    }
    return out;
}

} // namespace monitor
