// The host plug-in factory, its component objects and the helper class, used as a host would.
#include "support.h"

#include <legacy/status.h>
#include <legacy/vr_driver.h>

#include <gtest/gtest.h>

#include <memory>

using namespace ViveSystem;
using namespace testing_support;

namespace {

// The helper's own fields follow the factory's, each one pointer wide, in their documented order:
// factory, helperDev, helperCmd, helperData, helperStat. A test reaches the driver through them.
static_assert(sizeof(TavrinHelper) == sizeof(orvane::idevice_factory) + 5 * sizeof(void*), "helper layout");

vrDriver* driverOf(const TavrinHelper& h)
{
    orvane::idevice* dev = nullptr;
    std::memcpy(&dev, reinterpret_cast<const char*>(&h) + sizeof(orvane::idevice_factory) + sizeof(void*), sizeof dev);
    return static_cast<vrDriver*>(dev->handle());
}

class Plugin : public ::testing::Test {
protected:
    Plugin()
    {
        vrsim_reset();
        globalLog().clear();
        setLastError(DeviceError_None);
    }
    ~Plugin() override { vrsim_reset(); }

    static bool sessionOpen() { return counters().open_sessions > 0; }
    static _DeviceError status(orvane::istat* s)
    {
        _DeviceError e = static_cast<_DeviceError>(-1);
        s->read(&e);
        return e;
    }
};

} // namespace

TEST_F(Plugin, AnEmptyFactoryCreatesNothingButADevice)
{
    Tavrin f;
    setLastError(DeviceError_HmdInUse); // any value: creates must leave it
    EXPECT_EQ(f.create_cmd("x"), nullptr);
    EXPECT_EQ(f.create_data("x"), nullptr);
    EXPECT_EQ(f.create_stat("x"), nullptr);
    EXPECT_EQ(lastError(), DeviceError_HmdInUse);
    EXPECT_EQ(f.cmd, nullptr);

    orvane::idevice* dev = f.create_dev(std::string("name\0ignored", 12), "param");
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(dev->name, "name");
    EXPECT_EQ(dev->param, "param");
    EXPECT_EQ(f.handle, dev->handle());
    EXPECT_EQ(f.dev, dev);
    f.release();
    f.release(); // a second release does nothing
    EXPECT_EQ(f.dev, nullptr);
    Tavrin empty;
    empty.release();
}

TEST_F(Plugin, ComponentsAreBoundAtOnceAndCheckTheirBinding)
{
    Tavrin f;
    f.create_dev("", "");
    orvane::icmd* cmd = f.create_cmd("");
    orvane::idata* data = f.create_data("");
    orvane::istat* stat = f.create_stat("");
    ASSERT_TRUE(cmd && data && stat);
    EXPECT_EQ(cmd->handle, f.handle);

    setLastError(DeviceError_HmdInUse);
    cmd->send(nullptr);
    cmd->control(nullptr);
    cmd->query(nullptr);
    data->control(nullptr);
    stat->query(nullptr);
    EXPECT_EQ(lastError(), DeviceError_HmdInUse) << "bound checks pass silently";
    EXPECT_EQ(status(stat), DeviceError_NoSession) << "no session before a start";
    EXPECT_EQ(lastError(), DeviceError_HmdInUse) << "a status read changes nothing";

    f.dev->init();
    f.dev->stop(); // never started: no effect
    EXPECT_EQ(counters().shutdown_calls, 0u);

    cmd->attach(nullptr);
    data->attach(nullptr);
    stat->attach(nullptr);
    for (auto op : {&orvane::icmd::send, &orvane::icmd::control, &orvane::icmd::query}) {
        setLastError(DeviceError_None);
        (cmd->*op)(nullptr);
        EXPECT_EQ(lastError(), DeviceError_NotBound);
    }
    _TrackedDevicePose poses[16];
    std::memset(poses, 0x33, sizeof poses);
    setLastError(DeviceError_None);
    data->read(poses);
    EXPECT_EQ(lastError(), DeviceError_NotBound);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(poses)[0], 0x33);
    _DeviceError untouched = static_cast<_DeviceError>(77);
    stat->read(&untouched);
    EXPECT_EQ(untouched, 77);
    f.release();
}

TEST_F(Plugin, DeviceStartStopRestartThroughTheInterfaces)
{
    typicalRig();
    Tavrin f;
    orvane::idevice* dev = f.create_dev("vive", "");
    orvane::istat* stat = f.create_stat("");
    orvane::idata* data = f.create_data("");
    static_cast<vrDriver*>(dev->handle())->discovery().setLoopPeriods(10ms, 10ms);
    setLastError(DeviceError_NotBound);
    EXPECT_TRUE(dev->start());
    EXPECT_EQ(lastError(), DeviceError_None);
    ASSERT_TRUE(waitUntil([&] { return status(stat) == DeviceError_None; }));
    _TrackedDevicePose poses[16] = {};
    data->read(poses);
    EXPECT_EQ(lastError(), DeviceError_None);
    EXPECT_EQ(poses[2].index, 2);
    EXPECT_TRUE(dev->restart());
    ASSERT_TRUE(waitUntil([&] { return counters().init_calls == 2 && sessionOpen(); }));
    EXPECT_EQ(counters().shutdown_calls, 1u);
    f.release(); // stops the device before destroying it
    EXPECT_FALSE(sessionOpen());
    EXPECT_EQ(counters().shutdown_calls, 2u);
}

