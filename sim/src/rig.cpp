// The simulated rig's state: reset, the session's end, its event queue, a due kill, and which
// device and pose each index shows (scripted, a moving rig, or a replay).
#include "rig.h"

#include "replay.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace vrsim {

Pose extrapolate(const Pose& pose, double dt)
{
    Pose out = pose;
    if (dt == 0.0)
        return out;
    for (int i = 0; i < 3; ++i)
        out.matrix[4 * i + 3] = pose.matrix[4 * i + 3] + static_cast<float>(pose.velocity[i] * dt);
    // The rotation turned by the angular velocity (in the universe's frame) over dt: R' = exp(w dt) R.
    const double w[3] = {pose.angular[0], pose.angular[1], pose.angular[2]};
    const double speed = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
    const double angle = speed * dt;
    if (angle == 0.0)
        return out;
    const double k[3] = {w[0] / speed, w[1] / speed, w[2] / speed};
    const double c = std::cos(angle), sn = std::sin(angle), t = 1 - c;
    const double turn[3][3] = {{t * k[0] * k[0] + c, t * k[0] * k[1] - sn * k[2], t * k[0] * k[2] + sn * k[1]},
                               {t * k[0] * k[1] + sn * k[2], t * k[1] * k[1] + c, t * k[1] * k[2] - sn * k[0]},
                               {t * k[0] * k[2] - sn * k[1], t * k[1] * k[2] + sn * k[0], t * k[2] * k[2] + c}};
    for (int r = 0; r < 3; ++r)
        for (int col = 0; col < 3; ++col) {
            double v = 0;
            for (int m = 0; m < 3; ++m)
                v += turn[r][m] * pose.matrix[4 * m + col];
            out.matrix[4 * r + col] = static_cast<float>(v);
        }
    return out;
}

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
        p.assign(1, Stamped{nowNs(), Pose{}});
    initError = 0;
    interfaceValid = true;
    counters = vrsim_counters{};
    counters.last_pose_origin = -1;
    counters.open_sessions = clientOpen ? 1 : 0;
    moving = Moving::No;
    noisePosition = noiseRotation = 0.0f;
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

double Rig::replayTime(int64_t atNs) const
{
    const double elapsed = replayStartNs == 0 ? 0.0 : static_cast<double>(atNs - replayStartNs) / 1e6;
    const double span = replay->end() - replay->start();
    if (span <= 0 || elapsed <= 0)
        return replay->start();
    return replay->start() + (replayLoop ? std::fmod(elapsed, span) : std::min(elapsed, span));
}

void Rig::addNoiseLocked(Pose& pose)
{
    if (noisePosition == 0.0f && noiseRotation == 0.0f)
        return;
    std::normal_distribution<double> unit(0.0, 1.0);
    for (int row = 0; row < 3; ++row)
        pose.matrix[row * 4 + 3] += static_cast<float>(noisePosition * unit(noiseSource));
    // A small turn about each world axis in turn: R' = Rz Ry Rx R.
    double r[3][3];
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            r[row][col] = pose.matrix[row * 4 + col];
    for (int axis = 0; axis < 3; ++axis) {
        const double a = noiseRotation * unit(noiseSource), c = std::cos(a), s = std::sin(a);
        const int i = (axis + 1) % 3, j = (axis + 2) % 3; // the plane it turns
        for (int col = 0; col < 3; ++col) {
            const double ri = r[i][col], rj = r[j][col];
            r[i][col] = c * ri - s * rj;
            r[j][col] = s * ri + c * rj;
        }
    }
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            pose.matrix[row * 4 + col] = static_cast<float>(r[row][col]);
}

void Rig::setPoseLocked(uint32_t index, const Pose& pose)
{
    const int64_t at = nowNs();
    std::deque<Stamped>& history = poses[index];
    history.push_back(Stamped{at, pose});
    while (history.size() > 1 && history.front().atNs < at - kReachNs)
        history.pop_front();
}

bool Rig::deviceAt(uint32_t index, int64_t atNs, Device& out) const
{
    if (index >= kDevices)
        return false;
    if (replay) {
        out = Device{};
        replay->deviceAt(index, replayTime(atNs), out);
        return true;
    }
    if (moving == Moving::Demo)
        return demoDevice(index, demoSeconds(atNs), out);
    if (moving == Moving::Fullbody)
        return fullbodyDevice(index, demoSeconds(atNs), out);
    out = devices[index];
    return true;
}

Pose Rig::poseAt(uint32_t index, int64_t atNs, bool movingPose) const
{
    if (replay)
        return replay->poseAt(index, replayTime(atNs));
    if (moving == Moving::Demo)
        return demoPose(index, demoSeconds(atNs));
    if (moving == Moving::Fullbody)
        return fullbodyPose(index, demoSeconds(atNs));
    // The newest pose set at or before the instant (the oldest kept, for an instant before them
    // all), moved by its velocities over the time between, as far as the runtime extrapolates.
    const std::deque<Stamped>& history = poses[index];
    auto it = std::upper_bound(history.begin(), history.end(), atNs,
                               [](int64_t t, const Stamped& s) { return t < s.atNs; });
    const Stamped& from = it == history.begin() ? history.front() : *(it - 1);
    const int64_t dt = movingPose ? std::clamp(atNs - from.atNs, -kReachNs, kReachNs) : 0;
    return extrapolate(from.pose, static_cast<double>(dt) / 1e9);
}

double Rig::demoSeconds(int64_t atNs) const
{
    if (moving == Moving::No)
        return 0.0;
    return static_cast<double>(atNs - demoStartNs) / 1e9;
}

} // namespace vrsim
