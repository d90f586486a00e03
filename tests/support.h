// Shared helpers for the tests: a fresh simulated rig per test, an event recorder usable as a
// plain-function handler, pose builders and a condition wait with a generous timeout.
#pragma once

#include <tavrin.h>
#include <vrsim.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace testing_support {

using namespace std::chrono_literals;

// Generous: a loaded CI machine or an emulator may be slow; a passing test never waits this long.
constexpr auto kPatience = 20s;

struct Event {
    int count;
    ViveSystem::_DeviceEvent event;
    ViveSystem::_DeviceEventArg arg;

    std::string serial() const { return std::string(arg.serial); }
};

// Collects events from the discovery thread; tests wait on it for a condition.
class EventLog {
public:
    void add(int count, ViveSystem::_DeviceEvent event, const ViveSystem::_DeviceEventArg& arg);
    std::vector<Event> snapshot() const;
    size_t size() const;
    void clear();
    // Waits until pred(events) holds; false on timeout.
    bool waitFor(const std::function<bool(const std::vector<Event>&)>& pred,
                 std::chrono::milliseconds timeout = kPatience) const;
    bool waitForCount(size_t n, std::chrono::milliseconds timeout = kPatience) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Event> events_;
};

// The process-wide log that recordEvent writes to; a plain function, as handlers are.
EventLog& globalLog();
void recordEvent(int count, ViveSystem::_DeviceEvent event, ViveSystem::_DeviceEventArg arg);

// Waits until pred() holds, polling; false on timeout.
bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = kPatience);

vrsim_counters counters();

// A pose: rotation about y by `yaw` radians, position, velocity, and an angular velocity about y
// of 5 rad/s per m/s of it. The runtime extrapolates a pose by its velocities to the instant asked
// for: a still one (no velocity) is where it was set at any instant.
void setPose(uint32_t index, float x, float y, float z, float yaw = 0.0f, float vx = 0.1f, float vy = 0.0f,
             float vz = 0.0f, int32_t result = 200);

// A headset at 0 and controllers at 1 and 2, all connected and moving.
void typicalRig();

// Checks that a _DeviceEventArg is (serial, a, b) with every byte after the serial zero.
bool argIs(const ViveSystem::_DeviceEventArg& arg, const char* serial, int a, int b);

// Checks the first run of a new driver over typicalRig(): (0, SessionOpened, zero argument), then
// the headset's and the two controllers' connect events with count 3, in index order.
void expectTypicalFirstEvents(const std::vector<Event>& events);

} // namespace testing_support
