// The frame source's C functions. Nothing throws across them: a failed allocation gives NULL, a
// thread that cannot start DeviceError_Unknown.
#include "../source/frame_source.h"

#include "../platform/platform.h"
#include "../recording/event_kinds.h"

#include <tavrin.h>

#include <atomic>
#include <thread>

using ViveSystem::frameSource;

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
    return recording::eventKindName(kind);
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
    source->source.close();
    while (source->waiting.load(std::memory_order_acquire) > 0)
        std::this_thread::yield(); // each is woken by the close and leaves at once
    delete source;
}

TAVRIN_API int32_t tavrin_source_start(tavrin_source* source)
{
    if (source == nullptr)
        return ViveSystem::DeviceError_InvalidArgument;
    return source->source.start();
}

TAVRIN_API void tavrin_source_stop(tavrin_source* source)
{
    if (source != nullptr)
        source->source.stop();
}

TAVRIN_API int32_t tavrin_source_read(tavrin_source* source, tavrin_frame* frame)
{
    if (source == nullptr || frame == nullptr)
        return ViveSystem::DeviceError_InvalidArgument;
    return source->source.read(frame);
}

TAVRIN_API int32_t tavrin_source_next_event(tavrin_source* source, tavrin_event* event, int32_t timeout_ms)
{
    if (source == nullptr || event == nullptr)
        return -1;
    source->waiting.fetch_add(1, std::memory_order_acq_rel);
    const int32_t got = source->source.nextEvent(event, timeout_ms);
    source->waiting.fetch_sub(1, std::memory_order_acq_rel);
    return got;
}

} // extern "C"
