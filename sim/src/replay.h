// A recording made by tavrin-monitor --record (either version; see recording_format.h), replayed
// as the simulated runtime's rig: which device is at which index, connected or not, as the
// recording's events tell it (or its poses, for a device no event names), and its pose
// interpolated between the recorded samples.
#pragma once

#include <recording/present_devices.h>
#include <recording/recording_format.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vrsim {

struct Device;
struct Pose;

class Replay {
public:
    // Reads a recording. False, with a message naming the line, for a file it cannot read or a
    // malformed one; `out` is then unchanged.
    static bool load(const std::string& path, Replay& out, std::string& error);

    double start() const { return recorded.start; }
    double end() const { return recorded.end; }

    // The device at an index at recording time t (ms), as recorded: present or not, connected or
    // switched off; false when no device of the recording is there.
    bool deviceAt(uint32_t index, double t, Device& out) const;
    // Its pose at t, interpolated between the recorded samples.
    Pose poseAt(uint32_t index, double t) const;

private:
    struct Presence {
        bool present = false;
        bool connected = false;
        int32_t index = -1;
    };
    // The set of present devices after each event, in time order.
    struct Moment {
        double t;
        recording::PresentDevices devices;
    };
    Presence presenceAt(const recording::Track& track, double t) const;
    const recording::Track* trackAt(uint32_t index, double t, Presence& presence) const;

    recording::Recording recorded;
    std::vector<Moment> timeline;
};

} // namespace vrsim
