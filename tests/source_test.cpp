// The frame source through its C functions, linked against the shared library as a host links
// it, over the simulated runtime: every index to 63, the event kinds, one runtime call per read,
// frame numbers and times, the runtime quitting and coming back, and bad arguments.
#include "support.h"

#include <openvr.h>

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace ViveSystem;
using namespace testing_support;

namespace {

struct SourceDeleter {
    void operator()(tavrin_source* s) const { tavrin_source_destroy(s); }
};
using Source = std::unique_ptr<tavrin_source, SourceDeleter>;

std::string serialAt(uint32_t i)
{
    return "LHR-" + std::to_string(1000 + i);
}

#ifdef __linux__
long threadId()
{
    return static_cast<long>(::gettid());
}
// Whether a thread of this process is asleep (blocked in a wait).
bool sleeping(long tid)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'S';
}
#else
long threadId()
{
    return 0;
}
// No way to look here: the flag set just before the call serves.
bool sleeping(long)
{
    return true;
}
#endif

// A connected device at index i, standing still (so that every read finds it where it was put).
void putDevice(uint32_t i, int32_t cls, const std::string& serial, bool connected = true)
{
    vrsim_set_device(i, cls, serial.c_str(), connected ? 1 : 0);
    setPose(i, 0.1f * static_cast<float>(i), 1.0f, -0.5f, 0.1f * static_cast<float>(i), 0.0f);
}

class FrameSource : public ::testing::Test {
protected:
    FrameSource() { vrsim_reset(); }
    ~FrameSource() override
    {
        source.reset();
        releaseViveLib();
        setDeviceStatusChangedHandle(nullptr);
        vrsim_start_runtime();
        while (counters().open_sessions > 0)
            vr::VR_Shutdown();
        vrsim_reset();
    }

    void start(double rate = 0.0)
    {
        source.reset(tavrin_source_create(rate));
        ASSERT_NE(source, nullptr);
        ASSERT_EQ(tavrin_source_start(source.get()), DeviceError_None);
    }

    // The next event within the patience, appended to `seen`; false when none came.
    bool next(tavrin_event& e)
    {
        if (tavrin_source_next_event(source.get(), &e, static_cast<int32_t>(kPatience.count() * 1000)) != 1)
            return false;
        seen.push_back(e);
        return true;
    }
    // Takes events until one of `kind` for `serial` ("" for session events) has come.
    bool waitFor(int32_t kind, const std::string& serial = "")
    {
        tavrin_event e;
        while (next(e))
            if (e.kind == kind && serial == e.serial)
                return true;
        return false;
    }
    // Takes the next n events.
    std::vector<tavrin_event> take(size_t n)
    {
        std::vector<tavrin_event> out;
        tavrin_event e;
        while (out.size() < n && next(e))
            out.push_back(e);
        return out;
    }

    int32_t read(tavrin_frame& f) { return tavrin_source_read(source.get(), &f, sizeof f); }

    Source source;
    std::vector<tavrin_event> seen;
};

} // namespace

TEST_F(FrameSource, SeesEveryIndexWhileTheLegacyReadKeepsToSixteen)
{
    // Twenty devices, base stations among them, several past index 15.
    std::map<uint32_t, int32_t> classes;
    for (uint32_t i = 0; i < 20; ++i)
        classes[i == 0 ? 0 : i * 3] = i == 0 ? 1 : (i % 5 == 0 ? 4 : 2 + static_cast<int32_t>(i % 2));
    for (const auto& [index, cls] : classes)
        putDevice(index, cls, serialAt(index));
    globalLog().clear();
    setDeviceStatusChangedHandle(recordEvent);
    _DeviceError err = DeviceError_Unknown;
    ASSERT_TRUE(initViveLib(&err));
    start();

    ASSERT_TRUE(waitFor(TAVRIN_EVENT_SESSION_OPENED));
    std::vector<tavrin_event> arrivals = take(20);
    ASSERT_EQ(arrivals.size(), 20u);
    auto expected = classes.begin();
    for (size_t k = 0; k < arrivals.size(); ++k, ++expected) {
        EXPECT_EQ(arrivals[k].kind, TAVRIN_EVENT_DEVICE_ARRIVED);
        EXPECT_EQ(arrivals[k].index, expected->first) << "in index order";
        EXPECT_EQ(arrivals[k].device_class, expected->second);
        EXPECT_EQ(arrivals[k].device_count, k + 1);
        EXPECT_EQ(std::string(arrivals[k].serial), serialAt(expected->first));
    }

    tavrin_frame frame;
    ASSERT_EQ(read(frame), DeviceError_None);
    ASSERT_EQ(frame.device_count, 20u);
    expected = classes.begin();
    for (uint32_t k = 0; k < frame.device_count; ++k, ++expected) {
        const tavrin_device& d = frame.devices[k];
        EXPECT_EQ(d.index, expected->first);
        EXPECT_EQ(d.device_class, expected->second);
        EXPECT_EQ(std::string(d.serial), serialAt(d.index));
        EXPECT_EQ(d.connected, 1);
        EXPECT_EQ(d.pose_valid, 1);
        EXPECT_EQ(d.tracking_result, 200);
        EXPECT_FLOAT_EQ(d.position[0], 0.1f * static_cast<float>(d.index));
    }

    // The legacy driver beside it: its records and events never go past index 15, nor take base
    // stations.
    ASSERT_TRUE(globalLog().waitForCount(6)); // opened, and the five devices it takes
    _TrackedDevicePose poses[16] = {};
    readViveData(poses, &err);
    EXPECT_EQ(err, DeviceError_None);
    for (const _TrackedDevicePose& p : poses) {
        if (p.deviceClass != 0) {
            EXPECT_LE(p.index, 15);
        }
    }
    for (const Event& e : globalLog().snapshot()) {
        EXPECT_LE(e.arg.index, 15);
        EXPECT_LE(e.count, 16);
    }
}

