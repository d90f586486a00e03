// OpenVR-compatible subset: the part of the vr:: API that tavrin uses, with the names, values,
// signatures and layout of the OpenVR SDK (interface version IVRSystem_015). Used when no SDK is
// given; tavrin's sources compile unchanged against the SDK's own headers/openvr.h.
#ifndef TAVRIN_OPENVR_COMPAT_H
#define TAVRIN_OPENVR_COMPAT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#  define VR_CALLTYPE __cdecl
#  if defined(VR_API_EXPORT)
#    define VR_INTERFACE extern "C" __declspec(dllexport)
#  else
#    define VR_INTERFACE extern "C" __declspec(dllimport)
#  endif
#else
#  define VR_CALLTYPE
#  define VR_INTERFACE extern "C" __attribute__((visibility("default")))
#endif

namespace vr {

#pragma pack(push, 8)

// Enumerations that carry a runtime's answers have a fixed 32-bit base, so that any value a
// runtime reports is representable; sizes and values are the SDK's.

typedef uint32_t TrackedDeviceIndex_t;
static const uint32_t k_unTrackedDeviceIndex_Hmd = 0;
static const uint32_t k_unMaxTrackedDeviceCount = 16;
static const uint32_t k_unTrackedDeviceIndexOther = 0xFFFFFFFE;
static const uint32_t k_unTrackedDeviceIndexInvalid = 0xFFFFFFFF;

struct HmdMatrix34_t {
    float m[3][4];
};

struct HmdMatrix44_t {
    float m[4][4];
};

struct HmdVector3_t {
    float v[3];
};

enum EVREye { Eye_Left = 0, Eye_Right = 1 };

struct DistortionCoordinates_t {
    float rfRed[2];
    float rfGreen[2];
    float rfBlue[2];
};

enum ETrackedDeviceClass : int32_t {
    TrackedDeviceClass_Invalid = 0,
    TrackedDeviceClass_HMD = 1,
    TrackedDeviceClass_Controller = 2,
    TrackedDeviceClass_GenericTracker = 3,
    TrackedDeviceClass_TrackingReference = 4,
    TrackedDeviceClass_DisplayRedirect = 5,
};

enum ETrackedControllerRole {
    TrackedControllerRole_Invalid = 0,
    TrackedControllerRole_LeftHand = 1,
    TrackedControllerRole_RightHand = 2,
};

enum ETrackingUniverseOrigin {
    TrackingUniverseSeated = 0,
    TrackingUniverseStanding = 1,
    TrackingUniverseRawAndUncalibrated = 2,
};

enum ETrackingResult : int32_t {
    TrackingResult_Uninitialized = 1,
    TrackingResult_Calibrating_InProgress = 100,
    TrackingResult_Calibrating_OutOfRange = 101,
    TrackingResult_Running_OK = 200,
    TrackingResult_Running_OutOfRange = 201,
};

struct TrackedDevicePose_t {
    HmdMatrix34_t mDeviceToAbsoluteTracking;
    HmdVector3_t vVelocity;
    HmdVector3_t vAngularVelocity;
    ETrackingResult eTrackingResult;
    bool bPoseIsValid;
    bool bDeviceIsConnected;
};

enum ETrackedDeviceProperty {
    Prop_Invalid = 0,
    Prop_TrackingSystemName_String = 1000,
    Prop_ModelNumber_String = 1001,
    Prop_SerialNumber_String = 1002,
    Prop_RenderModelName_String = 1003,
    Prop_ManufacturerName_String = 1005,
};

enum ETrackedPropertyError : int32_t {
    TrackedProp_Success = 0,
    TrackedProp_WrongDataType = 1,
    TrackedProp_WrongDeviceClass = 2,
    TrackedProp_BufferTooSmall = 3,
    TrackedProp_UnknownProperty = 4,
    TrackedProp_InvalidDevice = 5,
    TrackedProp_CouldNotContactServer = 6,
    TrackedProp_ValueNotProvidedByDevice = 7,
    TrackedProp_StringExceedsMaximumLength = 8,
    TrackedProp_NotYetAvailable = 9,
};

enum EDeviceActivityLevel {
    k_EDeviceActivityLevel_Unknown = -1,
    k_EDeviceActivityLevel_Idle = 0,
    k_EDeviceActivityLevel_UserInteraction = 1,
    k_EDeviceActivityLevel_UserInteraction_Timeout = 2,
    k_EDeviceActivityLevel_Standby = 3,
};

enum EVRApplicationType {
    VRApplication_Other = 0,
    VRApplication_Scene = 1,
    VRApplication_Overlay = 2,
    VRApplication_Background = 3,
    VRApplication_Utility = 4,
    VRApplication_VRMonitor = 5,
    VRApplication_SteamWatchdog = 6,
    VRApplication_Max
};

enum EVRInitError : int32_t {
    VRInitError_None = 0,
    VRInitError_Unknown = 1,

