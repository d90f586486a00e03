#include "components.h"

#include "../legacy/status.h"
#include "../legacy/vr_driver.h"

namespace ViveSystem {

template <class Interface>
bool boundComponent<Interface>::boundCheck() const
{
    if (driver != nullptr)
        return true;
    setLastError(DeviceError_NotBound);
    return false;
}

template class boundComponent<orvane::icmd>;
template class boundComponent<orvane::idata>;
template class boundComponent<orvane::istat>;

viveDev::viveDev() = default;

viveDev::~viveDev()
{
    if (driver) {
        driver->stop();
        delete driver;
        driver = nullptr;
    }
}

void viveDev::init() {}

// The system's failures (a thread that cannot be created, a failed join) are reported as
// DeviceError_Unknown, as the plain functions report them: a host calling through the interface
// cannot be expected to catch exceptions across a plug-in boundary.
bool viveDev::start()
{
    setLastError(DeviceError_None);
    try {
        driver->stop();
        return driver->start();
    } catch (...) {
        setLastError(DeviceError_Unknown);
        return false;
    }
}

void viveDev::stop()
{
    try {
        driver->stop();
    } catch (...) {
        setLastError(DeviceError_Unknown);
    }
}

bool viveDev::restart()
{
    stop();
    return start();
}

void* viveDev::handle()
{
    return driver;
}

void viveDev::setName(const char* text)
{
    name = text;
}

void viveDev::setParam(const char* text)
{
    param = text;
}

void viveData::read(void* poses)
{
    if (!boundCheck())
        return;
    setLastError(DeviceError_None);
    try {
        driver->readPoses(static_cast<_TrackedDevicePose*>(poses));
    } catch (...) {
        setLastError(DeviceError_Unknown);
    }
}

void viveStat::read(void* status)
{
    if (!boundCheck())
        return;
    *static_cast<_DeviceError*>(status) = driver->hasSession() ? lastError() : DeviceError_NoSession;
}

} // namespace ViveSystem
