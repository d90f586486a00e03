// The simulated runtime, reached the way the library reaches a runtime: through the
// OpenVR-compatible header's VR_Init and VR_Shutdown.
#include "support.h"

#include <openvr.h>
#include <session/openvr_init.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <chrono>
#include <string>
#include <thread>

using namespace testing_support;

namespace {

class Sim : public ::testing::Test {
protected:
    Sim() { vrsim_reset(); }
    ~Sim() override
    {
        while (counters().open_sessions > 0)
            vr::VR_Shutdown();
        vrsim_reset();
    }
};

} // namespace

TEST_F(Sim, OpenAnswersWhatWasScripted)
{
    vrsim_set_device(0, vr::TrackedDeviceClass_HMD, "LHR-00000001", 1);
    vrsim_set_device(3, vr::TrackedDeviceClass_GenericTracker, "LHR-00000003", 0);
    vrsim_set_device(5, vr::TrackedDeviceClass_TrackingReference, "LHB-00000005", 1);

    vr::EVRInitError err = vr::VRInitError_Unknown;
    vr::IVRSystem* sys = vr::VR_Init(&err, vr::VRApplication_Background);
    ASSERT_EQ(err, vr::VRInitError_None);
    ASSERT_NE(sys, nullptr);

    EXPECT_EQ(sys->GetTrackedDeviceClass(0), vr::TrackedDeviceClass_HMD);
    EXPECT_EQ(sys->GetTrackedDeviceClass(3), vr::TrackedDeviceClass_GenericTracker);
    EXPECT_EQ(sys->GetTrackedDeviceClass(5), vr::TrackedDeviceClass_TrackingReference);
    EXPECT_EQ(sys->GetTrackedDeviceClass(1), vr::TrackedDeviceClass_Invalid);
    EXPECT_EQ(sys->GetTrackedDeviceClass(16), vr::TrackedDeviceClass_Invalid);
    EXPECT_TRUE(sys->IsTrackedDeviceConnected(0));
    EXPECT_FALSE(sys->IsTrackedDeviceConnected(3));
    EXPECT_FALSE(sys->IsTrackedDeviceConnected(1));

    char buf[64];
    vr::ETrackedPropertyError perr = vr::TrackedProp_WrongDataType;
    EXPECT_EQ(sys->GetStringTrackedDeviceProperty(3, vr::Prop_SerialNumber_String, buf, sizeof buf, &perr), 13u);
    EXPECT_EQ(perr, vr::TrackedProp_Success);
    EXPECT_STREQ(buf, "LHR-00000003");
    EXPECT_EQ(sys->GetStringTrackedDeviceProperty(7, vr::Prop_SerialNumber_String, buf, sizeof buf, &perr), 0u);
    EXPECT_EQ(perr, vr::TrackedProp_InvalidDevice);

    const vrsim_counters c = counters();
    EXPECT_EQ(c.init_calls, 1u);
    EXPECT_EQ(c.open_sessions, 1u);
    EXPECT_EQ(c.class_queries, 5u);
    EXPECT_EQ(c.connected_queries, 3u);
    EXPECT_EQ(c.serial_queries, 2u);

    vr::VR_Shutdown();
    EXPECT_EQ(counters().shutdown_calls, 1u);
    EXPECT_EQ(counters().open_sessions, 0u);
    // The interface of a closed session answers nothing and the use is counted.
    EXPECT_EQ(sys->GetTrackedDeviceClass(0), vr::TrackedDeviceClass_Invalid);
    EXPECT_EQ(counters().use_after_shutdown, 1u);
}

TEST_F(Sim, EachScriptedInitErrorComesBackUnchangedWithNoInterface)
{
    for (int32_t e : {1, 100, 105, 108, 109, 125, 126, 134, 202, 205, 212, 300, 1000, 2000}) {
        vrsim_set_init_error(e);
        vr::EVRInitError err = vr::VRInitError_None;
        EXPECT_EQ(vr::VR_Init(&err, vr::VRApplication_Background), nullptr) << e;
        EXPECT_EQ(err, e);
    }
    const vrsim_counters c = counters();
    EXPECT_EQ(c.init_calls, 14u);
    EXPECT_EQ(c.open_sessions, 0u);
    EXPECT_EQ(c.shutdown_calls, 0u);
}

