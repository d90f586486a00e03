#include "roles.h"

#include <cstring>

namespace ViveSystem {

namespace {
const char* const kNames[kRoles] = {"none",      "head",       "left_hand",   "right_hand", "waist",      "chest",
                                    "left_foot", "right_foot", "left_knee",   "right_knee", "left_elbow", "right_elbow",
                                    "left_shoulder", "right_shoulder", "camera", "prop"};
} // namespace

const char* roleName(int32_t role)
{
    return validRole(role) ? kNames[role] : nullptr;
}

int32_t roleFromName(const char* name)
{
    if (name == nullptr)
        return -1;
    for (int32_t role = 0; role < kRoles; ++role)
        if (std::strcmp(name, kNames[role]) == 0)
            return role;
    return -1;
}

int32_t defaultRole(int32_t deviceClass, int32_t hand)
{
    if (deviceClass == 1)
        return kRoleHead;
    if (deviceClass == 2 && hand == 1)
        return kRoleLeftHand;
    if (deviceClass == 2 && hand == 2)
        return kRoleRightHand;
    return kRoleNone;
}

void resolveRoles(const int32_t* assigned, const int32_t* defaults, int n, uint32_t claimed, uint8_t* out)
{
    uint32_t held = 0;
    for (int i = 0; i < n; ++i) {
        if (assigned[i] != kRoleNone) {
            out[i] = static_cast<uint8_t>(assigned[i]);
            continue;
        }
        const int32_t d = defaults[i];
        const bool free = d != kRoleNone && ((claimed | held) & roleBit(d)) == 0;
        out[i] = static_cast<uint8_t>(free ? d : kRoleNone);
        if (free)
            held |= roleBit(d);
    }
}

} // namespace ViveSystem
