// The simulated rig's state: reset, the session's end, its event queue, a due kill, and which
// device and pose each index shows (scripted, a moving rig, or a replay).
#include "rig.h"

#include "replay.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace vrsim {

Rig& rig()
{
    // Never destroyed: a driver thread may still query the runtime while the process exits.
    static Rig* instance = new Rig;
    return *instance;
}

void Rig::resetLocked()
{
    for (auto& d : devices)
        d = Device{};
    for (auto& p : poses)
        p = Pose{};
    initError = 0;
    interfaceValid = true;
    counters = vrsim_counters{};
    counters.last_pose_origin = -1;
    counters.open_sessions = clientOpen ? 1 : 0;
    moving = Moving::No;
    replay.reset();
    runtimeRunning = true;
    killArmed = false;
    killSession = nullptr;
    events.clear();
}

void Rig::endSessionLocked()
{
    clientOpen = false;
    current = nullptr;
    token = 0;
    events.clear();
    counters.open_sessions = 0;
}

void Rig::pushEventLocked(uint32_t type, uint32_t index)
{
    if (!clientOpen)
        return;
    constexpr size_t kQueueLimit = 64; // like a runtime's queue: old events give way to new ones
    if (events.size() >= kQueueLimit)
        events.pop_front();
    events.push_back(Event{type, index});
}

void Rig::reapLocked()
{
    if (!killArmed || std::chrono::steady_clock::now() < killAt)
        return;
    killArmed = false;
    if (clientOpen && current == killSession) {
        ++counters.kills;
        endSessionLocked();
    }
}

void callDelay()
{
    const uint32_t us = rig().delayUs.load(std::memory_order_relaxed);
    if (us)
        std::this_thread::sleep_for(std::chrono::microseconds(us));
}

double Rig::replayTime() const
{
    const double elapsed =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - replayStart).count();
    const double span = replay->end() - replay->start();
    if (span <= 0)
        return replay->start();
    return replay->start() + (replayLoop ? std::fmod(elapsed, span) : std::min(elapsed, span));
}

bool Rig::deviceAt(uint32_t index, double now, Device& out) const
{
    if (index >= kDevices)
        return false;
    if (replay) {
        out = Device{};
        replay->deviceAt(index, replayTime(), out);
        return true;
    }
    if (moving == Moving::Demo)
        return demoDevice(index, now, out);
    if (moving == Moving::Fullbody)
        return fullbodyDevice(index, now, out);
    out = devices[index];
    return true;
}

Pose Rig::poseAt(uint32_t index, double now) const
{
    if (replay)
        return replay->poseAt(index, replayTime());
    if (moving == Moving::Demo)
        return demoPose(index, now);
    if (moving == Moving::Fullbody)
        return fullbodyPose(index, now);
    return poses[index];
}

double Rig::demoSeconds() const
{
    if (moving == Moving::No)
        return 0.0;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - demoStart).count();
}

} // namespace vrsim