TEST_F(Sim, RefusedInterfaceVersionGives105AndOneShutdown)
{
    vrsim_set_interface_valid(0);
    vr::EVRInitError err = vr::VRInitError_None;
    EXPECT_EQ(vr::VR_Init(&err, vr::VRApplication_Background), nullptr);
    EXPECT_EQ(err, vr::VRInitError_Init_InterfaceNotFound);
    const vrsim_counters c = counters();
    EXPECT_EQ(c.init_calls, 1u);
    EXPECT_EQ(c.shutdown_calls, 1u);
    EXPECT_EQ(c.open_sessions, 0u);
}

TEST_F(Sim, LoaderAnswersLikeTheRealOneWithoutASession)
{
    EXPECT_FALSE(vr::VR_IsInterfaceVersionValid(vr::IVRSystem_Version));
    EXPECT_EQ(vr::VR_GetInitToken(), 0u);
    vr::EVRInitError err = vr::VRInitError_None;
    EXPECT_EQ(vr::VR_GetGenericInterface(vr::IVRSystem_Version, &err), nullptr);
    EXPECT_EQ(err, vr::VRInitError_Init_NotInitialized);

    const uint32_t first = ViveSystem::openvrInit(&err);
    EXPECT_NE(first, 0u);
    EXPECT_EQ(vr::VR_GetInitToken(), first);
    EXPECT_TRUE(vr::VR_IsInterfaceVersionValid(vr::IVRSystem_Version));
    EXPECT_FALSE(vr::VR_IsInterfaceVersionValid("IVRSystem_014"));
    EXPECT_EQ(vr::VR_GetGenericInterface("IVRSystem_014", &err), nullptr);
    EXPECT_EQ(err, vr::VRInitError_Init_InterfaceNotFound);
    vr::VR_ShutdownInternal();
    EXPECT_EQ(vr::VR_GetInitToken(), 0u);

    const uint32_t second = ViveSystem::openvrInit(&err);
    EXPECT_NE(second, 0u);
    EXPECT_NE(second, first);
    // One client per process: a second init gives a new token and the SAME session, and one
    // shutdown ends it for both, killing the interface.
    auto* iface = static_cast<vr::IVRSystem*>(vr::VR_GetGenericInterface(vr::IVRSystem_Version, &err));
    const uint32_t third = ViveSystem::openvrInit(&err);
    EXPECT_NE(third, second);
    EXPECT_EQ(vr::VR_GetInitToken(), third);
    EXPECT_EQ(vr::VR_GetGenericInterface(vr::IVRSystem_Version, &err), iface);
    EXPECT_EQ(counters().open_sessions, 1u);
    vr::VR_ShutdownInternal();
    EXPECT_FALSE(vr::VR_IsInterfaceVersionValid(vr::IVRSystem_Version));
    EXPECT_EQ(counters().open_sessions, 0u);
    EXPECT_FALSE(iface->IsTrackedDeviceConnected(0));
    EXPECT_EQ(counters().use_after_shutdown, 1u);
}

