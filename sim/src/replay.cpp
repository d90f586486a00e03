#include "replay.h"

#include "rig.h"

#include <algorithm>
#include <cmath>

namespace vrsim {

namespace {

// Samples further apart than this are a gap (the device was off or out of sight): not bridged.
constexpr double kGapMs = 250.0;
// A query this close to a recorded instant (ms), and within a third of the way to the next, is for
// that instant: the runtime's clock and the reader's differ by the time the call takes to arrive,
// microseconds usually, milliseconds on a loaded or instrumented machine.
constexpr double kSnapMs = 5.0;

// The first sample after t.
std::vector<recording::Sample>::const_iterator after(const std::vector<recording::Sample>& ss, double t)
{
    return std::upper_bound(ss.begin(), ss.end(), t, [](double v, const recording::Sample& a) { return v < a.t; });
}

// The recorded sample a query at t is for (see kSnapMs), or null when t lies between two.
const recording::Sample* recordedFor(const std::vector<recording::Sample>& ss, double t)
{
    const auto it = after(ss, t);
    if (it == ss.begin() || it == ss.end())
        return nullptr;
    const double snap = std::min(kSnapMs, (it->t - (it - 1)->t) / 3);
    if (t - (it - 1)->t <= snap)
        return &*(it - 1);
    if (it->t - t <= snap)
        return &*it;
    return nullptr;
}

void matrixFromQuaternion(const float q[4], float m[12], const float p[3])
{
    const double w = q[0], x = q[1], y = q[2], z = q[3];
    const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
                            {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
                            {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col)
            m[row * 4 + col] = static_cast<float>(r[row][col]);
        m[row * 4 + 3] = p[row];
    }
}

} // namespace

bool Replay::load(const std::string& path, Replay& out, std::string& error)
{
    Replay r;
    if (!recording::loadRecording(path, r.recorded, error))
        return false;
    recording::PresentDevices present;
    for (const recording::Event& e : r.recorded.events) {
        present.apply(e.kind, e.serial, e.deviceClass, e.index);
        r.timeline.push_back(Moment{e.t, present});
    }
    out = std::move(r);
    return true;
}

Replay::Presence Replay::presenceAt(const recording::Track& track, double t) const
{
    Presence p;
    if (track.inEvents) {
        // The latest moment at or before t.
        const auto it = std::upper_bound(timeline.begin(), timeline.end(), t,
                                         [](double v, const Moment& m) { return v < m.t; });
        if (it != timeline.begin())
            if (const recording::PresentDevice* d = (it - 1)->devices.find(track.serial))
                return Presence{true, d->connected, static_cast<int32_t>(d->index)};
        // A frame may hold a device before discovery's event for it is stamped (a read names a new
        // device itself; a reader catching up reads instants already past): a recorded frame of it
        // is there as recorded.
        if (const recording::Sample* s = recordedFor(track.samples, t))
            p = Presence{true, s->connected != 0, s->index};
        return p;
    }
    // No event names this device: it is there while samples are.
    const auto& ss = track.samples;
    const auto it = std::lower_bound(ss.begin(), ss.end(), t, [](const recording::Sample& a, double v) { return a.t < v; });
    const recording::Sample* near = nullptr;
    if (it != ss.end())
        near = &*it;
    if (it != ss.begin() && (!near || t - (it - 1)->t < near->t - t))
        near = &*(it - 1);
    if (near && std::abs(near->t - t) <= kGapMs)
        p = Presence{true, true, near->index};
    return p;
}

const recording::Track* Replay::trackAt(uint32_t index, double t, Presence& presence) const
{
    for (const recording::Track& tr : recorded.tracks) {
        presence = presenceAt(tr, t);
        if (presence.present && presence.index == static_cast<int32_t>(index))
            return &tr;
    }
    return nullptr;
}

bool Replay::deviceAt(uint32_t index, double t, Device& out) const
{
    Presence presence;
    const recording::Track* tr = trackAt(index, t, presence);
    if (!tr)
        return false;
    out.cls = tr->deviceClass;
    out.serial = tr->serial;
    out.connected = presence.connected;
    // A recording that wrote each frame's connected flag changes it at that frame, not when the
    // event (discovery's, a pass later) came: the frame this query is for, or the latest before it.
    const auto& ss = tr->samples;
    const recording::Sample* at = recordedFor(ss, t);
    if (at == nullptr) {
        const auto it = after(ss, t);
        if (it != ss.begin() && t - (it - 1)->t <= kGapMs)
            at = &*(it - 1);
    }
    if (at != nullptr && at->connected >= 0)
        out.connected = at->connected != 0;
    return true;
}

namespace {

// Between two samples: positions and velocities linearly, the orientation normalised-linearly
// along the shorter arc; the tracking result of the nearer.
recording::Sample interpolate(const recording::Sample& a, const recording::Sample& b, double t)
{
    const double u = b.t > a.t ? (t - a.t) / (b.t - a.t) : 0.0;
    recording::Sample s = a;
    auto mix = [u](float x, float y) { return static_cast<float>(x + (y - x) * u); };
    for (int i = 0; i < 3; ++i) {
        s.pos[i] = mix(a.pos[i], b.pos[i]);
        s.vel[i] = mix(a.vel[i], b.vel[i]);
        s.ang[i] = mix(a.ang[i], b.ang[i]);
    }
    const double dot = a.quat[0] * b.quat[0] + a.quat[1] * b.quat[1] + a.quat[2] * b.quat[2] + a.quat[3] * b.quat[3];
    const float sign = dot < 0 ? -1.0f : 1.0f;
    double len = 0;
    for (int i = 0; i < 4; ++i) {
        s.quat[i] = mix(a.quat[i], sign * b.quat[i]);
        len += s.quat[i] * s.quat[i];
    }
    len = std::sqrt(len);
    for (float& q : s.quat)
        q = len > 0 ? static_cast<float>(q / len) : q;
    s.result = u < 0.5 ? a.result : b.result;
    return s;
}

} // namespace

Pose Replay::poseAt(uint32_t index, double t) const
{
    Pose pose{};
    Presence presence;
    const recording::Track* tr = trackAt(index, t, presence);
    if (!tr || tr->samples.empty())
        return pose;
    const auto& ss = tr->samples;
    const auto it = after(ss, t);
    recording::Sample s;
    bool recorded = true; // a sample as it was recorded, not one made between two
    if (it == ss.begin())
        s = ss.front();
    else if (it == ss.end())
        s = ss.back();
    else if (it->t - (it - 1)->t > kGapMs) // a gap: hold the nearer side
        s = (t - (it - 1)->t < it->t - t) ? *(it - 1) : *it;
    else if (const recording::Sample* at = recordedFor(ss, t))
        s = *at;
    else {
        s = interpolate(*(it - 1), *it, t);
        recorded = false;
    }
    matrixFromQuaternion(s.quat, pose.matrix, s.pos);
    if (recorded && s.hasRotation) // the matrix the runtime gave, whose quaternion was recorded
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                pose.matrix[4 * r + c] = s.rotation[3 * r + c];
    for (int i = 0; i < 3; ++i) {
        pose.velocity[i] = s.vel[i];
        pose.angular[i] = s.ang[i];
    }
    pose.result = s.result;
    return pose;
}

} // namespace vrsim
