#include "vmc.h"

#include <cmath>
#include <cstring>

namespace monitor {

namespace {

constexpr double kDegrees = 180.0 / 3.14159265358979323846;

} // namespace

void unityPose(const tavrin_device& d, const tavrin_space& space, float (&position)[3], float (&rotation)[4])
{
    // The rig's origin and heading in Unity's axes and metres: the library moves the values, and
    // a quaternion keeps its sign.
    tavrin_space unity = space;
    unity.axes = TAVRIN_AXES_UNITY;
    unity.units_per_metre = 1.0f;
    tavrin_device u = d;
    if (tavrin_space_convert(&space, &unity, &u) != 0)
        tavrin_space_convert(nullptr, &unity, &u); // a space the library refused: the frame's own
    std::memcpy(position, u.position, sizeof position);
    rotation[0] = u.orientation[1];
    rotation[1] = u.orientation[2];
    rotation[2] = u.orientation[3];
    rotation[3] = u.orientation[0];
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

std::vector<VmcPose> vmcPoses(const tavrin_frame& frame, const tavrin_space& space)
{
    std::vector<VmcPose> out;
    for (uint32_t k = 0; k < frame.device_count && k < TAVRIN_MAX_DEVICES; ++k) {
        const tavrin_device& d = frame.devices[k];
        const char* address = vmcAddress(d.device_class);
        if (address == nullptr || !d.connected || !d.pose_valid)
            continue;
        VmcPose pose{address, d.serial, {}, {}};
        unityPose(d, space, pose.position, pose.rotation);
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

std::vector<OscFloats> vrchatMessages(const tavrin_frame& frame, const tavrin_space& space)
{
    std::vector<OscFloats> out;
    for (uint32_t k = 0; k < frame.device_count && k < TAVRIN_MAX_DEVICES; ++k) {
        const tavrin_device& d = frame.devices[k];
        const char* tracker = vrchatTracker(d.role);
        if (tracker == nullptr || !d.connected || !d.pose_valid)
            continue;
        float p[3], q[4]; // q: x y z w
        unityPose(d, space, p, q);
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
