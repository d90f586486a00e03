// OpenVR-compatible subset: the part of the OpenVR SDK v1.0.7 API that tavrin and its simulated
// runtime use (interface version IVRSystem_015). Used when no SDK is given.
//
// Every declaration here is the SDK's: the same namespace (everything, loader functions included,
// is in namespace vr), the same linkage and calling convention (VR_INTERFACE, VR_CALLTYPE), the
// same signatures, enumerator values, struct packing and vtable order. So code that compiles
// against this header compiles unchanged against the SDK's headers/openvr.h. A declaration may be
// left out, never changed; enumerations keep the SDK's first and last values, so that each has
// the SDK's range, but may leave out values in between.
#ifndef TAVRIN_OPENVR_COMPAT_H
#define TAVRIN_OPENVR_COMPAT_H

#include <stddef.h>
#include <stdint.h>

namespace vr
{
#pragma pack(push, 8)

// Right-handed: +y up, +x right, -z away from the user; metres.
struct HmdMatrix34_t {
    float m[3][4];
};

struct HmdMatrix44_t {
    float m[4][4];
};

struct HmdVector3_t {
    float v[3];
};

struct HmdVector2_t {
    float v[2];
};

struct DistortionCoordinates_t {
    float rfRed[2];
    float rfGreen[2];
    float rfBlue[2];
};

enum EVREye {
    Eye_Left = 0,
    Eye_Right = 1
};

enum ETrackingResult {
    TrackingResult_Uninitialized = 1,

    TrackingResult_Calibrating_InProgress = 100,
    TrackingResult_Calibrating_OutOfRange = 101,

    TrackingResult_Running_OK = 200,
    TrackingResult_Running_OutOfRange = 201,
};

typedef uint32_t TrackedDeviceIndex_t;
static const uint32_t k_unTrackedDeviceIndex_Hmd = 0;
static const uint32_t k_unMaxTrackedDeviceCount = 16;
static const uint32_t k_unTrackedDeviceIndexOther = 0xFFFFFFFE;
static const uint32_t k_unTrackedDeviceIndexInvalid = 0xFFFFFFFF;

enum ETrackedDeviceClass {
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

struct TrackedDevicePose_t {
    HmdMatrix34_t mDeviceToAbsoluteTracking;
    HmdVector3_t vVelocity;        // m/s
    HmdVector3_t vAngularVelocity; // rad/s
    ETrackingResult eTrackingResult;
    bool bPoseIsValid;
    bool bDeviceIsConnected;
};

enum ETrackingUniverseOrigin {
    TrackingUniverseSeated = 0,
    TrackingUniverseStanding = 1,
    TrackingUniverseRawAndUncalibrated = 2,
};

typedef uint64_t PropertyContainerHandle_t;

enum ETrackedDeviceProperty {
    Prop_Invalid = 0,

    Prop_TrackingSystemName_String = 1000,
    Prop_ModelNumber_String = 1001,
    Prop_SerialNumber_String = 1002,
    Prop_RenderModelName_String = 1003,
    Prop_WillDriftInYaw_Bool = 1004,
    Prop_ManufacturerName_String = 1005,
    Prop_DeviceBatteryPercentage_Float = 1012, // 0 is empty, 1 is full
    Prop_DeviceProvidesBatteryStatus_Bool = 1026,

    Prop_VendorSpecific_Reserved_Start = 10000,
    Prop_VendorSpecific_Reserved_End = 10999,
};

static const uint32_t k_unMaxPropertyStringSize = 32 * 1024;

enum ETrackedPropertyError {
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
    TrackedProp_PermissionDenied = 10,
    TrackedProp_InvalidOperation = 11,
};

enum EVREventType {
    VREvent_None = 0,

    VREvent_TrackedDeviceActivated = 100,
    VREvent_TrackedDeviceDeactivated = 101,
    VREvent_TrackedDeviceUpdated = 102,
    VREvent_TrackedDeviceUserInteractionStarted = 103,
    VREvent_TrackedDeviceUserInteractionEnded = 104,
    VREvent_IpdChanged = 105,
    VREvent_EnterStandbyMode = 106,
    VREvent_LeaveStandbyMode = 107,
    VREvent_TrackedDeviceRoleChanged = 108,
    VREvent_WatchdogWakeUpRequested = 109,
    VREvent_LensDistortionChanged = 110,
    VREvent_PropertyChanged = 111,

    VREvent_Quit = 700,
    VREvent_ProcessQuit = 701,
    VREvent_QuitAborted_UserPrompt = 702,
    VREvent_QuitAcknowledged = 703,
    VREvent_DriverRequestedQuit = 704,

