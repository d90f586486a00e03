// vrDriver: a devFinder plus the caller's handler, the tracking mode and the pose reader. What the
// plug-in objects and the helper need of it is the narrow set of operations at the top.
#pragma once

#include "dev_finder.h"
#include "pose_reader.h"

#include <tavrin.h>

#include <atomic>
#include <cstdint>

namespace ViveSystem {

class vrDriver : public devFinder {
public:
    vrDriver();
    ~vrDriver();

    // The driver a device's handle names.
    static vrDriver* fromHandle(void* handle) { return static_cast<vrDriver*>(handle); }

    // The settings, single stores from any thread; kept across stop and start. freq 0 counts as
    // 1000 (a period of 1 ms).
    void setFreq(unsigned int freq);
    void setTrackingMode(int32_t mode) { trackingMode.store(mode, std::memory_order_relaxed); }
    void setHandler(DeviceStatusChangedHandler handler) { statusHandler.store(handler, std::memory_order_release); }
    // Whether this driver has a session now (status reads report DeviceError_NoSession otherwise).
    bool hasSession() const { return vrSystem.load(std::memory_order_acquire) != nullptr; }

    // The paced pose read into 16 records (see the public header). Sets the status word to
    // DeviceError_NoSession when no session is open; never writes 0 into it. Takes driverMutex.
    void readPoses(_TrackedDevicePose* poses);

    // Passes an event to the registered handler, if any. Runs on the discovery thread with no
    // lock held; an exception from the handler is caught so that the loop goes on.
    void relayEvent(int count, _DeviceEvent event, _DeviceEventArg arg);

    // Single stores from callers' threads, read by the loop and by reads.
    std::atomic<DeviceStatusChangedHandler> statusHandler{nullptr};
    std::atomic<int32_t> trackingMode{1};
    std::atomic<double> framePeriodMs{1000.0 / 120.0};
    std::atomic<int64_t> lastFrameNs{0}; // the end of the previous read's wait

private:
    frameClock clock;
    int64_t startTicks = 0; // monotonic clock at construction, 100-ns ticks: the stamps' origin
};

} // namespace ViveSystem