TEST_F(FrameSource, EachKindOfChangeIsReportedAsItself)
{
    for (uint32_t i = 0; i < 6; ++i)
        putDevice(i, i == 0 ? 1 : 3, serialAt(i));
    putDevice(30, 3, serialAt(30), false); // first seen switched off
    start();
    ASSERT_TRUE(waitFor(TAVRIN_EVENT_DEVICE_ARRIVED, serialAt(30)));
    tavrin_event off;
    ASSERT_TRUE(next(off));
    EXPECT_EQ(off.kind, TAVRIN_EVENT_DEVICE_SWITCHED_OFF);
    EXPECT_EQ(std::string(off.serial), serialAt(30));
    EXPECT_EQ(off.device_count, 7u);

    // Two devices leave while a third is switched off (one pass or two: each is told as itself).
    vrsim_set_device(2, 0, nullptr, 0);
    vrsim_set_device(4, 0, nullptr, 0);
    vrsim_set_device(5, 3, serialAt(5).c_str(), 0);
    std::map<std::string, tavrin_event> got;
    for (const tavrin_event& e : take(3))
        got[e.serial] = e;
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[serialAt(2)].kind, TAVRIN_EVENT_DEVICE_LEFT);
    EXPECT_EQ(got[serialAt(2)].index, 2u);
    EXPECT_EQ(got[serialAt(4)].kind, TAVRIN_EVENT_DEVICE_LEFT);
    EXPECT_EQ(got[serialAt(5)].kind, TAVRIN_EVENT_DEVICE_SWITCHED_OFF);
    EXPECT_EQ(seen.back().device_count, 5u);

    // Switched on again; and one moves to a new index (present at both for a moment: a scan takes
    // the lower, so the move is seen in one pass).
    vrsim_set_device(5, 3, serialAt(5).c_str(), 1);
    ASSERT_TRUE(waitFor(TAVRIN_EVENT_DEVICE_SWITCHED_ON, serialAt(5)));
    putDevice(41, 3, serialAt(1));
    vrsim_set_device(1, 0, nullptr, 0);
    ASSERT_TRUE(waitFor(TAVRIN_EVENT_INDEX_CHANGED, serialAt(1)));
    EXPECT_EQ(seen.back().index, 41u);
    EXPECT_EQ(seen.back().old_index, 1u);
    EXPECT_EQ(seen.back().device_count, 5u);
    for (const tavrin_event& e : seen)
        EXPECT_GT(e.time_ns, 0);

    // Stopped: the loop has ended (the source, the only user, has left the session) and nothing
    // more is queued.
    tavrin_source_stop(source.get());
    EXPECT_EQ(counters().open_sessions, 0u);
    tavrin_event none;
    EXPECT_EQ(tavrin_source_next_event(source.get(), &none, 0), 0);
}

TEST_F(FrameSource, ASteadyReadAsksTheRuntimeOnceAndANewDeviceIsInTheNextFrame)
{
    for (uint32_t i = 0; i < 16; ++i)
        putDevice(i, 1 + static_cast<int32_t>(i % 4), serialAt(i));
    start();
    ASSERT_TRUE(waitFor(TAVRIN_EVENT_DEVICE_ARRIVED, serialAt(15)));
    tavrin_frame frame;
    // Counted between two discovery passes (a pass polls the runtime's events first).
    bool measured = false;
    for (int attempt = 0; attempt < 5 && !measured; ++attempt) {
        const vrsim_counters before = counters();
        for (int n = 0; n < 50; ++n)
            ASSERT_EQ(read(frame), DeviceError_None);
        const vrsim_counters after = counters();
        if (after.event_polls != before.event_polls)
            continue;
        measured = true;
        EXPECT_EQ(after.pose_queries - before.pose_queries, 50u);
        EXPECT_EQ(after.class_queries - before.class_queries, 0u);
        EXPECT_EQ(after.serial_queries - before.serial_queries, 0u);
        EXPECT_EQ(after.connected_queries - before.connected_queries, 0u);
        EXPECT_EQ(after.role_queries - before.role_queries, 0u) << "hands are discovery's to ask";
        EXPECT_EQ(frame.device_count, 16u);
    }
    ASSERT_TRUE(measured);

    // A device at an index the source does not know: in the very next frame.
    ASSERT_EQ(read(frame), DeviceError_None);
    putDevice(37, 3, serialAt(37));
    ASSERT_EQ(read(frame), DeviceError_None);
    ASSERT_EQ(frame.device_count, 17u);
    EXPECT_EQ(frame.devices[16].index, 37u);
    EXPECT_EQ(frame.devices[16].device_class, 3);
    EXPECT_EQ(std::string(frame.devices[16].serial), serialAt(37));
    // Switched off: kept, with connected and pose_valid 0.
    vrsim_set_device(37, 3, serialAt(37).c_str(), 0);
    ASSERT_EQ(read(frame), DeviceError_None);
    ASSERT_EQ(frame.device_count, 17u);
    EXPECT_EQ(frame.devices[16].connected, 0);
    EXPECT_EQ(frame.devices[16].pose_valid, 0);
}

