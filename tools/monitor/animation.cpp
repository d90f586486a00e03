#include "animation.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace monitor {

namespace {

// A pose the files can hold: finite, its quaternion of some length (made unit: glTF asks it). A
// runtime's valid pose that is not counts as none.
bool usable(const tavrin_device& d, AnimationKey& key)
{
    double length = 0;
    for (int i = 0; i < 4; ++i)
        length += double{d.orientation[i]} * d.orientation[i];
    length = std::sqrt(length);
    if (!(length > 1e-6) || !std::isfinite(length))
        return false;
    for (int i = 0; i < 3; ++i)
        if (!std::isfinite(d.position[i]))
            return false;
    std::copy(d.position, d.position + 3, key.position);
    for (int i = 0; i < 4; ++i)
        key.orientation[i] = static_cast<float>(d.orientation[i] / length);
    return true;
}

} // namespace

void Take::add(const tavrin_frame& frame, const tavrin_space& space)
{
    if (times_.empty()) {
        space_ = space;
        space_.axes = TAVRIN_AXES_OPENVR;
    } else if (lastNumber_ != 0 && frame.frame_number > lastNumber_ + 1) {
        skipped_ += frame.frame_number - lastNumber_ - 1;
    }
    lastNumber_ = frame.frame_number;
    const size_t at = times_.size();
    times_.push_back(frame.time_ns);
    for (uint32_t k = 0; k < frame.device_count && k < TAVRIN_MAX_DEVICES; ++k) {
        tavrin_device d = frame.devices[k];
        d.serial[sizeof d.serial - 1] = '\0';
        auto it = bySerial_.find(std::string_view(d.serial));
        if (it == bySerial_.end()) {
            it = bySerial_.emplace(d.serial, devices_.size()).first;
            devices_.push_back(AnimatedDevice{d.serial, {}, 0, {}, 0});
            slots_.emplace_back();
        }
        Slot& slot = slots_[it->second];
        if (slot.keys.size() > at)
            continue; // a serial twice in one frame: its first stands
        if (d.role != TAVRIN_ROLE_NONE)
            devices_[it->second].role = d.role;
        slot.keys.resize(at);
        slot.valid.resize(at, 0);
        AnimationKey key{};
        const bool valid = d.pose_valid != 0 && tavrin_space_convert(&space, &space_, &d) == 0 && usable(d, key);
        slot.keys.push_back(key);
        slot.valid.push_back(valid ? 1 : 0);
        slot.any = slot.any || valid;
    }
}

namespace {

// Fills the frames without a valid pose: the last valid one, or the first before any. Returns how
// many were filled.
unsigned long long holdPoses(AnimationKeys& keys, const std::deque<uint8_t>& valid)
{
    const size_t first = static_cast<size_t>(std::find(valid.begin(), valid.end(), 1) - valid.begin());
    unsigned long long held = 0;
    for (size_t j = 0; j < keys.size(); ++j) {
        if (valid[j])
            continue;
        keys[j] = keys[j < first ? first : j - 1];
        ++held;
    }
    // One hemisphere from key to key, so that an interpolation between keys takes the short way.
    for (size_t j = 1; j < keys.size(); ++j) {
        const float* a = keys[j - 1].orientation;
        float* b = keys[j].orientation;
        if (a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3] < 0)
            for (int i = 0; i < 4; ++i)
                b[i] = -b[i];
    }
    return held;
}

} // namespace

void Take::finish(double rateHz)
{
    rateHz_ = rateHz;
    std::vector<AnimatedDevice> kept;
    std::map<std::string, int> used{{"root", 1}};
    for (size_t i = 0; i < devices_.size(); ++i) {
        Slot& slot = slots_[i];
        if (!slot.any)
            continue;
        slot.keys.resize(times_.size());
        slot.valid.resize(times_.size(), 0);
        AnimatedDevice device = std::move(devices_[i]);
        device.held = holdPoses(slot.keys, slot.valid);
        device.keys = std::move(slot.keys);
        // Unique names: a second device of one name (two props) gets "_2", and so on.
        const std::string base = jointName(device.serial, device.role);
        device.name = base;
        for (int n = 2; used.count(device.name) != 0; ++n)
            device.name = base + "_" + std::to_string(n);
        used.emplace(device.name, 1);
        kept.push_back(std::move(device));
    }
    devices_ = std::move(kept);
    slots_.clear();
    bySerial_.clear();
}

