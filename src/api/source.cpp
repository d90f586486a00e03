// The frame source's C functions. Nothing throws across them: a failed allocation gives NULL, a
// thread that cannot start DeviceError_Unknown.
#include "../source/frame_source.h"

#include "../platform/platform.h"
#include "../names/names.h"

#include <tavrin.h>

#include <atomic>
#include <thread>

using ViveSystem::frameSource;

namespace {

constexpr int32_t kInvalid = ViveSystem::DeviceError_InvalidArgument;

// The C functions' one way of failing: what the system cannot do (memory, a lock) is
// DeviceError_Unknown, never an exception across the boundary.
template <class Call>
int32_t guarded(Call&& call)
{
    try {
        return call();
    } catch (...) {
        return ViveSystem::DeviceError_Unknown;
    }
}

// The frame sizes a caller's header may give: this header's. A later layout grows at the end
// and keeps accepting this one.
bool knownFrameSize(uint32_t size)
{
    return size == sizeof(tavrin_frame);
}

} // namespace

struct tavrin_source {
    explicit tavrin_source(double rateHz) : source(rateHz) {}
    frameSource source;
    // Threads inside tavrin_source_next_event: a destruction wakes them and waits for them to
    // leave before the memory goes.
    std::atomic<int> waiting{0};
};

extern "C" {

TAVRIN_API const char* tavrin_event_kind_name(int32_t kind)
{
    return names::eventKindName(kind);
}

TAVRIN_API int64_t tavrin_now_ns(void)
{
    return ViveSystem::platform::steadyNanoseconds();
}

TAVRIN_API tavrin_source* tavrin_source_create(double rate_hz)
{
    if (!frameSource::validRate(rate_hz))
        return nullptr;
    try {
        return new tavrin_source(rate_hz);
    } catch (...) {
        return nullptr;
    }
}

TAVRIN_API void tavrin_source_destroy(tavrin_source* source)
{
    if (source == nullptr)
        return;
    guarded([&] {
        source->source.close();
        return 0;
    });
    while (source->waiting.load(std::memory_order_acquire) > 0)
        std::this_thread::yield(); // each is woken by the close and leaves at once
    delete source;
}

TAVRIN_API int32_t tavrin_source_start(tavrin_source* source)
{
    return source ? guarded([&] { return source->source.start(); }) : kInvalid;
}

TAVRIN_API void tavrin_source_stop(tavrin_source* source)
{
    if (source != nullptr)
        guarded([&] {
            source->source.stop();
            return 0;
        });
}

TAVRIN_API int32_t tavrin_source_read(tavrin_source* source, tavrin_frame* frame, uint32_t frame_size)
{
    if (source == nullptr || frame == nullptr || !knownFrameSize(frame_size))
        return kInvalid;
    return guarded([&] { return source->source.read(frame); });
}

TAVRIN_API int32_t tavrin_source_read_at(tavrin_source* source, int64_t instant_ns, tavrin_frame* frame,
                                         uint32_t frame_size)
{
    if (source == nullptr || frame == nullptr || !knownFrameSize(frame_size))
        return kInvalid;
    return guarded([&] { return source->source.readAt(instant_ns, frame); });
}

TAVRIN_API int32_t tavrin_source_next_event(tavrin_source* source, tavrin_event* event, int32_t timeout_ms)
{
    if (source == nullptr || event == nullptr)
        return -1;
    source->waiting.fetch_add(1, std::memory_order_acq_rel);
    int32_t got = guarded([&] { return source->source.nextEvent(event, timeout_ms); });
    if (got == ViveSystem::DeviceError_Unknown)
        got = -1;
    source->waiting.fetch_sub(1, std::memory_order_acq_rel);
    return got;
}

TAVRIN_API int32_t tavrin_source_set_spin_us(tavrin_source* source, int32_t spin_us)
{
    if (source == nullptr || spin_us < -1)
        return kInvalid;
    source->source.setSpin(spin_us);
    return ViveSystem::DeviceError_None;
}

TAVRIN_API const char* tavrin_role_name(int32_t role)
{
    return names::roleName(role);
}

TAVRIN_API int32_t tavrin_role_from_name(const char* name)
{
    return names::roleFromName(name);
}

TAVRIN_API int32_t tavrin_source_set_role(tavrin_source* source, const char* serial, int32_t role)
{
    return source ? guarded([&] { return source->source.rig().setRole(serial, role); }) : kInvalid;
}

TAVRIN_API int32_t tavrin_source_set_space(tavrin_source* source, const tavrin_space* space)
{
    return source ? guarded([&] { return source->source.rig().setSpace(space); }) : kInvalid;
}

TAVRIN_API int32_t tavrin_source_get_space(const tavrin_source* source, tavrin_space* out)
{
    if (source == nullptr || out == nullptr)
        return kInvalid;
    return guarded([&] {
        source->source.rig().getSpace(*out);
        return ViveSystem::DeviceError_None;
    });
}

TAVRIN_API void tavrin_filter_default(tavrin_filter* out)
{
    if (out == nullptr)
        return;
    out->min_cutoff_hz = ViveSystem::kDefaultFilter.minCutoffHz;
    out->beta = ViveSystem::kDefaultFilter.beta;
    out->derivative_cutoff_hz = ViveSystem::kDefaultFilter.derivativeCutoffHz;
}

TAVRIN_API int32_t tavrin_source_set_filter(tavrin_source* source, const char* serial, const tavrin_filter* filter)
{
    return source ? guarded([&] { return source->source.rig().setFilter(serial, filter); }) : kInvalid;
}

TAVRIN_API int32_t tavrin_source_get_filter(const tavrin_source* source, const char* serial, tavrin_filter* out)
{
    if (source == nullptr || out == nullptr)
        return kInvalid;
    return guarded([&] { return source->source.rig().getFilter(serial, *out); });
}

TAVRIN_API int32_t tavrin_source_assign_roles(tavrin_source* source)
{
    if (source == nullptr)
        return -1;
    try {
        return source->source.rig().assignRoles();
    } catch (...) {
        return -1;
    }
}

TAVRIN_API int32_t tavrin_space_convert(const tavrin_space* from, const tavrin_space* to, tavrin_device* device)
{
    return guarded([&] { return ViveSystem::convertRecord(from, to, device); });
}

TAVRIN_API int32_t tavrin_source_set_origin_from_device(tavrin_source* source, const char* serial)
{
    return source ? guarded([&] { return source->source.rig().setOriginFrom(serial); }) : kInvalid;
}

TAVRIN_API int32_t tavrin_source_set_offset(tavrin_source* source, const char* serial, const float position[3],
                                            const float orientation[4])
{
    return source ? guarded([&] { return source->source.rig().setOffset(serial, position, orientation); }) : kInvalid;
}

TAVRIN_API int32_t tavrin_source_save_rig(tavrin_source* source, const char* path)
{
    return source ? guarded([&] { return source->source.rig().save(path); }) : kInvalid;
}

TAVRIN_API int32_t tavrin_source_load_rig(tavrin_source* source, const char* path)
{
    return source ? guarded([&] { return source->source.rig().load(path); }) : kInvalid;
}

TAVRIN_API const char* tavrin_source_rig_error(const tavrin_source* source)
{
    return source ? source->source.rig().error() : "";
}

} // extern "C"
