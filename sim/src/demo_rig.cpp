// The moving rigs. The demo rig: a person walking a slow circle with a headset, two controllers
// and a waist tracker, watched by two base stations. The full-body rig: the same walker with a
// motion-capture suit of eleven body trackers, watched by four base stations, with devices past
// index 15. Poses are smooth functions of time; velocities and angular velocities are the
// derivatives of those same functions, so they agree with the motion.
#include "rig.h"

#include <openvr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vrsim {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Frame {
    double r[3][3];
    double p[3];
};

void mul(const double a[3][3], const double b[3][3], double out[3][3])
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
}

// Yaw about +y, then pitch about +x, then roll about -z (OpenVR: y up, -z forward).
void rotation(double yaw, double pitch, double roll, double out[3][3])
{
    const double cy = std::cos(yaw), sy = std::sin(yaw);
    const double cp = std::cos(pitch), sp = std::sin(pitch);
    const double cr = std::cos(roll), sr = std::sin(roll);
    const double ry[3][3] = {{cy, 0, sy}, {0, 1, 0}, {-sy, 0, cy}};
    const double rx[3][3] = {{1, 0, 0}, {0, cp, -sp}, {0, sp, cp}};
    const double rz[3][3] = {{cr, -sr, 0}, {sr, cr, 0}, {0, 0, 1}};
    double tmp[3][3];
    mul(ry, rx, tmp);
    mul(tmp, rz, out);
}

// The walker: centre of the head at time t, walking a circle of 0.8 m radius every 24 s.
struct Walker {
    double yaw;     // facing direction
    double head[3]; // head position
    double step;    // phase of the gait
};

Walker walkerAt(double t)
{
    const double omega = 2.0 * kPi / 24.0;
    const double a = omega * t;
    Walker w{};
    w.step = 2.0 * kPi * t / 1.1;
    w.head[0] = 0.8 * std::cos(a);
    w.head[1] = 1.65 + 0.025 * std::sin(2.0 * w.step);
    w.head[2] = 0.8 * std::sin(a);
    // Moving along the circle: direction (-sin a, 0, cos a). Forward is -z, and yaw about +y turns
    // -z to (-sin yaw, 0, -cos yaw), so the walker faces its way for yaw = pi - a.
    w.yaw = kPi - a;
    return w;
}

// A body-fixed point: offset in the walker's frame (x right, y up, z back) from the head.
void bodyPoint(const Walker& w, const double local[3], double out[3])
{
    double r[3][3];
    rotation(w.yaw, 0.0, 0.0, r);
    for (int i = 0; i < 3; ++i)
        out[i] = w.head[i] + r[i][0] * local[0] + r[i][1] * local[1] + r[i][2] * local[2];
}

Frame frameAt(uint32_t index, double t)
{
    Frame f{};
    const Walker w = walkerAt(t);
    switch (index) {
    case 0: { // headset: looks around a little while walking
        rotation(w.yaw + 0.35 * std::sin(2.0 * kPi * t / 7.0), 0.12 * std::sin(2.0 * kPi * t / 5.0),
                 0.04 * std::sin(w.step), f.r);
        std::memcpy(f.p, w.head, sizeof f.p);
        break;
    }
    case 1:
    case 2: { // controllers: hands swinging in counter-phase with the gait
        const double side = index == 1 ? -1.0 : 1.0;
        const double swing = 0.18 * std::sin(w.step + (index == 1 ? 0.0 : kPi));
        const double local[3] = {0.22 * side, -0.5 + 0.03 * std::cos(2.0 * w.step), -0.15 - swing};
        bodyPoint(w, local, f.p);
        rotation(w.yaw + 0.1 * side, -0.6 + 0.5 * swing, 0.2 * side, f.r);
        break;
    }
    case 3:
    case 6: { // waist tracker
        const double local[3] = {0.0, -0.62, 0.05};
        bodyPoint(w, local, f.p);
        rotation(w.yaw, 0.0, 0.05 * std::sin(w.step), f.r);
        break;
    }
    case 4:
    case 5: { // base stations in two corners, 2.4 m up, tilted down towards the room's centre
        const double s = index == 4 ? 1.0 : -1.0;
        f.p[0] = 2.0 * s;
        f.p[1] = 2.4;
        f.p[2] = 2.0 * s;
        rotation(index == 4 ? kPi / 4.0 : -3.0 * kPi / 4.0, -0.5, 0.0, f.r);
        break;
    }
    default:
        rotation(0, 0, 0, f.r);
        break;
    }
    return f;
}

