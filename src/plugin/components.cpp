#include "components.h"

#include "../driver/status.h"
#include "../driver/vr_driver.h"

namespace ViveSystem {

namespace {
// Operations that only check that the object is bound.
void boundCheck(const vrDriver* driver)
{
    if (driver == nullptr)
        setLastError(DeviceError_NotBound);
}
} // namespace

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

void viveCmd::send(void*)
{
    boundCheck(driver);
}
void viveCmd::control(void*)
{
    boundCheck(driver);
}
void viveCmd::query(void*)
{
    boundCheck(driver);
}
void viveCmd::attach(void* h)
{
    handle = h;
    driver = static_cast<vrDriver*>(h);
}

void viveData::read(void* poses)
{
    if (driver == nullptr) {
        setLastError(DeviceError_NotBound);
        return;
    }
    setLastError(DeviceError_None);
    driver->readPoses(static_cast<_TrackedDevicePose*>(poses));
}
void viveData::control(void*)
{
    boundCheck(driver);
}
void viveData::query(void*)
{
    boundCheck(driver);
}
void viveData::attach(void* h)
{
    handle = h;
    driver = static_cast<vrDriver*>(h);
}

void viveStat::read(void* status)
{
    if (driver == nullptr) {
        setLastError(DeviceError_NotBound);
        return;
    }
    *static_cast<_DeviceError*>(status) =
        driver->vrSystem.load(std::memory_order_acquire) == nullptr ? DeviceError_NoSession : lastError();
}
void viveStat::control(void*)
{
    boundCheck(driver);
}
void viveStat::query(void*)
{
    boundCheck(driver);
}
void viveStat::attach(void* h)
{
    handle = h;
    driver = static_cast<vrDriver*>(h);
}

} // namespace ViveSystem