TEST_F(Plugin, ReleaseLeavesNothingToBindTo)
{
    Tavrin f;
    f.create_dev("", "");
    f.create_cmd("");
    f.release();
    EXPECT_EQ(f.create_cmd(""), nullptr);
    EXPECT_EQ(f.create_data(""), nullptr);
    EXPECT_EQ(f.create_stat(""), nullptr);
    // A new device makes the factory usable again.
    f.create_dev("", "");
    EXPECT_NE(f.create_stat(""), nullptr);
    f.release();
}

TEST_F(Plugin, ASecondCreateKeepsBothObjectsUntilRelease)
{
    typicalRig();
    Tavrin f;
    orvane::idevice* first = f.create_dev("1", "");
    orvane::idata* firstData = f.create_data("");
    first->start();
    orvane::idevice* second = f.create_dev("2", "");
    EXPECT_NE(first, second);
    EXPECT_EQ(f.handle, second->handle());
    orvane::idata* secondData = f.create_data("");
    EXPECT_EQ(secondData->handle, second->handle());
    EXPECT_EQ(firstData->handle, first->handle()) << "the first data object stays bound to its device";
    ASSERT_TRUE(waitUntil(sessionOpen));
    f.release(); // stops and frees both devices and both data objects
    EXPECT_FALSE(sessionOpen());
}

TEST_F(Plugin, DestroyingAFactoryWithoutReleaseLeavesItsObjectsAlive)
{
    orvane::idevice* dev = nullptr;
    orvane::istat* stat = nullptr;
    {
        Tavrin f;
        dev = f.create_dev("kept", "");
        stat = f.create_stat("");
    }
    EXPECT_EQ(dev->name, "kept");
    EXPECT_EQ(status(stat), DeviceError_NoSession);
    dev->stop();
    // Nobody holds them any more: the test frees them itself.
    delete stat;
    delete dev;
}

// Copies share their objects: every order of releasing and destroying originals and copies frees
// each object once, never uses a freed one, and leaves no thread running once all are gone.
TEST_F(Plugin, CopiedFactoriesInEveryOrder)
{
    typicalRig();
    enum Step { ReleaseA, ReleaseB, DestroyA, DestroyB };
    const std::vector<std::vector<Step>> orders = {
        {ReleaseA, DestroyA, ReleaseB, DestroyB}, {ReleaseB, DestroyB, ReleaseA, DestroyA},
        {ReleaseA, ReleaseB, DestroyB, DestroyA}, {DestroyA, ReleaseB, DestroyB},
        {DestroyB, ReleaseA, DestroyA},           {ReleaseA, ReleaseA, ReleaseB, DestroyA, DestroyB},
    };
    for (bool assign : {false, true}) {
        for (const auto& order : orders) {
            auto a = std::make_unique<Tavrin>();
            a->create_dev("", "");
            orvane::idata* data = a->create_data("");
            a->create_stat("");
            a->dev->start();
            // The runtime's session opens before the driver has taken it up: wait for a read.
            _TrackedDevicePose first[16];
            ASSERT_TRUE(waitUntil([&] {
                data->read(first);
                return status(a->stat) == DeviceError_None;
            }));
            std::unique_ptr<Tavrin> b;
            if (assign) {
                b = std::make_unique<Tavrin>();
                *b = *a;
            } else {
                b = std::make_unique<Tavrin>(*a);
            }
            EXPECT_EQ(b->data, data);
            bool aAlive = true, bAlive = true;
            for (Step s : order) {
                switch (s) {
                case ReleaseA: a->release(); break;
                case ReleaseB: b->release(); break;
                case DestroyA: a.reset(); aAlive = false; break;
                case DestroyB: b.reset(); bAlive = false; break;
                }
                // Whoever still holds the objects can use them.
                Tavrin* holder = (aAlive && a->data) ? a.get() : (bAlive && b->data) ? b.get() : nullptr;
                if (holder) {
                    _TrackedDevicePose poses[16];
                    holder->data->read(poses);
                    EXPECT_EQ(status(holder->stat), DeviceError_None);
                }
            }
            EXPECT_FALSE(sessionOpen()) << "the last owner's release stops the driver";
        }
    }
}

TEST_F(Plugin, HelperSettingsReachTheDriver)
{
    TavrinHelper h;
    vrDriver* d = driverOf(h);
    EXPECT_EQ(d->periodMs(), 1000.0 / 120.0);
    h.setFreq(0);
    EXPECT_EQ(d->periodMs(), 1.0);
    h.setFreq(1);
    EXPECT_EQ(d->periodMs(), 1000.0);
    h.setFreq(120);
    EXPECT_EQ(d->periodMs(), 1000.0 / 120.0);
    h.setFreq(7);
    EXPECT_EQ(d->periodMs(), 1000.0 / 7.0);
    h.setTrackingMod(static_cast<_TrackingMod>(5));
    EXPECT_EQ(d->mode(), 5);
    h.setDeviceStatusChangedHandle(recordEvent);
    EXPECT_EQ(d->handler(), &recordEvent);
    h.setDeviceStatusChangedHandle(nullptr);
    EXPECT_EQ(d->handler(), nullptr);
    // The inherited factory part is untouched.
    EXPECT_EQ(h.dev, nullptr);
    EXPECT_EQ(h.handle, nullptr);
}

