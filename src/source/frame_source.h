// The frame source: a discovery loop over every index OpenVR serves (0..63, base stations
// included) whose findings become events in a queue, and a paced read of all 64 poses in one
// runtime call, each labelled from what discovery (or an earlier read) learnt of its index.
#pragma once

#include "../discovery/dev_finder.h"
#include "../discovery/event_queue.h"
#include "../reading/adaptive_wait.h"
#include "../reading/frame_clock.h"
#include "../reading/pose_reader.h"
#include "source_rig.h"

#include <tavrin.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace ViveSystem {

class frameSource final : private discoverySink {
public:
    // The highest rate a source is paced at; beyond it the wait is no longer what paces it.
    static constexpr double kMaxRate = 100000.0;
    // The lowest: a period of 1000 s. Slower rates would only overflow the clock's arithmetic.
    static constexpr double kMinRate = 0.001;
    static bool validRate(double rateHz);

    explicit frameSource(double rateHz);
    ~frameSource();
    frameSource(const frameSource&) = delete;
    frameSource& operator=(const frameSource&) = delete;

    // DeviceError_None, or DeviceError_Unknown when the discovery thread cannot start.
    int32_t start();
    // Joins the loop, leaves the session and forgets the devices; queues nothing.
    void stop();
    // The paced read (see tavrin_source_read). One reading thread.
    int32_t read(tavrin_frame* frame);
    int32_t nextEvent(tavrin_event* event, int32_t timeoutMs) { return events.pop(event, timeoutMs); }
    // Before destruction: stops, and wakes every thread waiting for an event (which then returns).
    void close();
    // How a paced read's wait ends (see tavrin_source_set_spin_us); any thread.
    void setSpin(int32_t spinUs) { spin.store(spinUs, std::memory_order_relaxed); }
    // The roles, offsets and space of the source's records.
    sourceRig& rig() { return settings; }
    const sourceRig& rig() const { return settings; }

private:
    // Discovery's findings, on the discovery thread.
    void sessionOpened(int32_t countBefore) override;
    void sessionClosed() override;
    void deviceChanged(const DeviceChange& change) override;
    void tableChanged(const DeviceSlot* table, int size) override;
    void queue(int32_t kind, const DeviceChange* change, uint32_t count);

    void wait();

    const double periodMs; // 0: unpaced
    frameClock clock;
    std::atomic<int64_t> lastFrameNs;
    std::atomic<int32_t> spin{kAdaptiveSpin};
    std::mutex marginMutex; // the margin is the reading thread's; a second reader must not tear it
    spinMargin margin;
    std::atomic<uint64_t> frames{0};
    eventQueue events;
    sourceRig settings;
    poseReader reader{kSourceLabels};
    // Last: its loop, which delivers to the members above, ends first when the source goes.
    devFinder finder{kSourceScope, *this};
};

} // namespace ViveSystem
