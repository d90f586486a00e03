// The simulated runtime: the OpenVR loader entry points and one IVRSystem per session over a
// scripted rig. All state sits behind one mutex; calls are short, so a pose query from one thread
// and discovery queries from another interleave as they would with a real runtime.
#include "rig.h"
#include "replay.h"

#include <openvr.h>
#include <vrsim.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace vrsim {

Rig& rig()
{
    // Never destroyed: a driver thread may still query the runtime while the process exits.
    static Rig* instance = new Rig;
    return *instance;
}

void Rig::resetLocked()
{
    for (auto& d : devices)
        d = Device{};
    for (auto& p : poses)
        p = Pose{};
    initError = 0;
    interfaceValid = true;
    counters = vrsim_counters{};
    counters.last_pose_origin = -1;
    counters.open_sessions = clientOpen ? 1 : 0;
    moving = Moving::No;
    replay.reset();
    runtimeRunning = true;
    killArmed = false;
    killSession = nullptr;
    events.clear();
}

void Rig::endSessionLocked()
{
    clientOpen = false;
    current = nullptr;
    token = 0;
    events.clear();
    counters.open_sessions = 0;
}

void Rig::pushEventLocked(uint32_t type, uint32_t index)
{
    if (!clientOpen)
        return;
    constexpr size_t kQueueLimit = 64; // like a runtime's queue: old events give way to new ones
    if (events.size() >= kQueueLimit)
        events.pop_front();
    events.push_back(Event{type, index});
}

void Rig::reapLocked()
{
    if (!killArmed || std::chrono::steady_clock::now() < killAt)
        return;
    killArmed = false;
    if (clientOpen && current == killSession) {
        ++counters.kills;
        endSessionLocked();
    }
}

namespace {

// A scripted value as the SDK's enumeration, byte for byte: a runtime newer than the SDK sends
// values the SDK does not name, and a client must cope.
template <class Enum>
Enum sdkValue(int32_t value)
{
    static_assert(sizeof(Enum) == sizeof value, "a 32-bit enumeration");
    Enum e;
    std::memcpy(&e, &value, sizeof e);
    return e;
}

void callDelay()
{
    const uint32_t us = rig().delayUs.load(std::memory_order_relaxed);
    if (us)
        std::this_thread::sleep_for(std::chrono::microseconds(us));
}

// One loader entry point's call: marks the thread inside for the whole call, delay included (the
// real loader has no lock: a second thread entering while one is inside is a race, and is
// counted), then holds the rig's lock with any kill that has fallen due carried out.
class LoaderCall {
public:
    // Runtime: an entry point that asks the runtime (delayed, under the rig lock). Counter: one
    // that only reads the loader's own state.
    enum class Kind { Runtime, Counter };

    explicit LoaderCall(Kind kind = Kind::Runtime)
    {
        if (rig().inLoader.fetch_add(1, std::memory_order_acq_rel) > 0) {
            std::lock_guard<std::mutex> counting(rig().mutex);
            ++rig().counters.concurrent_loader_calls;
        }
        if (kind == Kind::Counter) {
            if (rig().killArmed.load()) {
                std::lock_guard<std::mutex> reaping(rig().mutex);
                rig().reapLocked();
            }
            return;
        }
        callDelay();
        lock = std::unique_lock<std::mutex>(rig().mutex);
        rig().reapLocked();
    }
    ~LoaderCall()
    {
        if (lock.owns_lock())
            lock.unlock();
        rig().inLoader.fetch_sub(1, std::memory_order_acq_rel);
    }
    LoaderCall(const LoaderCall&) = delete;
    LoaderCall& operator=(const LoaderCall&) = delete;

private:
    std::unique_lock<std::mutex> lock;
};

// One session's interface. A new object serves every session, so a pointer kept past
// VR_ShutdownInternal is recognised and counted instead of answering for a later session.
class SimSystem final : public vr::IVRSystem {
public:
    // Takes the rig lock and tells whether this interface belongs to the open session.
    bool enter(std::unique_lock<std::mutex>& lock)
    {
        callDelay();
        lock = std::unique_lock<std::mutex>(rig().mutex);
        rig().reapLocked();
        if (rig().current == this)
            return true;
        ++rig().counters.use_after_shutdown;
        return false;
    }

