#include "roles.h"


namespace ViveSystem {

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