double cycle(double t, double period)
{
    return std::fmod(t, period);
}

bool trackerOn(double t)
{
    const double c = cycle(t, 30.0);
    return !(c >= 12.0 && c < 14.0);
}

uint32_t trackerIndex(double t)
{
    const double c = cycle(t, 30.0);
    return (c >= 24.0) ? 6u : 3u;
}

// Velocity and angular velocity of a moving frame, by central differences of the same motion:
// v = dp/dt, [w]x = dR/dt * R^T.
template <class FrameAt>
void differentiate(FrameAt frameAt, double t, Pose& pose)
{
    const double h = 1e-3;
    const Frame f = frameAt(t);
    const Frame a = frameAt(t - h);
    const Frame b = frameAt(t + h);
    double dr[3][3];
    for (int i = 0; i < 3; ++i) {
        pose.velocity[i] = static_cast<float>((b.p[i] - a.p[i]) / (2 * h));
        for (int j = 0; j < 3; ++j)
            dr[i][j] = (b.r[i][j] - a.r[i][j]) / (2 * h);
    }
    double rt[3][3], w[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            rt[i][j] = f.r[j][i];
    mul(dr, rt, w);
    pose.angular[0] = static_cast<float>(0.5 * (w[2][1] - w[1][2]));
    pose.angular[1] = static_cast<float>(0.5 * (w[0][2] - w[2][0]));
    pose.angular[2] = static_cast<float>(0.5 * (w[1][0] - w[0][1]));
}

Pose poseOf(const Frame& f)
{
    Pose pose{};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c)
            pose.matrix[r * 4 + c] = static_cast<float>(f.r[r][c]);
        pose.matrix[r * 4 + 3] = static_cast<float>(f.p[r]);
    }
    return pose;
}

// ---- the full-body rig -----------------------------------------------------------------------
// Indices as a runtime hands them out when a suit is switched on after the room's devices: the
// headset at 0, base stations at 1-4, controllers at 5 and 6, body trackers from 7 on; two of them
// were paired again while the suit was put on, so the legs sit at 16-19 and 14 and 15 are empty.
// Every 15 s the left ankle tracker is off for 2 s; every 25 s the right knee tracker drops out for
// 3 s and comes back at a new index (20, 21, ... as a session's indices only grow), where it stays
// until it drops out again.

struct BodyTracker {
    const char* serial;
    double local[3]; // offset from the head in the walker's frame (x right, y up, z back)
    int limb;        // 0 torso, 1 left arm, 2 right arm, 3 left leg, 4 right leg
    double reach;    // how far along its limb it swings (0 at the joint root, 1 at the end)
};

constexpr BodyTracker kBody[11] = {
    {"LHR-1D40A7F3", {0.0, -0.62, 0.05}, 0, 0.0},     // waist
    {"LHR-1D40A7F4", {0.0, -0.30, -0.10}, 0, 0.0},    // chest
    {"LHR-1D40B012", {0.0, -0.12, 0.10}, 0, 0.0},     // back of the neck
    {"LHR-2E51C3A0", {-0.19, -0.22, 0.0}, 1, 0.2},    // left upper arm
    {"LHR-2E51C3A1", {0.19, -0.22, 0.0}, 2, 0.2},     // right upper arm
    {"LHR-2E51C3B4", {-0.24, -0.45, 0.02}, 1, 0.6},   // left elbow
    {"LHR-2E51C3B5", {0.24, -0.45, 0.02}, 2, 0.6},    // right elbow
    {"LHR-3F62D4C8", {-0.11, -1.15, -0.06}, 3, 0.55}, // left knee
    {"LHR-3F62D4C9", {0.11, -1.15, -0.06}, 4, 0.55},  // right knee
    {"LHR-3F62D5E0", {-0.11, -1.55, 0.02}, 3, 1.0},   // left ankle
    {"LHR-3F62D5E1", {0.11, -1.55, 0.02}, 4, 1.0},    // right ankle
};
constexpr uint32_t kBodyIndex[11] = {7, 8, 9, 10, 11, 12, 13, 16, 17, 18, 19}; // of kBody[k]
constexpr int kNeck = 2;               // the back of the neck
constexpr int kSwitchingOff = 9;       // the left ankle
constexpr int kLeaving = 8;            // the right knee
constexpr uint32_t kReturnFirst = 20;  // the first index it comes back at

