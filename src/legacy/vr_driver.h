// vrDriver: the legacy face, behind one tracking device of the plug-in objects, the helper and
// the plain functions. A discovery loop over indices 0..15 (headsets, controllers, generic
// trackers) whose changes become _DeviceEvent codes for the caller's handler, on the loop's own
// thread; the paced read of 16 records from one pose query; and the settings (handler, tracking
// mode, frame period), each kept across stop and start.
#pragma once

#include "../discovery/dev_finder.h"
#include "../reading/frame_clock.h"
#include "../reading/pose_reader.h"

#include <tavrin.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

namespace ViveSystem {

class vrDriver final : private discoverySink {
public:
    vrDriver();
    ~vrDriver();
    vrDriver(const vrDriver&) = delete;
    vrDriver& operator=(const vrDriver&) = delete;

    // The driver a device's handle names.
    static vrDriver* fromHandle(void* handle) { return static_cast<vrDriver*>(handle); }

    // Stops completely, then launches the discovery thread (see devFinder::start): true, or an
    // exception when no thread can be made.
    bool start() { return finder.start(); }
    // Ends the discovery thread and leaves the session (see devFinder::stop).
    void stop() { finder.stop(); }

    // The settings, single stores from any thread; kept across stop and start. freq 0 counts as
    // 1000 (a period of 1 ms).
    void setFreq(unsigned int freq);
    void setTrackingMode(int32_t mode) { trackingMode.store(mode, std::memory_order_relaxed); }
    void setHandler(DeviceStatusChangedHandler handler) { statusHandler.store(handler, std::memory_order_release); }
    // Whether this driver has a session now (status reads report DeviceError_NoSession otherwise).
    bool hasSession() const { return finder.hasSession(); }

    // The paced pose read into 16 records (see the public header). Sets the status word to
    // DeviceError_NoSession when no session is open; never writes 0 into it. Takes driverMutex.
    void readPoses(_TrackedDevicePose* poses);

    // Passes an event to the registered handler, if any. Runs on the discovery thread with no
    // lock held; an exception from the handler is caught so that the loop goes on.
    void relayEvent(int count, _DeviceEvent event, _DeviceEventArg arg);

    // What the driver holds, for whoever inspects it.
    DeviceStatusChangedHandler handler() const { return statusHandler.load(std::memory_order_acquire); }
    int32_t mode() const { return trackingMode.load(std::memory_order_relaxed); }
    double periodMs() const { return framePeriodMs.load(std::memory_order_relaxed); }
    int64_t lastWaitEndNs() const { return lastFrameNs.load(std::memory_order_relaxed); }
    const devFinder& discovery() const { return finder; }
    devFinder& discovery() { return finder; }
    // Any frame period, 0 for none (setFreq's are 1000/freq).
    void setFramePeriodMs(double ms) { framePeriodMs.store(ms, std::memory_order_relaxed); }

private:
    // Discovery's findings, on the discovery thread.
    void sessionOpened(int32_t countBefore) override;
    void sessionClosed() override;
    void deviceChanged(const DeviceChange& change) override;
    void tableChanged(const DeviceSlot* table, int size) override;

    // Single stores from callers' threads, read by the loop and by reads.
    std::atomic<DeviceStatusChangedHandler> statusHandler{nullptr};
    std::atomic<int32_t> trackingMode{1};
    std::atomic<double> framePeriodMs{1000.0 / 120.0};
    std::atomic<int64_t> lastFrameNs{0}; // the end of the previous read's wait
    std::mutex driverMutex;              // serialises this driver's reads
    frameClock clock;
    int64_t startNs = 0; // the monotonic clock at construction: the stamps' origin
    poseReader reader{kLegacyLabels};
    // Last: its loop, which delivers to the members above, ends first when the driver goes.
    devFinder finder{kLegacyScope, *this};
};

} // namespace ViveSystem