    void GetRecommendedRenderTargetSize(uint32_t* w, uint32_t* h) override
    {
        if (w)
            *w = 0;
        if (h)
            *h = 0;
    }
    vr::HmdMatrix44_t GetProjectionMatrix(vr::EVREye, float, float) override { return {}; }
    void GetProjectionRaw(vr::EVREye, float* l, float* r, float* t, float* b) override
    {
        for (float* p : {l, r, t, b})
            if (p)
                *p = 0.0f;
    }
    bool ComputeDistortion(vr::EVREye, float, float, vr::DistortionCoordinates_t*) override { return false; }
    vr::HmdMatrix34_t GetEyeToHeadTransform(vr::EVREye) override { return {}; }
    bool GetTimeSinceLastVsync(float*, uint64_t*) override { return false; }
    int32_t GetD3D9AdapterIndex() override { return -1; }
    void GetDXGIOutputInfo(int32_t* index) override
    {
        if (index)
            *index = -1;
    }
    bool IsDisplayOnDesktop() override { return false; }
    bool SetDisplayVisibility(bool) override { return false; }

    void GetDeviceToAbsoluteTrackingPose(vr::ETrackingUniverseOrigin origin, float predicted,
                                         vr::TrackedDevicePose_t* out, uint32_t count) override
    {
        std::unique_lock<std::mutex> lock;
        const bool live = enter(lock);
        Rig& r = rig();
        if (live) {
            ++r.counters.pose_queries;
            r.counters.last_pose_origin = origin;
            r.counters.last_pose_prediction = predicted;
        }
        const double now = r.demoSeconds();
        for (uint32_t i = 0; i < count; ++i) {
            vr::TrackedDevicePose_t pose{};
            Device dev{};
            if (live && i < kDevices && r.deviceAt(i, now, dev) && dev.cls != 0) {
                const Pose p = r.poseAt(i, now);
                std::memcpy(pose.mDeviceToAbsoluteTracking.m, p.matrix, sizeof p.matrix);
                std::memcpy(&pose.eTrackingResult, &p.result, sizeof p.result);
                // A switched-off device keeps its last matrix but has no valid pose and no motion.
                if (dev.connected) {
                    std::memcpy(pose.vVelocity.v, p.velocity, sizeof p.velocity);
                    std::memcpy(pose.vAngularVelocity.v, p.angular, sizeof p.angular);
                    pose.bPoseIsValid = p.result == vr::TrackingResult_Running_OK ||
                                        p.result == vr::TrackingResult_Running_OutOfRange;
                }
                pose.bDeviceIsConnected = dev.connected;
            }
            out[i] = pose;
        }
    }

    void ResetSeatedZeroPose() override {}
    vr::HmdMatrix34_t GetSeatedZeroPoseToStandingAbsoluteTrackingPose() override { return identity(); }
    vr::HmdMatrix34_t GetRawZeroPoseToStandingAbsoluteTrackingPose() override { return identity(); }
    uint32_t GetSortedTrackedDeviceIndicesOfClass(vr::ETrackedDeviceClass, vr::TrackedDeviceIndex_t*, uint32_t,
                                                  vr::TrackedDeviceIndex_t) override
    {
        return 0;
    }
    vr::EDeviceActivityLevel GetTrackedDeviceActivityLevel(vr::TrackedDeviceIndex_t) override
    {
        return vr::k_EDeviceActivityLevel_Unknown;
    }
    void ApplyTransform(vr::TrackedDevicePose_t* out, const vr::TrackedDevicePose_t* in, const vr::HmdMatrix34_t*) override
    {
        if (out && in)
            *out = *in;
    }
    vr::TrackedDeviceIndex_t GetTrackedDeviceIndexForControllerRole(vr::ETrackedControllerRole) override
    {
        return vr::k_unTrackedDeviceIndexInvalid;
    }
    vr::ETrackedControllerRole GetControllerRoleForTrackedDeviceIndex(vr::TrackedDeviceIndex_t) override
    {
        return vr::TrackedControllerRole_Invalid;
    }

