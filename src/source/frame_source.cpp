#include "frame_source.h"

#include "../platform/platform.h"

#include <openvr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ViveSystem {

bool frameSource::validRate(double rateHz)
{
    return std::isfinite(rateHz) && (rateHz == 0.0 || (rateHz >= kMinRate && rateHz <= kMaxRate));
}

frameSource::frameSource(double rate) : rateHz(rate) {}

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

void frameSource::waitUntil(int64_t deadlineNs)
{
    waitUntilDeadline(clock, deadlineNs, spin.load(std::memory_order_relaxed), &margin);
}

bool frameSource::query(int64_t instantNs, tavrin_frame* frame, bool filtered)
{
    frame->reserved = 0;
    sampleFrame poses;
    if (reader.read(finder.session(), nullptr, kSourceDevices, instantNs, poses)) {
        frame->time_ns = poses.instantNs;
        frame->query_time_ns = poses.queryNs;
        // The instant on the wall clock: the wall clock now, less how long ago the instant was.
        const int64_t steady = platform::steadyNanoseconds();
        frame->unix_time_ns = platform::wallNanoseconds() - (steady - poses.instantNs);
        frame->device_count = settings.fill(poses, frame->devices, filtered);
        return true;
    }
    settings.forgetSeen();
    frame->frame_number = 0;
    frame->query_time_ns = platform::steadyNanoseconds();
    if (instantNs == kQueryInstant)
        instantNs = frame->query_time_ns;
    frame->time_ns = instantNs;
    frame->unix_time_ns = platform::wallNanoseconds() - (frame->query_time_ns - instantNs);
    frame->device_count = 0;
    return false;
}

int32_t frameSource::read(tavrin_frame* frame)
{
    std::lock_guard<std::mutex> lock(readMutex);
    if (rateHz == 0.0) { // each read is for now
        if (!query(kQueryInstant, frame, true))
            return DeviceError_NoSession;
        frame->frame_number = ++unpacedNumber;
        return DeviceError_None;
    }
    if (!grid.started()) {
        // No grid before the first read with a session, which starts it at once; attempts without
        // one are a period apart, or a reach at the most, so that a slow rate's first frame still
        // comes soon after the session opens.
        const int64_t period = std::min(static_cast<int64_t>(1e9 / rateHz), kReachNs);
        if (lastAttemptNs != 0)
            waitUntil(lastAttemptNs + period);
        lastAttemptNs = platform::steadyNanoseconds();
        if (!query(kQueryInstant, frame, true))
            return DeviceError_NoSession;
        grid.start(frame->time_ns, rateHz, 1);
        frame->frame_number = grid.number(0);
        return DeviceError_None;
    }
    const uint64_t k = grid.next(platform::steadyNanoseconds(), kReachNs);
    const int64_t instant = grid.instant(k);
    waitUntil(instant);
    grid.take(k); // without a session too: the grid goes on
    if (!query(instant, frame, true))
        return DeviceError_NoSession;
    frame->frame_number = grid.number(k);
    return DeviceError_None;
}

int32_t frameSource::readAt(int64_t instantNs, tavrin_frame* frame)
{
    const int64_t now = platform::steadyNanoseconds();
    if (instantNs < now - kReachNs || instantNs > now + kReachNs)
        return DeviceError_InvalidArgument;
    const bool read = query(instantNs, frame, false);
    frame->frame_number = 0;
    return read ? DeviceError_None : DeviceError_NoSession;
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
