// The frame source's C functions. Nothing throws across them: a failed allocation gives NULL, a
// thread that cannot start DeviceError_Unknown.
#include "../driver/frame_source.h"

#include "../platform/platform.h"

#include <tavrin.h>

#include <new>

using ViveSystem::frameSource;

struct tavrin_source {
    explicit tavrin_source(double rateHz) : source(rateHz) {}
    frameSource source;
};

extern "C" {

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
    return source->source.nextEvent(event, timeout_ms);
}

} // extern "C"
