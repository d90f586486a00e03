// TavrinHelper: a ready-made client of the factory with one device and its three objects.
#include "../discovery/device_table.h"
#include "../legacy/status.h"
#include "../legacy/vr_driver.h"
#include "../plugin/shares.h"

#include <cstring>

namespace ViveSystem {

namespace {
vrDriver* driverOf(orvane::idevice* device)
{
    return vrDriver::fromHandle(device->handle());
}
} // namespace

TavrinHelper::TavrinHelper()
{
    factory = new Tavrin;
    shares::adopt(this, factory, shares::Kind::Factory);
    helperDev = factory->create_dev("", "");
    helperCmd = factory->create_cmd("");
    helperData = factory->create_data("");
    helperStat = factory->create_stat("");
}

// The copy takes a share in the factory (and in anything the original holds as a factory).
TavrinHelper::TavrinHelper(const TavrinHelper& other)
    : Tavrin(other), factory(other.factory), helperDev(other.helperDev), helperCmd(other.helperCmd),
      helperData(other.helperData), helperStat(other.helperStat)
{
    shares::copyShares(&other, this, true);
}

namespace {
// Gives up a helper's share in its factory; the last holder stops the device and frees it all.
void dropFactory(const TavrinHelper* helper, orvane::idevice* device)
{
    for (const shares::Held& h : shares::giveUp(helper, true)) {
        auto* f = static_cast<Tavrin*>(h.object);
        if (device)
            device->stop();
        f->release();
        delete f;
    }
}
} // namespace

TavrinHelper& TavrinHelper::operator=(const TavrinHelper& other)
{
    if (this != &other) {
        dropFactory(this, helperDev);
        Tavrin::operator=(other);
        shares::copyShares(&other, this, true);
        factory = other.factory;
        helperDev = other.helperDev;
        helperCmd = other.helperCmd;
        helperData = other.helperData;
        helperStat = other.helperStat;
    }
    return *this;
}

TavrinHelper::~TavrinHelper()
{
    dropFactory(this, helperDev);
    factory = nullptr;
    helperDev = nullptr;
    helperCmd = nullptr;
    helperData = nullptr;
    helperStat = nullptr;
}

bool TavrinHelper::start(_DeviceError& err)
{
    helperDev->init();
    helperDev->start();
    err = lastError();
    return err == DeviceError_None;
}

void TavrinHelper::stop()
{
    helperDev->stop();
}

void TavrinHelper::readStatus(_DeviceError* status)
{
    helperStat->read(status);
}

void TavrinHelper::readData(_TrackedDevicePose* poses, _DeviceError& err)
{
    helperData->read(poses);
    err = lastError();
}

void TavrinHelper::readDataEx(_TrackedDevicePoseEx* poses, _DeviceError& err)
{
    _TrackedDevicePose local[kMaxDevices];
    std::memset(local, 0, sizeof local);
    helperData->read(local);
    for (int i = 0; i < kMaxDevices; ++i) {
        const _TrackedDevicePose& from = local[i];
        if (from.deviceClass == 0)
            continue; // not filled: the caller's record stays as supplied
        _TrackedDevicePoseEx& to = poses[i];
        copySerial(to.serial, from.serial);
        to.index = from.index;
        to.deviceClass = from.deviceClass;
        to.trackingOk = from.trackingOk;
        to.timestampMs = from.timestampMs;
        std::memcpy(to.rotation, from.rotation, sizeof to.rotation);
        std::memcpy(to.velocity, from.velocity, sizeof to.velocity);
        std::memcpy(to.angularVelocity, from.angularVelocity, sizeof to.angularVelocity);
    }
    err = lastError();
}

void TavrinHelper::setFreq(unsigned int freq)
{
    driverOf(helperDev)->setFreq(freq);
}

void TavrinHelper::setTrackingMod(_TrackingMod mode)
{
    driverOf(helperDev)->setTrackingMode(static_cast<int32_t>(mode));
}

void TavrinHelper::setDeviceStatusChangedHandle(DeviceStatusChangedHandler handler)
{
    driverOf(helperDev)->setHandler(handler);
}

} // namespace ViveSystem
