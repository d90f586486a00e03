// Figures the monitor derives from pose records and timings.
#pragma once

#include <tavrin.h>

#include <string>
#include <vector>

namespace monitor {

struct Euler {
    double yaw, pitch, roll; // degrees: about y (up), x (right), z (back), applied in that order
};

// From a quaternion stored w, x, y, z (OpenVR: y up, -z forward).
Euler yawPitchRoll(const float (&q)[4]);

double speed(const float (&v)[3]);

// p in 0..1 of sorted copies; 0 for no values.
double percentile(std::vector<double> values, double p);

// "headset", "controller", "tracker", "base station" (classes 1..4), else "other".
const char* className(int deviceClass);
// The same in four letters at most: "hmd", "ctl", "trk", "base".
const char* shortClassName(int deviceClass);

// How a space's axes name the floor seen from its up axis: its right, its forward and its up
// ("x", "\u2212z", "y" for OpenVR's).
struct ViewNames {
    const char *right, *forward, *up;
};
ViewNames viewNames(int32_t axes);
// A space's unit: "m", "cm", "mm", or "units, N a metre".
std::string unitName(float unitsPerMetre);

// OpenVR's name of an EVRInitError without its VRInitError_ prefix ("Init_HmdNotFound"), or
// "error N" for one not listed.
std::string initErrorName(int32_t code);

} // namespace monitor
