// Poses for OSC receivers that take Unity's frame (left-handed, +y up, +z forward, metres): VMC
// receivers (the Virtual Motion Capture protocol: Unity, Unreal, Blender, VSeeFace,
// VirtualMotionCapture) and VRChat's OSC trackers. From OpenVR's axes (right-handed, -z forward) a
// position (x, y, z) becomes (x, y, -z) and a rotation quaternion (w, x, y, z) becomes
// (w, -x, -y, z). A frame in another space's axes and units is re-expressed by the library in
// Unity's axes and metres; the space's origin and heading stay: poses are sent in the rig's space.
#pragma once

#include <tavrin.h>

#include <string>
#include <vector>

namespace monitor {

struct VmcPose {
    const char* address; // /VMC/Ext/Hmd/Pos, /VMC/Ext/Con/Pos or /VMC/Ext/Tra/Pos
    std::string serial;
    float position[3];   // receivers' frame
    float rotation[4];   // receivers' frame, x y z w
};

// The space a frame's values are in: the source's (tavrin_source_get_space); the default one,
// OpenVR's, unless a rig set it.
const tavrin_space kOpenvrSpace = {{0, 0, 0}, {1, 0, 0, 0}, TAVRIN_AXES_OPENVR, 1.0f};

// A device's pose in Unity's frame of the rig's space: position (metres) and quaternion x y z w.
void unityPose(const tavrin_device& d, const tavrin_space& space, float (&position)[3], float (&rotation)[4]);

// The address of a device class, or null for one that is not sent (base stations).
const char* vmcAddress(int deviceClass);

// Every connected device of a frame with a valid pose, base stations left out, in frame order.
std::vector<VmcPose> vmcPoses(const tavrin_frame& frame, const tavrin_space& space = kOpenvrSpace);

// VRChat's OSC trackers: /tracking/trackers/N/position and /rotation for the roles waist (1),
// chest, left foot, right foot, left knee, right knee, left elbow and right elbow (8), and
// /tracking/trackers/head/...; three floats each: the position in Unity's frame (metres), the
// rotation as Unity's Euler angles in degrees (applied z, then x, then y). Connected devices with
// those roles and a valid pose only.
struct OscFloats {
    std::string address;
    float values[3];
};
std::vector<OscFloats> vrchatMessages(const tavrin_frame& frame, const tavrin_space& space = kOpenvrSpace);

} // namespace monitor
