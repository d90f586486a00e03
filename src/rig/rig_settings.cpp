#include "rig_settings.h"

#include "roles.h"

#include "../pose/quaternion.h"

#include <cmath>
#include <cstring>

namespace ViveSystem {

namespace {
bool finite(const float* v, int n)
{
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(v[i]))
            return false;
    return true;
}
} // namespace

bool checkSpace(UserSpace& s)
{
    if (!finite(s.position, 3) || !finite(s.orientation, 4) || !std::isfinite(s.unitsPerMetre))
        return false;
    if (s.axes < 0 || s.axes > 3 || !(s.unitsPerMetre > 0))
        return false;
    return normaliseQuaternion(s.orientation);
}

bool checkOffset(DeviceOffset& o)
{
    return finite(o.position, 3) && finite(o.orientation, 4) && normaliseQuaternion(o.orientation);
}

bool checkFilter(const FilterParams& f)
{
    for (float v : {f.minCutoffHz, f.beta, f.derivativeCutoffHz})
        if (!std::isfinite(v) || v < 0.0f)
            return false;
    return true;
}

bool validSerial(const char* serial)
{
    if (serial == nullptr || serial[0] == '\0')
        return false;
    for (int n = 1; n < 64; ++n) // at most 63 characters
        if (serial[n] == '\0')
            return true;
    return false;
}

void RigSettings::assignRole(const std::string& serial, int32_t role)
{
    if (role != kRoleProp && role != kRoleNone) {
        for (auto it = roles.begin(); it != roles.end();) {
            if (it->second == role && it->first != serial)
                it = roles.erase(it);
            else
                ++it;
        }
    }
    if (role == kRoleNone)
        roles.erase(serial);
    else
        roles[serial] = role;
}

uint32_t RigSettings::claimed() const
{
    uint32_t bits = 0;
    for (const auto& [serial, role] : roles)
        bits |= roleBit(role);
    return bits;
}

} // namespace ViveSystem
