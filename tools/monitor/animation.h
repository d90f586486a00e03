// A take as an animation: every frame's poses kept by device, in the take's origin and heading with
// OpenVR's axes (Y up, right-handed) and the take's units, then written as BVH (one joint per
// device under a root at rest) or glTF (one node per device under a node "root").
#pragma once

#include <tavrin.h>

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace monitor {

struct AnimationKey {
    float position[3];    // the take's units
    float orientation[4]; // w x y z
};

// A device's keys, a frame each. In blocks, so that a long take grows without moving what it holds
// (a copy of every device's keys at once would hold up the reading thread).
using AnimationKeys = std::deque<AnimationKey>;

struct AnimatedDevice {
    std::string serial;
    std::string name;            // the joint's and the node's: unique within the take
    int role = 0;                // the latest role it held (a tavrin_role)
    AnimationKeys keys;          // one per frame of the take, held ones filled in
    unsigned long long held = 0; // frames in which it had no valid pose
};

class Take {
public:
    // One frame in `space`; the first frame's space gives the take its origin, heading and units.
    void add(const tavrin_frame& frame, const tavrin_space& space);
    // After the last frame: devices without any valid pose dropped, every other frame without one
    // holding its last valid pose (the first valid one before it has any), names given. `rateHz`
    // is the take's, for the BVH's frame time.
    void finish(double rateHz);

    // The devices with a pose, in the order they first came.
    const std::vector<AnimatedDevice>& devices() const { return devices_; }
    // Each frame's instant, on tavrin_now_ns's clock.
    const std::deque<int64_t>& times() const { return times_; }
    // Instants between the first frame and the last that no frame stands for.
    unsigned long long skipped() const { return skipped_; }
    double rateHz() const { return rateHz_; }
    float unitsPerMetre() const { return space_.units_per_metre; }

private:
    struct Slot {
        AnimationKeys keys;
        std::deque<uint8_t> valid;
        bool any = false;
    };
    tavrin_space space_{}; // the take's, with OpenVR's axes
    std::deque<int64_t> times_;
    uint64_t lastNumber_ = 0;
    unsigned long long skipped_ = 0;
    double rateHz_ = 0;
    std::map<std::string, size_t, std::less<>> bySerial_; // found by a serial's characters, no copy
    std::vector<AnimatedDevice> devices_;
    std::vector<Slot> slots_; // beside devices_ until finish
};

// A joint's name: the role's when the device holds one, else the serial with every character
// outside [A-Za-z0-9_] as '_' (a UTF-8 sequence is one character).
std::string jointName(const std::string& serial, int role);

// The rotation of quaternion (w x y z) as BVH's "Zrotation Xrotation Yrotation" in degrees (the
// rotation is Rz * Rx * Ry). With `previous`, of the two triples that give the rotation (and
// whole turns added) the one nearest it, so that an animation does not spin through a wrap.
void zxyDegrees(const float q[4], double out[3], const double* previous = nullptr);

// The BVH text of a finished take.
std::string bvhText(const Take& take);

// The glTF 2.0 of a finished take, its buffer embedded (binary: a .glb); false with a reason when
// this build cannot write glTF.
bool gltfAvailable(std::string& why);
bool gltfBytes(const Take& take, bool binary, std::string& out, std::string& error);

} // namespace monitor