    VRInitError_Init_InstallationNotFound = 100,
    VRInitError_Init_InstallationCorrupt = 101,
    VRInitError_Init_VRClientDLLNotFound = 102,
    VRInitError_Init_FileNotFound = 103,
    VRInitError_Init_FactoryNotFound = 104,
    VRInitError_Init_InterfaceNotFound = 105,
    VRInitError_Init_InvalidInterface = 106,
    VRInitError_Init_UserConfigDirectoryInvalid = 107,
    VRInitError_Init_HmdNotFound = 108,
    VRInitError_Init_NotInitialized = 109,
    VRInitError_Init_PathRegistryNotFound = 110,
    VRInitError_Init_NoConfigPath = 111,
    VRInitError_Init_NoLogPath = 112,
    VRInitError_Init_PathRegistryNotWritable = 113,
    VRInitError_Init_AppInfoInitFailed = 114,
    VRInitError_Init_Retry = 115,
    VRInitError_Init_InitCanceledByUser = 116,
    VRInitError_Init_AnotherAppLaunching = 117,
    VRInitError_Init_SettingsInitFailed = 118,
    VRInitError_Init_ShuttingDown = 119,
    VRInitError_Init_TooManyObjects = 120,
    VRInitError_Init_NoServerForBackgroundApp = 121,
    VRInitError_Init_NotSupportedWithCompositor = 122,
    VRInitError_Init_NotAvailableToUtilityApps = 123,
    VRInitError_Init_Internal = 124,
    VRInitError_Init_HmdDriverIdIsNone = 125,
    VRInitError_Init_HmdNotFoundPresenceFailed = 126,
    VRInitError_Init_VRMonitorNotFound = 127,
    VRInitError_Init_VRMonitorStartupFailed = 128,
    VRInitError_Init_LowPowerWatchdogNotSupported = 129,
    VRInitError_Init_InvalidApplicationType = 130,
    VRInitError_Init_NotAvailableToWatchdogApps = 131,
    VRInitError_Init_WatchdogDisabledInSettings = 132,
    VRInitError_Init_VRDashboardNotFound = 133,
    VRInitError_Init_VRDashboardStartupFailed = 134,

    VRInitError_Driver_Failed = 200,
    VRInitError_Driver_Unknown = 201,
    VRInitError_Driver_HmdUnknown = 202,
    VRInitError_Driver_NotLoaded = 203,
    VRInitError_Driver_RuntimeOutOfDate = 204,
    VRInitError_Driver_HmdInUse = 205,
    VRInitError_Driver_NotCalibrated = 206,
    VRInitError_Driver_CalibrationInvalid = 207,
    VRInitError_Driver_HmdDisplayNotFound = 208,
    VRInitError_Driver_TrackedDeviceInterfaceUnknown = 209,
    VRInitError_Driver_HmdDisplayNotFoundAfterFix = 210,
    VRInitError_Driver_HmdDriverIdOutOfBounds = 211,
    VRInitError_Driver_HmdDisplayMirrored = 212,

    VRInitError_IPC_ServerInitFailed = 300,
    VRInitError_IPC_ConnectFailed = 301,
    VRInitError_IPC_SharedStateInitFailed = 302,
    VRInitError_IPC_CompositorInitFailed = 303,
    VRInitError_IPC_MutexInitFailed = 304,
    VRInitError_IPC_Failed = 305,

    VRInitError_Compositor_Failed = 400,
    VRInitError_Compositor_D3D11HardwareRequired = 401,

    VRInitError_VendorSpecific_UnableToConnectToOculusRuntime = 1000,
    VRInitError_VendorSpecific_HmdFound_CantOpenDevice = 1101,