constexpr const char* kFullbodyBases[4] = {"LHB-0A3F5C21", "LHB-6E91B7D4", "LHB-C25A0F83", "LHB-F7D2E619"};

// A controller's or tracker's charge at t: each starts somewhat full and loses 1 % a minute.
float drained(uint32_t index, double t)
{
    return static_cast<float>(std::max(0.05, 0.95 - 0.04 * static_cast<double>(index % 8) - t / 6000.0));
}

bool leftAnkleOn(double t)
{
    const double c = cycle(t, 15.0);
    return !(c >= 6.0 && c < 8.0);
}

// Where the leaving tracker is at t: its index, or -1 while it is away.
int32_t leaverIndex(double t)
{
    const int64_t k = static_cast<int64_t>(std::floor(t / 25.0));
    const double c = t - 25.0 * static_cast<double>(k);
    if (c >= 10.0 && c < 13.0)
        return -1;
    const int64_t returns = c >= 13.0 ? k + 1 : k; // comebacks so far
    if (returns == 0)
        return static_cast<int32_t>(kBodyIndex[kLeaving]);
    return static_cast<int32_t>(kReturnFirst + (returns - 1) % (64 - kReturnFirst));
}

Frame bodyFrameAt(int k, double t)
{
    Frame f{};
    const Walker w = walkerAt(t);
    const BodyTracker& b = kBody[k];
    double local[3] = {b.local[0], b.local[1], b.local[2]};
    double pitch = 0.0;
    if (b.limb == 1 || b.limb == 2) { // arms swing against the legs
        const double swing = 0.18 * std::sin(w.step + (b.limb == 1 ? 0.0 : kPi));
        local[2] -= swing * b.reach;
        pitch = -0.4 * swing;
    } else if (b.limb == 3 || b.limb == 4) { // legs: stride forward and back, feet lift
        const double phase = w.step + (b.limb == 3 ? kPi : 0.0);
        local[2] -= 0.25 * std::sin(phase) * b.reach;
        local[1] += 0.06 * std::max(0.0, std::sin(phase + kPi / 2.0)) * b.reach;
        pitch = 0.35 * std::sin(phase);
    }
    bodyPoint(w, local, f.p);
    rotation(w.yaw, pitch, 0.03 * std::sin(w.step), f.r);
    return f;
}

// Which body tracker is at an index at t, or -1.
int bodyAt(uint32_t index, double t)
{
    for (int k = 0; k < 11; ++k)
        if (kBodyIndex[k] == index && k != kLeaving)
            return k;
    return leaverIndex(t) == static_cast<int32_t>(index) ? kLeaving : -1;
}

} // namespace

bool Rig::fullbodyDevice(uint32_t index, double t, Device& out)
{
    out = Device{};
    if (index >= kDevices)
        return false;
    if (index == 0) {
        out.cls = vr::TrackedDeviceClass_HMD;
        out.serial = "LHR-5F0A11C2";
        out.connected = true;
    } else if (index <= 4) {
        out.cls = vr::TrackedDeviceClass_TrackingReference;
        out.serial = kFullbodyBases[index - 1];
        out.connected = true;
    } else if (index == 5 || index == 6) {
        out.cls = vr::TrackedDeviceClass_Controller;
        out.serial = index == 5 ? "LHR-FFAB1200" : "LHR-FFAB1201";
        out.connected = true;
        out.hand = index == 5 ? vr::TrackedControllerRole_LeftHand : vr::TrackedControllerRole_RightHand;
        out.battery = drained(index, t);
    } else {
        const int k = bodyAt(index, t);
        if (k >= 0) {
            out.cls = vr::TrackedDeviceClass_GenericTracker;
            out.serial = kBody[k].serial;
            out.connected = k != kSwitchingOff || leftAnkleOn(t);
            // The neck's tracker was not charged: low from the start, for the battery warning.
            out.battery = k == kNeck ? static_cast<float>(std::max(0.0, 0.14 - t / 6000.0)) : drained(index, t);
        }
    }
    return true;
}

