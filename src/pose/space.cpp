#include "space.h"

#include "quaternion.h"

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
    // Between spaces of one origin, heading and unit only the axes move: no scaling, so the values
    // come out exact.
    const bool scaled = !oneFrame || from.unitsPerMetre != to.unitsPerMetre;
    PoseChain back, forth;
    if (scaled && from.unitsPerMetre != 1)
        back.push(inverse(scaleLink(from.unitsPerMetre)));
    const PoseLink fromAxes = axesLink(from.axes), toAxes = axesLink(to.axes);
    back.push(inverse(fromAxes));
    if (!oneFrame) {
        back.push(inverse(frameLink(from.position, from.orientation)));
        forth.push(frameLink(to.position, to.orientation));
    }
    forth.push(toAxes);
    if (scaled && to.unitsPerMetre != 1)
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

} // namespace ViveSystem
