#include "frame_source.h"

#include "pacing.h"
#include "session.h"

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
    std::memset(known, 0, sizeof known);
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

int32_t frameSource::read(tavrin_frame* frame)
{
    if (periodMs > 0.0)
        waitForFrame(clock, periodMs, lastFrameNs);
    frame->reserved = 0;
    const bool read = sessionOwner::instance().useSession(finder.vrSystem, nullptr, [&](vr::IVRSystem* system) {
        vr::TrackedDevicePose_t raw[kSourceDevices];
        std::memset(raw, 0, sizeof raw); // a runtime serving fewer indices leaves the rest empty
        system->GetDeviceToAbsoluteTrackingPose(vr::TrackingUniverseStanding, 0.0f, raw, kSourceDevices);
        frame->time_ns = platform::steadyNanoseconds();
        frame->unix_time_ns = platform::wallNanoseconds();
        std::lock_guard<std::mutex> lock(knownMutex);
        frame->device_count = fillFrameDevices(system, raw, known, frame->devices);
    });
    if (read) {
        frame->frame_number = frames.fetch_add(1, std::memory_order_relaxed) + 1;
        return DeviceError_None;
    }
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
    {
        std::lock_guard<std::mutex> lock(knownMutex);
        for (KnownDevice& k : known)
            k.state = KnownDevice::Unknown;
    }
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

// Discovery's table is what the source knows; an index it does not hold is looked at again by the
// next read that finds it connected, unless a read found it holds no device of ours.
void frameSource::tableChanged(const DeviceSlot* table, int size)
{
    std::lock_guard<std::mutex> lock(knownMutex);
    for (int i = 0; i < size && i < kSourceDevices; ++i) {
        KnownDevice& k = known[i];
        if (!isEmpty(table[i])) {
            k.state = KnownDevice::Device;
            k.deviceClass = table[i].deviceClass;
            std::memcpy(k.serial, table[i].serial, sizeof k.serial);
        } else if (k.state == KnownDevice::Device) {
            k.state = KnownDevice::Unknown;
        }
    }
}

} // namespace ViveSystem
