// What tavrin and the simulated runtime rely on in the OpenVR header, checked when this compiles:
// against the bundled header in every build, and against a real SDK's header in a check build
// (TAVRIN_OPENVR_HEADERS, scripts/check-openvr-sdk), so that both are seen to agree. What differs
// between the SDK's 1.0.x headers (IVRSystem_015) and its 2.x headers (IVRSystem_023) is checked
// for the one compiled against (TAVRIN_IVRSYSTEM, the header's interface version).
#include <openvr.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace {

template <class F, class G>
constexpr bool sameType = std::is_same<F, G>::value;

// The loader's entry points: in namespace vr, with these signatures.
#if TAVRIN_IVRSYSTEM >= 23
static_assert(sameType<decltype(&vr::VR_InitInternal2),
                       uint32_t(VR_CALLTYPE*)(vr::EVRInitError*, vr::EVRApplicationType, const char*)>,
              "VR_InitInternal2");
static_assert(sameType<decltype(&vr::VR_Init), vr::IVRSystem* (*)(vr::EVRInitError*, vr::EVRApplicationType, const char*)>,
              "VR_Init");
#else
static_assert(sameType<decltype(&vr::VR_InitInternal), uint32_t(VR_CALLTYPE*)(vr::EVRInitError*, vr::EVRApplicationType)>,
              "VR_InitInternal");
static_assert(sameType<decltype(&vr::VR_Init), vr::IVRSystem* (*)(vr::EVRInitError*, vr::EVRApplicationType)>,
              "VR_Init");
#endif
static_assert(sameType<decltype(&vr::VR_ShutdownInternal), void(VR_CALLTYPE*)()>, "VR_ShutdownInternal");
static_assert(sameType<decltype(&vr::VR_IsInterfaceVersionValid), bool(VR_CALLTYPE*)(const char*)>,
              "VR_IsInterfaceVersionValid");
static_assert(sameType<decltype(&vr::VR_GetInitToken), uint32_t(VR_CALLTYPE*)()>, "VR_GetInitToken");
static_assert(sameType<decltype(&vr::VR_GetGenericInterface), void*(VR_CALLTYPE*)(const char*, vr::EVRInitError*)>,
              "VR_GetGenericInterface");
static_assert(sameType<decltype(&vr::VR_Shutdown), void (*)()>, "VR_Shutdown");

// The interface calls, by signature.
using System = vr::IVRSystem;
static_assert(sameType<decltype(&System::GetDeviceToAbsoluteTrackingPose),
                       void (System::*)(vr::ETrackingUniverseOrigin, float, vr::TrackedDevicePose_t*, uint32_t)>,
              "GetDeviceToAbsoluteTrackingPose");
static_assert(sameType<decltype(&System::GetTrackedDeviceClass), vr::ETrackedDeviceClass (System::*)(uint32_t)>,
              "GetTrackedDeviceClass");
static_assert(sameType<decltype(&System::IsTrackedDeviceConnected), bool (System::*)(uint32_t)>,
              "IsTrackedDeviceConnected");
static_assert(sameType<decltype(&System::GetStringTrackedDeviceProperty),
                       uint32_t (System::*)(uint32_t, vr::ETrackedDeviceProperty, char*, uint32_t, vr::ETrackedPropertyError*)>,
              "GetStringTrackedDeviceProperty");
static_assert(sameType<decltype(&System::PollNextEvent), bool (System::*)(vr::VREvent_t*, uint32_t)>, "PollNextEvent");
static_assert(sameType<decltype(&System::AcknowledgeQuit_Exiting), void (System::*)()>, "AcknowledgeQuit_Exiting");

// Values.
#if TAVRIN_IVRSYSTEM >= 23
static_assert(vr::k_unMaxTrackedDeviceCount == 64, "k_unMaxTrackedDeviceCount");
static_assert(vr::VRApplication_Background == 3 && vr::VRApplication_Max == 14, "EVRApplicationType");
#else
static_assert(vr::k_unMaxTrackedDeviceCount == 16, "k_unMaxTrackedDeviceCount");
static_assert(vr::VRApplication_Background == 3 && vr::VRApplication_Max == 8, "EVRApplicationType");
#endif
static_assert(vr::k_unTrackedDeviceIndexInvalid == 0xFFFFFFFFu, "k_unTrackedDeviceIndexInvalid");
static_assert(vr::TrackingUniverseStanding == 1, "ETrackingUniverseOrigin");
static_assert(vr::TrackedDeviceClass_Invalid == 0 && vr::TrackedDeviceClass_HMD == 1 &&
                  vr::TrackedDeviceClass_Controller == 2 && vr::TrackedDeviceClass_GenericTracker == 3 &&
                  vr::TrackedDeviceClass_TrackingReference == 4 && vr::TrackedDeviceClass_DisplayRedirect == 5,
              "ETrackedDeviceClass");