    vr::ETrackedDeviceClass GetTrackedDeviceClass(vr::TrackedDeviceIndex_t index) override
    {
        std::unique_lock<std::mutex> lock;
        if (!enter(lock))
            return vr::TrackedDeviceClass_Invalid;
        Rig& r = rig();
        ++r.counters.class_queries;
        Device dev{};
        if (!r.deviceAt(index, r.demoSeconds(), dev))
            return vr::TrackedDeviceClass_Invalid;
        return sdkValue<vr::ETrackedDeviceClass>(dev.cls);
    }

    bool IsTrackedDeviceConnected(vr::TrackedDeviceIndex_t index) override
    {
        std::unique_lock<std::mutex> lock;
        if (!enter(lock))
            return false;
        Rig& r = rig();
        ++r.counters.connected_queries;
        Device dev{};
        return r.deviceAt(index, r.demoSeconds(), dev) && dev.cls != 0 && dev.connected;
    }

    bool GetBoolTrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                      vr::ETrackedPropertyError* err) override
    {
        return unknownProperty(err), false;
    }
    float GetFloatTrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                        vr::ETrackedPropertyError* err) override
    {
        return unknownProperty(err), 0.0f;
    }
    int32_t GetInt32TrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                          vr::ETrackedPropertyError* err) override
    {
        return unknownProperty(err), 0;
    }
    uint64_t GetUint64TrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                            vr::ETrackedPropertyError* err) override
    {
        return unknownProperty(err), 0;
    }
    vr::HmdMatrix34_t GetMatrix34TrackedDeviceProperty(vr::TrackedDeviceIndex_t, vr::ETrackedDeviceProperty,
                                                       vr::ETrackedPropertyError* err) override
    {
        return unknownProperty(err), vr::HmdMatrix34_t{};
    }

    // Like the runtime: the length including the NUL; when the buffer is too small, the needed
    // length with TrackedProp_BufferTooSmall and the buffer untouched.
    uint32_t GetStringTrackedDeviceProperty(vr::TrackedDeviceIndex_t index, vr::ETrackedDeviceProperty prop,
                                            char* value, uint32_t size, vr::ETrackedPropertyError* err) override
    {
        std::unique_lock<std::mutex> lock;
        int32_t result = vr::TrackedProp_Success; // any scripted value, written byte for byte
        uint32_t length = 0;
        if (!enter(lock)) {
            result = vr::TrackedProp_CouldNotContactServer;
        } else {
            Rig& r = rig();
            ++r.counters.serial_queries;
            Device dev{};
            if (!r.deviceAt(index, r.demoSeconds(), dev) || dev.cls == 0) {
                result = vr::TrackedProp_InvalidDevice;
            } else if (prop != vr::Prop_SerialNumber_String) {
                result = vr::TrackedProp_UnknownProperty;
            } else if (dev.serialError != 0) {
                result = dev.serialError;
            } else {
                length = static_cast<uint32_t>(dev.serial.size() + 1);
                if (value == nullptr || size < length)
                    result = vr::TrackedProp_BufferTooSmall;
                else
                    std::memcpy(value, dev.serial.c_str(), length);
            }
        }
        if (err)
            std::memcpy(err, &result, sizeof result);
        return length;
    }

    const char* GetPropErrorNameFromEnum(vr::ETrackedPropertyError) override { return "TrackedProp_Unknown"; }

    // Delivers the session's queued events in order; the size must be the SDK's VREvent_t.
    bool PollNextEvent(vr::VREvent_t* event, uint32_t size) override
    {
        std::unique_lock<std::mutex> lock;
        const bool live = enter(lock);
        Rig& r = rig();
        ++r.counters.event_polls;
        if (!live || event == nullptr || size != sizeof(vr::VREvent_t) || r.events.empty())
            return false;
        const Rig::Event e = r.events.front();
        r.events.pop_front();
        std::memset(event, 0, sizeof *event);
        event->eventType = e.type;
        event->trackedDeviceIndex = e.index;
        return true;
    }
    bool PollNextEventWithPose(vr::ETrackingUniverseOrigin, vr::VREvent_t* event, uint32_t size,
                               vr::TrackedDevicePose_t* pose) override
    {
        if (pose)
            *pose = vr::TrackedDevicePose_t{};
        return PollNextEvent(event, size);
    }
    const char* GetEventTypeNameFromEnum(vr::EVREventType) override { return "VREvent_Unknown"; }
    vr::HiddenAreaMesh_t GetHiddenAreaMesh(vr::EVREye, vr::EHiddenAreaMeshType) override { return {}; }
    bool GetControllerState(vr::TrackedDeviceIndex_t, vr::VRControllerState_t*, uint32_t) override { return false; }
    bool GetControllerStateWithPose(vr::ETrackingUniverseOrigin, vr::TrackedDeviceIndex_t, vr::VRControllerState_t*,
                                    uint32_t, vr::TrackedDevicePose_t*) override
    {
        return false;
    }
    void TriggerHapticPulse(vr::TrackedDeviceIndex_t, uint32_t, unsigned short) override {}
    const char* GetButtonIdNameFromEnum(vr::EVRButtonId) override { return "k_EButton_Unknown"; }
    const char* GetControllerAxisTypeNameFromEnum(vr::EVRControllerAxisType) override
    {
        return "k_eControllerAxis_Unknown";
    }
    bool CaptureInputFocus() override { return false; }
    void ReleaseInputFocus() override {}
    bool IsInputFocusCapturedByAnotherProcess() override { return false; }
    uint32_t DriverDebugRequest(vr::TrackedDeviceIndex_t, const char*, char* response, uint32_t size) override
    {
        if (response && size > 0)
            response[0] = '\0';
        return 0;
    }
    vr::EVRFirmwareError PerformFirmwareUpdate(vr::TrackedDeviceIndex_t) override { return vr::VRFirmwareError_None; }

    void AcknowledgeQuit_Exiting() override
    {
        std::unique_lock<std::mutex> lock;
        if (enter(lock))
            ++rig().counters.quit_acks;
    }
    void AcknowledgeQuit_UserPrompt() override
    {
        std::unique_lock<std::mutex> lock;
        enter(lock);
    }

