// A host program's view: load the built library at run time, find the seven plain functions by
// their plain names, script the simulated rig and check what comes back.
#include "loader.h"
#include "support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace ViveSystem;
using namespace testing_support;

namespace {

struct Api {
    bool (*initViveLib)(_DeviceError*);
    void (*releaseViveLib)();
    void (*readViveData)(_TrackedDevicePose*, _DeviceError*);
    void (*readViveStatus)(_DeviceError*);
    void (*setDeviceStatusChangedHandle)(DeviceStatusChangedHandler);
    void (*setFreq)(unsigned int);
    void (*setTrackingMod)(_TrackingMod);
};

template <class F>
void find(void* lib, const char* name, F& fn)
{
    fn = reinterpret_cast<F>(findSymbol(lib, name));
    ASSERT_NE(fn, nullptr) << name << ": " << loaderError();
}

class Host : public ::testing::Test {
protected:
    Host()
    {
        vrsim_reset();
        globalLog().clear();
        lib = loadLibrary(TAVRIN_LIBRARY_PATH);
    }
    ~Host() override
    {
        if (lib)
            unloadLibrary(lib);
        vrsim_reset();
    }
    void SetUp() override
    {
        ASSERT_NE(lib, nullptr) << loaderError();
        find(lib, "initViveLib", api.initViveLib);
        find(lib, "releaseViveLib", api.releaseViveLib);
        find(lib, "readViveData", api.readViveData);
        find(lib, "readViveStatus", api.readViveStatus);
        find(lib, "setDeviceStatusChangedHandle", api.setDeviceStatusChangedHandle);
        find(lib, "setFreq", api.setFreq);
        find(lib, "setTrackingMod", api.setTrackingMod);
    }

    _DeviceError status()
    {
        _DeviceError s = static_cast<_DeviceError>(-1);
        api.readViveStatus(&s);
        return s;
    }

