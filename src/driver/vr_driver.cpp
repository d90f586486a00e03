#include "vr_driver.h"

#include "pacing.h"
#include "session.h"
#include "status.h"

#include "../platform/platform.h"

#include <openvr.h>

namespace ViveSystem {

// Record time stamps count 100-ns ticks of the monotonic clock: setting the wall clock must not
// make a motion-capture stream jump.
static int64_t monotonicTicks()
{
    return platform::steadyNanoseconds() / 100;
}

vrDriver::vrDriver()
{
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

void vrDriver::setFreq(unsigned int freq)
{
    const double rate = freq == 0 ? 1000.0 : static_cast<double>(freq);
    framePeriodMs.store(1000.0 / rate, std::memory_order_relaxed);
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

void vrDriver::readPoses(_TrackedDevicePose* poses)
{
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

} // namespace ViveSystem
