// The host plug-in factory.
#include "components.h"
#include "shares.h"

#include "../legacy/vr_driver.h"

#include <memory>

namespace ViveSystem {

Tavrin::Tavrin() = default;

// A copy shares the objects the five factory fields name. A helper's private factory is not one
// of them: only helpers share it, so a Tavrin sliced from a helper never keeps its driver alive.
Tavrin::Tavrin(const Tavrin& other) : idevice_factory(other)
{
    shares::copyShares(&other, this, false);
}

Tavrin& Tavrin::operator=(const Tavrin& other)
{
    if (this != &other) {
        idevice_factory::operator=(other);
        shares::copyShares(&other, this, false);
    }
    return *this;
}

Tavrin::~Tavrin()
{
    shares::forget(this);
}

orvane::idevice* Tavrin::create_dev(std::string name, std::string param)
{
    auto device = std::make_unique<viveDev>();
    device->driver = new vrDriver;
    dev = device.release();
    shares::adopt(this, dev, shares::Kind::Device, dev->handle());
    dev->setName(name.c_str());
    dev->setParam(param.c_str());
    handle = dev->handle();
    return dev;
}

namespace {
// Creates a component bound to the factory's driver, or nothing when the factory has no live
// device.
template <class Component, class Interface>
Interface* createBound(Tavrin& factory, Interface*& field, shares::Kind kind)
{
    if (factory.handle == nullptr || !shares::holdsDriver(&factory, factory.handle))
        return nullptr;
    field = new Component;
    shares::adopt(&factory, field, kind);
    field->attach(factory.handle);
    return field;
}
} // namespace

orvane::icmd* Tavrin::create_cmd(std::string)
{
    return createBound<viveCmd>(*this, cmd, shares::Kind::Command);
}

orvane::idata* Tavrin::create_data(std::string)
{
    return createBound<viveData>(*this, data, shares::Kind::Data);
}

orvane::istat* Tavrin::create_stat(std::string)
{
    return createBound<viveStat>(*this, stat, shares::Kind::Status);
}

void Tavrin::release()
{
    const std::vector<shares::Held> orphans = shares::giveUp(this, false);
    // Devices first: each is stopped (thread joined, session shut) before its driver goes.
    for (const shares::Held& h : orphans) {
        if (h.kind != shares::Kind::Device)
            continue;
        auto* device = static_cast<orvane::idevice*>(h.object);
        device->stop();
        // Unbound before the driver's memory is freed, and by identity: a driver allocated
        // afterwards at the same address is another one, and its objects stay bound.
        shares::retireDriver(device->handle());
        delete device;
    }
    for (shares::Kind kind : {shares::Kind::Command, shares::Kind::Data, shares::Kind::Status}) {
        for (const shares::Held& h : orphans) {
            if (h.kind != kind)
                continue;
            if (kind == shares::Kind::Command)
                delete static_cast<orvane::icmd*>(h.object);
            else if (kind == shares::Kind::Data)
                delete static_cast<orvane::idata*>(h.object);
            else
                delete static_cast<orvane::istat*>(h.object);
        }
    }
    dev = nullptr;
    cmd = nullptr;
    data = nullptr;
    stat = nullptr;
    // The device this handle named may be gone: later create operations need a new create_dev.
    handle = nullptr;
}

} // namespace ViveSystem
