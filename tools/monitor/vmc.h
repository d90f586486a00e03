// Poses for VMC receivers (the Virtual Motion Capture protocol over OSC: Unity, Unreal, Blender,
// VSeeFace, VirtualMotionCapture). Receivers take Unity's frame: left-handed, +y up, +z forward,
// metres. OpenVR's standing universe is right-handed with -z forward, so a position (x, y, z)
// becomes (x, y, -z) and a rotation quaternion (w, x, y, z) becomes (-x, -y, z, w), sent x y z w.
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

// The address of a device class, or null for one that is not sent (base stations).
const char* vmcAddress(int deviceClass);

// Every connected device of a frame with a valid pose, base stations left out, in frame order.
std::vector<VmcPose> vmcPoses(const tavrin_frame& frame);

} // namespace monitor