    VRInitError_Steam_SteamInstallationNotFound = 2000,
};

enum EVREventType {
    VREvent_None = 0,
    VREvent_TrackedDeviceActivated = 100,
    VREvent_TrackedDeviceDeactivated = 101,
    VREvent_TrackedDeviceUpdated = 102,
    VREvent_Quit = 700,
};

enum EVRButtonId {
    k_EButton_System = 0,
    k_EButton_ApplicationMenu = 1,
    k_EButton_Grip = 2,
    k_EButton_Max = 64
};

enum EVRControllerAxisType {
    k_eControllerAxis_None = 0,
    k_eControllerAxis_TrackPad = 1,
    k_eControllerAxis_Joystick = 2,
    k_eControllerAxis_Trigger = 3,
};

enum EHiddenAreaMeshType {
    k_eHiddenAreaMesh_Standard = 0,
    k_eHiddenAreaMesh_Inverse = 1,
    k_eHiddenAreaMesh_LineLoop = 2,
    k_eHiddenAreaMesh_Max = 3,
};

enum EVRFirmwareError {
    VRFirmwareError_None = 0,
    VRFirmwareError_Success = 1,
    VRFirmwareError_Fail = 2,
};

struct HmdVector2_t {
    float v[2];
};

struct HiddenAreaMesh_t {
    const HmdVector2_t* pVertexData;
    uint32_t unTriangleCount;
};

struct VRControllerAxis_t {
    float x;
    float y;
};

static const uint32_t k_unControllerStateAxisCount = 5;

struct VRControllerState001_t {
    uint32_t unPacketNum;
    uint64_t ulButtonPressed;
    uint64_t ulButtonTouched;
    VRControllerAxis_t rAxis[k_unControllerStateAxisCount];
};
typedef VRControllerState001_t VRControllerState_t;

struct VREvent_Reserved_t {
    uint64_t reserved0;
    uint64_t reserved1;
};

struct VREvent_Controller_t {
    uint32_t button;
};

struct VREvent_Process_t {
    uint32_t pid;
    uint32_t oldPid;
    bool bForced;
};

struct VREvent_TouchPadMove_t {
    bool bFingerDown;
    float flSecondsFingerDown;
    float fValueXFirst;
    float fValueYFirst;
    float fValueXRaw;
    float fValueYRaw;
};

typedef union {
    VREvent_Reserved_t reserved;
    VREvent_Controller_t controller;
    VREvent_Process_t process;
    VREvent_TouchPadMove_t touchPadMove;
} VREvent_Data_t;

#pragma pack(pop)

// The SDK packs VREvent_t to 4 bytes on Linux and macOS and leaves it at 8 on Windows.
#if defined(__linux__) || defined(__APPLE__)
#  pragma pack(push, 4)
#else
#  pragma pack(push, 8)
#endif
struct VREvent_t {
    uint32_t eventType;
    TrackedDeviceIndex_t trackedDeviceIndex;
    float eventAgeSeconds;
    VREvent_Data_t data;
};
#pragma pack(pop)

static_assert(sizeof(VREvent_Data_t) == 24 && alignof(VREvent_Data_t) == 8, "VREvent_Data_t layout");
#if defined(__linux__) || defined(__APPLE__)
static_assert(sizeof(VREvent_t) == 36 && offsetof(VREvent_t, data) == 12, "VREvent_t layout");
#else
static_assert(sizeof(VREvent_t) == 40 && offsetof(VREvent_t, data) == 16, "VREvent_t layout");
#endif

static_assert(sizeof(TrackedDevicePose_t) == 80, "TrackedDevicePose_t layout");
static_assert(offsetof(TrackedDevicePose_t, vVelocity) == 48, "TrackedDevicePose_t layout");
static_assert(offsetof(TrackedDevicePose_t, vAngularVelocity) == 60, "TrackedDevicePose_t layout");
static_assert(offsetof(TrackedDevicePose_t, eTrackingResult) == 72, "TrackedDevicePose_t layout");
static_assert(offsetof(TrackedDevicePose_t, bPoseIsValid) == 76, "TrackedDevicePose_t layout");
static_assert(offsetof(TrackedDevicePose_t, bDeviceIsConnected) == 77, "TrackedDevicePose_t layout");

// The first 44 slots of the runtime's IVRSystem_015 table, in the runtime's order. No virtual
// destructor: the object belongs to the runtime.
class IVRSystem {
public:
    virtual void GetRecommendedRenderTargetSize(uint32_t* pnWidth, uint32_t* pnHeight) = 0;
    virtual HmdMatrix44_t GetProjectionMatrix(EVREye eEye, float fNearZ, float fFarZ) = 0;
    virtual void GetProjectionRaw(EVREye eEye, float* pfLeft, float* pfRight, float* pfTop, float* pfBottom) = 0;
    virtual bool ComputeDistortion(EVREye eEye, float fU, float fV, DistortionCoordinates_t* pDistortionCoordinates) = 0;
    virtual HmdMatrix34_t GetEyeToHeadTransform(EVREye eEye) = 0;
    virtual bool GetTimeSinceLastVsync(float* pfSecondsSinceLastVsync, uint64_t* pulFrameCounter) = 0;
    virtual int32_t GetD3D9AdapterIndex() = 0;
    virtual void GetDXGIOutputInfo(int32_t* pnAdapterIndex) = 0;
    virtual bool IsDisplayOnDesktop() = 0;
    virtual bool SetDisplayVisibility(bool bIsVisibleOnDesktop) = 0;
    virtual void GetDeviceToAbsoluteTrackingPose(ETrackingUniverseOrigin eOrigin, float fPredictedSecondsToPhotonsFromNow,
                                                 TrackedDevicePose_t* pTrackedDevicePoseArray,
                                                 uint32_t unTrackedDevicePoseArrayCount) = 0;
    virtual void ResetSeatedZeroPose() = 0;
    virtual HmdMatrix34_t GetSeatedZeroPoseToStandingAbsoluteTrackingPose() = 0;
    virtual HmdMatrix34_t GetRawZeroPoseToStandingAbsoluteTrackingPose() = 0;
    virtual uint32_t GetSortedTrackedDeviceIndicesOfClass(ETrackedDeviceClass eTrackedDeviceClass,
                                                          TrackedDeviceIndex_t* punTrackedDeviceIndexArray,
                                                          uint32_t unTrackedDeviceIndexArrayCount,
                                                          TrackedDeviceIndex_t unRelativeToTrackedDeviceIndex = k_unTrackedDeviceIndex_Hmd) = 0;
    virtual EDeviceActivityLevel GetTrackedDeviceActivityLevel(TrackedDeviceIndex_t unDeviceId) = 0;
    virtual void ApplyTransform(TrackedDevicePose_t* pOutputPose, const TrackedDevicePose_t* pTrackedDevicePose,
                                const HmdMatrix34_t* pTransform) = 0;
    virtual TrackedDeviceIndex_t GetTrackedDeviceIndexForControllerRole(ETrackedControllerRole unDeviceType) = 0;
    virtual ETrackedControllerRole GetControllerRoleForTrackedDeviceIndex(TrackedDeviceIndex_t unDeviceIndex) = 0;
    virtual ETrackedDeviceClass GetTrackedDeviceClass(TrackedDeviceIndex_t unDeviceIndex) = 0;
    virtual bool IsTrackedDeviceConnected(TrackedDeviceIndex_t unDeviceIndex) = 0;
    virtual bool GetBoolTrackedDeviceProperty(TrackedDeviceIndex_t unDeviceIndex, ETrackedDeviceProperty prop,
                                              ETrackedPropertyError* pError = 0L) = 0;
    virtual float GetFloatTrackedDeviceProperty(TrackedDeviceIndex_t unDeviceIndex, ETrackedDeviceProperty prop,
                                                ETrackedPropertyError* pError = 0L) = 0;
    virtual int32_t GetInt32TrackedDeviceProperty(TrackedDeviceIndex_t unDeviceIndex, ETrackedDeviceProperty prop,
                                                  ETrackedPropertyError* pError = 0L) = 0;
    virtual uint64_t GetUint64TrackedDeviceProperty(TrackedDeviceIndex_t unDeviceIndex, ETrackedDeviceProperty prop,
                                                    ETrackedPropertyError* pError = 0L) = 0;
    virtual HmdMatrix34_t GetMatrix34TrackedDeviceProperty(TrackedDeviceIndex_t unDeviceIndex, ETrackedDeviceProperty prop,
                                                           ETrackedPropertyError* pError = 0L) = 0;
    virtual uint32_t GetStringTrackedDeviceProperty(TrackedDeviceIndex_t unDeviceIndex, ETrackedDeviceProperty prop,
                                                    char* pchValue, uint32_t unBufferSize,
                                                    ETrackedPropertyError* pError = 0L) = 0;
    virtual const char* GetPropErrorNameFromEnum(ETrackedPropertyError error) = 0;
    virtual bool PollNextEvent(VREvent_t* pEvent, uint32_t uncbVREvent) = 0;
    virtual bool PollNextEventWithPose(ETrackingUniverseOrigin eOrigin, VREvent_t* pEvent, uint32_t uncbVREvent,
                                       TrackedDevicePose_t* pTrackedDevicePose) = 0;
    virtual const char* GetEventTypeNameFromEnum(EVREventType eType) = 0;
    virtual HiddenAreaMesh_t GetHiddenAreaMesh(EVREye eEye, EHiddenAreaMeshType type = k_eHiddenAreaMesh_Standard) = 0;
    virtual bool GetControllerState(TrackedDeviceIndex_t unControllerDeviceIndex, VRControllerState_t* pControllerState,
                                    uint32_t unControllerStateSize) = 0;
    virtual bool GetControllerStateWithPose(ETrackingUniverseOrigin eOrigin, TrackedDeviceIndex_t unControllerDeviceIndex,
                                            VRControllerState_t* pControllerState, uint32_t unControllerStateSize,
                                            TrackedDevicePose_t* pTrackedDevicePose) = 0;
    virtual void TriggerHapticPulse(TrackedDeviceIndex_t unControllerDeviceIndex, uint32_t unAxisId,
                                    unsigned short usDurationMicroSec) = 0;
    virtual const char* GetButtonIdNameFromEnum(EVRButtonId eButtonId) = 0;
    virtual const char* GetControllerAxisTypeNameFromEnum(EVRControllerAxisType eAxisType) = 0;
    virtual bool CaptureInputFocus() = 0;
    virtual void ReleaseInputFocus() = 0;
    virtual bool IsInputFocusCapturedByAnotherProcess() = 0;
    virtual uint32_t DriverDebugRequest(TrackedDeviceIndex_t unDeviceIndex, const char* pchRequest,
                                        char* pchResponseBuffer, uint32_t unResponseBufferSize) = 0;
    virtual EVRFirmwareError PerformFirmwareUpdate(TrackedDeviceIndex_t unDeviceIndex) = 0;
    virtual void AcknowledgeQuit_Exiting() = 0;
    virtual void AcknowledgeQuit_UserPrompt() = 0;
};

static const char* const IVRSystem_Version = "IVRSystem_015";

} // namespace vr