    VREvent_VendorSpecific_Reserved_Start = 10000,
    VREvent_VendorSpecific_Reserved_End = 19999,
};

enum EDeviceActivityLevel {
    k_EDeviceActivityLevel_Unknown = -1,
    k_EDeviceActivityLevel_Idle = 0,
    k_EDeviceActivityLevel_UserInteraction = 1,
    k_EDeviceActivityLevel_UserInteraction_Timeout = 2,
    k_EDeviceActivityLevel_Standby = 3,
};

enum EVRButtonId {
    k_EButton_System = 0,
    k_EButton_ApplicationMenu = 1,
    k_EButton_Grip = 2,
    k_EButton_DPad_Left = 3,
    k_EButton_DPad_Up = 4,
    k_EButton_DPad_Right = 5,
    k_EButton_DPad_Down = 6,
    k_EButton_A = 7,

    k_EButton_ProximitySensor = 31,

    k_EButton_Axis0 = 32,
    k_EButton_Axis1 = 33,
    k_EButton_Axis2 = 34,
    k_EButton_Axis3 = 35,
    k_EButton_Axis4 = 36,

    k_EButton_SteamVR_Touchpad = k_EButton_Axis0,
    k_EButton_SteamVR_Trigger = k_EButton_Axis1,

    k_EButton_Dashboard_Back = k_EButton_Grip,

    k_EButton_Max = 64
};

// The members of the event data union, all of them: the union's size and alignment are the
// SDK's only with every member in place.
struct VREvent_Controller_t {
    uint32_t button;
};

struct VREvent_Mouse_t {
    float x, y;
    uint32_t button;
};

struct VREvent_Scroll_t {
    float xdelta, ydelta;
    uint32_t repeatCount;
};

struct VREvent_TouchPadMove_t {
    bool bFingerDown;
    float flSecondsFingerDown;
    float fValueXFirst;
    float fValueYFirst;
    float fValueXRaw;
    float fValueYRaw;
};

struct VREvent_Notification_t {
    uint64_t ulUserValue;
    uint32_t notificationId;
};

struct VREvent_Process_t {
    uint32_t pid;
    uint32_t oldPid;
    bool bForced;
};

struct VREvent_Overlay_t {
    uint64_t overlayHandle;
};

struct VREvent_Status_t {
    uint32_t statusState;
};

struct VREvent_Keyboard_t {
    char cNewInput[8];
    uint64_t uUserValue;
};

struct VREvent_Ipd_t {
    float ipdMeters;
};

struct VREvent_Chaperone_t {
    uint64_t m_nPreviousUniverse;
    uint64_t m_nCurrentUniverse;
};

struct VREvent_Reserved_t {
    uint64_t reserved0;
    uint64_t reserved1;
};

struct VREvent_PerformanceTest_t {
    uint32_t m_nFidelityLevel;
};

struct VREvent_SeatedZeroPoseReset_t {
    bool bResetBySystemMenu;
};

struct VREvent_Screenshot_t {
    uint32_t handle;
    uint32_t type;
};

struct VREvent_ScreenshotProgress_t {
    float progress;
};

struct VREvent_ApplicationLaunch_t {
    uint32_t pid;
    uint32_t unArgsHandle;
};

struct VREvent_EditingCameraSurface_t {
    uint64_t overlayHandle;
    uint32_t nVisualMode;
};

struct VREvent_MessageOverlay_t {
    uint32_t unVRMessageOverlayResponse;
};

struct VREvent_Property_t {
    PropertyContainerHandle_t container;
    ETrackedDeviceProperty prop;
};

typedef union {
    VREvent_Reserved_t reserved;
    VREvent_Controller_t controller;
    VREvent_Mouse_t mouse;
    VREvent_Scroll_t scroll;
    VREvent_Process_t process;
    VREvent_Notification_t notification;
    VREvent_Overlay_t overlay;
    VREvent_Status_t status;
    VREvent_Keyboard_t keyboard;
    VREvent_Ipd_t ipd;
    VREvent_Chaperone_t chaperone;
    VREvent_PerformanceTest_t performanceTest;
    VREvent_TouchPadMove_t touchPadMove;
    VREvent_SeatedZeroPoseReset_t seatedZeroPoseReset;
    VREvent_Screenshot_t screenshot;
    VREvent_ScreenshotProgress_t screenshotProgress;
    VREvent_ApplicationLaunch_t applicationLaunch;
    VREvent_EditingCameraSurface_t cameraSurface;
    VREvent_MessageOverlay_t messageOverlay;
    VREvent_Property_t property;
} VREvent_Data_t;

// The SDK defines the event and the controller state packed to 4 bytes on Linux and macOS (a
// historical mistake it keeps for compatibility), at the default 8 on Windows.
#if defined(__linux__) || defined(__APPLE__)
#pragma pack(push, 4)
#endif

struct VREvent_t {
    uint32_t eventType; // EVREventType
    TrackedDeviceIndex_t trackedDeviceIndex;
    float eventAgeSeconds;
    VREvent_Data_t data;
};

#if defined(__linux__) || defined(__APPLE__)
#pragma pack(pop)
#endif

struct HiddenAreaMesh_t {
    const HmdVector2_t* pVertexData;
    uint32_t unTriangleCount;
};

enum EHiddenAreaMeshType {
    k_eHiddenAreaMesh_Standard = 0,
    k_eHiddenAreaMesh_Inverse = 1,
    k_eHiddenAreaMesh_LineLoop = 2,

