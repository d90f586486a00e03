#include "one_euro.h"

#include "../pose/quaternion.h"
#include "../pose/pose_chain.h"

#include <cmath>

namespace ViveSystem {

namespace {

constexpr double kPi = 3.14159265358979323846;
// A rotation's speed counts as the speed of a point 0.1 m from its axis: about where a tracker's
// mounting puts its noise.
constexpr double kLeverMetres = 0.1;

// The smoothing factor of a first-order low-pass at a cutoff, for a step.
double alpha(double cutoffHz, double dt)
{
    if (!(cutoffHz > 0.0))
        return 0.0;
    const double tau = 1.0 / (2.0 * kPi * cutoffHz);
    return 1.0 / (1.0 + tau / dt);
}

double length3(const double (&v)[3])
{
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

void quaternionOf(const float (&r)[3][3], double (&q)[4])
{
    float w[4];
    writeQuaternion(r, w);
    const double n = std::sqrt(double{w[0]} * w[0] + double{w[1]} * w[1] + double{w[2]} * w[2] + double{w[3]} * w[3]);
    for (int i = 0; i < 4; ++i)
        q[i] = n > 0 ? w[i] / n : (i == 0 ? 1.0 : 0.0);
}

// The rotation vector (axis x angle) that turns a onto b, both of length 1.
void turn(const double (&a)[4], const double (&b)[4], double (&v)[3])
{
    // b a*: w = a.b, vector = a_w b_v - b_w a_v + a_v x b_v
    const double w = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
    const double x = a[0] * b[1] - b[0] * a[1] + (a[2] * b[3] - a[3] * b[2]);
    const double y = a[0] * b[2] - b[0] * a[2] + (a[3] * b[1] - a[1] * b[3]);
    const double z = a[0] * b[3] - b[0] * a[3] + (a[1] * b[2] - a[2] * b[1]);
    const double s = std::sqrt(x * x + y * y + z * z);
    const double angle = 2.0 * std::atan2(s, std::abs(w));
    const double k = s > 1e-12 ? (w < 0 ? -angle : angle) / s : 2.0;
    v[0] = x * k;
    v[1] = y * k;
    v[2] = z * k;
}

// A step `t` of the way from a to b along the shorter arc (normalised-linear: the steps are small).
void towards(double (&a)[4], const double (&b)[4], double t)
{
    const double dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
    const double sign = dot < 0 ? -1.0 : 1.0;
    double n = 0;
    for (int i = 0; i < 4; ++i) {
        a[i] += t * (sign * b[i] - a[i]);
        n += a[i] * a[i];
    }
    n = std::sqrt(n);
    for (double& c : a)
        c /= n;
}

void prime(OneEuroState& s, const Placement& p)
{
    for (int i = 0; i < 3; ++i) {
        s.position[i] = p.position[i];
        s.velocity[i] = 0.0;
        s.reported[i] = p.velocity[i];
        s.spin[i] = 0.0;
        s.angular[i] = p.angularVelocity[i];
    }
    quaternionOf(p.rotation, s.orientation);
    s.primed = true;
}

} // namespace

void oneEuro(const FilterParams& f, OneEuroState& s, double dt, Placement& p)
{
    if (!f.on())
        return;
    if (!s.primed || !(dt > 0.0) || !std::isfinite(dt)) {
        prime(s, p);
        return;
    }
    const double ad = alpha(f.derivativeCutoffHz, dt);
    // Position: the rate low-passed, its length raising the cutoff.
    for (int i = 0; i < 3; ++i)
        s.velocity[i] += ad * ((p.position[i] - s.position[i]) / dt - s.velocity[i]);
    const double ap = alpha(f.minCutoffHz + f.beta * length3(s.velocity), dt);
    for (int i = 0; i < 3; ++i) {
        s.position[i] += ap * (p.position[i] - s.position[i]);
        s.reported[i] += ap * (p.velocity[i] - s.reported[i]);
        p.position[i] = static_cast<float>(s.position[i]);
        p.velocity[i] = static_cast<float>(s.reported[i]);
    }
    // Orientation: the same on the sphere, its angular rate on a lever.
    double q[4], rate[3];
    quaternionOf(p.rotation, q);
    turn(s.orientation, q, rate);
    for (int i = 0; i < 3; ++i)
        s.spin[i] += ad * (rate[i] / dt - s.spin[i]);
    const double ar = alpha(f.minCutoffHz + f.beta * kLeverMetres * length3(s.spin), dt);
    towards(s.orientation, q, ar);
    for (int i = 0; i < 3; ++i) {
        s.angular[i] += ar * (p.angularVelocity[i] - s.angular[i]);
        p.angularVelocity[i] = static_cast<float>(s.angular[i]);
    }
    const float fq[4] = {static_cast<float>(s.orientation[0]), static_cast<float>(s.orientation[1]),
                         static_cast<float>(s.orientation[2]), static_cast<float>(s.orientation[3])};
    quaternionToMatrix(fq, p.rotation);
}

} // namespace ViveSystem
