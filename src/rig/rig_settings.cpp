#include "rig_settings.h"

#include "roles.h"

#include "../pose/quaternion.h"

#include <cmath>
#include <cstring>

namespace ViveSystem {

UserSpace defaultSpace()
{
    return UserSpace{{0, 0, 0}, {1, 0, 0, 0}, 0, 1.0f};
}

bool isDefault(const UserSpace& s)
{
    return s.position[0] == 0 && s.position[1] == 0 && s.position[2] == 0 && s.orientation[0] == 1 &&
           s.orientation[1] == 0 && s.orientation[2] == 0 && s.orientation[3] == 0 && s.axes == 0 &&
           s.unitsPerMetre == 1;
}

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

bool validSerial(const char* serial)
{
    if (serial == nullptr || serial[0] == '\0')
        return false;
    for (int n = 1; n < 64; ++n) // at most 63 characters
        if (serial[n] == '\0')
            return true;
    return false;
}

void pushSpace(PoseChain& chain, const UserSpace& s)
{
    if (isDefault(s))
        return;
    chain.push(frameLink(s.position, s.orientation));
    if (s.axes != 0)
        chain.push(axesLink(s.axes));
    if (s.unitsPerMetre != 1)
        chain.push(scaleLink(s.unitsPerMetre));
}

void convertSpace(const UserSpace& from, const UserSpace& to, Placement& p, float (&orientation)[4])
{
    const bool oneFrame = std::memcmp(from.position, to.position, sizeof from.position) == 0 &&
                          std::memcmp(from.orientation, to.orientation, sizeof from.orientation) == 0;
    PoseChain back, forth;
    if (from.unitsPerMetre != 1)
        back.push(inverse(scaleLink(from.unitsPerMetre)));
    const PoseLink fromAxes = axesLink(from.axes), toAxes = axesLink(to.axes);
    back.push(inverse(fromAxes));
    if (!oneFrame) {
        back.push(inverse(frameLink(from.position, from.orientation)));
        forth.push(frameLink(to.position, to.orientation));
    }
    forth.push(toAxes);
    if (to.unitsPerMetre != 1)
        forth.push(scaleLink(to.unitsPerMetre));
    back.resolve(p);
    forth.resolve(p);
    if (!oneFrame) {
        writeQuaternion(p.rotation, orientation);
        return;
    }
    // A quaternion's vector part turns with the axes, and with a mirror changes its sense.
    float v[3], u[3];
    for (int i = 0; i < 3; ++i) // det(M_from) M_from^T v
        u[i] = fromAxes.scale * (fromAxes.matrix[0][i] * orientation[1] + fromAxes.matrix[1][i] * orientation[2] +
                                 fromAxes.matrix[2][i] * orientation[3]);
    for (int i = 0; i < 3; ++i) // det(M_to) M_to u
        v[i] = toAxes.scale * (toAxes.matrix[i][0] * u[0] + toAxes.matrix[i][1] * u[1] + toAxes.matrix[i][2] * u[2]);
    std::memcpy(orientation + 1, v, sizeof v);
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
