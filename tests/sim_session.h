// A test fixture with a fresh simulated rig and one session opened through the OpenVR-compatible
// header, shut again (with any other session a test left open) when the test ends.
#pragma once

#include <openvr.h>
#include <vrsim.h>

#include <gtest/gtest.h>

namespace testing_support {

class SimSession : public ::testing::Test {
protected:
    SimSession()
    {
        vrsim_reset();
        vr::EVRInitError err = vr::VRInitError_None;
        sys = vr::VR_Init(&err, vr::VRApplication_Background);
    }
    ~SimSession() override
    {
        vrsim_counters c{};
        for (vrsim_get_counters(&c); c.open_sessions > 0; vrsim_get_counters(&c))
            vr::VR_Shutdown();
        vrsim_reset();
    }

    vr::IVRSystem* sys = nullptr;
};

} // namespace testing_support
