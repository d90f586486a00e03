// Poses composed as data: a chain of links, each a pure transform of a device's placement, pushed
// in order and resolved by one function. A frame source's chain is the device's offset (the point
// it stands for, in its own frame), then the user's space: its origin and heading, its axes and
// its units.
#pragma once

#include "placement.h"

#include <cstdint>

namespace ViveSystem {

struct PoseLink {
    enum Kind : uint8_t {
        Body,  // the point a device stands for: p + R t, R R_off, v + w x (R t), w
        Frame, // a frame at origin o, rotated by F: F^T (p - o), F^T R, F^T v, F^T w
        Axes,  // axes M (a signed permutation): M p, M R M^T, M v, det(M) M w
        Scale, // units: s p, R, s v, w
    };
    Kind kind;
    float vector[3];     // Body: t; Frame: o
    float matrix[3][3];  // Body: R_off; Frame: F; Axes: M
    float scale;         // Scale: s; Axes: det(M)
};

// Unit quaternion w x y z to its rotation matrix.
void quaternionToMatrix(const float (&q)[4], float (&m)[3][3]);
// Scales a quaternion to length 1; false (unchanged) for one of no length or not finite.
bool normaliseQuaternion(float (&q)[4]);

PoseLink bodyLink(const float (&t)[3], const float (&q)[4]);
PoseLink frameLink(const float (&origin)[3], const float (&q)[4]);
// The axes of a tavrin_axes value (0..3); identity for any other.
PoseLink axesLink(int32_t axes);
PoseLink scaleLink(float unitsPerMetre);
// The link that undoes a Frame, Axes or Scale link (a Body link comes back as it is).
PoseLink inverse(const PoseLink& link);

class PoseChain {
public:
    static constexpr int kMaxLinks = 4;
    // False when the chain is full.
    bool push(const PoseLink& link);
    bool empty() const { return size == 0; }
    // Applies the links in the order they were pushed.
    void resolve(Placement& p) const;

private:
    PoseLink links[kMaxLinks];
    int size = 0;
};

} // namespace ViveSystem
