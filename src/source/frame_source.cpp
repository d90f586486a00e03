#include "frame_source.h"

#include "../platform/platform.h"

#include <openvr.h>

#include <cmath>
#include <cstring>

namespace ViveSystem {

bool frameSource::validRate(double rateHz)
{
    return std::isfinite(rateHz) && (rateHz == 0.0 || (rateHz >= kMinRate && rateHz <= kMaxRate));
}

frameSource::frameSource(double rateHz)
    : periodMs(rateHz > 0.0 ? 1000.0 / rateHz : 0.0), lastFrameNs(platform::steadyNanoseconds())
{
}

frameSource::~frameSource() = default;

int32_t frameSource::start()
{
    try {
        finder.start();
        return DeviceError_None;
    } catch (...) {
        return DeviceError_Unknown;
    }
}

void frameSource::stop()
{
    try {
        finder.stop();
    } catch (...) {
        // A failed join leaves nothing else to do: the loop has been asked to end.
    }
    finder.forgetDevices();
}

void frameSource::close()
{
    stop();
    events.close();
}

// The margin is only learnt from the adaptive wait's own sleeps; a copy serves the wait, so that no
// lock is held while it sleeps.
void frameSource::wait()
{
    const int32_t spinUs = spin.load(std::memory_order_relaxed);
    spinMargin learnt;
    {
        std::lock_guard<std::mutex> lock(marginMutex);
        learnt = margin;
    }
    waitForFrameAdaptive(clock, periodMs, lastFrameNs, spinUs, learnt);
    if (spinUs < 0) {
        std::lock_guard<std::mutex> lock(marginMutex);
        margin = learnt;
    }
}

int32_t frameSource::read(tavrin_frame* frame)
{
    if (periodMs > 0.0)
        wait();
    frame->reserved = 0;
    const bool read = reader.read(finder.session(), nullptr, kSourceDevices, [&](const poseFrame& poses) {
        frame->time_ns = poses.timeNs;
        frame->unix_time_ns = platform::wallNanoseconds();
        frame->device_count = settings.fill(poses, frame->devices);
    });
    if (read) {
        frame->frame_number = frames.fetch_add(1, std::memory_order_relaxed) + 1;
        return DeviceError_None;
    }
    settings.forgetSeen();
    frame->frame_number = 0;
    frame->time_ns = platform::steadyNanoseconds();
    frame->unix_time_ns = platform::wallNanoseconds();
    frame->device_count = 0;
    return DeviceError_NoSession;
}

void frameSource::queue(int32_t kind, const DeviceChange* change, uint32_t count)
{
    tavrin_event e;
    std::memset(&e, 0, sizeof e);
    e.kind = kind;
    e.device_count = count;
    if (change != nullptr) {
        e.device_class = change->deviceClass;
        e.index = static_cast<uint32_t>(change->index);
        e.old_index = static_cast<uint32_t>(change->oldIndex);
        e.time_ns = change->seenNs;
        std::memcpy(e.serial, change->serial, sizeof e.serial);
    } else {
        e.time_ns = platform::steadyNanoseconds();
    }
    events.push(e);
}

// A new session may number its devices afresh: what reads learnt of the old one is forgotten.
void frameSource::sessionOpened(int32_t countBefore)
{
    reader.forget();
    queue(TAVRIN_EVENT_SESSION_OPENED, nullptr, static_cast<uint32_t>(countBefore));
}

void frameSource::sessionClosed()
{
    queue(TAVRIN_EVENT_SESSION_CLOSED, nullptr, 0);
}

void frameSource::deviceChanged(const DeviceChange& change)
{
    const uint32_t count = static_cast<uint32_t>(change.known);
    switch (change.kind) {
    case ChangeKind::Arrived:
        queue(TAVRIN_EVENT_DEVICE_ARRIVED, &change, count);
        if (!change.connected)
            queue(TAVRIN_EVENT_DEVICE_SWITCHED_OFF, &change, count);
        break;
    case ChangeKind::Left:
        queue(TAVRIN_EVENT_DEVICE_LEFT, &change, count);
        break;
    case ChangeKind::SwitchedOn:
        queue(TAVRIN_EVENT_DEVICE_SWITCHED_ON, &change, count);
        break;
    case ChangeKind::SwitchedOff:
        queue(TAVRIN_EVENT_DEVICE_SWITCHED_OFF, &change, count);
        break;
    case ChangeKind::IndexChanged:
        queue(TAVRIN_EVENT_INDEX_CHANGED, &change, count);
        break;
    }
}

void frameSource::tableChanged(const DeviceSlot* table, int size)
{
    reader.noteTable(table, size);
}

} // namespace ViveSystem