TEST_F(Sim, TheRuntimeQuitsKillsALingeringClientAndComesBack)
{
    vrsim_set_device(1, vr::TrackedDeviceClass_Controller, "LHR-1", 1);
    vr::EVRInitError err = vr::VRInitError_None;
    vr::IVRSystem* sys = vr::VR_Init(&err, vr::VRApplication_Background);
    ASSERT_NE(sys, nullptr);
    vrsim_set_device(2, vr::TrackedDeviceClass_GenericTracker, "LHR-2", 1);
    vrsim_set_device(1, 0, nullptr, 0);
    vrsim_quit_runtime(50);

    // Events in order: the tracker came, the controller went, then the quit.
    vr::VREvent_t e{};
    const uint32_t expected[][2] = {{vr::VREvent_TrackedDeviceActivated, 2},
                                    {vr::VREvent_TrackedDeviceDeactivated, 1},
                                    {vr::VREvent_Quit, vr::k_unTrackedDeviceIndexInvalid}};
    for (const auto& x : expected) {
        ASSERT_TRUE(sys->PollNextEvent(&e, sizeof e));
        EXPECT_EQ(e.eventType, x[0]);
        EXPECT_EQ(e.trackedDeviceIndex, x[1]);
    }
    EXPECT_FALSE(sys->PollNextEvent(&e, sizeof e));
    EXPECT_EQ(vr::VR_Init(&err, vr::VRApplication_Background), nullptr);
    EXPECT_EQ(err, vr::VRInitError_Init_NoServerForBackgroundApp);

    // Still open after the grace time: killed, and its interface is dead.
    ASSERT_TRUE(waitUntil([] { return counters().kills == 1; }));
    EXPECT_EQ(counters().open_sessions, 0u);
    EXPECT_EQ(sys->GetTrackedDeviceClass(2), vr::TrackedDeviceClass_Invalid);
    EXPECT_GE(counters().use_after_shutdown, 1u);

    vrsim_start_runtime();
    sys = vr::VR_Init(&err, vr::VRApplication_Background);
    ASSERT_NE(sys, nullptr);
    // A client that acknowledges and shuts down in time is not killed, even once its deadline has
    // passed (a kill is carried out at the first runtime call after the deadline).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
    vrsim_quit_runtime(20);
    ASSERT_TRUE(sys->PollNextEvent(&e, sizeof e));
    EXPECT_EQ(e.eventType, vr::VREvent_Quit);
    sys->AcknowledgeQuit_Exiting();
    vr::VR_Shutdown();
    std::this_thread::sleep_until(deadline + std::chrono::milliseconds(1));
    const vrsim_counters c = counters();
    EXPECT_EQ(c.quit_acks, 1u);
    EXPECT_EQ(c.kills, 1u);
    EXPECT_GE(c.event_polls, 5u);
}

TEST_F(Sim, ConcurrentLoaderCallsAreCounted)
{
    vrsim_set_call_delay_us(2000);
    std::atomic<bool> go{false};
    auto caller = [&] {
        while (!go.load()) {
        }
        for (int n = 0; n < 10; ++n)
            vr::VR_IsInterfaceVersionValid(vr::IVRSystem_Version);
    };
    std::thread a(caller), b(caller);
    go = true;
    a.join();
    b.join();
    EXPECT_GT(counters().concurrent_loader_calls, 0u);
    vrsim_set_call_delay_us(0);
    vr::VR_GetInitToken();
    vr::VR_GetInitToken();
    const uint32_t before = counters().concurrent_loader_calls;
    vr::VR_GetInitToken(); // one thread alone is never counted
    EXPECT_EQ(counters().concurrent_loader_calls, before);
}

TEST_F(Sim, SerialQueriesThatDoNotFit)
{
    const std::string longSerial(100, 'S');
    vrsim_set_device(2, vr::TrackedDeviceClass_Controller, longSerial.c_str(), 1);
    vrsim_set_device(4, vr::TrackedDeviceClass_Controller, "LHR-FAILING", 1);
    vrsim_set_serial_error(4, vr::TrackedProp_CouldNotContactServer);
    vr::EVRInitError err;
    vr::IVRSystem* sys = vr::VR_Init(&err, vr::VRApplication_Background);
    ASSERT_NE(sys, nullptr);

    char buf[64];
    std::memset(buf, '#', sizeof buf);
    vr::ETrackedPropertyError perr = vr::TrackedProp_Success;
    EXPECT_EQ(sys->GetStringTrackedDeviceProperty(2, vr::Prop_SerialNumber_String, buf, sizeof buf, &perr), 101u);
    EXPECT_EQ(perr, vr::TrackedProp_BufferTooSmall);
    EXPECT_EQ(buf[0], '#'); // untouched

    char big[256];
    EXPECT_EQ(sys->GetStringTrackedDeviceProperty(2, vr::Prop_SerialNumber_String, big, sizeof big, &perr), 101u);
    EXPECT_EQ(perr, vr::TrackedProp_Success);
    EXPECT_EQ(std::string(big), longSerial);

    EXPECT_EQ(sys->GetStringTrackedDeviceProperty(4, vr::Prop_SerialNumber_String, buf, sizeof buf, &perr), 0u);
    EXPECT_EQ(perr, vr::TrackedProp_CouldNotContactServer);
    EXPECT_EQ(buf[0], '#');
    vrsim_set_serial_error(4, 0);
    EXPECT_EQ(sys->GetStringTrackedDeviceProperty(4, vr::Prop_SerialNumber_String, buf, sizeof buf, &perr), 12u);
    EXPECT_STREQ(buf, "LHR-FAILING");
    // A null error pointer is allowed, as in the runtime.
    EXPECT_EQ(sys->GetStringTrackedDeviceProperty(4, vr::Prop_SerialNumber_String, buf, sizeof buf), 12u);
}