private:
    static vr::HmdMatrix34_t identity()
    {
        vr::HmdMatrix34_t m{};
        m.m[0][0] = m.m[1][1] = m.m[2][2] = 1.0f;
        return m;
    }
    static void unknownProperty(vr::ETrackedPropertyError* err)
    {
        if (err)
            *err = vr::TrackedProp_UnknownProperty;
    }
};

} // namespace

double Rig::replayTime() const
{
    const double elapsed =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - replayStart).count();
    const double span = replay->end() - replay->start();
    if (span <= 0)
        return replay->start();
    return replay->start() + (replayLoop ? std::fmod(elapsed, span) : std::min(elapsed, span));
}

bool Rig::deviceAt(uint32_t index, double now, Device& out) const
{
    if (index >= kDevices)
        return false;
    if (replay) {
        out = Device{};
        replay->deviceAt(index, replayTime(), out);
        return true;
    }
    if (moving == Moving::Demo)
        return demoDevice(index, now, out);
    if (moving == Moving::Fullbody)
        return fullbodyDevice(index, now, out);
    out = devices[index];
    return true;
}

Pose Rig::poseAt(uint32_t index, double now) const
{
    if (replay)
        return replay->poseAt(index, replayTime());
    if (moving == Moving::Demo)
        return demoPose(index, now);
    if (moving == Moving::Fullbody)
        return fullbodyPose(index, now);
    return poses[index];
}

double Rig::demoSeconds() const
{
    if (moving == Moving::No)
        return 0.0;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - demoStart).count();
}

} // namespace vrsim

using vrsim::rig;

// ---- loader entry points -----------------------------------------------------------------------
// Declared in namespace vr with C linkage, as the SDK declares them: the exported names are the
// plain ones.

