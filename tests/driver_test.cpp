// The driver object against the simulated runtime: session, discovery thread, events, stop.
#include "support.h"

#include <legacy/status.h>
#include <legacy/vr_driver.h>
#include <session/session.h>

#include <openvr.h>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <thread>

using namespace ViveSystem;
using namespace testing_support;

namespace {

class Driver : public ::testing::Test {
protected:
    Driver()
    {
        vrsim_reset();
        globalLog().clear();
        driver = std::make_unique<vrDriver>();
        driver->discovery().setLoopPeriods(10ms, 10ms);
    }
    ~Driver() override
    {
        driver.reset();
        vrsim_reset();
    }

    bool waitEvents(size_t n) { return globalLog().waitForCount(n); }
    // Waits for a few more complete passes, so that anything a pass would raise has been raised.
    void settle()
    {
        const uint32_t start = counters().class_queries;
        ASSERT_TRUE(waitUntil([&] { return counters().class_queries >= start + 48; }));
    }

    std::unique_ptr<vrDriver> driver;
};

} // namespace

TEST_F(Driver, ANewDriverIsIdle)
{
    vrDriver fresh;
    EXPECT_FALSE(fresh.discovery().running());
    EXPECT_FALSE(fresh.hasSession());
    EXPECT_FALSE(fresh.discovery().hasThread());
    EXPECT_EQ(fresh.discovery().deviceCount(), 0);
    ASSERT_EQ(fresh.discovery().tableSize(), 16);
    DeviceSlot zero;
    std::memset(&zero, 0, sizeof zero);
    for (int i = 0; i < fresh.discovery().tableSize(); ++i)
        EXPECT_EQ(std::memcmp(&fresh.discovery().table()[i], &zero, sizeof zero), 0);
    EXPECT_EQ(fresh.handler(), nullptr);
    EXPECT_EQ(fresh.mode(), 1);
    EXPECT_EQ(fresh.periodMs(), 8.333333333333334);

    fresh.stop(); // nothing to stop: no runtime call
    const vrsim_counters c = counters();
    EXPECT_EQ(c.init_calls, 0u);
    EXPECT_EQ(c.shutdown_calls, 0u);
}

TEST_F(Driver, TypicalRequestRaisesSessionOpenedThenThreeConnects)
{
    typicalRig();
    driver->setHandler(recordEvent);
    EXPECT_TRUE(driver->start());
    ASSERT_TRUE(waitEvents(4));
    settle();
    const auto e = globalLog().snapshot();
    ASSERT_EQ(e.size(), 4u);
    expectTypicalFirstEvents(e);
    EXPECT_EQ(sessionOwner::instance().lastOpenError(), 0);
    // The discovery thread uses the session in the background application role.
    EXPECT_EQ(counters().open_sessions, 1u);
}

TEST_F(Driver, StopShutsTheSessionDownExactlyOnce)
{
    typicalRig();
    driver->start();
    ASSERT_TRUE(waitUntil([&] { return driver->hasSession(); }));
    driver->stop();
    driver->stop();
    EXPECT_FALSE(driver->hasSession());
    EXPECT_FALSE(driver->discovery().hasThread());
    EXPECT_FALSE(driver->discovery().running());
    const vrsim_counters c = counters();
    EXPECT_EQ(c.init_calls, 1u);
    EXPECT_EQ(c.shutdown_calls, 1u);
    EXPECT_EQ(c.open_sessions, 0u);
    EXPECT_EQ(c.use_after_shutdown, 0u);
}

TEST_F(Driver, RestartReopensAndOnlyAnnouncesTheSession)
{
    typicalRig();
    driver->setHandler(recordEvent);
    driver->start();
    ASSERT_TRUE(waitEvents(4));
    globalLog().clear();

    driver->start(); // a running driver: stopped completely, then started again
    ASSERT_TRUE(waitEvents(1));
    settle();
    const auto e = globalLog().snapshot();
    ASSERT_EQ(e.size(), 1u) << "unchanged devices raise nothing after a restart";
    EXPECT_EQ(e[0].event, DeviceEvent_SessionOpened);
    EXPECT_EQ(e[0].count, 3) << "carries the previous run's count";
    const vrsim_counters c = counters();
    EXPECT_EQ(c.init_calls, 2u);
    EXPECT_EQ(c.shutdown_calls, 1u);
    EXPECT_EQ(c.open_sessions, 1u);
}

