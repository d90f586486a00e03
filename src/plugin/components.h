// The component objects behind the host's interfaces. Not exported: the host reaches them only
// through the interface pointers that the factory hands out.
#pragma once

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

// The command object: refers to a driver, owns nothing.
class viveCmd final : public orvane::icmd {
public:
    void send(void* arg) override;
    void control(void* arg) override;
    void query(void* arg) override;
    void attach(void* h) override;

    vrDriver* driver = nullptr;
};

// The data object: paced pose reads into 16 _TrackedDevicePose.
class viveData final : public orvane::idata {
public:
    void read(void* poses) override;
    void control(void* arg) override;
    void query(void* arg) override;
    void attach(void* h) override;

    vrDriver* driver = nullptr;
};

// The status object: reads the status word, or DeviceError_NoSession while no session is open.
class viveStat final : public orvane::istat {
public:
    void read(void* status) override;
    void control(void* arg) override;
    void query(void* arg) override;
    void attach(void* h) override;

    vrDriver* driver = nullptr;
};

} // namespace ViveSystem