    k_eHiddenAreaMesh_Max = 3,
};

enum EVRControllerAxisType {
    k_eControllerAxis_None = 0,
    k_eControllerAxis_TrackPad = 1,
    k_eControllerAxis_Joystick = 2,
    k_eControllerAxis_Trigger = 3,
};

struct VRControllerAxis_t {
    float x;
    float y;
};

static const uint32_t k_unControllerStateAxisCount = 5;

#if defined(__linux__) || defined(__APPLE__)
#pragma pack(push, 4)
#endif

struct VRControllerState001_t {
    uint32_t unPacketNum;
    uint64_t ulButtonPressed;
    uint64_t ulButtonTouched;
    VRControllerAxis_t rAxis[k_unControllerStateAxisCount];
};

#if defined(__linux__) || defined(__APPLE__)
#pragma pack(pop)
#endif

typedef VRControllerState001_t VRControllerState_t;

enum EVRApplicationType {
    VRApplication_Other = 0,
    VRApplication_Scene = 1,
    VRApplication_Overlay = 2,
    VRApplication_Background = 3,
    VRApplication_Utility = 4,
    VRApplication_VRMonitor = 5,
    VRApplication_SteamWatchdog = 6,
    VRApplication_Bootstrapper = 7,

    VRApplication_Max
};

enum EVRFirmwareError {
    VRFirmwareError_None = 0,
    VRFirmwareError_Success = 1,
    VRFirmwareError_Fail = 2,
};

enum EVRInitError {
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
    // 210 is not declared in this version.
    VRInitError_Driver_HmdDriverIdOutOfBounds = 211,
    VRInitError_Driver_HmdDisplayMirrored = 212,

    VRInitError_IPC_ServerInitFailed = 300,
    VRInitError_IPC_ConnectFailed = 301,
    VRInitError_IPC_SharedStateInitFailed = 302,
    VRInitError_IPC_CompositorInitFailed = 303,
    VRInitError_IPC_MutexInitFailed = 304,
    VRInitError_IPC_Failed = 305,
    VRInitError_IPC_CompositorConnectFailed = 306,
    VRInitError_IPC_CompositorInvalidConnectResponse = 307,
    VRInitError_IPC_ConnectFailedAfterMultipleAttempts = 308,

    VRInitError_Compositor_Failed = 400,
    VRInitError_Compositor_D3D11HardwareRequired = 401,
    VRInitError_Compositor_FirmwareRequiresUpdate = 402,
    VRInitError_Compositor_OverlayInitFailed = 403,
    VRInitError_Compositor_ScreenshotsInitFailed = 404,

    VRInitError_VendorSpecific_UnableToConnectToOculusRuntime = 1000,

    VRInitError_VendorSpecific_HmdFound_CantOpenDevice = 1101,
    VRInitError_VendorSpecific_HmdFound_UnableToRequestConfigStart = 1102,
    VRInitError_VendorSpecific_HmdFound_NoStoredConfig = 1103,
    VRInitError_VendorSpecific_HmdFound_ConfigTooBig = 1104,
    VRInitError_VendorSpecific_HmdFound_ConfigTooSmall = 1105,
    VRInitError_VendorSpecific_HmdFound_UnableToInitZLib = 1106,
    VRInitError_VendorSpecific_HmdFound_CantReadFirmwareVersion = 1107,
    VRInitError_VendorSpecific_HmdFound_UnableToSendUserDataStart = 1108,
    VRInitError_VendorSpecific_HmdFound_UnableToGetUserDataStart = 1109,
    VRInitError_VendorSpecific_HmdFound_UnableToGetUserDataNext = 1110,
    VRInitError_VendorSpecific_HmdFound_UserDataAddressRange = 1111,
    VRInitError_VendorSpecific_HmdFound_UserDataError = 1112,
    VRInitError_VendorSpecific_HmdFound_ConfigFailedSanityCheck = 1113,

