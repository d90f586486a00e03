#include "names.h"

#include <cstring>

#include <tavrin.h>

namespace names {

namespace {
const char* const kNames[] = {"session_opened",     "session_closed",      "device_arrived", "device_left",
                              "device_switched_on", "device_switched_off", "index_changed"};
static_assert(TAVRIN_EVENT_SESSION_OPENED == 1 && TAVRIN_EVENT_INDEX_CHANGED == 7, "kinds 1..7 in table order");

const char* const kRoles[] = {"none",       "head",       "left_hand",     "right_hand",     "waist",  "chest",
                              "left_foot",  "right_foot", "left_knee",     "right_knee",     "left_elbow",
                              "right_elbow", "left_shoulder", "right_shoulder", "camera", "prop"};
static_assert(sizeof kRoles / sizeof kRoles[0] == TAVRIN_ROLE_PROP + 1, "a name for every role");
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

const char* roleName(int32_t role)
{
    return role >= TAVRIN_ROLE_NONE && role <= TAVRIN_ROLE_PROP ? kRoles[role] : nullptr;
}

namespace {
const char* const kAxes[] = {"openvr", "z_up", "unity", "unreal"};
} // namespace

const char* axesName(int32_t axes)
{
    return axes >= 0 && axes < 4 ? kAxes[axes] : kAxes[0];
}

int32_t axesFromName(const std::string& name)
{
    for (int32_t a = 0; a < 4; ++a)
        if (name == kAxes[a])
            return a;
    return -1;
}

int32_t roleFromName(const char* name)
{
    if (name == nullptr)
        return -1;
    for (int32_t role = TAVRIN_ROLE_NONE; role <= TAVRIN_ROLE_PROP; ++role)
        if (std::strcmp(name, kRoles[role]) == 0)
            return role;
    return -1;
}

} // namespace names