static_assert(vr::TrackingResult_Uninitialized == 1 && vr::TrackingResult_Calibrating_InProgress == 100 &&
                  vr::TrackingResult_Calibrating_OutOfRange == 101 && vr::TrackingResult_Running_OK == 200 &&
                  vr::TrackingResult_Running_OutOfRange == 201,
              "ETrackingResult");
static_assert(vr::Prop_SerialNumber_String == 1002 && vr::Prop_VendorSpecific_Reserved_End == 10999,
              "ETrackedDeviceProperty");
static_assert(vr::TrackedProp_Success == 0 && vr::TrackedProp_BufferTooSmall == 3 &&
                  vr::TrackedProp_UnknownProperty == 4 && vr::TrackedProp_InvalidDevice == 5 &&
                  vr::TrackedProp_CouldNotContactServer == 6 && vr::TrackedProp_InvalidOperation == 11,
              "ETrackedPropertyError");
static_assert(vr::VREvent_TrackedDeviceActivated == 100 && vr::VREvent_TrackedDeviceDeactivated == 101 &&
                  vr::VREvent_Quit == 700 && vr::VREvent_VendorSpecific_Reserved_End == 19999,
              "EVREventType");
static_assert(vr::VRInitError_None == 0 && vr::VRInitError_Unknown == 1 && vr::VRInitError_Init_InterfaceNotFound == 105 &&
                  vr::VRInitError_Init_HmdNotFound == 108 && vr::VRInitError_Init_NotInitialized == 109 &&
                  vr::VRInitError_Init_PathRegistryNotFound == 110 && vr::VRInitError_Init_NoServerForBackgroundApp == 121 &&
                  vr::VRInitError_Init_HmdDriverIdIsNone == 125 && vr::VRInitError_Init_HmdNotFoundPresenceFailed == 126 &&
                  vr::VRInitError_Driver_HmdUnknown == 202 && vr::VRInitError_Driver_HmdInUse == 205 &&
                  vr::VRInitError_IPC_ServerInitFailed == 300 && vr::VRInitError_Steam_SteamInstallationNotFound == 2000,
              "EVRInitError");
static_assert(sizeof(vr::ETrackedDeviceClass) == 4 && sizeof(vr::ETrackingResult) == 4 &&
                  sizeof(vr::EVRInitError) == 4 && sizeof(vr::ETrackedPropertyError) == 4,
              "32-bit enumerations");

// Layouts.
static_assert(sizeof(vr::HmdMatrix34_t) == 48 && sizeof(vr::HmdVector3_t) == 12, "matrix and vector");
static_assert(sizeof(vr::TrackedDevicePose_t) == 80, "TrackedDevicePose_t");
static_assert(offsetof(vr::TrackedDevicePose_t, vVelocity) == 48, "TrackedDevicePose_t");
static_assert(offsetof(vr::TrackedDevicePose_t, vAngularVelocity) == 60, "TrackedDevicePose_t");
static_assert(offsetof(vr::TrackedDevicePose_t, eTrackingResult) == 72, "TrackedDevicePose_t");
static_assert(offsetof(vr::TrackedDevicePose_t, bPoseIsValid) == 76, "TrackedDevicePose_t");
static_assert(offsetof(vr::TrackedDevicePose_t, bDeviceIsConnected) == 77, "TrackedDevicePose_t");
// The event's data grew in 2.x (VREvent_Property_t's 64-bit container handle and more).
#if TAVRIN_IVRSYSTEM >= 23
constexpr size_t kEventData = 48;
#else
constexpr size_t kEventData = 24;
#endif
static_assert(sizeof(vr::VREvent_Data_t) == kEventData && alignof(vr::VREvent_Data_t) == 8, "VREvent_Data_t");
#if defined(__linux__) || defined(__APPLE__)
static_assert(sizeof(vr::VREvent_t) == 12 + kEventData && offsetof(vr::VREvent_t, data) == 12, "VREvent_t (packed to 4)");
static_assert(sizeof(vr::VRControllerState_t) == 60, "VRControllerState_t (packed to 4)");
#else
static_assert(sizeof(vr::VREvent_t) == 16 + kEventData && offsetof(vr::VREvent_t, data) == 16, "VREvent_t");
static_assert(sizeof(vr::VRControllerState_t) == 64, "VRControllerState_t");
#endif

} // namespace
