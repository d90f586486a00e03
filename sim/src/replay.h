// A recording made by tavrin-monitor --record, replayed as the simulated runtime's rig. Both
// formats are read: 0.2.0's (the plain functions' records and _DeviceEvent codes, presence guessed
// from the device count) and the frame source's (every device, explicit event kinds).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vrsim {

struct Device;
struct Pose;

class Recording {
public:
    // Reads a recording. False, with a message naming the line, for a file it cannot read or a
    // malformed one; `out` is then unchanged.
    static bool load(const std::string& path, Recording& out, std::string& error);

    double start() const { return start_; }
    double end() const { return end_; }

    // The device at an index at recording time t (ms), as recorded: present or not, connected or
    // switched off; false when no device of the recording is there.
    bool deviceAt(uint32_t index, double t, Device& out) const;
    // Its pose at t, interpolated between the recorded samples.
    Pose poseAt(uint32_t index, double t) const;

    struct Sample {
        double t; // ms
        int32_t index, cls;
        int32_t result; // ETrackingResult
        float pos[3], quat[4], vel[3], ang[3];
    };
    struct Change {
        double t;
        enum Kind { Connect, Off, Leave, Move, Closed } kind;
        int32_t index;
    };
    struct Track {
        std::string serial;
        int32_t cls = 0;
        std::vector<Sample> samples; // in time order
        std::vector<Change> changes; // from the events, in time order
    };

private:
    struct State {
        bool present = false;
        bool connected = false;
        int32_t index = -1;
    };
    State stateAt(const Track& track, double t) const;
    const Track* trackAt(uint32_t index, double t, State& state) const;

    std::vector<Track> tracks_;
    std::vector<double> closures_; // session closes: every device gone
    double start_ = 0, end_ = 0;
};

} // namespace vrsim
