#include "pose_chain.h"

#include <cmath>
#include <cstring>

namespace ViveSystem {

namespace {

using Matrix = float[3][3];

void multiply(const Matrix& a, const Matrix& b, Matrix& out)
{
    Matrix r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
    std::memcpy(out, r, sizeof r);
}

// a^T b
void multiplyTransposed(const Matrix& a, const Matrix& b, Matrix& out)
{
    Matrix r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r[i][j] = a[0][i] * b[0][j] + a[1][i] * b[1][j] + a[2][i] * b[2][j];
    std::memcpy(out, r, sizeof r);
}

void apply(const Matrix& m, float (&v)[3])
{
    const float x = v[0], y = v[1], z = v[2];
    for (int i = 0; i < 3; ++i)
        v[i] = m[i][0] * x + m[i][1] * y + m[i][2] * z;
}

void applyTransposed(const Matrix& m, float (&v)[3])
{
    const float x = v[0], y = v[1], z = v[2];
    for (int i = 0; i < 3; ++i)
        v[i] = m[0][i] * x + m[1][i] * y + m[2][i] * z;
}

void body(const PoseLink& l, Placement& p)
{
    float r[3] = {l.vector[0], l.vector[1], l.vector[2]};
    apply(p.rotation, r); // R t
    const float* w = p.angularVelocity;
    const float wxr[3] = {w[1] * r[2] - w[2] * r[1], w[2] * r[0] - w[0] * r[2], w[0] * r[1] - w[1] * r[0]};
    for (int i = 0; i < 3; ++i) {
        p.position[i] += r[i];
        p.velocity[i] += wxr[i];
    }
    multiply(p.rotation, l.matrix, p.rotation);
}

void frame(const PoseLink& l, Placement& p)
{
    for (int i = 0; i < 3; ++i)
        p.position[i] -= l.vector[i];
    applyTransposed(l.matrix, p.position);
    multiplyTransposed(l.matrix, p.rotation, p.rotation);
    applyTransposed(l.matrix, p.velocity);
    applyTransposed(l.matrix, p.angularVelocity);
}

void axes(const PoseLink& l, Placement& p)
{
    apply(l.matrix, p.position);
    Matrix mr;
    multiply(l.matrix, p.rotation, mr);
    for (int i = 0; i < 3; ++i) // (M R) M^T
        for (int j = 0; j < 3; ++j)
            p.rotation[i][j] = mr[i][0] * l.matrix[j][0] + mr[i][1] * l.matrix[j][1] + mr[i][2] * l.matrix[j][2];
    apply(l.matrix, p.velocity);
    apply(l.matrix, p.angularVelocity);
    for (float& w : p.angularVelocity) // an axial vector: a mirror turns its sense
        w *= l.scale;
}

void scale(const PoseLink& l, Placement& p)
{
    for (int i = 0; i < 3; ++i) {
        p.position[i] *= l.scale;
        p.velocity[i] *= l.scale;
    }
}

} // namespace

void quaternionToMatrix(const float (&q)[4], float (&m)[3][3])
{
    const double w = q[0], x = q[1], y = q[2], z = q[3];
    const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
                            {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
                            {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            m[i][j] = static_cast<float>(r[i][j]);
}

bool normaliseQuaternion(float (&q)[4])
{
    const double length = std::sqrt(double{q[0]} * q[0] + double{q[1]} * q[1] + double{q[2]} * q[2] + double{q[3]} * q[3]);
    if (!std::isfinite(length) || !(length > 1e-12))
        return false;
    for (float& c : q)
        c = static_cast<float>(c / length);
    return true;
}

namespace {
PoseLink rigidLink(PoseLink::Kind kind, const float (&v)[3], const float (&q)[4])
{
    PoseLink l{};
    l.kind = kind;
    std::memcpy(l.vector, v, sizeof l.vector);
    quaternionToMatrix(q, l.matrix);
    return l;
}
} // namespace

PoseLink bodyLink(const float (&t)[3], const float (&q)[4])
{
    return rigidLink(PoseLink::Body, t, q);
}

PoseLink frameLink(const float (&origin)[3], const float (&q)[4])
{
    return rigidLink(PoseLink::Frame, origin, q);
}

PoseLink axesLink(int32_t axes)
{
    // Rows: each new coordinate from OpenVR's (x, y, z).
    static const float kAxes[4][3][3] = {
        {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},   // OpenVR: right-handed, +y up, -z forward
        {{0, 0, -1}, {-1, 0, 0}, {0, 1, 0}}, // z up: (-z, -x, y), right-handed, +x forward, +y left
        {{1, 0, 0}, {0, 1, 0}, {0, 0, -1}},  // Unity: (x, y, -z), left-handed, +z forward
        {{0, 0, -1}, {1, 0, 0}, {0, 1, 0}},  // Unreal: (-z, x, y), left-handed, +x forward, +y right
    };
    static const float kDeterminant[4] = {1, 1, -1, -1};
    const int32_t a = axes >= 0 && axes <= 3 ? axes : 0;
    PoseLink l{};
    l.kind = PoseLink::Axes;
    std::memcpy(l.matrix, kAxes[a], sizeof l.matrix);
    l.scale = kDeterminant[a];
    return l;
}

PoseLink scaleLink(float unitsPerMetre)
{
    PoseLink l{};
    l.kind = PoseLink::Scale;
    l.scale = unitsPerMetre;
    return l;
}

PoseLink inverse(const PoseLink& l)
{
    PoseLink r = l;
    switch (l.kind) {
    case PoseLink::Frame: // F^T (p - o) undone: F p + o, a frame at -F^T o rotated by F^T
        for (int i = 0; i < 3; ++i) {
            r.vector[i] = -(l.matrix[0][i] * l.vector[0] + l.matrix[1][i] * l.vector[1] + l.matrix[2][i] * l.vector[2]);
            for (int j = 0; j < 3; ++j)
                r.matrix[i][j] = l.matrix[j][i];
        }
        break;
    case PoseLink::Axes: // a signed permutation: its transpose, of the same determinant
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                r.matrix[i][j] = l.matrix[j][i];
        break;
    case PoseLink::Scale: r.scale = 1.0f / l.scale; break;
    case PoseLink::Body: break;
    }
    return r;
}

bool PoseChain::push(const PoseLink& link)
{
    if (size == kMaxLinks)
        return false;
    links[size++] = link;
    return true;
}

void PoseChain::resolve(Placement& p) const
{
    for (int i = 0; i < size; ++i) {
        switch (links[i].kind) {
        case PoseLink::Body: body(links[i], p); break;
        case PoseLink::Frame: frame(links[i], p); break;
        case PoseLink::Axes: axes(links[i], p); break;
        case PoseLink::Scale: scale(links[i], p); break;
        }
    }
}

} // namespace ViveSystem
