#include "components.h"

#include "../driver/status.h"
#include "../driver/vr_driver.h"

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

bool viveDev::start()
{
    setLastError(DeviceError_None);
    driver->stop();
    return driver->start();
}

void viveDev::stop()
{
    driver->stop();
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
    driver->readPoses(static_cast<_TrackedDevicePose*>(poses));
}

void viveStat::read(void* status)
{
    if (!boundCheck())
        return;
    *static_cast<_DeviceError*>(status) =
        driver->vrSystem.load(std::memory_order_acquire) == nullptr ? DeviceError_NoSession : lastError();
}

} // namespace ViveSystem
