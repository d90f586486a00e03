#include "vr_driver.h"

#include "pacing.h"
#include "quaternion.h"
#include "session.h"
#include "status.h"

#include "../platform/platform.h"

#include <openvr.h>

#include <ctime>

namespace ViveSystem {

struct vrDriver::Clock {
    vrDriver& driver;
    int64_t steadyNs() const { return platform::steadyNanoseconds(); }
    uint64_t nowMicros() const { return driver.nowMicros(); }
    int64_t counter() const { return platform::counterNow(); }
    int64_t counterFrequency() const { return platform::counterFrequency(); }
    void sleepMicros(int64_t us) const { platform::sleepMicros(us); }
};

// Record time stamps count 100-ns ticks of the monotonic clock: setting the wall clock must not
// make a motion-capture stream jump.
static int64_t monotonicTicks()
{
    return platform::steadyNanoseconds() / 100;
}

vrDriver::vrDriver()
{
    startEpochMicros = static_cast<int64_t>(std::time(nullptr)) * 1000000 +
                       static_cast<int64_t>(platform::localMilliseconds()) * 1000;
    qpcFrequency = platform::counterFrequency();
    qpcStart = platform::counterNow();
    startTicks = monotonicTicks();
    lastFrameNs.store(platform::steadyNanoseconds(), std::memory_order_relaxed);
    onDeviceEvent = [this](int count, _DeviceEvent event, _DeviceEventArg arg) { relayEvent(count, event, arg); };
}

vrDriver::~vrDriver()
{
    // No event raised while the final stop waits for the thread reaches the caller's handler.
    statusHandler.store(nullptr, std::memory_order_release);
    stop();
}

void vrDriver::relayEvent(int count, _DeviceEvent event, _DeviceEventArg arg)
{
    const DeviceStatusChangedHandler handler = statusHandler.load(std::memory_order_acquire);
    if (handler == nullptr)
        return;
    try {
        handler(count, event, arg);
    } catch (...) {
        // A handler's failure is its own; the loop goes on.
    }
}

uint64_t vrDriver::nowMicros()
{
    const int64_t now = platform::counterNow();
    qpcNow.store(now, std::memory_order_relaxed);
    const int64_t elapsed = countsToMicros(now - qpcStart, qpcFrequency);
    elapsedMicros.store(elapsed, std::memory_order_relaxed);
    return static_cast<uint64_t>(startEpochMicros + elapsed);
}

void vrDriver::readPoses(_TrackedDevicePose* poses)
{
    Clock clock{*this};
    waitForFrame(clock, framePeriodMs.load(std::memory_order_relaxed), lastFrameNs);

    sessionOwner& owner = sessionOwner::instance();
    vr::IVRSystem* lost = nullptr;
    {
        std::lock_guard<std::mutex> lock(driverMutex);
        // The use keeps the session open for the read: a shutdown waits for it, and a read that
        // comes while a shutdown is under way waits for that and then finds no session.
        sessionUse use(owner);
        vr::IVRSystem* system = vrSystem.load(std::memory_order_acquire);
        // Someone else may have shut the client down since the last discovery pass: the interface
        // is then dead, and is never called.
        if (system != nullptr && owner.tokenCurrent()) {
            vr::TrackedDevicePose_t raw[kMaxDevices];
            system->GetDeviceToAbsoluteTrackingPose(vr::TrackingUniverseStanding, 0.0f, raw, kMaxDevices);
            const float stamp = static_cast<float>(monotonicTicks() - startTicks) / 10000.0f;
            fillPoseRecords(system, raw, stamp, poses);
            return;
        }
        setLastError(DeviceError_NoSession);
        lost = system;
    }
    // Outside the use, which a close waits for: every user loses the dead session, as a pass
    // that found it dead would have it.
    if (lost != nullptr)
        owner.drop(lost, false);
}

int fillPoseRecords(vr::IVRSystem* system, const vr::TrackedDevicePose_t* raw, float timestampMs,
                    _TrackedDevicePose* out)
{
    int n = 0;
    for (uint32_t i = 0; i < static_cast<uint32_t>(kMaxDevices); ++i) {
        const vr::TrackedDevicePose_t& pose = raw[i];
        if (pose.eTrackingResult == 0)
            continue;
        const float* v = pose.vVelocity.v;
        if ((v[1] * v[1] + v[0] * v[0]) + v[2] * v[2] == 0.0f)
            continue;
        const int32_t cls = system->GetTrackedDeviceClass(i);
        if (!isTakenClass(cls))
            continue;

        _TrackedDevicePose& rec = out[n++];
        rec.index = static_cast<int32_t>(i);
        rec.deviceClass = cls;
        rec.trackingOk = pose.eTrackingResult == vr::TrackingResult_Running_OK ? 1 : 0;
        rec.timestampMs = timestampMs;
        readSerial(system, i, rec.serial); // a failed query leaves the serial empty
        const auto& m = pose.mDeviceToAbsoluteTracking.m;
        float r[3][3];
        for (int row = 0; row < 3; ++row) {
            rec.position[row] = m[row][3];
            for (int col = 0; col < 3; ++col) {
                rec.rotation[row][col] = m[row][col];
                r[row][col] = m[row][col];
            }
        }
        const Quaternion q = rotationToQuaternion(r);
        rec.quaternion[0] = q.w;
        rec.quaternion[1] = q.x;
        rec.quaternion[2] = q.y;
        rec.quaternion[3] = q.z;
        for (int c = 0; c < 3; ++c) {
            rec.velocity[c] = pose.vVelocity.v[c];
            rec.angularVelocity[c] = pose.vAngularVelocity.v[c];
        }
    }
    return n;
}

} // namespace ViveSystem