// The loader entry points that the openvr_api library supplies.
VR_INTERFACE uint32_t VR_CALLTYPE VR_InitInternal(vr::EVRInitError* peError, vr::EVRApplicationType eType);
VR_INTERFACE void VR_CALLTYPE VR_ShutdownInternal();
VR_INTERFACE bool VR_CALLTYPE VR_IsInterfaceVersionValid(const char* pchInterfaceVersion);
VR_INTERFACE uint32_t VR_CALLTYPE VR_GetInitToken();
VR_INTERFACE void* VR_CALLTYPE VR_GetGenericInterface(const char* pchInterfaceVersion, vr::EVRInitError* peError);

namespace vr {

// The module's view of the runtime: the token of the session it last saw and the interface it
// got for it. The interface is asked for again whenever the token shows a new session.
class COpenVRContext {
public:
    void Clear()
    {
        m_pVRSystem = nullptr;
        m_unToken = 0;
    }

    IVRSystem* VRSystem()
    {
        const uint32_t token = VR_GetInitToken();
        if (m_pVRSystem == nullptr || token != m_unToken) {
            EVRInitError eError = VRInitError_None;
            m_pVRSystem = static_cast<IVRSystem*>(VR_GetGenericInterface(IVRSystem_Version, &eError));
            m_unToken = token;
            if (eError != VRInitError_None)
                m_pVRSystem = nullptr;
        }
        return m_pVRSystem;
    }

private:
    IVRSystem* m_pVRSystem = nullptr;
    uint32_t m_unToken = 0;
};

// One context per module, as in the SDK: callers serialise their loader calls.
inline COpenVRContext& OpenVRInternal_ModuleContext()
{
    static COpenVRContext ctx;
    return ctx;
}

inline IVRSystem* VRSystem()
{
    return OpenVRInternal_ModuleContext().VRSystem();
}

// Opens a session. On success the IVRSystem of that session; otherwise null with the reason in
// *peError (VRInitError_Init_InterfaceNotFound when the runtime refuses IVRSystem_015, after the
// runtime has been shut down again).
inline IVRSystem* VR_Init(EVRInitError* peError, EVRApplicationType eApplicationType)
{
    IVRSystem* pVRSystem = nullptr;
    EVRInitError eError = VRInitError_None;
    VR_InitInternal(&eError, eApplicationType);
    OpenVRInternal_ModuleContext().Clear();
    if (eError == VRInitError_None) {
        if (VR_IsInterfaceVersionValid(IVRSystem_Version)) {
            pVRSystem = VRSystem();
        } else {
            VR_ShutdownInternal();
            eError = VRInitError_Init_InterfaceNotFound;
        }
    }
    if (peError)
        *peError = eError;
    return pVRSystem;
}

inline void VR_Shutdown()
{
    VR_ShutdownInternal();
}

} // namespace vr

#endif // TAVRIN_OPENVR_COMPAT_H
