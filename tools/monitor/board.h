// What the monitor's reader thread, its event thread and its display share: the devices present
// (as the frame source's events tell them), the latest pose of each (from the frames), the run's
// counts and the recent figures the live view shows.
#pragma once

#include <recording/present_devices.h>

#include <tavrin.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace monitor {

class Board {
public:
    // One device as the display shows it.
    struct Row {
        std::string serial;
        int32_t deviceClass = 0;
        uint32_t index = 0;        // the latest frame's, else the events'
        const char* state = "";    // "ok", "lost" (no valid, running pose) or "off"
        bool hasPose = false;
        tavrin_device last{};      // the latest valid pose (or the latest, when none was valid)
    };

    mutable std::mutex mutex;
    std::condition_variable changed; // an event came: redraw

    // Under mutex:
    int32_t status = 100; // the latest read's (DeviceError_NoSession until a session)
    unsigned long long reads = 0;
    uint64_t frameNumber = 0;
    unsigned long long events = 0, dropped = 0;
    std::deque<std::string> recentEvents; // the table's event log, latest last
    std::deque<double> recentWaitUs;      // the latest wait errors, for the live view's figures
    std::deque<double> recentFrameSec;    // the latest frames' times, for the frame rate
    std::string oscNote;                  // "osc: 3 failed sends (Connection refused)", or ""
    tavrin_space space{{0, 0, 0}, {1, 0, 0, 0}, TAVRIN_AXES_OPENVR, 1.0f}; // the frames' space

    // An event from the source: the present devices follow it (under mutex).
    void noteEvent(const tavrin_event& event);
    // A frame with a session: the poses of the devices present (under mutex). A device is shown
    // once its arrival is announced; a frame without a valid pose keeps the last one shown.
    void noteFrame(const tavrin_frame& frame, double frameSeconds);
    // Frames a second over the latest second of frames (under mutex).
    double recentFrameRate() const;
    // Every device present, by index (under mutex).
    std::vector<Row> rows() const;

private:
    struct Pose {
        bool hasPose = false;
        tavrin_device last{};
    };
    recording::PresentDevices present;
    std::map<std::string, Pose> poses;
};

} // namespace monitor