// Frames on an exact grid from the first read with a session; each pose for its frame's instant
// (the runtime extrapolates a moving device to it), however late the reading thread woke; a reader
// that falls further behind than the runtime's reach skips the instants it lost; read_at answers
// for any instant within reach, the grid untouched.
// Whether x is where a device moving along x at 1 m/s since `start` is at the frame's instant,
// given that its latest sample was set between setFrom and setTo.
bool movedFor(float x, const tavrin_frame& frame, int64_t returned, int64_t start, int64_t setFrom, int64_t setTo)
{
    // The runtime stamps a sample between setFrom and setTo, and reads its clock for the query
    // after the frame's query time, before the read returned.
    const double earliest = static_cast<double>(frame.time_ns - start - (setTo - setFrom)) / 1e9;
    const double latest = static_cast<double>(frame.time_ns + (returned - frame.query_time_ns) - start) / 1e9;
    return x >= earliest - 1e-4 && x <= latest + 1e-4;
}

TEST_F(FrameSource, FramesLieOnTheGridWithThePosesOfTheirInstants)
{
    putDevice(0, 1, serialAt(0));
    vrsim_set_device(1, 3, serialAt(1).c_str(), 1);
    const int64_t start = tavrin_now_ns();
    const auto moveTo = [start](int64_t now) {
        const float x = static_cast<float>(static_cast<double>(now - start) / 1e9);
        const float m[12] = {1, 0, 0, x, 0, 1, 0, 1, 0, 0, 1, 0}, v[3] = {1, 0, 0}, w[3] = {0, 0, 0};
        vrsim_set_pose(1, m, v, w, 200);
    };
    moveTo(start);
    this->start(500.0);
    ASSERT_TRUE(waitFor(TAVRIN_EVENT_DEVICE_ARRIVED, serialAt(1)));
    tavrin_frame frame;
    EXPECT_EQ(tavrin_source_read(source.get(), &frame, sizeof frame - 1), DeviceError_InvalidArgument);
    const int64_t before = tavrin_now_ns();
    ASSERT_EQ(read(frame), DeviceError_None);
    EXPECT_EQ(frame.frame_number, 1u);
    const int64_t t0 = frame.time_ns;
    EXPECT_GE(t0, before) << "the first frame is at once";
    EXPECT_LE(t0, tavrin_now_ns());
    const int64_t wall = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_NEAR(static_cast<double>(frame.unix_time_ns), static_cast<double>(wall - (tavrin_now_ns() - t0)), 5e7);
    for (int n = 0; n < 20; ++n) {
        // A tracker moving along x at 1 m/s since `start`, sampled now: at the frame's instant it is
        // where it got to.
        const int64_t setFrom = tavrin_now_ns();
        moveTo(setFrom);
        const int64_t setTo = tavrin_now_ns();
        ASSERT_EQ(read(frame), DeviceError_None);
        const int64_t returned = tavrin_now_ns();
        const uint64_t k = frame.frame_number - 1;
        EXPECT_EQ(frame.time_ns, t0 + static_cast<int64_t>(std::llround(static_cast<double>(k) * 2e6))) << "on the grid";
        EXPECT_GE(frame.query_time_ns, frame.time_ns) << "asked once the instant had come";
        ASSERT_EQ(frame.device_count, 2u);
        EXPECT_TRUE(movedFor(frame.devices[1].position[0], frame, returned, start, setFrom, setTo))
            << "where it was at the instant: " << frame.devices[1].position[0];
    }
    // Fallen behind by more than the reach: the lost instants are skipped, the rest caught up.
    const uint64_t last = frame.frame_number;
    const int64_t late = tavrin_now_ns() + 250000000;
    ASSERT_TRUE(waitUntil([late] { return tavrin_now_ns() > late; }));
    const int64_t setFrom = tavrin_now_ns();
    moveTo(setFrom);
    const int64_t setTo = tavrin_now_ns();
    ASSERT_EQ(read(frame), DeviceError_None);
    const int64_t returned = tavrin_now_ns();
    EXPECT_GT(frame.frame_number, last + 1 + 50) << "instants beyond the reach are skipped";
    EXPECT_GE(frame.time_ns, late - TAVRIN_REACH_NS - 2000000);
    EXPECT_LT(frame.time_ns, tavrin_now_ns() - 10000000) << "the oldest instant within reach comes first";
    EXPECT_TRUE(movedFor(frame.devices[1].position[0], frame, returned, start, setFrom, setTo))
        << "a past instant's pose, not the latest: " << frame.devices[1].position[0];

    // Any instant within reach, at once.
    const int64_t now = tavrin_now_ns();
    ASSERT_EQ(tavrin_source_read_at(source.get(), now - 30000000, &frame, sizeof frame), DeviceError_None);
    EXPECT_EQ(frame.frame_number, 0u);
    EXPECT_EQ(frame.time_ns, now - 30000000);
    EXPECT_EQ(frame.device_count, 2u);
    for (int64_t far : {now - TAVRIN_REACH_NS - 1000000, now + TAVRIN_REACH_NS + 1000000})
        EXPECT_EQ(tavrin_source_read_at(source.get(), far, &frame, sizeof frame), DeviceError_InvalidArgument);
}

