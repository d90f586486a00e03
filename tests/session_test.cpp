// One process, several drivers, one OpenVR client: the plain functions' helper and a TavrinHelper
// of the program's own, linked against the shared library as a C++ host links it, over a
// simulated runtime that keeps one client per process and can quit and come back.
#include "support.h"

#include <openvr.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

using namespace ViveSystem;
using namespace testing_support;

namespace {

EventLog& helperLog()
{
    static EventLog log;
    return log;
}
void recordHelperEvent(int count, _DeviceEvent event, _DeviceEventArg arg)
{
    helperLog().add(count, event, arg);
}

bool has(const std::vector<Event>& events, _DeviceEvent e, size_t n = 1)
{
    return static_cast<size_t>(std::count_if(events.begin(), events.end(),
                                             [e](const Event& x) { return x.event == e; })) >= n;
}

// Opened and the three devices of typicalRig() reported.
bool opened(const std::vector<Event>& events, size_t times = 1)
{
    return has(events, DeviceEvent_SessionOpened, times) && has(events, DeviceEvent_ControllerConnected, 2 * times) &&
           has(events, DeviceEvent_HmdConnected, times);
}

class SharedSession : public ::testing::Test {
protected:
    SharedSession()
    {
        vrsim_reset();
        typicalRig();
        globalLog().clear();
        helperLog().clear();
        setDeviceStatusChangedHandle(recordEvent);
    }
    ~SharedSession() override
    {
        releaseViveLib();
        setDeviceStatusChangedHandle(nullptr);
        setFreq(120);
        vrsim_start_runtime();
        while (counters().open_sessions > 0)
            vr::VR_Shutdown();
        vrsim_reset();
    }

    // Starts the plain functions' driver and `helper`, and waits until both have opened and
    // reported the three devices.
    static void startBoth(TavrinHelper& helper)
    {
        helper.setDeviceStatusChangedHandle(recordHelperEvent);
        _DeviceError err = DeviceError_Unknown;
        ASSERT_TRUE(initViveLib(&err));
        ASSERT_TRUE(helper.start(err));
        ASSERT_TRUE(globalLog().waitFor([](const std::vector<Event>& e) { return opened(e); }));
        ASSERT_TRUE(helperLog().waitFor([](const std::vector<Event>& e) { return opened(e); }));
    }

    static _DeviceError readPlain(int& records)
    {
        _TrackedDevicePose poses[16] = {};
        _DeviceError err = DeviceError_Unknown;
        readViveData(poses, &err);
        records = static_cast<int>(std::count_if(std::begin(poses), std::end(poses),
                                                 [](const _TrackedDevicePose& p) { return p.deviceClass != 0; }));
        return err;
    }
};

} // namespace

TEST_F(SharedSession, StoppingOneDriverLeavesTheOtherReading)
{
    TavrinHelper helper;
    ASSERT_NO_FATAL_FAILURE(startBoth(helper));
    _DeviceError err = DeviceError_Unknown;
    EXPECT_EQ(counters().open_sessions, 1u);

    releaseViveLib();
    _TrackedDevicePose poses[16] = {};
    helper.readData(poses, err);
    EXPECT_EQ(err, DeviceError_None);
    EXPECT_EQ(poses[2].deviceClass, 2);
    int records = 0;
    EXPECT_EQ(readPlain(records), DeviceError_NoSession);

    vrsim_counters c = counters();
    EXPECT_EQ(c.open_sessions, 1u);
    EXPECT_EQ(c.shutdown_calls, 0u);
    EXPECT_EQ(c.use_after_shutdown, 0u);
    EXPECT_EQ(c.concurrent_loader_calls, 0u);

    helper.stop();
    c = counters();
    EXPECT_EQ(c.open_sessions, 0u);
    EXPECT_EQ(c.shutdown_calls, 1u);
    EXPECT_EQ(c.use_after_shutdown, 0u);
    EXPECT_EQ(c.concurrent_loader_calls, 0u);
}

