#include "vmc.h"

namespace monitor {

const char* vmcAddress(int deviceClass)
{
    switch (deviceClass) {
    case 1: return "/VMC/Ext/Hmd/Pos";
    case 2: return "/VMC/Ext/Con/Pos";
    case 3: return "/VMC/Ext/Tra/Pos";
    default: return nullptr;
    }
}

std::vector<VmcPose> vmcPoses(const tavrin_frame& frame)
{
    std::vector<VmcPose> out;
    for (uint32_t k = 0; k < frame.device_count && k < TAVRIN_MAX_DEVICES; ++k) {
        const tavrin_device& d = frame.devices[k];
        const char* address = vmcAddress(d.device_class);
        if (address == nullptr || !d.connected || !d.pose_valid)
            continue;
        const float* q = d.orientation; // w x y z
        out.push_back(VmcPose{address,
                              d.serial,
                              {d.position[0], d.position[1], -d.position[2]},
                              {-q[1], -q[2], q[3], q[0]}});
    }
    return out;
}

} // namespace monitor