TEST_F(FrameSource, TheRuntimeQuitsAndComesBack)
{
    putDevice(0, 1, serialAt(0));
    putDevice(20, 4, serialAt(20));
    start();
    ASSERT_TRUE(waitFor(TAVRIN_EVENT_DEVICE_ARRIVED, serialAt(20)));
    tavrin_frame frame;
    ASSERT_EQ(read(frame), DeviceError_None);
    const uint64_t before = frame.frame_number;

    vrsim_quit_runtime(5000);
    const std::vector<tavrin_event> closing = take(3);
    ASSERT_EQ(closing.size(), 3u);
    EXPECT_EQ(closing[0].kind, TAVRIN_EVENT_DEVICE_LEFT);
    EXPECT_EQ(closing[1].kind, TAVRIN_EVENT_DEVICE_LEFT);
    EXPECT_EQ(closing[1].device_count, 0u);
    EXPECT_EQ(closing[2].kind, TAVRIN_EVENT_SESSION_CLOSED);
    EXPECT_EQ(read(frame), DeviceError_NoSession);
    EXPECT_EQ(frame.device_count, 0u);
    EXPECT_EQ(counters().quit_acks, 1u);
    // Why there is no session, as the source's own attempts to reopen find it.
    EXPECT_TRUE(waitUntil([] { return tavrin_session_error() == vr::VRInitError_Init_NoServerForBackgroundApp; }));

    vrsim_start_runtime();
    ASSERT_TRUE(waitFor(TAVRIN_EVENT_SESSION_OPENED));
    ASSERT_TRUE(waitFor(TAVRIN_EVENT_DEVICE_ARRIVED, serialAt(20)));
    ASSERT_EQ(read(frame), DeviceError_None);
    EXPECT_EQ(frame.device_count, 2u);
    EXPECT_EQ(frame.frame_number, before + 1) << "frames without a session are not counted";
    const vrsim_counters c = counters();
    EXPECT_EQ(c.kills, 0u);
    EXPECT_EQ(c.use_after_shutdown, 0u);
}

TEST_F(FrameSource, BadArgumentsAreRefusedNotFollowed)
{
    for (double rate : {-1.0, 100000.5, std::nan(""), std::numeric_limits<double>::infinity(), 1e-13, 0.000999})
        EXPECT_EQ(tavrin_source_create(rate), nullptr) << rate;
    Source slowest(tavrin_source_create(0.001));
    EXPECT_NE(slowest, nullptr);
    Source bounds(tavrin_source_create(100000.0));
    EXPECT_NE(bounds, nullptr);
    tavrin_frame frame;
    tavrin_event event;
    EXPECT_EQ(tavrin_source_read(nullptr, &frame, sizeof frame), DeviceError_InvalidArgument);
    EXPECT_EQ(tavrin_source_read(bounds.get(), nullptr, sizeof frame), DeviceError_InvalidArgument);
    EXPECT_EQ(tavrin_source_next_event(nullptr, &event, 0), -1);
    EXPECT_EQ(tavrin_source_next_event(bounds.get(), nullptr, 0), -1);
    EXPECT_EQ(tavrin_source_start(nullptr), DeviceError_InvalidArgument);
    tavrin_source_stop(nullptr);
    tavrin_source_destroy(nullptr);
    // Never started: no session.
    EXPECT_EQ(tavrin_source_read(bounds.get(), &frame, sizeof frame), DeviceError_NoSession);
    EXPECT_EQ(frame.device_count, 0u);
    EXPECT_EQ(frame.frame_number, 0u);

    // A thread waiting for ever is woken by the destruction. The queue is empty (the session's
    // opening taken here, no device to arrive), so the waiter's one call waits until then; the
    // destruction begins once it is seen asleep in that call (a call begun after it would be the
    // caller's error).
    start();
    ASSERT_TRUE(waitFor(TAVRIN_EVENT_SESSION_OPENED));
    tavrin_source* waited = source.get();
    std::atomic<bool> calling{false};
    std::atomic<int> got{2};
    std::atomic<long> waiterTid{0};
    std::thread waiter([&] {
        waiterTid = threadId();
        tavrin_event e;
        calling = true;
        got = tavrin_source_next_event(waited, &e, -1);
    });
    ASSERT_TRUE(waitUntil([&] { return calling.load() && sleeping(waiterTid.load()); }));
    tavrin_source_destroy(source.release());
    waiter.join();
    EXPECT_EQ(got.load(), 0);
}