    VRInitError_Steam_SteamInstallationNotFound = 2000,
};

#pragma pack(pop)

// How the loader's entry points are declared: C linkage (unmangled names) inside namespace vr,
// exported only while building the loader itself, __cdecl on Windows.
#if defined(_WIN32)

#ifdef VR_API_EXPORT
#define VR_INTERFACE extern "C" __declspec(dllexport)
#else
#define VR_INTERFACE extern "C" __declspec(dllimport)
#endif

#elif defined(__GNUC__) || defined(COMPILER_GCC) || defined(__APPLE__)

#ifdef VR_API_EXPORT
#define VR_INTERFACE extern "C" __attribute__((visibility("default")))
#else
#define VR_INTERFACE extern "C"
#endif

#else
#error "Unsupported Platform."
#endif

#if defined(_WIN32)
#define VR_CALLTYPE __cdecl
#else
#define VR_CALLTYPE
#endif

} // namespace vr

namespace vr
{

// IVRSystem_015, every slot in the runtime's order. No virtual destructor: the object belongs to
// the runtime.
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
                                                          vr::TrackedDeviceIndex_t* punTrackedDeviceIndexArray,
                                                          uint32_t unTrackedDeviceIndexArrayCount,
                                                          vr::TrackedDeviceIndex_t unRelativeToTrackedDeviceIndex = k_unTrackedDeviceIndex_Hmd) = 0;
    virtual EDeviceActivityLevel GetTrackedDeviceActivityLevel(vr::TrackedDeviceIndex_t unDeviceId) = 0;
    virtual void ApplyTransform(TrackedDevicePose_t* pOutputPose, const TrackedDevicePose_t* pTrackedDevicePose,
                                const HmdMatrix34_t* pTransform) = 0;
    virtual vr::TrackedDeviceIndex_t GetTrackedDeviceIndexForControllerRole(vr::ETrackedControllerRole unDeviceType) = 0;
    virtual vr::ETrackedControllerRole GetControllerRoleForTrackedDeviceIndex(vr::TrackedDeviceIndex_t unDeviceIndex) = 0;
    virtual ETrackedDeviceClass GetTrackedDeviceClass(vr::TrackedDeviceIndex_t unDeviceIndex) = 0;
    virtual bool IsTrackedDeviceConnected(vr::TrackedDeviceIndex_t unDeviceIndex) = 0;
    virtual bool GetBoolTrackedDeviceProperty(vr::TrackedDeviceIndex_t unDeviceIndex, ETrackedDeviceProperty prop,
                                              ETrackedPropertyError* pError = 0L) = 0;
    virtual float GetFloatTrackedDeviceProperty(vr::TrackedDeviceIndex_t unDeviceIndex, ETrackedDeviceProperty prop,
                                                ETrackedPropertyError* pError = 0L) = 0;
    virtual int32_t GetInt32TrackedDeviceProperty(vr::TrackedDeviceIndex_t unDeviceIndex, ETrackedDeviceProperty prop,
                                                  ETrackedPropertyError* pError = 0L) = 0;
    virtual uint64_t GetUint64TrackedDeviceProperty(vr::TrackedDeviceIndex_t unDeviceIndex, ETrackedDeviceProperty prop,
                                                    ETrackedPropertyError* pError = 0L) = 0;
    virtual HmdMatrix34_t GetMatrix34TrackedDeviceProperty(vr::TrackedDeviceIndex_t unDeviceIndex,
                                                           ETrackedDeviceProperty prop,
                                                           ETrackedPropertyError* pError = 0L) = 0;
    virtual uint32_t GetStringTrackedDeviceProperty(vr::TrackedDeviceIndex_t unDeviceIndex, ETrackedDeviceProperty prop,
                                                    char* pchValue, uint32_t unBufferSize,
                                                    ETrackedPropertyError* pError = 0L) = 0;
    virtual const char* GetPropErrorNameFromEnum(ETrackedPropertyError error) = 0;
    virtual bool PollNextEvent(VREvent_t* pEvent, uint32_t uncbVREvent) = 0;
    virtual bool PollNextEventWithPose(ETrackingUniverseOrigin eOrigin, VREvent_t* pEvent, uint32_t uncbVREvent,
                                       vr::TrackedDevicePose_t* pTrackedDevicePose) = 0;
    virtual const char* GetEventTypeNameFromEnum(EVREventType eType) = 0;
    virtual HiddenAreaMesh_t GetHiddenAreaMesh(EVREye eEye, EHiddenAreaMeshType type = k_eHiddenAreaMesh_Standard) = 0;
    virtual bool GetControllerState(vr::TrackedDeviceIndex_t unControllerDeviceIndex,
                                    vr::VRControllerState_t* pControllerState, uint32_t unControllerStateSize) = 0;
    virtual bool GetControllerStateWithPose(ETrackingUniverseOrigin eOrigin, vr::TrackedDeviceIndex_t unControllerDeviceIndex,
                                            vr::VRControllerState_t* pControllerState, uint32_t unControllerStateSize,
                                            TrackedDevicePose_t* pTrackedDevicePose) = 0;
    virtual void TriggerHapticPulse(vr::TrackedDeviceIndex_t unControllerDeviceIndex, uint32_t unAxisId,
                                    unsigned short usDurationMicroSec) = 0;
    virtual const char* GetButtonIdNameFromEnum(EVRButtonId eButtonId) = 0;
    virtual const char* GetControllerAxisTypeNameFromEnum(EVRControllerAxisType eAxisType) = 0;
    virtual bool CaptureInputFocus() = 0;
    virtual void ReleaseInputFocus() = 0;
    virtual bool IsInputFocusCapturedByAnotherProcess() = 0;
    virtual uint32_t DriverDebugRequest(vr::TrackedDeviceIndex_t unDeviceIndex, const char* pchRequest,
                                        char* pchResponseBuffer, uint32_t unResponseBufferSize) = 0;
    virtual vr::EVRFirmwareError PerformFirmwareUpdate(vr::TrackedDeviceIndex_t unDeviceIndex) = 0;
    virtual void AcknowledgeQuit_Exiting() = 0;
    virtual void AcknowledgeQuit_UserPrompt() = 0;
};