TEST_F(Driver, FailedOpensAreRecordedAsTheRuntimeWroteThemAndRetried)
{
    driver->setHandler(recordEvent);
    for (const int32_t evr : {108, 125, 126, 202, 205, 100, 105, 109, 1, 300, 1000, 2000, -7}) {
        vrsim_set_init_error(evr);
        const uint32_t before = counters().init_calls;
        EXPECT_TRUE(driver->start());
        ASSERT_TRUE(waitUntil([&] { return counters().init_calls >= before + 2; })) << "retries go on";
        driver->stop();
        EXPECT_EQ(sessionOwner::instance().lastOpenError(), evr);
        EXPECT_FALSE(driver->hasSession());
    }
    EXPECT_EQ(globalLog().size(), 0u) << "a failed open raises no event";
    EXPECT_EQ(counters().shutdown_calls, 0u);
    EXPECT_EQ(lastError(), DeviceError_None) << "open failures never reach the status word";

    // A refused interface version: the runtime is shut down again and the code is InterfaceNotFound.
    vrsim_set_init_error(0);
    vrsim_set_interface_valid(0);
    driver->start();
    ASSERT_TRUE(waitUntil([&] { return counters().shutdown_calls >= 1; }));
    driver->stop();
    EXPECT_EQ(sessionOwner::instance().lastOpenError(), vr::VRInitError_Init_InterfaceNotFound);
    EXPECT_EQ(counters().open_sessions, 0u);
}

TEST_F(Driver, AClearedHandlerDropsEventsButTheLoopGoesOn)
{
    typicalRig();
    driver->setHandler(recordEvent);
    driver->start();
    ASSERT_TRUE(waitEvents(4));
    driver->setHandler(nullptr);
    vrsim_set_device(2, 0, nullptr, 0); // controller leaves while nobody listens
    settle();
    driver->setHandler(recordEvent);
    vrsim_set_device(1, 2, "LHR-CTRL0001", 0);
    ASSERT_TRUE(waitEvents(5));
    const auto e = globalLog().snapshot();
    EXPECT_EQ(e[4].event, DeviceEvent_ControllerDisconnected);
    EXPECT_TRUE(argIs(e[4].arg, "LHR-CTRL0001", 1, 1));
    EXPECT_EQ(e[4].count, 2);
}

namespace {
std::atomic<vrDriver*> dyingDriver{nullptr};
// Records, and holds the first departure until the driver's destruction has begun.
void holdUntilDestroyed(int count, _DeviceEvent event, _DeviceEventArg arg)
{
    recordEvent(count, event, arg);
    if (event == DeviceEvent_ControllerDisconnected)
        waitUntil([] { return dyingDriver.load()->handler() == nullptr; });
}
} // namespace

TEST_F(Driver, DestroyingARunningDriverSilencesTheHandlerAndClosesTheSession)
{
    typicalRig();
    dyingDriver = driver.get();
    driver->setHandler(holdUntilDestroyed);
    driver->start();
    ASSERT_TRUE(waitEvents(4));
    // Two departures in one pass; the destruction begins while the first is being delivered.
    vrsim_set_device(1, 0, nullptr, 0);
    vrsim_set_device(2, 0, nullptr, 0);
    ASSERT_TRUE(waitEvents(5));
    driver.reset();
    const auto e = globalLog().snapshot();
    ASSERT_EQ(e.size(), 5u) << "nothing reaches the handler once destruction has begun";
    EXPECT_TRUE(argIs(e[4].arg, "LHR-CTRL0001", 1, 1));
    const vrsim_counters c = counters();
    EXPECT_EQ(c.open_sessions, 0u);
    EXPECT_EQ(c.shutdown_calls, 1u);
    EXPECT_EQ(c.use_after_shutdown, 0u);
}