// What the runtime writes is data: an init error or a tracking result that SDK 1.0.7 does not
// name (later SDKs added TrackingResult_Fallback_RotationOnly, 300) is carried as it is. Loading
// such a value as the SDK's enumeration is undefined, and the sanitizer leg stops on it.
TEST_F(FrameSource, RuntimeValuesTheSdkDoesNotNameAreCarriedAsTheyAre)
{
    vrsim_set_init_error(-7);
    start();
    ASSERT_TRUE(waitUntil([] { return tavrin_session_error() == -7; }));
    putDevice(0, 1, serialAt(0));
    putDevice(1, 2, serialAt(1));
    setPose(0, 0.0f, 1.6f, 0.0f, 0.0f, 0.1f, 0.0f, 0.0f, 300);
    setPose(1, 0.2f, 1.0f, 0.0f, 0.0f, 0.1f, 0.0f, 0.0f, -1);
    vrsim_set_init_error(0);
    ASSERT_TRUE(waitFor(TAVRIN_EVENT_DEVICE_ARRIVED, serialAt(1)));
    tavrin_frame frame;
    ASSERT_EQ(read(frame), DeviceError_None);
    ASSERT_EQ(frame.device_count, 2u);
    EXPECT_EQ(frame.devices[0].tracking_result, 300);
    EXPECT_EQ(frame.devices[1].tracking_result, -1);

    _DeviceError err = DeviceError_Unknown;
    ASSERT_TRUE(initViveLib(&err));
    ASSERT_TRUE(waitUntil([] {
        _DeviceError status = DeviceError_Unknown;
        readViveStatus(&status);
        return status == DeviceError_None;
    }));
    _TrackedDevicePose poses[16] = {};
    readViveData(poses, &err);
    EXPECT_EQ(err, DeviceError_None);
    EXPECT_EQ(poses[0].deviceClass, 1);
    EXPECT_EQ(poses[0].trackingOk, 0);
    EXPECT_EQ(poses[1].deviceClass, 2);
    EXPECT_EQ(poses[1].trackingOk, 0);
}

// Discovery's index of a serial can be a pass old. A tracker moves to a new index and a
// controller takes its old one between two passes: the read that finds the tracker at its new
// index asks the old one again, so no frame holds one serial twice, nor labels the controller's
// pose with the tracker's serial.
TEST_F(FrameSource, ALabelNeverLies)
{
    putDevice(5, 3, "LHR-TRACKER");
    start();
    ASSERT_TRUE(waitFor(TAVRIN_EVENT_DEVICE_ARRIVED, "LHR-TRACKER"));
    tavrin_frame frame;
    ASSERT_EQ(read(frame), DeviceError_None);
    putDevice(9, 3, "LHR-TRACKER");
    vrsim_set_device(5, 2, "LHR-CONTROLLER", 1);
    setPose(5, -2.0f, 0.5f, 0.0f, 0.0f, 0.0f); // still: where it was put at any instant
    ASSERT_EQ(read(frame), DeviceError_None);
    std::map<std::string, uint32_t> labels;
    for (uint32_t k = 0; k < frame.device_count; ++k) {
        const tavrin_device& d = frame.devices[k];
        EXPECT_TRUE(labels.emplace(d.serial, d.index).second) << d.serial << " twice";
        if (d.index == 5) {
            EXPECT_STREQ(d.serial, "LHR-CONTROLLER");
            EXPECT_FLOAT_EQ(d.position[0], -2.0f);
        }
    }
    EXPECT_EQ(labels["LHR-TRACKER"], 9u);
}

// Roles: each device's default (the headset the head, controllers the hands the runtime gives
// them), assignments by serial that take a role from whoever held it, prop for any number, all
// kept across a stop and a start.
// The full-body rig walking in a circle, its head looking around: at every moment read, its ten
// limb and torso trackers are placed (the neck's keeps its role), left and right as the head sees.
TEST_F(FrameSource, AssignRolesPlacesAWalkingBodysTrackers)
{
    vrsim_start_fullbody_rig();
    start(20.0);
    EXPECT_EQ(tavrin_source_assign_roles(source.get()), -1) << "no frame read: no head";
    EXPECT_EQ(tavrin_source_assign_roles(nullptr), -1);
    const std::map<std::string, int32_t> want = {
        {"LHR-1D40A7F3", TAVRIN_ROLE_WAIST},         {"LHR-1D40A7F4", TAVRIN_ROLE_CHEST},
        {"LHR-2E51C3A0", TAVRIN_ROLE_LEFT_SHOULDER}, {"LHR-2E51C3A1", TAVRIN_ROLE_RIGHT_SHOULDER},
        {"LHR-2E51C3B4", TAVRIN_ROLE_LEFT_ELBOW},    {"LHR-2E51C3B5", TAVRIN_ROLE_RIGHT_ELBOW},
        {"LHR-3F62D4C8", TAVRIN_ROLE_LEFT_KNEE},     {"LHR-3F62D4C9", TAVRIN_ROLE_RIGHT_KNEE},
        {"LHR-3F62D5E0", TAVRIN_ROLE_LEFT_FOOT},     {"LHR-3F62D5E1", TAVRIN_ROLE_RIGHT_FOOT},
        {"LHR-1D40B012", TAVRIN_ROLE_NONE},
    };
    tavrin_frame frame;
    ASSERT_TRUE(waitUntil([&] { return read(frame) == DeviceError_None && frame.device_count >= 18; }));
    for (int moment = 0; moment < 40; ++moment) {
        ASSERT_EQ(tavrin_source_assign_roles(source.get()), 10) << "moment " << moment;
        ASSERT_EQ(read(frame), DeviceError_None);
        for (uint32_t k = 0; k < frame.device_count; ++k) {
            const auto it = want.find(frame.devices[k].serial);
            if (it != want.end()) {
                EXPECT_EQ(frame.devices[k].role, it->second) << frame.devices[k].serial << " at moment " << moment;
            }
        }
    }
}

