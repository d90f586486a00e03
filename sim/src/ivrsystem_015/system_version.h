// What IVRSystem_015 (the SDK's 1.0.x headers) declares and later versions do not, answered as a
// runtime with nothing to say answers. The simulated system derives from it.
#pragma once

#include <openvr.h>

#include <mutex>

namespace vrsim {

class SystemVersion : public vr::IVRSystem {
public:
    void ResetSeatedZeroPose() override {}
    bool CaptureInputFocus() override { return false; }
    void ReleaseInputFocus() override {}
    bool IsInputFocusCapturedByAnotherProcess() override { return false; }
    uint32_t DriverDebugRequest(vr::TrackedDeviceIndex_t, const char*, char* response, uint32_t size) override
    {
        if (response && size > 0)
            response[0] = '\0';
        return 0;
    }
    void AcknowledgeQuit_UserPrompt() override
    {
        std::unique_lock<std::mutex> lock;
        enter(lock);
    }

protected:
    // Takes the rig lock and tells whether this interface belongs to the open session.
    virtual bool enter(std::unique_lock<std::mutex>& lock) = 0;
};

} // namespace vrsim