Pose Rig::fullbodyPose(uint32_t index, double t)
{
    Device dev;
    fullbodyDevice(index, t, dev);
    if (dev.cls == 0)
        return Pose{};
    if (dev.cls == vr::TrackedDeviceClass_TrackingReference) {
        // Four corners of a 5 m square, 2.5 m up, each tilted down towards the centre.
        static constexpr double kCorner[4][2] = {{2.5, 2.5}, {-2.5, 2.5}, {-2.5, -2.5}, {2.5, -2.5}};
        Frame f{};
        const double* c = kCorner[index - 1];
        f.p[0] = c[0];
        f.p[1] = 2.5;
        f.p[2] = c[1];
        rotation(std::atan2(c[0], c[1]), -0.5, 0.0, f.r);
        Pose pose = poseOf(f);
        pose.result = vr::TrackingResult_Running_OK;
        return pose;
    }
    const auto frameAtT = [index, t](double at) {
        if (index == 0 || index == 5 || index == 6) // the demo rig's headset and hands
            return frameAt(index == 0 ? 0u : index - 4u, at);
        return bodyFrameAt(bodyAt(index, t), at);
    };
    Pose pose = poseOf(frameAtT(t));
    if (!dev.connected) {
        pose.result = vr::TrackingResult_Uninitialized;
        return pose;
    }
    pose.result = vr::TrackingResult_Running_OK;
    differentiate(frameAtT, t, pose);
    return pose;
}

bool Rig::demoDevice(uint32_t index, double t, Device& out)
{
    out = Device{};
    if (index >= kDevices)
        return false;
    switch (index) {
    case 0:
        out.cls = vr::TrackedDeviceClass_HMD;
        out.serial = "LHR-5F0A11C2";
        out.connected = !(cycle(t, 45.0) >= 35.0 && cycle(t, 45.0) < 36.5);
        break;
    case 1:
        out.cls = vr::TrackedDeviceClass_Controller;
        out.serial = "LHR-FFAB1200";
        out.connected = true;
        out.hand = vr::TrackedControllerRole_LeftHand;
        out.battery = drained(index, t);
        break;
    case 2:
        out.cls = vr::TrackedDeviceClass_Controller;
        out.serial = "LHR-FFAB1201";
        out.connected = !(cycle(t, 10.0) >= 4.0 && cycle(t, 10.0) < 5.5);
        out.hand = vr::TrackedControllerRole_RightHand;
        out.battery = drained(index, t);
        break;
    case 4:
        out.cls = vr::TrackedDeviceClass_TrackingReference;
        out.serial = "LHB-4A8D2E61";
        out.connected = true;
        break;
    case 5:
        out.cls = vr::TrackedDeviceClass_TrackingReference;
        out.serial = "LHB-9B1C7F35";
        out.connected = true;
        break;
    default:
        break;
    }
    if (index == trackerIndex(t)) {
        out.cls = vr::TrackedDeviceClass_GenericTracker;
        out.serial = "LHR-7C3E9A10";
        out.connected = trackerOn(t);
        out.battery = drained(3, t);
    }
    return true;
}

Pose Rig::demoPose(uint32_t index, double t)
{
    Device dev;
    demoDevice(index, t, dev);
    if (dev.cls == 0)
        return Pose{};
    Pose pose = poseOf(frameAt(index, t));
    if (!dev.connected) { // a device that is off reports no motion and no tracking
        pose.result = vr::TrackingResult_Uninitialized;
        return pose;
    }
    pose.result = vr::TrackingResult_Running_OK;
    // The first controller goes out of the base stations' sight for a moment every 20 s.
    if (index == 1 && cycle(t, 20.0) >= 7.0 && cycle(t, 20.0) < 8.0)
        pose.result = vr::TrackingResult_Running_OutOfRange;
    if (dev.cls == vr::TrackedDeviceClass_TrackingReference)
        return pose; // base stations stand still
    differentiate([index](double at) { return frameAt(index, at); }, t, pose);
    return pose;
}

} // namespace vrsim

extern "C" {

namespace {
void startMoving(vrsim::Rig::Moving rig)
{
    std::lock_guard<std::mutex> lock(vrsim::rig().mutex);
    vrsim::rig().moving = rig;
    vrsim::rig().demoStartNs = vrsim::nowNs();
    vrsim::rig().replay.reset();
}
} // namespace

VRSIM_API void vrsim_start_demo_rig(void)
{
    startMoving(vrsim::Rig::Moving::Demo);
}

VRSIM_API void vrsim_start_fullbody_rig(void)
{
    startMoving(vrsim::Rig::Moving::Fullbody);
}

VRSIM_API void vrsim_stop_demo_rig(void)
{
    std::lock_guard<std::mutex> lock(vrsim::rig().mutex);
    vrsim::rig().moving = vrsim::Rig::Moving::No;
}

} // extern "C"