namespace vr {

VR_INTERFACE uint32_t VR_CALLTYPE VR_InitInternal(vr::EVRInitError* peError, vr::EVRApplicationType)
{
    vrsim::LoaderCall call;
    vrsim::Rig& r = rig();
    ++r.counters.init_calls;
    // Any 32-bit value may be scripted, also one the SDK does not name: kept as an integer and
    // written byte for byte, as a runtime newer than the SDK would write it.
    int32_t error = vr::VRInitError_None;
    if (!r.runtimeRunning)
        error = vr::VRInitError_Init_NoServerForBackgroundApp;
    else if (r.initError != vr::VRInitError_None)
        error = r.initError;
    if (error != vr::VRInitError_None) {
        if (peError)
            std::memcpy(peError, &error, sizeof error);
        return 0;
    }
    // One client per process: an init while it is open initialises the same client again.
    if (!r.clientOpen) {
        r.sessions.push_back(new vrsim::SimSystem);
        r.current = r.sessions.back();
        r.clientOpen = true;
        r.events.clear();
    }
    const uint32_t token = r.nextToken++;
    r.token.store(token);
    r.counters.open_sessions = 1;
    if (peError)
        *peError = vr::VRInitError_None;
    return token;
}

VR_INTERFACE void VR_CALLTYPE VR_ShutdownInternal()
{
    vrsim::LoaderCall call;
    vrsim::Rig& r = rig();
    ++r.counters.shutdown_calls;
    // Counts nothing: any shutdown ends the client for the whole process.
    if (r.clientOpen)
        r.endSessionLocked();
}

VR_INTERFACE bool VR_CALLTYPE VR_IsInterfaceVersionValid(const char* version)
{
    vrsim::LoaderCall call;
    const vrsim::Rig& r = rig();
    return r.clientOpen && r.interfaceValid && version && std::strcmp(version, vr::IVRSystem_Version) == 0;
}

// The real loader answers from a counter of its own, without asking the runtime: no delay and no
// lock, but a kill that has fallen due is carried out first, as the runtime would have done it.
VR_INTERFACE uint32_t VR_CALLTYPE VR_GetInitToken()
{
    vrsim::LoaderCall call(vrsim::LoaderCall::Kind::Counter);
    return rig().token.load();
}

VR_INTERFACE void* VR_CALLTYPE VR_GetGenericInterface(const char* version, vr::EVRInitError* peError)
{
    vrsim::LoaderCall call;
    const vrsim::Rig& r = rig();
    vr::EVRInitError error = vr::VRInitError_None;
    void* result = nullptr;
    if (!r.clientOpen)
        error = vr::VRInitError_Init_NotInitialized;
    else if (!r.interfaceValid || !version || std::strcmp(version, vr::IVRSystem_Version) != 0)
        error = vr::VRInitError_Init_InterfaceNotFound;
    else
        result = static_cast<vr::IVRSystem*>(r.current);
    if (peError)
        *peError = error;
    return result;
}

} // namespace vr

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
    const int32_t serialError = d.serialError;
    d = vrsim::Device{};
    d.serialError = serialError;
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
    vrsim::Pose& p = rig().poses[index];
    p = vrsim::Pose{};
    if (matrix3x4)
        std::memcpy(p.matrix, matrix3x4, sizeof p.matrix);
    if (velocity)
        std::memcpy(p.velocity, velocity, sizeof p.velocity);
    if (angular_velocity)
        std::memcpy(p.angular, angular_velocity, sizeof p.angular);
    p.result = tracking_result;
}

VRSIM_API void vrsim_set_serial_error(uint32_t index, int32_t tracked_property_error)
{
    if (index >= vrsim::kDevices)
        return;
    std::lock_guard<std::mutex> lock(rig().mutex);
    rig().devices[index].serialError = tracked_property_error;
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
    auto recording = std::make_shared<vrsim::Recording>();
    if (path == nullptr || !vrsim::Recording::load(path, *recording, error)) {
        std::lock_guard<std::mutex> lock(rig().mutex);
        std::snprintf(replayError, sizeof replayError, "%s", path ? error.c_str() : "no path");
        return path && error.rfind("cannot open", 0) == 0 ? -1 : -2;
    }
    std::lock_guard<std::mutex> lock(rig().mutex);
    vrsim::Rig& r = rig();
    r.replay = std::move(recording);
    r.replayLoop = loop != 0;
    r.replayStart = std::chrono::steady_clock::now();
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
        } else if (rigName && std::strncmp(rigName, "replay:", 7) == 0) {
            if (vrsim_play_recording(rigName + 7, 1) != 0)
                std::fprintf(stderr, "vrsim: cannot replay %s: %s\n", rigName + 7, vrsim_replay_error());
        }
    }
} rigFromEnvironment;
} // namespace
