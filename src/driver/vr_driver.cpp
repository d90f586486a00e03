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

    const bool read = sessionOwner::instance().useSession(vrSystem, &driverMutex, [&](vr::IVRSystem* system) {
        vr::TrackedDevicePose_t raw[kMaxDevices];
        system->GetDeviceToAbsoluteTrackingPose(vr::TrackingUniverseStanding, 0.0f, raw, kMaxDevices);
        const float stamp = static_cast<float>(monotonicTicks() - startTicks) / 10000.0f;
        fillPoseRecords(system, raw, stamp, poses);
    });
    if (!read)
        setLastError(DeviceError_NoSession);
}

} // namespace ViveSystem