TEST_F(Driver, AStopRightAfterAStartIsNeverLost)
{
    for (int i = 0; i < 200; ++i) {
        driver->start();
        driver->stop();
        ASSERT_FALSE(driver->discovery().running());
        ASSERT_FALSE(driver->discovery().hasThread());
    }
    EXPECT_EQ(counters().open_sessions, 0u);
}

TEST_F(Driver, StopDoesNotWaitOutTheLoopsSleep)
{
    typicalRig();
    for (bool opening : {true, false}) {
        driver->discovery().setLoopPeriods(std::chrono::minutes(10), std::chrono::minutes(10));
        vrsim_set_init_error(opening ? 108 : 0);
        const uint32_t before = counters().init_calls;
        const uint32_t scans = counters().class_queries;
        driver->start();
        // The loop is in its long sleep: after a failed open, or after its first scan.
        ASSERT_TRUE(waitUntil([&] {
            const vrsim_counters c = counters();
            return c.init_calls > before && (opening || c.class_queries >= scans + 16);
        }));
        auto stopped = std::async(std::launch::async, [&] { driver->stop(); });
        EXPECT_EQ(stopped.wait_for(kPatience), std::future_status::ready) << (opening ? "opening" : "scanning");
        stopped.wait();
    }
}

namespace {
vrDriver* selfDriver = nullptr;
std::atomic<int> selfCalls{0};
void stopFromHandler(int, _DeviceEvent event, _DeviceEventArg)
{
    if (event == DeviceEvent_SessionOpened) {
        ++selfCalls;
        selfDriver->stop();
    }
}
void restartFromHandler(int count, _DeviceEvent event, _DeviceEventArg arg)
{
    recordEvent(count, event, arg);
    if (event == DeviceEvent_SessionOpened && ++selfCalls == 1)
        selfDriver->start();
}
void throwingHandler(int count, _DeviceEvent event, _DeviceEventArg arg)
{
    recordEvent(count, event, arg);
    throw std::runtime_error("handler failure");
}
} // namespace

TEST_F(Driver, AHandlerMayStopItsOwnDriver)
{
    typicalRig();
    selfDriver = driver.get();
    selfCalls = 0;
    driver->setHandler(stopFromHandler);
    driver->start();
    ASSERT_TRUE(waitUntil([&] { return counters().shutdown_calls == 1; }));
    EXPECT_FALSE(driver->discovery().running());
    EXPECT_EQ(selfCalls.load(), 1);
    driver->stop(); // joins the ended thread
    EXPECT_FALSE(driver->discovery().hasThread());
    EXPECT_EQ(counters().open_sessions, 0u);
}

TEST_F(Driver, AHandlerMayRestartItsOwnDriver)
{
    typicalRig();
    selfDriver = driver.get();
    selfCalls = 0;
    driver->setHandler(restartFromHandler);
    driver->start();
    // The first run ends after its first event; the second opens a new session and scans.
    ASSERT_TRUE(globalLog().waitFor([](const std::vector<Event>& e) {
        return e.size() >= 5 && e.back().event == DeviceEvent_ControllerConnected;
    }));
    driver->stop();
    const auto e = globalLog().snapshot();
    EXPECT_EQ(e[0].event, DeviceEvent_SessionOpened);
    EXPECT_EQ(e[1].event, DeviceEvent_SessionOpened);
    EXPECT_EQ(e[2].event, DeviceEvent_HmdConnected);
    const vrsim_counters c = counters();
    EXPECT_EQ(c.init_calls, 2u);
    EXPECT_EQ(c.shutdown_calls, 2u);
    EXPECT_EQ(c.open_sessions, 0u);
}

TEST_F(Driver, AThrowingHandlerDoesNotStopTheLoop)
{
    typicalRig();
    driver->setHandler(throwingHandler);
    driver->start();
    ASSERT_TRUE(waitEvents(4));
    vrsim_set_device(2, 0, nullptr, 0);
    ASSERT_TRUE(waitEvents(5));
    EXPECT_EQ(globalLog().snapshot()[4].event, DeviceEvent_ControllerDisconnected);
}