// A device's battery comes from discovery, in percent; none, or a charge that is no number, is 255.
TEST_F(FrameSource, BatteriesInPercentFromDiscovery)
{
    putDevice(0, 1, serialAt(0));
    putDevice(1, 3, serialAt(1));
    putDevice(2, 2, serialAt(2));
    vrsim_set_battery(1, 0.424f);
    vrsim_set_battery(2, std::nanf(""));
    start();
    ASSERT_TRUE(waitFor(TAVRIN_EVENT_DEVICE_ARRIVED, serialAt(2)));
    tavrin_frame frame;
    ASSERT_EQ(read(frame), DeviceError_None);
    ASSERT_EQ(frame.device_count, 3u);
    EXPECT_EQ(frame.devices[0].battery, 255) << "a headset that reports none";
    EXPECT_EQ(frame.devices[1].battery, 42);
    EXPECT_EQ(frame.devices[2].battery, 255) << "a charge that is no number";
    vrsim_set_battery(1, 0.1f);
    EXPECT_TRUE(waitUntil([&] { return read(frame) == DeviceError_None && frame.devices[1].battery == 10; }));
}

// Under vrsim's noise, a still tracker's paced frames are steadier filtered than read_at's raw ones;
// a tracker switched off and on a metre away is there at once; bad settings change nothing.
TEST_F(FrameSource, TheFilterSteadiesAStillTrackerAndStartsAgainAfterALoss)
{
    vrsim_set_device(1, 3, serialAt(1).c_str(), 1);
    setPose(1, 0.5f, 1.0f, 0.0f, 0.0f, 0.0f);
    vrsim_set_noise(0.001f, 0.0087f, 7);
    start(120.0);
    tavrin_filter f;
    tavrin_filter_default(&f);
    EXPECT_EQ(f.min_cutoff_hz, 0.5f);
    tavrin_filter bad = f;
    bad.beta = std::nanf("");
    EXPECT_EQ(tavrin_source_set_filter(source.get(), nullptr, &bad), DeviceError_InvalidArgument);
    bad.beta = -1.0f;
    EXPECT_EQ(tavrin_source_set_filter(source.get(), serialAt(1).c_str(), &bad), DeviceError_InvalidArgument);
    EXPECT_EQ(tavrin_source_set_filter(source.get(), "", &f), DeviceError_InvalidArgument);
    EXPECT_EQ(tavrin_source_set_filter(nullptr, nullptr, &f), DeviceError_InvalidArgument);
    ASSERT_EQ(tavrin_source_set_filter(source.get(), nullptr, &f), DeviceError_None);
    tavrin_filter got{};
    ASSERT_EQ(tavrin_source_get_filter(source.get(), serialAt(1).c_str(), &got), DeviceError_None);
    EXPECT_EQ(got.beta, 15.0f) << "every device's, for one without its own";

    // The spread of x about its mean over 150 frames, filtered (paced) or raw (read_at).
    tavrin_frame frame;
    const auto spread = [&](bool paced) {
        double sum = 0, squares = 0;
        int n = 0;
        for (int tries = 0; n < 150 && tries < 5000; ++tries) {
            const int32_t rc = paced ? read(frame) : tavrin_source_read_at(source.get(), tavrin_now_ns(), &frame, sizeof frame);
            if (rc != DeviceError_None || frame.device_count != 1 || !frame.devices[0].pose_valid)
                continue;
            const double x = frame.devices[0].position[0];
            sum += x;
            squares += x * x;
            ++n;
        }
        EXPECT_EQ(n, 150) << "frames with the tracker";
        return n == 0 ? 0.0 : std::sqrt(std::max(0.0, squares / n - (sum / n) * (sum / n)));
    };
    const double filtered = spread(true), raw = spread(false);
    EXPECT_GT(raw, 0.0007) << "the noise is there unfiltered";
    EXPECT_LT(filtered * 3, raw) << "filtered " << filtered << " m, raw " << raw << " m";

    vrsim_set_device(1, 3, serialAt(1).c_str(), 0);
    ASSERT_TRUE(waitUntil([&] { return read(frame) == DeviceError_None && frame.device_count == 1 && !frame.devices[0].pose_valid; }));
    setPose(1, 1.5f, 1.0f, 0.0f, 0.0f, 0.0f);
    vrsim_set_device(1, 3, serialAt(1).c_str(), 1);
    ASSERT_TRUE(waitUntil([&] { return read(frame) == DeviceError_None && frame.device_count == 1 && frame.devices[0].pose_valid; }));
    EXPECT_NEAR(frame.devices[0].position[0], 1.5f, 0.01f) << "back a metre away: there at once, not gliding";
}

