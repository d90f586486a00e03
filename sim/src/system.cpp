// The simulated runtime's IVRSystem: one object per session over the rig, so that a pointer kept
// past VR_ShutdownInternal is recognised and counted instead of answering for a later session.
#include "rig.h"
#include "system.h"
#include "system_version.h"

#include <openvr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vrsim {

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


// One session's interface. A new object serves every session, so a pointer kept past
// VR_ShutdownInternal is recognised and counted instead of answering for a later session.
class SimSystem final : public SystemVersion {
public:
    bool enter(std::unique_lock<std::mutex>& lock) override
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
        // The moment the call came, before it waits for the rig (another thread's call, a scripted
        // delay): the prediction counts from when the caller asked.
        const int64_t asked = nowNs();
        std::unique_lock<std::mutex> lock;
        const bool live = enter(lock);
        Rig& r = rig();
        if (live) {
            ++r.counters.pose_queries;
            r.counters.last_pose_origin = origin;
            r.counters.last_pose_prediction = predicted;
        }
        // The instant asked for: now and the prediction, which the runtime clamps to its reach.
        const double ahead = std::clamp(static_cast<double>(predicted), -kReachNs / 1e9, kReachNs / 1e9);
        const int64_t now = asked + static_cast<int64_t>(std::llround(ahead * 1e9));
        if (live && r.replay && r.replayStartNs == 0)
            r.replayStartNs = now;
        for (uint32_t i = 0; i < count; ++i) {
            vr::TrackedDevicePose_t pose{};
            Device dev{};
            if (live && i < kDevices && r.deviceAt(i, now, dev) && dev.cls != 0) {
                Pose p = r.poseAt(i, now, dev.connected);
                if (dev.cls >= vr::TrackedDeviceClass_HMD && dev.cls <= vr::TrackedDeviceClass_GenericTracker)
                    r.addNoiseLocked(p);
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
    // The hand the runtime gives a controller (vrsim_set_controller_role); none for other devices.
    vr::ETrackedControllerRole GetControllerRoleForTrackedDeviceIndex(vr::TrackedDeviceIndex_t index) override
    {
        std::unique_lock<std::mutex> lock;
        if (!enter(lock))
            return vr::TrackedControllerRole_Invalid;
        Rig& r = rig();
        ++r.counters.role_queries;
        Device dev{};
        if (!r.deviceAt(index, nowNs(), dev) || dev.cls != vr::TrackedDeviceClass_Controller)
            return vr::TrackedControllerRole_Invalid;
        return sdkValue<vr::ETrackedControllerRole>(dev.hand);
    }

    vr::ETrackedDeviceClass GetTrackedDeviceClass(vr::TrackedDeviceIndex_t index) override
    {
        std::unique_lock<std::mutex> lock;
        if (!enter(lock))
            return vr::TrackedDeviceClass_Invalid;
        Rig& r = rig();
        ++r.counters.class_queries;
        Device dev{};
        if (!r.deviceAt(index, nowNs(), dev))
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
        return r.deviceAt(index, nowNs(), dev) && dev.cls != 0 && dev.connected;
    }

    // The battery: whether a device has one, and its charge; every other property is unknown.
    bool GetBoolTrackedDeviceProperty(vr::TrackedDeviceIndex_t index, vr::ETrackedDeviceProperty prop,
                                      vr::ETrackedPropertyError* err) override
    {
        float charge = 0.0f;
        if (!battery(index, prop, vr::Prop_DeviceProvidesBatteryStatus_Bool, err, charge))
            return false;
        return charge >= 0.0f;
    }
    float GetFloatTrackedDeviceProperty(vr::TrackedDeviceIndex_t index, vr::ETrackedDeviceProperty prop,
                                        vr::ETrackedPropertyError* err) override
    {
        float charge = 0.0f;
        if (!battery(index, prop, vr::Prop_DeviceBatteryPercentage_Float, err, charge))
            return 0.0f;
        if (charge < 0.0f) {
            if (err)
                *err = vr::TrackedProp_UnknownProperty;
            return 0.0f;
        }
        return charge;
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
            if (!r.deviceAt(index, nowNs(), dev) || dev.cls == 0) {
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
    vr::EVRFirmwareError PerformFirmwareUpdate(vr::TrackedDeviceIndex_t) override { return vr::VRFirmwareError_None; }

    void AcknowledgeQuit_Exiting() override
    {
        std::unique_lock<std::mutex> lock;
        if (enter(lock))
            ++rig().counters.quit_acks;
    }

private:
    static vr::HmdMatrix34_t identity()
    {
        vr::HmdMatrix34_t m{};
        m.m[0][0] = m.m[1][1] = m.m[2][2] = 1.0f;
        return m;
    }
    // The charge of the device at an index, for the battery property `which`: false, with the
    // error set, for another property, an index with no device, or a dead interface. A negative
    // charge: the device reports no battery.
    bool battery(vr::TrackedDeviceIndex_t index, vr::ETrackedDeviceProperty prop, vr::ETrackedDeviceProperty which,
                 vr::ETrackedPropertyError* err, float& charge)
    {
        if (static_cast<int32_t>(prop) != static_cast<int32_t>(which)) {
            unknownProperty(err);
            return false;
        }
        std::unique_lock<std::mutex> lock;
        Device dev{};
        if (!enter(lock) || !rig().deviceAt(index, nowNs(), dev) || dev.cls == 0) {
            if (err)
                *err = vr::TrackedProp_InvalidDevice;
            return false;
        }
        if (err)
            *err = vr::TrackedProp_Success;
        charge = dev.battery;
        return true;
    }

    static void unknownProperty(vr::ETrackedPropertyError* err)
    {
        if (err)
            *err = vr::TrackedProp_UnknownProperty;
    }
};

} // namespace

vr::IVRSystem* newSystem()
{
    return new SimSystem;
}

} // namespace vrsim