TEST_F(Driver, AStopUnderASlowRuntimeWaitsOnlyForTheCallInFlight)
{
    for (uint32_t i = 0; i < 16; ++i)
        vrsim_set_device(i, 3, ("LHR-T" + std::to_string(i)).c_str(), 1);
    vrsim_set_call_delay_us(5000);
    driver->start();
    // Stop in the middle of a scan: 48 runtime calls a pass, one every 5 ms.
    ASSERT_TRUE(waitUntil([] { return counters().serial_queries >= 20; }));
    auto calls = [] {
        const vrsim_counters c = counters();
        return c.class_queries + c.serial_queries + c.connected_queries + c.event_polls + c.pose_queries;
    };
    const uint32_t before = calls();
    driver->stop();
    EXPECT_LE(calls() - before, 1u) << "the rest of the pass is given up";
    EXPECT_EQ(counters().open_sessions, 0u);
    vrsim_set_call_delay_us(0);
}

namespace {
vrDriver* crossDrivers[2] = {nullptr, nullptr};
std::atomic<int> crossArrived{0};
// Driver k's handler stops the other driver, once both handlers are running at the same moment.
template <int k>
void stopTheOther(int, _DeviceEvent event, _DeviceEventArg)
{
    if (event != DeviceEvent_SessionOpened)
        return;
    ++crossArrived;
    waitUntil([] { return crossArrived.load() >= 2; }, 5s);
    crossDrivers[1 - k]->stop();
}
} // namespace