TEST_F(FrameSource, EveryRoleButPropIsHeldByOneDevice)
{
    putDevice(0, 1, "LHR-HMD");
    putDevice(1, 2, "LHR-LEFT");
    putDevice(2, 2, "LHR-RIGHT");
    putDevice(3, 3, "LHR-T1");
    putDevice(4, 3, "LHR-T2");
    vrsim_set_controller_role(1, 1);
    vrsim_set_controller_role(2, 2);
    start();
    ASSERT_TRUE(waitFor(TAVRIN_EVENT_DEVICE_ARRIVED, "LHR-T2"));
    const auto roles = [this] {
        tavrin_frame frame;
        EXPECT_EQ(read(frame), DeviceError_None);
        std::string out;
        for (uint32_t k = 0; k < frame.device_count; ++k)
            out += std::string(out.empty() ? "" : " ") + tavrin_role_name(frame.devices[k].role);
        return out;
    };
    EXPECT_EQ(roles(), "head left_hand right_hand none none");
    tavrin_source* s = source.get();
    ASSERT_EQ(tavrin_source_set_role(s, "LHR-T1", TAVRIN_ROLE_HEAD), DeviceError_None);
    EXPECT_EQ(roles(), "none left_hand right_hand head none");
    ASSERT_EQ(tavrin_source_set_role(s, "LHR-T2", TAVRIN_ROLE_HEAD), DeviceError_None);
    ASSERT_EQ(tavrin_source_set_role(s, "LHR-LEFT", TAVRIN_ROLE_RIGHT_HAND), DeviceError_None);
    EXPECT_EQ(roles(), "none right_hand none none head");
    ASSERT_EQ(tavrin_source_set_role(s, "LHR-T2", TAVRIN_ROLE_NONE), DeviceError_None);
    ASSERT_EQ(tavrin_source_set_role(s, "LHR-T1", tavrin_role_from_name("prop")), DeviceError_None);
    ASSERT_EQ(tavrin_source_set_role(s, "LHR-HMD", TAVRIN_ROLE_PROP), DeviceError_None);
    EXPECT_EQ(roles(), "prop right_hand none prop none");

    const std::string tooLong(64, 'S');
    for (const auto& [serial, role] : std::vector<std::pair<const char*, int32_t>>{
             {nullptr, 1}, {"", 1}, {tooLong.c_str(), 1}, {"LHR-T2", 16}, {"LHR-T2", -1}})
        EXPECT_EQ(tavrin_source_set_role(s, serial, role), DeviceError_InvalidArgument);
    EXPECT_EQ(tavrin_source_set_role(nullptr, "LHR-T2", 1), DeviceError_InvalidArgument);
    tavrin_source_stop(s);
    ASSERT_EQ(tavrin_source_start(s), DeviceError_None);
    ASSERT_TRUE(waitFor(TAVRIN_EVENT_DEVICE_ARRIVED, "LHR-T2"));
    EXPECT_EQ(roles(), "prop right_hand none prop none");
}