TEST_F(SharedSession, TheRuntimeQuitsWhileReadingAndComesBack)
{
    TavrinHelper helper;
    ASSERT_NO_FATAL_FAILURE(startBoth(helper));

    setFreq(1000);
    std::atomic<bool> reading{true};
    std::atomic<int> withPoses{0}, noSession{0}, other{0};
    std::thread reader([&] {
        while (reading.load()) {
            int records = 0;
            const _DeviceError e = readPlain(records);
            if (e == DeviceError_None && records == 3)
                ++withPoses;
            else if (e == DeviceError_NoSession && records == 0)
                ++noSession;
            else if (e != DeviceError_None)
                ++other;
        }
    });
    ASSERT_TRUE(waitUntil([&] { return withPoses.load() > 10; }));
    globalLog().clear();
    helperLog().clear();

    vrsim_quit_runtime(5000);
    for (EventLog* log : {&globalLog(), &helperLog()}) {
        ASSERT_TRUE(log->waitFor([](const std::vector<Event>& e) { return has(e, DeviceEvent_SessionClosed); }));
        const std::vector<Event> e = log->snapshot();
        ASSERT_EQ(e.size(), 4u);
        EXPECT_EQ(e[0].event, DeviceEvent_HmdDisconnected);
        EXPECT_TRUE(argIs(e[0].arg, "LHR-HMD00001", 0, 0));
        EXPECT_EQ(e[1].event, DeviceEvent_ControllerDisconnected);
        EXPECT_EQ(e[2].event, DeviceEvent_ControllerDisconnected);
        EXPECT_TRUE(argIs(e[2].arg, "LHR-CTRL0002", 2, 2));
        EXPECT_EQ(e[3].event, DeviceEvent_SessionClosed);
        EXPECT_TRUE(argIs(e[3].arg, "", 0, 0));
        for (const Event& x : e)
            EXPECT_EQ(x.count, 0);
    }
    ASSERT_TRUE(waitUntil([&] { return noSession.load() > 10; }));
    _DeviceError status = DeviceError_None;
    readViveStatus(&status);
    EXPECT_EQ(status, DeviceError_NoSession);
    vrsim_counters c = counters();
    EXPECT_EQ(c.quit_acks, 1u);
    EXPECT_EQ(c.kills, 0u);
    EXPECT_EQ(c.open_sessions, 0u);
    EXPECT_EQ(c.use_after_shutdown, 0u);

    vrsim_start_runtime();
    ASSERT_TRUE(globalLog().waitFor([](const std::vector<Event>& e) { return opened(e); }));
    ASSERT_TRUE(helperLog().waitFor([](const std::vector<Event>& e) { return opened(e); }));
    const int before = withPoses.load();
    ASSERT_TRUE(waitUntil([&] { return withPoses.load() > before + 10; }));
    reading = false;
    reader.join();
    EXPECT_EQ(other.load(), 0);
    c = counters();
    EXPECT_EQ(c.open_sessions, 1u);
    EXPECT_EQ(c.use_after_shutdown, 0u);
    EXPECT_EQ(c.concurrent_loader_calls, 0u);
}

TEST_F(SharedSession, AStopDuringAQuitIsPromptAndLeavesNoClient)
{
    _DeviceError err = DeviceError_Unknown;
    ASSERT_TRUE(initViveLib(&err));
    ASSERT_TRUE(globalLog().waitFor([](const std::vector<Event>& e) { return opened(e); }));
    vrsim_quit_runtime(5000);
    releaseViveLib();
    vrsim_counters c = counters();
    EXPECT_EQ(c.open_sessions, 0u);
    EXPECT_EQ(c.use_after_shutdown, 0u);

    // Started again while the runtime is away: it waits for it, then opens as at a first start.
    ASSERT_TRUE(initViveLib(&err));
    vrsim_start_runtime();
    ASSERT_TRUE(globalLog().waitFor([](const std::vector<Event>& e) { return has(e, DeviceEvent_SessionOpened, 2); }));
    EXPECT_EQ(counters().kills, 0u);
}

TEST_F(SharedSession, ASessionEndedBySomeoneElseIsReportedAndReopened)
{
    _DeviceError err = DeviceError_Unknown;
    ASSERT_TRUE(initViveLib(&err));
    ASSERT_TRUE(globalLog().waitFor([](const std::vector<Event>& e) { return opened(e); }));
    vr::VR_Shutdown(); // another library in the process ends the one client
    ASSERT_TRUE(globalLog().waitFor([](const std::vector<Event>& e) {
        return has(e, DeviceEvent_SessionClosed) && opened(e, 2);
    }));
    const std::vector<Event> e = globalLog().snapshot();
    const auto closed = std::find_if(e.begin(), e.end(), [](const Event& x) { return x.event == DeviceEvent_SessionClosed; });
    EXPECT_EQ(std::count_if(e.begin(), closed, [](const Event& x) { return x.event == DeviceEvent_HmdDisconnected; }), 1);
    EXPECT_EQ(counters().shutdown_calls, 1u); // the dead session was let go, not shut again
}

