#include "vr_driver.h"

#include "legacy_records.h"
#include "status.h"

#include "../platform/platform.h"
#include "../reading/pacer.h"

namespace ViveSystem {

vrDriver::vrDriver()
{
    startNs = platform::steadyNanoseconds();
    lastFrameNs.store(startNs, std::memory_order_relaxed);
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
    const DeviceStatusChangedHandler h = statusHandler.load(std::memory_order_acquire);
    if (h == nullptr)
        return;
    try {
        h(count, event, arg);
    } catch (...) {
        // A handler's failure is its own; the loop goes on.
    }
}

void vrDriver::readPoses(_TrackedDevicePose* poses)
{
    waitForFrame(clock, framePeriodMs.load(std::memory_order_relaxed), lastFrameNs);
    sampleFrame frame;
    if (!reader.read(finder.session(), &driverMutex, kMaxDevices, kQueryInstant, frame)) {
        setLastError(DeviceError_NoSession);
        return;
    }
    // Milliseconds since construction on the monotonic clock (counted in 100-ns ticks): setting the
    // wall clock must not make a motion-capture stream jump.
    const float stamp = static_cast<float>(frame.timeNs / 100 - startNs / 100) / 10000.0f;
    fillPoseRecords(frame, stamp, poses);
}

void vrDriver::sessionOpened(int32_t countBefore)
{
    reader.forget(); // a new session may number its devices afresh
    relayEvent(countBefore, DeviceEvent_SessionOpened, makeEventArg("", 0, 0));
}

void vrDriver::sessionClosed()
{
    relayEvent(0, DeviceEvent_SessionClosed, makeEventArg("", 0, 0));
}

void vrDriver::deviceChanged(const DeviceChange& change)
{
    _DeviceEvent event;
    _DeviceEventArg arg;
    legacyEvent(change, event, arg);
    relayEvent(change.scanCount, event, arg);
}

void vrDriver::tableChanged(const DeviceSlot* table, int size)
{
    reader.noteTable(table, size);
}

} // namespace ViveSystem