TEST_F(Driver, HandlersThatStopEachOthersDriversDoNotDeadlock)
{
    typicalRig();
    auto other = std::make_unique<vrDriver>();
    other->discovery().setLoopPeriods(10ms, 10ms);
    crossDrivers[0] = driver.get();
    crossDrivers[1] = other.get();
    crossArrived = 0;
    driver->setHandler(stopTheOther<0>);
    other->setHandler(stopTheOther<1>);
    driver->start();
    other->start();
    // Both runs end and leave the shared session, which is then shut down.
    ASSERT_TRUE(waitUntil([&] { return !driver->discovery().running() && !other->discovery().running(); }));
    ASSERT_TRUE(waitUntil([] { return counters().open_sessions == 0; }));
    EXPECT_EQ(crossArrived.load(), 2);
    auto stopped = std::async(std::launch::async, [&] {
        driver->stop();
        other->stop();
    });
    ASSERT_EQ(stopped.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(counters().shutdown_calls, 1u);
}

namespace {
vrDriver* contested = nullptr;
std::atomic<int> contestedRestarts{0};
std::atomic<int> contestedOpens{0};
std::atomic<bool> contestedRescue{false};
// Another driver's handler restarts the contested driver once a caller has begun to stop it.
void restartOnceStopping(int, _DeviceEvent event, _DeviceEventArg)
{
    if (event != DeviceEvent_SessionOpened)
        return;
    waitUntil([] { return !contested->discovery().running(); }, 5s);
    contested->start();
    ++contestedRestarts;
}
// The contested driver's handler holds its loop (and so the caller's stop) until that restart has
// been asked for. With rescue set, it ends its own loop: the way out when a stop is stuck.
void holdUntilRestarted(int, _DeviceEvent event, _DeviceEventArg)
{
    if (contestedRescue.load()) {
        contested->stop();
        return;
    }
    if (event != DeviceEvent_SessionOpened)
        return;
    ++contestedOpens;
    waitUntil([] { return contestedRestarts.load() > 0; }, 5s);
}
} // namespace

TEST_F(Driver, ACallersStopWinsOverAHandlersRestart)
{
    typicalRig();
    contested = driver.get();
    contestedRestarts = 0;
    contestedOpens = 0;
    contestedRescue = false;
    driver->setHandler(holdUntilRestarted);
    driver->start();
    ASSERT_TRUE(waitUntil([] { return contestedOpens.load() == 1; }));
    auto stopped = std::async(std::launch::async, [&] { driver->stop(); });
    auto other = std::make_unique<vrDriver>();
    other->discovery().setLoopPeriods(10ms, 10ms);
    other->setHandler(restartOnceStopping);
    other->start();

    const bool returned = stopped.wait_for(kPatience) == std::future_status::ready;
    if (!returned) {
        contestedRescue = true;
        vrsim_set_device(2, 0, nullptr, 0); // an event for the handler to end the loop on
    }
    stopped.wait();
    ASSERT_TRUE(returned) << "the stop was held by the restart";
    EXPECT_EQ(contestedRestarts.load(), 1);
    // Stopped until a later start: no new run, no session, reads report no session.
    EXPECT_FALSE(driver->discovery().running());
    EXPECT_FALSE(driver->hasSession());
    setLastError(DeviceError_None);
    _TrackedDevicePose poses[16];
    driver->readPoses(poses);
    EXPECT_EQ(lastError(), DeviceError_NoSession);
    other->stop();
    EXPECT_EQ(contestedOpens.load(), 1);
    EXPECT_EQ(counters().open_sessions, 0u);
}

namespace {
std::atomic<vrDriver*> readingDriver{nullptr};
std::atomic<bool> handlerRead{false};
void readWhileStopping(int, _DeviceEvent event, _DeviceEventArg)
{
    if (event != DeviceEvent_SessionOpened)
        return;
    vrDriver* d = readingDriver.load();
    // Wait until another thread has begun to stop this driver, then read poses.
    while (d->discovery().running())
        std::this_thread::yield();
    _TrackedDevicePose poses[16];
    d->readPoses(poses);
    handlerRead = true;
}
} // namespace

TEST_F(Driver, AHandlerReadingPosesDuringAStopDoesNotDeadlock)
{
    typicalRig();
    readingDriver = driver.get();
    handlerRead = false;
    driver->setHandler(readWhileStopping);
    driver->start();
    ASSERT_TRUE(waitUntil([&] { return driver->hasSession(); }));
    auto stopped = std::async(std::launch::async, [&] { driver->stop(); });
    ASSERT_EQ(stopped.wait_for(kPatience), std::future_status::ready);
    EXPECT_TRUE(handlerRead.load());
    EXPECT_EQ(counters().open_sessions, 0u);
}

// Several threads start, stop, swap the handler and read while the rig changes. Run under the
// thread sanitizer this shows the absence of races; everywhere it shows no deadlock or leak.
TEST_F(Driver, StressStartStopReadAndRigChanges)
{
    typicalRig();
    driver->discovery().setLoopPeriods(1ms, 1ms);
    driver->setFramePeriodMs(0.2);
    std::atomic<bool> done{false};
    auto controller = [&](int seed) {
        for (int i = 0; i < 60; ++i) {
            if ((i + seed) % 3 == 0)
                driver->stop();
            else
                driver->start();
        }
    };
    auto handlerSwapper = [&] {
        while (!done)
            driver->setHandler(driver->handler() ? nullptr : recordEvent);
    };
    auto reader = [&] {
        _TrackedDevicePose poses[16];
        while (!done)
            driver->readPoses(poses);
    };
    auto rig = [&] {
        int n = 0;
        while (!done) {
            vrsim_set_device(3 + (n % 4), (n % 5) ? 3 : 0, "LHR-WANDER", n % 2);
            vrsim_set_device(2, 2, "LHR-CTRL0002", n % 3 != 0);
            ++n;
        }
    };
    std::thread swapper(handlerSwapper), r(reader), g(rig);
    std::thread c1(controller, 0), c2(controller, 1);
    c1.join();
    c2.join();
    done = true;
    swapper.join();
    r.join();
    g.join();
    driver->stop();
    const vrsim_counters c = counters();
    EXPECT_EQ(c.open_sessions, 0u);
    EXPECT_EQ(c.use_after_shutdown, 0u);
    EXPECT_EQ(c.init_calls - c.shutdown_calls, 0u);
}
