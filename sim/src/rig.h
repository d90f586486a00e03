// The simulated rig's state, shared by the runtime entry points, the control API and the demo rig.
#pragma once

#include <vrsim.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace vr {
class IVRSystem;
}

namespace vrsim {

class Replay;

constexpr uint32_t kDevices = 64; // every index OpenVR serves

struct Device {
    int32_t cls = 0;
    std::string serial;
    bool connected = false;
    int32_t serialError = 0;
    int32_t hand = 0; // ETrackedControllerRole: 0 none, 1 left, 2 right
    float battery = -1.0f; // the charge, 0..1; negative: the device reports none
};

struct Pose {
    float matrix[12] = {};
    float velocity[3] = {};
    float angular[3] = {};
    int32_t result = 0;
};

// The runtime's clock: tavrin_now_ns()'s (the monotonic clock in ns).
int64_t nowNs();

// How far from a sample the runtime answers: it keeps this much pose history and extrapolates this
// far with a pose's velocity.
constexpr int64_t kReachNs = 100000000;

// A scripted pose and the moment it was set.
struct Stamped {
    int64_t atNs;
    Pose pose;
};

// A pose moved by its velocity and angular velocity over dt seconds.
Pose extrapolate(const Pose& pose, double dt);

struct Rig {
    Rig() { resetLocked(); }

    std::mutex mutex;
    Device devices[kDevices];
    // Each index's scripted poses of the last kReachNs (the newest always), oldest first.
    std::deque<Stamped> poses[kDevices];
    int32_t initError = 0;
    bool interfaceValid = true;

    // One client per process, as with the real loader: a second init joins the open session
    // (with a new token), and any shutdown ends it for everyone.
    bool clientOpen = false;
    // Token of the latest init of the open session, 0 when none. Written under the lock; read
    // without it by VR_GetInitToken, which in the real loader is a plain read of a counter.
    std::atomic<uint32_t> token{0};
    uint32_t nextToken = 1;
    vr::IVRSystem* current = nullptr;    // interface of the open session
    std::vector<vr::IVRSystem*> sessions; // every interface ever handed out (kept for stale callers)
    vrsim_counters counters{};
    std::atomic<uint32_t> delayUs{0};
    std::atomic<int> inLoader{0};        // threads inside loader entry points now

    // The runtime process: while it is stopped, inits fail with NoServerForBackgroundApp.
    bool runtimeRunning = true;
    // After a quit: the client still open at killAt is killed.
    std::atomic<bool> killArmed{false}; // written under the lock; read without it to skip reaping
    std::chrono::steady_clock::time_point killAt{};
    vr::IVRSystem* killSession = nullptr;

    struct Event {
        uint32_t type;
        uint32_t index;
    };
    std::deque<Event> events; // for the open session's PollNextEvent

    void endSessionLocked();
    void pushEventLocked(uint32_t type, uint32_t index);
    // Carries out a kill that has fallen due; every entry point calls it under the lock.
    void reapLocked();

    // A rig that moves by itself, in place of the scripted devices: its motion is a function of the
    // time since it started.
    enum class Moving { No, Demo, Fullbody };
    Moving moving = Moving::No;

    // Gaussian noise on every reported pose of a headset, controller or tracker: per axis, in
    // metres and radians (0, 0: none), from a generator seeded as asked, so a run is reproducible.
    float noisePosition = 0.0f, noiseRotation = 0.0f;
    std::mt19937 noiseSource;
    void addNoiseLocked(Pose& pose);
    int64_t demoStartNs = 0;

    // A recording replayed as the rig, from its first pose on (looping or holding its end). Its
    // clock starts at the first pose query, so that a reader's first instant is its first frame.
    std::shared_ptr<const Replay> replay;
    bool replayLoop = false;
    int64_t replayStartNs = 0; // 0: not yet asked for a pose
    double replayTime(int64_t atNs) const; // ms on the recording's clock

    void resetLocked();
    // Sets a scripted pose at this moment, forgetting what is older than kReachNs before it.
    void setPoseLocked(uint32_t index, const Pose& pose);
    // The device at an index at instant atNs (the runtime's clock); false for an index above 63.
    bool deviceAt(uint32_t index, int64_t atNs, Device& out) const;
    // Its pose at atNs: a moving rig's at that instant, a replay's interpolated, a scripted one
    // from the newest set at or before it, extrapolated to it when `moving` (a switched-off device
    // stays where it was).
    Pose poseAt(uint32_t index, int64_t atNs, bool moving = true) const;
    double demoSeconds(int64_t atNs) const;

    // The moving rigs: functions of time only, so every query sees a consistent, smooth rig.
    static bool demoDevice(uint32_t index, double t, Device& out);
    static Pose demoPose(uint32_t index, double t);
    static bool fullbodyDevice(uint32_t index, double t, Device& out);
    static Pose fullbodyPose(uint32_t index, double t);
};

Rig& rig();

// Makes the calling runtime call take as long as vrsim_set_call_delay_us asks.
void callDelay();

} // namespace vrsim