// The rig file: roles, offsets and space saved and loaded whole; a bad file changes nothing and
// says where it is bad; a save that cannot be made leaves nothing behind.
TEST_F(FrameSource, TheRigFileKeepsTheRigWhole)
{
    const std::string dir = ::testing::TempDir();
    const std::string first = dir + "rig-first.json", second = dir + "rig-second.json", bad = dir + "rig-bad.json";
    Source a(tavrin_source_create(0.0)), b(tavrin_source_create(0.0));
    const float position[3] = {0, -0.05f, 0.02f}, orientation[4] = {0, 0, 1, 0};
    const tavrin_space space{{1, 0, 2}, {0, 0, 2, 0}, TAVRIN_AXES_Z_UP, 1000};
    ASSERT_EQ(tavrin_source_set_role(a.get(), "LHR-1A2B3C4D", TAVRIN_ROLE_LEFT_FOOT), DeviceError_None);
    ASSERT_EQ(tavrin_source_set_offset(a.get(), "LHR-1A2B3C4D", position, orientation), DeviceError_None);
    ASSERT_EQ(tavrin_source_set_space(a.get(), &space), DeviceError_None);
    const tavrin_filter every{0.5f, 15.0f, 0.5f}, own{1.25f, 3.0f, 2.0f};
    ASSERT_EQ(tavrin_source_set_filter(a.get(), nullptr, &every), DeviceError_None);
    ASSERT_EQ(tavrin_source_set_filter(a.get(), "LHR-1A2B3C4D", &own), DeviceError_None);
    ASSERT_EQ(tavrin_source_save_rig(a.get(), first.c_str()), DeviceError_None);
    EXPECT_STREQ(tavrin_source_rig_error(a.get()), "");
    ASSERT_EQ(tavrin_source_load_rig(b.get(), first.c_str()), DeviceError_None);
    ASSERT_EQ(tavrin_source_save_rig(b.get(), second.c_str()), DeviceError_None);
    const auto text = [](const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(text(first), text(second));
    tavrin_space got;
    ASSERT_EQ(tavrin_source_get_space(b.get(), &got), DeviceError_None);
    EXPECT_EQ(got.axes, TAVRIN_AXES_Z_UP);
    EXPECT_EQ(got.units_per_metre, 1000.0f);
    EXPECT_FLOAT_EQ(got.orientation[2], 1.0f) << "normalised";
    tavrin_filter filter{};
    ASSERT_EQ(tavrin_source_get_filter(b.get(), "LHR-1A2B3C4D", &filter), DeviceError_None);
    EXPECT_EQ(filter.min_cutoff_hz, 1.25f) << "a device's own filter, loaded";
    ASSERT_EQ(tavrin_source_get_filter(b.get(), nullptr, &filter), DeviceError_None);
    EXPECT_EQ(filter.beta, 15.0f) << "every device's";

    const std::pair<const char*, const char*> bads[] = {
        {"{\"format\": \"tavrin-rig\", \"version\": 1,\n \"devices\": {\"LHR-A\": {\"role\": \"elbow\"}}}", "line 2"},
        {"{\"format\": \"tavrin-rig\",\n \"version\": 1,,}", "line 2"},
        {"{\"format\": \"tavrin-rig\", \"version\": 1,\n\n \"space\": {\"units_per_metre\": 0}}", "line 3"},
    };
    for (const auto& [content, where] : bads) {
        std::ofstream(bad) << content;
        EXPECT_EQ(tavrin_source_load_rig(b.get(), bad.c_str()), DeviceError_InvalidArgument) << content;
        const std::string error = tavrin_source_rig_error(b.get());
        EXPECT_NE(error.find(bad), std::string::npos) << error;
        EXPECT_NE(error.find(where), std::string::npos) << error;
    }
    ASSERT_EQ(tavrin_source_save_rig(b.get(), second.c_str()), DeviceError_None);
    EXPECT_EQ(text(first), text(second)) << "a refused load changes nothing";
    const std::string nowhere = dir + "no-such-folder/rig.json";
    EXPECT_EQ(tavrin_source_save_rig(b.get(), nowhere.c_str()), DeviceError_Unknown);
    EXPECT_NE(std::string(tavrin_source_rig_error(b.get())).find(nowhere), std::string::npos);
}

// What a hostile but legal caller tried: reasons read while other threads load, serials of any
// bytes, a pose of no finite place, an origin taken from a frame older than the latest read, and
// a save over a file that holds what the loader does not know, reached through a link.
TEST_F(FrameSource, TheRigHoldsAgainstAHostileCaller)
{
    const std::string dir = ::testing::TempDir();
    Source shared(tavrin_source_create(0.0));
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&, t] {
            const std::string mine = dir + "rig-thread-" + std::to_string(t) + ".json";
            std::ofstream(mine) << "not json " << t;
            for (int k = 0; k < 300; ++k)
                if (tavrin_source_load_rig(shared.get(), mine.c_str()) != DeviceError_InvalidArgument ||
                    std::string(tavrin_source_rig_error(shared.get())).find(mine) == std::string::npos)
                    ++wrong;
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0) << "a reason that is not the caller's own";

    // A serial of any bytes the runtime may send keeps its role through the file.
    const std::string odd = "TRK-\xff\xfe\x80-1", saved = dir + "rig-odd.json", again = dir + "rig-odd-2.json";
    Source a(tavrin_source_create(0.0)), b(tavrin_source_create(0.0));
    ASSERT_EQ(tavrin_source_set_role(a.get(), odd.c_str(), TAVRIN_ROLE_WAIST), DeviceError_None);
    ASSERT_EQ(tavrin_source_save_rig(a.get(), saved.c_str()), DeviceError_None) << tavrin_source_rig_error(a.get());
    ASSERT_EQ(tavrin_source_load_rig(b.get(), saved.c_str()), DeviceError_None) << tavrin_source_rig_error(b.get());
    ASSERT_EQ(tavrin_source_save_rig(b.get(), again.c_str()), DeviceError_None);
    const auto text = [](const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(text(saved), text(again));
    EXPECT_EQ(tavrin_source_save_rig(a.get(), (dir + "no-such-folder/x.json").c_str()), DeviceError_Unknown);
    EXPECT_STRNE(tavrin_source_rig_error(a.get()), "") << "a failed save says why";

#ifndef _WIN32
    // What the loader does not know stays; a link is written through, the file's mode kept, and
    // no temporary file is left beside it.
    const std::string target = dir + "rig-target.json", link = dir + "rig-link.json";
    std::ofstream(target) << "{\"format\": \"tavrin-rig\", \"version\": 1, \"note\": \"lab B\",\n"
                             " \"devices\": {\"LHR-T1\": {\"role\": \"chest\", \"label\": \"strap\"}}}\n";
    ::chmod(target.c_str(), 0644);
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_EQ(tavrin_source_load_rig(b.get(), link.c_str()), DeviceError_None);
    ASSERT_EQ(tavrin_source_set_role(b.get(), "LHR-T2", TAVRIN_ROLE_WAIST), DeviceError_None);
    ASSERT_EQ(tavrin_source_save_rig(b.get(), link.c_str()), DeviceError_None);
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced";
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    const std::string written = text(target);
    for (const char* kept : {"\"note\": \"lab B\"", "\"label\": \"strap\"", "\"waist\"", "\"chest\""})
        EXPECT_NE(written.find(kept), std::string::npos) << kept << " in\n" << written;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find("rig-target.json."), std::string::npos) << entry.path();
#endif

    // No origin from a pose without a finite place, nor from a frame older than the latest read.
    putDevice(0, 3, "LHR-INF");
    putDevice(1, 3, "LHR-OK");
    setPose(0, std::numeric_limits<float>::infinity(), 1.0f, 0.0f);
    start();
    ASSERT_TRUE(waitFor(TAVRIN_EVENT_DEVICE_ARRIVED, "LHR-OK"));
    tavrin_frame frame;
    ASSERT_EQ(read(frame), DeviceError_None);
    EXPECT_EQ(tavrin_source_set_origin_from_device(source.get(), "LHR-INF"), DeviceError_InvalidArgument);
    tavrin_source_stop(source.get());
    EXPECT_EQ(read(frame), DeviceError_NoSession);
    EXPECT_EQ(tavrin_source_set_origin_from_device(source.get(), "LHR-OK"), DeviceError_InvalidArgument)
        << "an origin from a frame before the latest read";
}
