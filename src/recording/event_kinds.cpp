#include "event_kinds.h"

#include <tavrin.h>

namespace recording {

namespace {
const char* const kNames[] = {"session_opened",     "session_closed",      "device_arrived", "device_left",
                              "device_switched_on", "device_switched_off", "index_changed"};
static_assert(TAVRIN_EVENT_SESSION_OPENED == 1 && TAVRIN_EVENT_INDEX_CHANGED == 7, "kinds 1..7 in table order");
} // namespace

const char* eventKindName(int32_t kind)
{
    if (kind < TAVRIN_EVENT_SESSION_OPENED || kind > TAVRIN_EVENT_INDEX_CHANGED)
        return nullptr;
    return kNames[kind - TAVRIN_EVENT_SESSION_OPENED];
}

int32_t eventKindFromName(const std::string& name)
{
    for (int32_t kind = TAVRIN_EVENT_SESSION_OPENED; kind <= TAVRIN_EVENT_INDEX_CHANGED; ++kind)
        if (name == eventKindName(kind))
            return kind;
    return 0;
}

} // namespace recording
