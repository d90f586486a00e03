// The seven plain functions over the process-wide helper. The helper is built by the library's
// static initialisation when it is loaded (no thread, no session) and destroyed, stopping its
// driver, when it is unloaded. No exception leaves these functions.
#include "../driver/status.h"

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

} // extern "C"
