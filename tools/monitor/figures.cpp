#include "figures.h"

#include <algorithm>
#include <cmath>

namespace monitor {

namespace {
constexpr double kDegrees = 180.0 / 3.14159265358979323846;
}

Euler yawPitchRoll(const float (&q)[4])
{
    const double w = q[0], x = q[1], y = q[2], z = q[3];
    // The rotation matrix elements that R = Ry(yaw) Rx(pitch) Rz(roll) determines them by.
    const double r02 = 2 * (x * z + w * y);
    const double r22 = 1 - 2 * (x * x + y * y);
    const double r12 = 2 * (y * z - w * x);
    const double r10 = 2 * (x * y + w * z);
    const double r11 = 1 - 2 * (x * x + z * z);
    Euler e{};
    e.pitch = std::asin(std::clamp(-r12, -1.0, 1.0)) * kDegrees;
    e.yaw = std::atan2(r02, r22) * kDegrees;
    e.roll = std::atan2(r10, r11) * kDegrees;
    return e;
}

double speed(const float (&v)[3])
{
    return std::sqrt(double(v[0]) * v[0] + double(v[1]) * v[1] + double(v[2]) * v[2]);
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t i = std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5));
    return values[i];
}

const char* className(int deviceClass)
{
    switch (deviceClass) {
    case 1: return "headset";
    case 2: return "controller";
    case 3: return "tracker";
    case 4: return "base station";
    default: return "other";
    }
}

const char* shortClassName(int deviceClass)
{
    switch (deviceClass) {
    case 1: return "hmd";
    case 2: return "ctl";
    case 3: return "trk";
    case 4: return "base";
    default: return "?";
    }
}

ViewNames viewNames(int32_t axes)
{
    switch (axes) {
    case TAVRIN_AXES_Z_UP: return ViewNames{"\u2212y", "x", "z"};
    case TAVRIN_AXES_UNITY: return ViewNames{"x", "z", "y"};
    case TAVRIN_AXES_UNREAL: return ViewNames{"y", "x", "z"};
    default: return ViewNames{"x", "\u2212z", "y"};
    }
}

std::string unitName(float unitsPerMetre)
{
    if (unitsPerMetre == 1.0f)
        return "m";
    if (unitsPerMetre == 100.0f)
        return "cm";
    if (unitsPerMetre == 1000.0f)
        return "mm";
    char text[48];
    std::snprintf(text, sizeof text, "units, %g a metre", static_cast<double>(unitsPerMetre));
    return text;
}

std::string initErrorName(int32_t code)
{
    switch (code) {
    case 0: return "None";
    case 1: return "Unknown";
    case 100: return "Init_InstallationNotFound";
    case 101: return "Init_InstallationCorrupt";
    case 102: return "Init_VRClientDLLNotFound";
    case 105: return "Init_InterfaceNotFound";
    case 108: return "Init_HmdNotFound";
    case 109: return "Init_NotInitialized";
    case 110: return "Init_PathRegistryNotFound";
    case 115: return "Init_Retry";
    case 117: return "Init_AnotherAppLaunching";
    case 119: return "Init_ShuttingDown";
    case 121: return "Init_NoServerForBackgroundApp";
    case 125: return "Init_HmdDriverIdIsNone";
    case 126: return "Init_HmdNotFoundPresenceFailed";
    case 200: return "Driver_Failed";
    case 202: return "Driver_HmdUnknown";
    case 203: return "Driver_NotLoaded";
    case 204: return "Driver_RuntimeOutOfDate";
    case 205: return "Driver_HmdInUse";
    case 206: return "Driver_NotCalibrated";
    case 208: return "Driver_HmdDisplayNotFound";
    case 301: return "IPC_ConnectFailed";
    case 305: return "IPC_Failed";
    case 2000: return "Steam_SteamInstallationNotFound";
    default: return "error " + std::to_string(code);
    }
}

} // namespace monitor