    void* lib = nullptr;
    Api api{};
};

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

TEST_F(Host, StatusIsNoSessionBeforeTheFirstStart)
{
    EXPECT_EQ(status(), DeviceError_NoSession);
    EXPECT_EQ(status(), DeviceError_NoSession);
    api.releaseViveLib(); // on an idle library: no effect
    EXPECT_EQ(counters().init_calls, 0u);
    EXPECT_EQ(counters().shutdown_calls, 0u);
}

TEST_F(Host, StartSucceedsWithOrWithoutARuntime)
{
    vrsim_set_init_error(108); // no headset
    _DeviceError err = DeviceError_Unknown;
    EXPECT_TRUE(api.initViveLib(&err));
    EXPECT_EQ(err, DeviceError_None);
    ASSERT_TRUE(waitUntil([] { return counters().init_calls >= 1; }));
    EXPECT_EQ(status(), DeviceError_NoSession);
    api.releaseViveLib();

    vrsim_set_init_error(0);
    err = DeviceError_Unknown;
    EXPECT_TRUE(api.initViveLib(&err));
    EXPECT_EQ(err, DeviceError_None);
    ASSERT_TRUE(waitUntil([&] { return status() == DeviceError_None; }));
}

TEST_F(Host, TypicalRequestEndToEnd)
{
    typicalRig();
    api.setDeviceStatusChangedHandle(recordEvent);
    api.setFreq(250);
    _DeviceError err = DeviceError_Unknown;
    ASSERT_TRUE(api.initViveLib(&err));
    ASSERT_TRUE(globalLog().waitForCount(4));
    expectTypicalFirstEvents(globalLog().snapshot());

    // A read's wait ends at least one period after the previous read's wait ended, which was
    // after the previous call began: so each return is a period or more after the previous call.
    int64_t previousCall = 0;
    for (int read = 0; read < 5; ++read) {
        _TrackedDevicePose poses[16] = {};
        err = DeviceError_Unknown;
        const int64_t call = nowNs();
        api.readViveData(poses, &err);
        const int64_t returned = nowNs();
        EXPECT_EQ(err, DeviceError_None);
        EXPECT_EQ(poses[0].deviceClass, 1);
        EXPECT_EQ(poses[1].deviceClass, 2);
        EXPECT_EQ(poses[2].index, 2);
        EXPECT_EQ(poses[3].deviceClass, 0) << "nothing past the third record";
        EXPECT_NEAR(poses[0].position[1], 1.7f, 1e-6f);
        if (previousCall) {
            EXPECT_GE(returned - previousCall, 4'000'000 - 50'000) << "reads are paced to 250 Hz";
        }
        previousCall = call;
    }
    EXPECT_EQ(status(), DeviceError_None);
}

TEST_F(Host, ReleaseShutsDownOnceAndRestartKeepsTheSettings)
{
    typicalRig();
    api.setDeviceStatusChangedHandle(recordEvent);
    api.setFreq(2); // 500 ms: far from the default, so that a lost setting shows
    api.setTrackingMod(static_cast<_TrackingMod>(3));
    _DeviceError err;
    api.initViveLib(&err);
    ASSERT_TRUE(globalLog().waitForCount(4));
    api.releaseViveLib();
    api.releaseViveLib();
    EXPECT_EQ(counters().shutdown_calls, 1u);
    EXPECT_EQ(counters().open_sessions, 0u);
    EXPECT_EQ(status(), DeviceError_NoSession);

    ASSERT_TRUE(api.initViveLib(&err));
    ASSERT_TRUE(globalLog().waitForCount(5)) << "the handler survives the restart";
    EXPECT_EQ(globalLog().snapshot()[4].event, DeviceEvent_SessionOpened);
    EXPECT_EQ(globalLog().snapshot()[4].count, 3);
    _TrackedDevicePose poses[16];
    const int64_t firstCall = nowNs();
    api.readViveData(poses, &err);
    api.readViveData(poses, &err);
    EXPECT_GE(nowNs() - firstCall, 499'000'000) << "the rate survives the restart";
    EXPECT_EQ(err, DeviceError_None);
}

TEST_F(Host, ClearingTheHandlerSilencesLaterEvents)
{
    typicalRig();
    api.setDeviceStatusChangedHandle(recordEvent);
    _DeviceError err;
    api.initViveLib(&err);
    ASSERT_TRUE(globalLog().waitForCount(4));
    api.setDeviceStatusChangedHandle(nullptr);
    vrsim_set_device(2, 0, nullptr, 0);
    const uint32_t scans = counters().class_queries;
    ASSERT_TRUE(waitUntil([&] { return counters().class_queries >= scans + 32; }));
    EXPECT_EQ(globalLog().size(), 4u);
}

TEST_F(Host, UnloadingTheLibraryStopsARunningDriver)
{
    typicalRig();
    api.setDeviceStatusChangedHandle(recordEvent);
    _DeviceError err;
    api.initViveLib(&err);
    ASSERT_TRUE(globalLog().waitForCount(4));
    ASSERT_TRUE(unloadLibrary(lib));
    lib = nullptr;
    const vrsim_counters c = counters();
    EXPECT_EQ(c.open_sessions, 0u);
    EXPECT_EQ(c.shutdown_calls, 1u);
    // A discovery thread left behind would query the runtime within a pass or two (500 ms each):
    // give it three to show itself.
    const uint32_t queries = c.class_queries;
    vrsim_set_device(1, 0, nullptr, 0);
    EXPECT_FALSE(waitUntil([&] { return counters().class_queries != queries || globalLog().size() != 4u; }, 1500ms))
        << "no discovery thread is left";
}

namespace {
void throwingHandler(int count, _DeviceEvent event, _DeviceEventArg arg)
{
    recordEvent(count, event, arg);
    throw 42;
}
} // namespace

TEST_F(Host, AThrowingHandlerDoesNotTakeTheLoopDown)
{
    typicalRig();
    api.setDeviceStatusChangedHandle(throwingHandler);
    _DeviceError err;
    api.initViveLib(&err);
    ASSERT_TRUE(globalLog().waitForCount(4));
    vrsim_set_device(2, 2, "LHR-CTRL0002", 0);
    ASSERT_TRUE(globalLog().waitForCount(5));
    EXPECT_EQ(globalLog().snapshot()[4].event, DeviceEvent_ControllerDisconnected);
    api.releaseViveLib();
}