static const char* const IVRSystem_Version = "IVRSystem_015";

} // namespace vr

namespace vr
{

// Opens the process's client (see VR_InitInternal) and returns its IVRSystem; null with the reason
// in *peError otherwise (VRInitError_Init_InterfaceNotFound when the runtime refuses
// IVRSystem_015, after the client has been shut down again).
inline IVRSystem* VR_Init(EVRInitError* peError, EVRApplicationType eApplicationType);

// Ends the process's client: every interface handed out is invalid from then on.
inline void VR_Shutdown();

// The interface of a version; valid until VR_Shutdown.
VR_INTERFACE void* VR_CALLTYPE VR_GetGenericInterface(const char* pchInterfaceVersion, EVRInitError* peError);

// Whether the interface of this version exists.
VR_INTERFACE bool VR_CALLTYPE VR_IsInterfaceVersionValid(const char* pchInterfaceVersion);

// A token that changes whenever the client is opened or shut down: interface pointers obtained
// under another token must not be used.
VR_INTERFACE uint32_t VR_CALLTYPE VR_GetInitToken();

// The module's view of the runtime, as in the SDK: the token of the session it last saw and the
// interface it got for it, asked for again whenever the token changes. Callers serialise their
// loader calls.
inline uint32_t& VRToken()
{
    static uint32_t token;
    return token;
}

class COpenVRContext {
public:
    COpenVRContext() { Clear(); }
    void Clear();

    inline void CheckClear()
    {
        if (VRToken() != VR_GetInitToken()) {
            Clear();
            VRToken() = VR_GetInitToken();
        }
    }

    IVRSystem* VRSystem()
    {
        CheckClear();
        if (m_pVRSystem == nullptr) {
            EVRInitError eError;
            m_pVRSystem = (IVRSystem*)VR_GetGenericInterface(IVRSystem_Version, &eError);
        }
        return m_pVRSystem;
    }

private:
    IVRSystem* m_pVRSystem;
};

inline COpenVRContext& OpenVRInternal_ModuleContext()
{
    static COpenVRContext ctx;
    return ctx;
}

inline IVRSystem* VR_CALLTYPE VRSystem()
{
    return OpenVRInternal_ModuleContext().VRSystem();
}

inline void COpenVRContext::Clear()
{
    m_pVRSystem = nullptr;
}

VR_INTERFACE uint32_t VR_CALLTYPE VR_InitInternal(EVRInitError* peError, EVRApplicationType eApplicationType);
VR_INTERFACE void VR_CALLTYPE VR_ShutdownInternal();

inline IVRSystem* VR_Init(EVRInitError* peError, EVRApplicationType eApplicationType)
{
    IVRSystem* pVRSystem = nullptr;

    EVRInitError eError;
    VRToken() = VR_InitInternal(&eError, eApplicationType);
    COpenVRContext& ctx = OpenVRInternal_ModuleContext();
    ctx.Clear();

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