std::string jointName(const std::string& serial, int role)
{
    if (role != TAVRIN_ROLE_NONE && tavrin_role_name(role) != nullptr)
        return tavrin_role_name(role);
    std::string name;
    for (size_t i = 0; i < serial.size(); ++i) {
        const auto c = static_cast<unsigned char>(serial[i]);
        if (std::isalnum(c) && c < 0x80) {
            name += static_cast<char>(c);
            continue;
        }
        name += '_';
        // The continuation bytes of a UTF-8 sequence belong to the character just replaced.
        const size_t more = c >= 0xF0 && c < 0xF8 ? 3 : c >= 0xE0 && c < 0xF0 ? 2 : c >= 0xC0 && c < 0xE0 ? 1 : 0;
        for (size_t m = 0;
             m < more && i + 1 < serial.size() && (static_cast<unsigned char>(serial[i + 1]) & 0xC0) == 0x80; ++m)
            ++i;
    }
    return name.empty() ? "device" : name;
}

void zxyDegrees(const float q[4], double out[3], const double* previous)
{
    constexpr double kPi = 3.14159265358979323846;
    const double w = q[0], x = q[1], y = q[2], z = q[3];
    // Scaled by the length, so that a float's rounding does not move asin near a right angle.
    const double s = 2 / (w * w + x * x + y * y + z * z);
    const double r00 = 1 - s * (y * y + z * z), r01 = s * (x * y - w * z);
    const double r10 = s * (x * y + w * z), r11 = 1 - s * (x * x + z * z);
    const double r20 = s * (x * z - w * y), r21 = s * (y * z + w * x), r22 = 1 - s * (x * x + y * y);
    // Rz(a) Rx(b) Ry(c) has r21 = sin b, r01 = -sin a cos b, r11 = cos a cos b, r20 = -cos b sin c,
    // r22 = cos b cos c.
    const double b = std::asin(std::clamp(r21, -1.0, 1.0));
    double a, c;
    if (std::abs(r21) < 1 - 1e-12) {
        a = std::atan2(-r01, r11);
        c = std::atan2(-r20, r22);
    } else { // x at a right angle: z and y turn about one axis; all of it on z
        a = std::atan2(r10, r00);
        c = 0;
    }
    double best[3] = {a, b, c};
    if (previous != nullptr) {
        const double prev[3] = {previous[0] * kPi / 180, previous[1] * kPi / 180, previous[2] * kPi / 180};
        const double candidates[2][3] = {{a, b, c}, {a + kPi, kPi - b, c + kPi}};
        double bestDistance = 1e300;
        for (const auto& candidate : candidates) {
            double unwrapped[3], distance = 0;
            for (int i = 0; i < 3; ++i) {
                unwrapped[i] = candidate[i] + 2 * kPi * std::round((prev[i] - candidate[i]) / (2 * kPi));
                distance += (unwrapped[i] - prev[i]) * (unwrapped[i] - prev[i]);
            }
            if (distance < bestDistance) {
                bestDistance = distance;
                std::copy(unwrapped, unwrapped + 3, best);
            }
        }
    }
    for (int i = 0; i < 3; ++i)
        out[i] = best[i] * 180 / kPi;
}

std::string bvhText(const Take& take)
{
    static const char* const kChannels = "CHANNELS 6 Xposition Yposition Zposition Zrotation Xrotation Yrotation\n";
    std::string text = "HIERARCHY\nROOT root\n{\n\tOFFSET 0.000000 0.000000 0.000000\n\t";
    text += kChannels;
    for (const AnimatedDevice& d : take.devices()) {
        text += "\tJOINT " + d.name + "\n\t{\n\t\tOFFSET 0.000000 0.000000 0.000000\n\t\t";
        text += kChannels;
        text += "\t}\n";
    }
    char line[96];
    std::snprintf(line, sizeof line, "}\nMOTION\nFrames: %zu\nFrame Time: %.9f\n", take.times().size(),
                  take.rateHz() > 0 ? 1.0 / take.rateHz() : 0.0);
    text += line;
    std::vector<double> euler(3 * take.devices().size());
    for (size_t f = 0; f < take.times().size(); ++f) {
        text += "0.000000 0.000000 0.000000 0.000000 0.000000 0.000000"; // the root, at rest
        for (size_t k = 0; k < take.devices().size(); ++k) {
            const AnimationKey& key = take.devices()[k].keys[f];
            double* angles = &euler[3 * k];
            double previous[3] = {angles[0], angles[1], angles[2]};
            zxyDegrees(key.orientation, angles, f == 0 ? nullptr : previous);
            std::snprintf(line, sizeof line, " %.6f %.6f %.6f %.6f %.6f %.6f", static_cast<double>(key.position[0]),
                          static_cast<double>(key.position[1]), static_cast<double>(key.position[2]), angles[0],
                          angles[1], angles[2]);
            text += line;
        }
        text += '\n';
    }
    return text;
}

} // namespace monitor