TEST_F(Sim, PoseQueryReportsScriptedPosesForOccupiedIndices)
{
    vrsim_set_device(1, vr::TrackedDeviceClass_Controller, "LHR-1", 0);
    setPose(1, 1.0f, 2.0f, 3.0f, 0.0f, 0.5f, 0.0f, 0.0f, 201);
    setPose(6, 9.0f, 9.0f, 9.0f); // no device at 6: reported as all zero
    vr::EVRInitError err;
    vr::IVRSystem* sys = vr::VR_Init(&err, vr::VRApplication_Background);
    ASSERT_NE(sys, nullptr);
    vr::TrackedDevicePose_t poses[16];
    std::memset(poses, 0xAB, sizeof poses);
    sys->GetDeviceToAbsoluteTrackingPose(vr::TrackingUniverseStanding, 0.0f, poses, 16);
    EXPECT_FLOAT_EQ(poses[1].mDeviceToAbsoluteTracking.m[0][3], 1.0f);
    EXPECT_FLOAT_EQ(poses[1].mDeviceToAbsoluteTracking.m[2][3], 3.0f);
    // Switched off: no motion and no valid pose, as a real runtime reports it.
    EXPECT_EQ(poses[1].vVelocity.v[0], 0.0f);
    EXPECT_FALSE(poses[1].bPoseIsValid);
    EXPECT_EQ(poses[1].eTrackingResult, vr::TrackingResult_Running_OutOfRange);
    EXPECT_FALSE(poses[1].bDeviceIsConnected);
    const vr::TrackedDevicePose_t zero{};
    EXPECT_EQ(std::memcmp(&poses[6], &zero, sizeof zero), 0);
    EXPECT_EQ(std::memcmp(&poses[0], &zero, sizeof zero), 0);
    EXPECT_EQ(counters().pose_queries, 1u);
    EXPECT_EQ(counters().last_pose_origin, vr::TrackingUniverseStanding);
}

TEST_F(Sim, ConcurrentQueriesFromTwoThreads)
{
    typicalRig();
    vr::EVRInitError err;
    vr::IVRSystem* sys = vr::VR_Init(&err, vr::VRApplication_Background);
    ASSERT_NE(sys, nullptr);
    std::atomic<int> wrong{0};
    auto discovery = [&] {
        for (int n = 0; n < 2000; ++n) {
            char buf[64];
            if (sys->GetTrackedDeviceClass(1) != vr::TrackedDeviceClass_Controller || !sys->IsTrackedDeviceConnected(1) ||
                sys->GetStringTrackedDeviceProperty(1, vr::Prop_SerialNumber_String, buf, sizeof buf) != 13)
                ++wrong;
        }
    };
    auto reader = [&] {
        for (int n = 0; n < 2000; ++n) {
            vr::TrackedDevicePose_t poses[16];
            sys->GetDeviceToAbsoluteTrackingPose(vr::TrackingUniverseStanding, 0.0f, poses, 16);
            if (poses[0].eTrackingResult != vr::TrackingResult_Running_OK)
                ++wrong;
        }
    };
    auto scripter = [&] {
        for (int n = 0; n < 2000; ++n)
            setPose(2, 0.001f * n, 1.0f, 0.0f);
    };
    std::thread a(discovery), b(reader), c(scripter);
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(counters().pose_queries, 2000u);
}

