// The component objects behind the host's interfaces. Not exported: the host reaches them only
// through the interface pointers that the factory hands out.
#pragma once

#include "shares.h"

#include <tavrin.h>

namespace ViveSystem {

class vrDriver;

// The device: owns its driver.
class viveDev final : public orvane::idevice {
public:
    viveDev();
    ~viveDev() override;
    void init() override;
    bool start() override;
    void stop() override;
    bool restart() override;
    void* handle() override;
    void setName(const char* text) override;
    void setParam(const char* text) override;

    vrDriver* driver = nullptr;
};

// What the command, data and status objects share: a driver they refer to (never own), the
// operations that only check that they are bound, and attach.
// The binding is kept by the process-wide record, which unbinds the object when its driver goes,
// even when no factory holds the object any more.
template <class Interface>
class boundComponent : public Interface, private shares::boundObject {
public:
    ~boundComponent() override { shares::unbind(this); }
    void control(void*) override { boundCheck(); }
    void query(void*) override { boundCheck(); }
    // Binds to the live driver that `h` names; anything else leaves the object unbound.
    void attach(void* h) override { shares::bind(this, h); }

    vrDriver* driver = nullptr;

protected:
    // Unbound: the status word becomes DeviceError_NotBound; bound: nothing changes.
    bool boundCheck() const;

private:
    void setBinding(void* h) override
    {
        this->handle = h;
        driver = static_cast<vrDriver*>(h); // the handle is the driver (see vrDriver::fromHandle)
    }
};

// The command object.
class viveCmd final : public boundComponent<orvane::icmd> {
public:
    void send(void*) override { boundCheck(); }
};

// The data object: paced pose reads into 16 _TrackedDevicePose.
class viveData final : public boundComponent<orvane::idata> {
public:
    void read(void* poses) override;
};

// The status object: reads the status word, or DeviceError_NoSession while no session is open.
class viveStat final : public boundComponent<orvane::istat> {
public:
    void read(void* status) override;
};

} // namespace ViveSystem
