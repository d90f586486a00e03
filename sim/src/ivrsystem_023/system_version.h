// What IVRSystem_023 (the SDK's 2.x headers) declares and IVRSystem_015 did not, answered as a
// runtime with nothing to say answers. The simulated system derives from it.
#pragma once

#include <openvr.h>

#include <mutex>

namespace vrsim {

class SystemVersion : public vr::IVRSystem {
public:
    void GetOutputDevice(uint64_t* device, vr::ETextureType, VkInstance_T*) override
    {
        if (device)
            *device = 0;
    }
    uint32_t GetArrayTrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty, vr::PropertyTypeTag_t,
                                           void*, uint32_t, vr::ETrackedPropertyError* error) override
    {
        if (error)
            *error = vr::TrackedProp_UnknownProperty;
        return 0;
    }
    bool PollNextEventWithPoseAndOverlays(vr::ETrackingUniverseOrigin origin, vr::VREvent_t* event, uint32_t size,
                                          vr::TrackedDevicePose_t* pose, vr::VROverlayHandle_t* overlay) override
    {
        if (overlay)
            *overlay = vr::k_ulOverlayHandleInvalid;
        return PollNextEventWithPose(origin, event, size, pose);
    }
    bool IsInputAvailable() override { return true; }
    bool IsSteamVRDrawingControllers() override { return false; }
    bool ShouldApplicationPause() override { return false; }
    bool ShouldApplicationReduceRenderingWork() override { return false; }
    uint32_t GetAppContainerFilePaths(char* buffer, uint32_t size) override
    {
        if (buffer && size > 0)
            buffer[0] = '\0';
        return 1;
    }
    const char* GetRuntimeVersion() override { return "vrsim"; }

protected:
    // Takes the rig lock and tells whether this interface belongs to the open session.
    virtual bool enter(std::unique_lock<std::mutex>& lock) = 0;
};

} // namespace vrsim
