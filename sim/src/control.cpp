// The C control API that scripts the rig (vrsim.h), and VRSIM_RIG read as the library loads.
#include "replay.h"
#include "rig.h"

#include <openvr.h>
#include <vrsim.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

using vrsim::rig;

// ---- control API -------------------------------------------------------------------------------

extern "C" {

VRSIM_API void vrsim_reset(void)
{
    std::lock_guard<std::mutex> lock(rig().mutex);
    rig().resetLocked();
    rig().delayUs.store(0, std::memory_order_relaxed);
}

VRSIM_API void vrsim_set_init_error(int32_t evr_init_error)
{
    std::lock_guard<std::mutex> lock(rig().mutex);
    rig().initError = evr_init_error;
}

VRSIM_API void vrsim_set_interface_valid(int32_t valid)
{
    std::lock_guard<std::mutex> lock(rig().mutex);
    rig().interfaceValid = valid != 0;
}

VRSIM_API void vrsim_set_device(uint32_t index, int32_t device_class, const char* serial, int32_t connected)
{
    if (index >= vrsim::kDevices)
        return;
    std::lock_guard<std::mutex> lock(rig().mutex);
    vrsim::Device& d = rig().devices[index];
    const bool was = d.cls != 0;
    const int32_t serialError = d.serialError, hand = d.hand;
    const float battery = d.battery;
    d = vrsim::Device{};
    d.serialError = serialError;
    d.hand = hand;
    d.battery = battery;
    if (was && device_class == 0)
        rig().pushEventLocked(vr::VREvent_TrackedDeviceDeactivated, index);
    else if (!was && device_class != 0)
        rig().pushEventLocked(vr::VREvent_TrackedDeviceActivated, index);
    if (device_class == 0)
        return;
    d.cls = device_class;
    d.serial = serial ? serial : "";
    d.connected = connected != 0;
}

VRSIM_API void vrsim_set_pose(uint32_t index, const float matrix3x4[12], const float velocity[3],
                              const float angular_velocity[3], int32_t tracking_result)
{
    if (index >= vrsim::kDevices)
        return;
    std::lock_guard<std::mutex> lock(rig().mutex);
    vrsim::Pose p{};
    if (matrix3x4)
        std::memcpy(p.matrix, matrix3x4, sizeof p.matrix);
    if (velocity)
        std::memcpy(p.velocity, velocity, sizeof p.velocity);
    if (angular_velocity)
        std::memcpy(p.angular, angular_velocity, sizeof p.angular);
    p.result = tracking_result;
    rig().setPoseLocked(index, p);
}

VRSIM_API void vrsim_set_serial_error(uint32_t index, int32_t tracked_property_error)
{
    if (index >= vrsim::kDevices)
        return;
    std::lock_guard<std::mutex> lock(rig().mutex);
    rig().devices[index].serialError = tracked_property_error;
}

VRSIM_API void vrsim_set_controller_role(uint32_t index, int32_t role)
{
    if (index >= vrsim::kDevices)
        return;
    std::lock_guard<std::mutex> lock(rig().mutex);
    rig().devices[index].hand = role;
}

VRSIM_API void vrsim_set_noise(float position_m_rms, float rotation_rad_rms, uint32_t seed)
{
    std::lock_guard<std::mutex> lock(rig().mutex);
    const bool usable = std::isfinite(position_m_rms) && std::isfinite(rotation_rad_rms);
    rig().noisePosition = usable ? std::max(position_m_rms, 0.0f) : 0.0f;
    rig().noiseRotation = usable ? std::max(rotation_rad_rms, 0.0f) : 0.0f;
    rig().noiseSource.seed(seed);
}

VRSIM_API void vrsim_set_battery(uint32_t index, float fraction)
{
    if (index >= vrsim::kDevices)
        return;
    std::lock_guard<std::mutex> lock(rig().mutex);
    rig().devices[index].battery = fraction < 0.0f ? -1.0f : fraction;
}

VRSIM_API void vrsim_get_counters(vrsim_counters* out)
{
    if (!out)
        return;
    std::lock_guard<std::mutex> lock(rig().mutex);
    rig().reapLocked();
    *out = rig().counters;
}

VRSIM_API void vrsim_set_call_delay_us(uint32_t microseconds)
{
    rig().delayUs.store(microseconds, std::memory_order_relaxed);
}

VRSIM_API void vrsim_quit_runtime(uint32_t kill_after_ms)
{
    std::lock_guard<std::mutex> lock(rig().mutex);
    vrsim::Rig& r = rig();
    r.reapLocked();
    r.runtimeRunning = false;
    if (!r.clientOpen)
        return;
    r.pushEventLocked(vr::VREvent_Quit, vr::k_unTrackedDeviceIndexInvalid);
    r.killArmed = true;
    r.killAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(kill_after_ms);
    r.killSession = r.current;
}

namespace {
char replayError[512] = "";
}

VRSIM_API int32_t vrsim_play_recording(const char* path, int32_t loop)
{
    std::string error;
    auto recording = std::make_shared<vrsim::Replay>();
    if (path == nullptr || !vrsim::Replay::load(path, *recording, error)) {
        std::lock_guard<std::mutex> lock(rig().mutex);
        std::snprintf(replayError, sizeof replayError, "%s", path ? error.c_str() : "no path");
        return path && error.rfind("cannot open", 0) == 0 ? -1 : -2;
    }
    std::lock_guard<std::mutex> lock(rig().mutex);
    vrsim::Rig& r = rig();
    r.replay = std::move(recording);
    r.replayLoop = loop != 0;
    r.replayStartNs = 0; // from the first pose query on
    r.moving = vrsim::Rig::Moving::No;
    replayError[0] = '\0';
    return 0;
}

VRSIM_API const char* vrsim_replay_error(void)
{
    return replayError;
}

VRSIM_API void vrsim_start_runtime(void)
{
    std::lock_guard<std::mutex> lock(rig().mutex);
    rig().reapLocked();
    rig().runtimeRunning = true;
}

} // extern "C"

namespace {
// VRSIM_RIG=demo starts the demo rig as the runtime loads, so that any program sees motion.
struct RigFromEnvironment {
    RigFromEnvironment()
    {
        const char* rigName = std::getenv("VRSIM_RIG");
        if (rigName && std::strcmp(rigName, "demo") == 0) {
            vrsim_start_demo_rig();
        } else if (rigName && std::strcmp(rigName, "fullbody") == 0) {
            vrsim_start_fullbody_rig();
        } else if (rigName && std::strcmp(rigName, "noheadset") == 0) {
            vrsim_set_init_error(vr::VRInitError_Init_HmdNotFound);
        } else if (rigName && std::strncmp(rigName, "replay:", 7) == 0) {
            if (vrsim_play_recording(rigName + 7, 1) != 0)
                std::fprintf(stderr, "vrsim: cannot replay %s: %s\n", rigName + 7, vrsim_replay_error());
        }
    }
} rigFromEnvironment;
} // namespace
