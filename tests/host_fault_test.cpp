// Faults from the system under the library, made by standing in for system functions: thread
// creation fails (pthread_create), and the wall clock is set back and forth (clock_gettime).
// Failures surface as DeviceError_Unknown, never as exceptions, and record time stamps do not
// follow the wall clock.
#include "support.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <pthread.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>

using namespace ViveSystem;
using namespace testing_support;

namespace {
std::atomic<bool> refuseThreads{false};
std::atomic<long> wallClockShift{0}; // seconds added to CLOCK_REALTIME
} // namespace

extern "C" __attribute__((visibility("default"))) int clock_gettime(clockid_t id, struct timespec* ts)
{
    const long result = syscall(SYS_clock_gettime, id, ts);
    if (result == 0 && id == CLOCK_REALTIME)
        ts->tv_sec += wallClockShift.load();
    return static_cast<int>(result);
}

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg)
{
    using Real = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "pthread_create"));
    if (refuseThreads.load())
        return EAGAIN;
    return real(thread, attr, start, arg);
}

TEST(HostFaults, AFailedThreadLaunchIsReportedNotThrown)
{
    vrsim_reset();
    void* lib = dlopen(TAVRIN_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto init = reinterpret_cast<bool (*)(_DeviceError*)>(dlsym(lib, "initViveLib"));
    auto status = reinterpret_cast<void (*)(_DeviceError*)>(dlsym(lib, "readViveStatus"));
    ASSERT_TRUE(init && status);

    refuseThreads = true;
    _DeviceError err = DeviceError_None;
    bool ok = true;
    EXPECT_NO_THROW(ok = init(&err));
    refuseThreads = false;
    EXPECT_FALSE(ok);
    EXPECT_EQ(err, DeviceError_Unknown);

    // The library is still usable afterwards.
    EXPECT_TRUE(init(&err));
    EXPECT_EQ(err, DeviceError_None);
    dlclose(lib);
    vrsim_reset();
}

TEST(HostFaults, TheCppClassesReportAFailedThreadLaunchInsteadOfThrowing)
{
    vrsim_reset();
    TavrinHelper helper;
    Tavrin factory;
    orvane::idevice* dev = factory.create_dev("", "");
    refuseThreads = true;
    _DeviceError err = DeviceError_None;
    bool helperStarted = true, devStarted = true, devRestarted = true;
    EXPECT_NO_THROW(helperStarted = helper.start(err));
    EXPECT_NO_THROW(devStarted = dev->start());
    EXPECT_NO_THROW(devRestarted = dev->restart());
    refuseThreads = false;
    EXPECT_FALSE(helperStarted);
    EXPECT_EQ(err, DeviceError_Unknown);
    EXPECT_FALSE(devStarted);
    EXPECT_FALSE(devRestarted);
    tavrin_source* source = tavrin_source_create(0.0);
    refuseThreads = true;
    EXPECT_EQ(tavrin_source_start(source), DeviceError_Unknown);
    refuseThreads = false;
    EXPECT_EQ(tavrin_source_start(source), DeviceError_None) << "a frame source starts after a failed launch";
    tavrin_source_destroy(source);
    EXPECT_TRUE(helper.start(err));
    EXPECT_EQ(err, DeviceError_None);
    helper.stop();
    factory.release();
    vrsim_reset();
}

namespace {
TavrinHelper* startedFromHandler = nullptr;
std::atomic<int> handlerStarts{0};
std::atomic<bool> handlerStartOk{false};
std::atomic<int> handlerStartErr{-1};
void startTheOther(int, _DeviceEvent event, _DeviceEventArg)
{
    if (event != DeviceEvent_SessionOpened || handlerStarts.load() > 0)
        return;
    _DeviceError err = DeviceError_Unknown;
    handlerStartOk = startedFromHandler->start(err);
    handlerStartErr = err;
    ++handlerStarts;
}
} // namespace

TEST(HostFaults, AStartFromAHandlerAfterAFailedLaunchStartsTheDriver)
{
    vrsim_reset();
    typicalRig();
    globalLog().clear();
    TavrinHelper b;
    b.setDeviceStatusChangedHandle(recordEvent);
    _DeviceError err = DeviceError_None;
    refuseThreads = true;
    EXPECT_FALSE(b.start(err));
    refuseThreads = false;
    EXPECT_EQ(err, DeviceError_Unknown);

    // Another driver's handler starts b: b runs, or the start says it failed.
    startedFromHandler = &b;
    handlerStarts = 0;
    TavrinHelper a;
    a.setDeviceStatusChangedHandle(startTheOther);
    ASSERT_TRUE(a.start(err));
    ASSERT_TRUE(waitUntil([] { return handlerStarts.load() == 1; }));
    EXPECT_TRUE(handlerStartOk.load());
    EXPECT_EQ(handlerStartErr.load(), DeviceError_None);
    EXPECT_TRUE(globalLog().waitFor([](const std::vector<Event>& e) {
        return !e.empty() && e.front().event == DeviceEvent_SessionOpened;
    })) << "the start reported success, yet the driver never ran";
    a.stop();
    b.stop();
    vrsim_reset();
}

TEST(HostFaults, TimeStampsDoNotFollowTheWallClock)
{
    vrsim_reset();
    typicalRig();
    TavrinHelper helper;
    helper.setFreq(1000);
    _DeviceError err = DeviceError_Unknown;
    ASSERT_TRUE(helper.start(err));
    auto stamp = [&] {
        _TrackedDevicePose poses[16] = {};
        helper.readData(poses, err);
        return err == DeviceError_None && poses[0].deviceClass != 0 ? poses[0].timestampMs : -1.0f;
    };
    ASSERT_TRUE(waitUntil([&] { return stamp() >= 0.0f; }));
    const float before = stamp();
    wallClockShift = -10; // the clock is set back 10 s
    const float back = stamp();
    wallClockShift = 10; // and forward
    const float forward = stamp();
    wallClockShift = 0;
    EXPECT_GE(back, before);
    EXPECT_LT(back - before, 1000.0f);
    EXPECT_GE(forward, back);
    EXPECT_LT(forward - back, 1000.0f);
    helper.stop();
    vrsim_reset();
}
