// The plain functions over the process-wide helper, and the diagnostics. The helper is built by
// the library's static initialisation when it is loaded (no thread, no session) and destroyed,
// stopping its driver, when it is unloaded. No exception leaves these functions.
#include "../session/session.h"
#include "../legacy/status.h"

#include <tavrin.h>

using namespace ViveSystem;

namespace {

TavrinHelper processHelper;

void reportFailure(_DeviceError* out)
{
    setLastError(DeviceError_Unknown);
    if (out)
        *out = DeviceError_Unknown;
}

} // namespace

extern "C" {

TAVRIN_API bool initViveLib(_DeviceError* err)
{
    try {
        return processHelper.start(*err);
    } catch (...) {
        reportFailure(err);
        return false;
    }
}

TAVRIN_API void releaseViveLib(void)
{
    try {
        processHelper.stop();
    } catch (...) {
        reportFailure(nullptr);
    }
}

TAVRIN_API void setDeviceStatusChangedHandle(DeviceStatusChangedHandler handler)
{
    processHelper.setDeviceStatusChangedHandle(handler);
}

TAVRIN_API void setTrackingMod(_TrackingMod mode)
{
    processHelper.setTrackingMod(mode);
}

TAVRIN_API void setFreq(unsigned int freq)
{
    processHelper.setFreq(freq);
}

TAVRIN_API void readViveData(_TrackedDevicePose* poses, _DeviceError* err)
{
    try {
        processHelper.readData(poses, *err);
    } catch (...) {
        reportFailure(err);
    }
}

TAVRIN_API void readViveStatus(_DeviceError* status)
{
    try {
        processHelper.readStatus(status);
    } catch (...) {
        reportFailure(status);
    }
}

TAVRIN_API const char* tavrin_version(void)
{
    return TAVRIN_VERSION_STRING;
}

// The session is the process's: why it is not open is the latest attempt's reason, whoever made it
// (the plain functions' helper, another driver, a frame source).
TAVRIN_API int32_t tavrin_session_error(void)
{
    return sessionOwner::instance().lastOpenError();
}

TAVRIN_API const char* tavrin_error_name(int32_t code)
{
    switch (code) {
    case DeviceError_None: return "DeviceError_None";
    case DeviceError_NoSession: return "DeviceError_NoSession";
    case DeviceError_NotBound: return "DeviceError_NotBound";
    case DeviceError_InvalidArgument: return "DeviceError_InvalidArgument";
    case DeviceError_HmdInUse: return "DeviceError_HmdInUse";
    case DeviceError_HmdNotFound: return "DeviceError_HmdNotFound";
    case DeviceError_Unknown: return "DeviceError_Unknown";
    default: return "unknown";
    }
}

TAVRIN_API const char* tavrin_event_name(int32_t code)
{
    switch (code) {
    case DeviceEvent_SessionOpened: return "DeviceEvent_SessionOpened";
    case DeviceEvent_HmdConnected: return "DeviceEvent_HmdConnected";
    case DeviceEvent_HmdDisconnected: return "DeviceEvent_HmdDisconnected";
    case DeviceEvent_ControllerConnected: return "DeviceEvent_ControllerConnected";
    case DeviceEvent_ControllerDisconnected: return "DeviceEvent_ControllerDisconnected";
    case DeviceEvent_TrackerConnected: return "DeviceEvent_TrackerConnected";
    case DeviceEvent_TrackerDisconnected: return "DeviceEvent_TrackerDisconnected";
    case DeviceEvent_IndexChanged: return "DeviceEvent_IndexChanged";
    case DeviceEvent_SessionClosed: return "DeviceEvent_SessionClosed";
    default: return "unknown";
    }
}

} // extern "C"