TEST_F(SharedSession, AReadAfterSomeoneElsesShutdownNeverCallsTheDeadInterface)
{
    TavrinHelper helper;
    ASSERT_NO_FATAL_FAILURE(startBoth(helper));
    vr::VR_Shutdown(); // another library in the process ends the one client
    int records = -1;
    EXPECT_EQ(readPlain(records), DeviceError_NoSession);
    EXPECT_EQ(records, 0);
    EXPECT_EQ(counters().use_after_shutdown, 0u);
    // The read dropped the session for every driver, as a discovery pass would have.
    for (EventLog* log : {&globalLog(), &helperLog()})
        ASSERT_TRUE(log->waitFor([](const std::vector<Event>& e) { return has(e, DeviceEvent_SessionClosed); }));
    EXPECT_EQ(counters().use_after_shutdown, 0u);
    EXPECT_EQ(counters().shutdown_calls, 1u); // the dead session was let go, not shut again
}

TEST_F(SharedSession, DiagnosticsSayWhyThereIsNoSession)
{
    EXPECT_STREQ(tavrin_version(), TAVRIN_VERSION_STRING);
    EXPECT_STREQ(tavrin_error_name(DeviceError_NoSession), "DeviceError_NoSession");
    EXPECT_STREQ(tavrin_event_name(DeviceEvent_SessionClosed), "DeviceEvent_SessionClosed");
    EXPECT_STREQ(tavrin_error_name(7), "unknown");
    EXPECT_STREQ(tavrin_event_name(-1), "unknown");
    EXPECT_STREQ(tavrin_event_kind_name(TAVRIN_EVENT_DEVICE_SWITCHED_OFF), "device_switched_off");
    EXPECT_EQ(tavrin_event_kind_name(0), nullptr);

    vrsim_quit_runtime(0); // no client open: the runtime just stops
    _DeviceError err = DeviceError_Unknown;
    ASSERT_TRUE(initViveLib(&err));
    ASSERT_TRUE(waitUntil([] { return tavrin_session_error() == vr::VRInitError_Init_NoServerForBackgroundApp; }));
    vrsim_start_runtime();
    ASSERT_TRUE(globalLog().waitFor([](const std::vector<Event>& e) { return has(e, DeviceEvent_SessionOpened); }));
    EXPECT_EQ(tavrin_session_error(), 0);
}

// Another module in the process initialises the client again: the loader hands out a new token
// and keeps the session. The interface is fetched again under the new token and nothing is lost.
TEST_F(SharedSession, SomeoneElsesInitIsNotALostSession)
{
    _DeviceError err = DeviceError_Unknown;
    ASSERT_TRUE(initViveLib(&err));
    ASSERT_TRUE(globalLog().waitFor([](const std::vector<Event>& e) { return opened(e); }));
    tavrin_source* source = tavrin_source_create(0.0);
    ASSERT_NE(source, nullptr);
    ASSERT_EQ(tavrin_source_start(source), DeviceError_None);
    tavrin_event event;
    int arrived = 0;
    while (arrived < 3 && tavrin_source_next_event(source, &event, 20000) == 1)
        arrived += event.kind == TAVRIN_EVENT_DEVICE_ARRIVED ? 1 : 0;
    ASSERT_EQ(arrived, 3);

    vr::EVRInitError initError = vr::VRInitError_Unknown;
    ASSERT_NE(vr::VR_Init(&initError, vr::VRApplication_Background), nullptr);
    // Two discovery passes of each user and reads of both faces.
    const uint32_t polls = counters().event_polls;
    ASSERT_TRUE(waitUntil([polls] { return counters().event_polls >= polls + 4; }));
    int records = -1;
    EXPECT_EQ(readPlain(records), DeviceError_None);
    EXPECT_EQ(records, 3);
    static tavrin_frame frame;
    EXPECT_EQ(tavrin_source_read(source, &frame, sizeof frame), DeviceError_None);
    EXPECT_EQ(frame.device_count, 3u);
    EXPECT_EQ(tavrin_source_next_event(source, &event, 0), 0) << "event kind " << event.kind;
    EXPECT_FALSE(has(globalLog().snapshot(), DeviceEvent_SessionClosed));
    EXPECT_EQ(counters().use_after_shutdown, 0u);
    tavrin_source_destroy(source);
}
