// The frame source: a discovery loop over every index OpenVR serves (0..63, base stations
// included) whose findings become events in a queue, and a paced read of all 64 poses in one
// runtime call, each labelled from what discovery (or an earlier read) learnt of its index.
#pragma once

#include "../discovery/dev_finder.h"
#include "../discovery/event_queue.h"
#include "../reading/frame_clock.h"
#include "../reading/frame_grid.h"
#include "../reading/pacer.h"
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
    // How far from now the runtime answers for an instant.
    static constexpr int64_t kReachNs = TAVRIN_REACH_NS;
    static bool validRate(double rateHz);

    explicit frameSource(double rateHz);
    ~frameSource();
    frameSource(const frameSource&) = delete;
    frameSource& operator=(const frameSource&) = delete;

    // DeviceError_None, or DeviceError_Unknown when the discovery thread cannot start.
    int32_t start();
    // Joins the loop, leaves the session and forgets the devices; queues nothing.
    void stop();
    // The next frame of the grid (see tavrin_source_read). One reading thread.
    int32_t read(tavrin_frame* frame);
    // The poses at an instant within kReachNs of now, the grid untouched (see tavrin_source_read_at).
    int32_t readAt(int64_t instantNs, tavrin_frame* frame);
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

    // Waits until the deadline as the spin setting says.
    void waitUntil(int64_t deadlineNs);
    // One query for the instant (kQueryInstant: now) and the frame filled (`filtered`: a paced
    // read's, through each device's filter); false without a session.
    bool query(int64_t instantNs, tavrin_frame* frame, bool filtered);

    const double rateHz; // 0: each read is for now
    frameClock clock;
    std::atomic<int32_t> spin{0};
    // The reading thread's: the grid, the wait's margin and the latest attempt without a grid. A
    // second reader must not tear them.
    std::mutex readMutex;
    frameGrid grid;
    spinMargin margin;
    int64_t lastAttemptNs = 0;
    uint64_t unpacedNumber = 0;
    eventQueue events;
    sourceRig settings;
    poseReader reader{kSourceLabels};
    // Last: its loop, which delivers to the members above, ends first when the source goes.
    devFinder finder{kSourceScope, *this};
};

} // namespace ViveSystem