// A recording that cannot be replayed is refused with the line that is wrong, and the rig stays as
// it was.
TEST_F(Sim, MalformedRecordingsAreRefusedWithTheirLine)
{
    const std::string header = "read,timestamp_ms,serial,index,class,tracking_ok,pos_x,pos_y,pos_z,quat_w,quat_x,"
                               "quat_y,quat_z,vel_x,vel_y,vel_z,angvel_x,angvel_y,angvel_z\n";
    const std::string good = "1,10,LHR-A,0,1,1,0,1.5,0,1,0,0,0,0.1,0,0,0,0,0\n";
    const std::string longLine(100000, '7');
    const struct {
        std::string body;
        const char* says;
    } cases[] = {
        {header + good + "2,20,LHR-A,0,1,1,0,1.5\n", "line 3: a pose has 19 fields"},         // truncated
        {header + good + "2,20,LHR-A,0,1,1,0,1.5,0,1,0,0,0,0.1,0,0,0,0,0,9\n", "line 3: a pose has 19"}, // one too many
        {header + "1,10,LHR-A,0,1,1,abc,1.5,0,1,0,0,0,0.1,0,0,0,0,0\n", "line 2: pos_x is not a number"},
        {header + good + longLine + "\n", "line 3: longer than"},
        {header + "1,30,LHR-A,0,1,1,0,1.5,0,1,0,0,0,0.1,0,0,0,0,0\n" + good, "line 3: time goes backwards"},
        {"# a note\n" + good, "line 2: not a tavrin recording"},
        {header + "#event,5,3,LHR-A,0,0\n" + good, "line 2: an event has 7 fields"},
        {header, "holds no pose"},
    };
    vrsim_set_device(3, vr::TrackedDeviceClass_Controller, "LHR-SCRIPTED", 1);
    const std::string path = ::testing::TempDir() + "tavrin_bad_recording.csv";
    for (const auto& c : cases) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(c.body.data(), 1, c.body.size(), f);
        std::fclose(f);
        EXPECT_EQ(vrsim_play_recording(path.c_str(), 0), -2) << c.says;
        EXPECT_NE(std::string(vrsim_replay_error()).find(c.says), std::string::npos)
            << "said: " << vrsim_replay_error() << "; expected: " << c.says;
    }
    std::remove(path.c_str());
    EXPECT_EQ(vrsim_play_recording((path + ".missing").c_str(), 0), -1);
    // The scripted rig is untouched.
    vr::EVRInitError err;
    vr::IVRSystem* sys = vr::VR_Init(&err, vr::VRApplication_Background);
    ASSERT_NE(sys, nullptr);
    EXPECT_EQ(sys->GetTrackedDeviceClass(3), vr::TrackedDeviceClass_Controller);
}

// A frame may hold a device before discovery's event for it is stamped: the replay shows the
// device at the recorded frames, not from the event on.
TEST_F(Sim, AReplayShowsADeviceAtItsRecordedFramesBeforeItsEvent)
{
    const std::string header =
        "# tavrin recording 2\n"
        "read,timestamp_ms,serial,index,class,tracking_ok,pos_x,pos_y,pos_z,quat_w,quat_x,quat_y,quat_z,vel_x,"
        "vel_y,vel_z,angvel_x,angvel_y,angvel_z,frame,t_ns,unix_ns,connected,pose_valid,tracking_result,role\n"
        "#event2,1000000,session_opened,,0,0,0,0\n";
    std::string body = header;
    for (int k = 0; k < 4; ++k)
        body += std::to_string(k + 1) + ",0,LHR-EARLY,2,3,1,0.5,1,0,1,0,0,0,0,0,0,0,0,0," + std::to_string(k + 1) + "," +
                std::to_string(2000000 + k * 10000000) + ",0,1,1,200,none\n";
    body += "#event2,25000000,device_arrived,LHR-EARLY,3,2,2,1\n";
    const std::string path = ::testing::TempDir() + "tavrin_early_rows.csv";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(body.data(), 1, body.size(), f);
    std::fclose(f);
    ASSERT_EQ(vrsim_play_recording(path.c_str(), 0), 0) << vrsim_replay_error();
    std::remove(path.c_str());
    vr::EVRInitError err;
    vr::IVRSystem* sys = vr::VR_Init(&err, vr::VRApplication_Background);
    ASSERT_NE(sys, nullptr);
    EXPECT_EQ(sys->GetTrackedDeviceClass(2), vr::TrackedDeviceClass_GenericTracker);
    vr::TrackedDevicePose_t poses[3];
    sys->GetDeviceToAbsoluteTrackingPose(vr::TrackingUniverseStanding, 0.0f, poses, 3);
    EXPECT_TRUE(poses[2].bDeviceIsConnected);
    EXPECT_EQ(poses[2].mDeviceToAbsoluteTracking.m[0][3], 0.5f);
}