TEST_F(Plugin, HelperReadDataExFillsOnlyWhatTheReadFilled)
{
    vrsim_set_device(0, 1, "LHR-HMD", 1);
    setPose(0, 0.0f, 1.7f, 0.0f, 0.3f);
    vrsim_set_device(4, 3, "LHR-TRK", 1);
    setPose(4, 0.5f, 1.0f, 0.0f, -0.2f);
    TavrinHelper h;
    driverOf(h)->discovery().setLoopPeriods(10ms, 10ms);
    h.setFreq(1000);
    _DeviceError err = DeviceError_Unknown;

    _TrackedDevicePoseEx ex[16];
    std::memset(ex, 0xEE, sizeof ex);
    h.readDataEx(ex, err);
    EXPECT_EQ(err, DeviceError_NoSession) << "err is written even when nothing is filled";
    for (size_t b = 0; b < sizeof ex; ++b)
        ASSERT_EQ(reinterpret_cast<unsigned char*>(ex)[b], 0xEE);

    ASSERT_TRUE(h.start(err));
    EXPECT_EQ(err, DeviceError_None);
    _DeviceError st = DeviceError_Unknown;
    ASSERT_TRUE(waitUntil([&] {
        h.readStatus(&st);
        return st == DeviceError_None;
    }));
    _TrackedDevicePose plain[16] = {};
    h.readData(plain, err);
    ASSERT_EQ(err, DeviceError_None);
    h.readDataEx(ex, err);
    ASSERT_EQ(err, DeviceError_None);
    for (int i = 0; i < 2; ++i) {
        EXPECT_STREQ(ex[i].serial, plain[i].serial);
        for (size_t b = std::strlen(plain[i].serial); b < sizeof ex[i].serial; ++b)
            ASSERT_EQ(ex[i].serial[b], 0);
        EXPECT_EQ(ex[i].index, plain[i].index);
        EXPECT_EQ(ex[i].deviceClass, plain[i].deviceClass);
        EXPECT_EQ(ex[i].trackingOk, 1);
        // The two reads are of two moments: the devices have turned a little between them.
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(ex[i].rotation[r][c], plain[i].rotation[r][c], 0.05f);
            EXPECT_EQ(ex[i].rotation[r][3], 0.0f) << "the fourth float of each row is 0";
            EXPECT_EQ(ex[i].velocity[r], plain[i].velocity[r]);
            EXPECT_EQ(ex[i].angularVelocity[r], plain[i].angularVelocity[r]);
        }
    }
    EXPECT_EQ(ex[1].index, 4);
    for (int i = 2; i < 16; ++i)
        for (size_t b = 0; b < sizeof ex[i]; ++b)
            ASSERT_EQ(reinterpret_cast<unsigned char*>(&ex[i])[b], 0xEE) << "record " << i;
    h.stop();
    h.readStatus(&st);
    EXPECT_EQ(st, DeviceError_NoSession);
}

TEST_F(Plugin, HelperCopiesShareOneDriverUntilTheLastGoes)
{
    typicalRig();
    auto original = std::make_unique<TavrinHelper>();
    driverOf(*original)->discovery().setLoopPeriods(10ms, 10ms);
    _DeviceError err;
    original->start(err);
    // The runtime's session opens before the driver has taken it up: wait for a read.
    _TrackedDevicePose poses[16];
    ASSERT_TRUE(waitUntil([&] {
        original->readData(poses, err);
        return err == DeviceError_None;
    }));
    auto copy = std::make_unique<TavrinHelper>(*original);
    EXPECT_EQ(driverOf(*copy), driverOf(*original));
    TavrinHelper assigned;
    assigned = *copy; // gives up its own driver, shares the original's
    EXPECT_EQ(driverOf(assigned), driverOf(*original));

    original.reset();
    EXPECT_TRUE(sessionOpen()) << "copies keep the shared driver running";
    copy->readData(poses, err);
    EXPECT_EQ(err, DeviceError_None);
    copy.reset();
    assigned.readData(poses, err);
    EXPECT_EQ(err, DeviceError_None);
    assigned = assigned; // self-assignment changes nothing
    assigned.readStatus(&err);
    EXPECT_EQ(err, DeviceError_None);
}

TEST_F(Plugin, TheLastHelperCopyStopsTheDriver)
{
    typicalRig();
    {
        TavrinHelper a;
        _DeviceError err;
        a.start(err);
        TavrinHelper b(a);
        ASSERT_TRUE(waitUntil(sessionOpen));
    }
    EXPECT_FALSE(sessionOpen());
    EXPECT_EQ(counters().shutdown_calls, 1u);
}
