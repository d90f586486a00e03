// The monitor's recordings: a CSV of every record of every read, and an SVG picture of the run.
#pragma once

#include <tavrin.h>

#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace monitor {

// An output file. What the path names decides how it is written:
//  - "-": standard output, streamed;
//  - a regular file, or nothing yet: a temporary file beside it that is put in place only when
//    complete, so that a failed or interrupted run (a full disk) leaves nothing half-written;
//    a symbolic link is followed and its target replaced, the link kept;
//  - a device or a FIFO: written directly, never replaced;
//  - a directory: refused at open, before anything starts.
class PendingFile {
public:
    // False (with a reason) when the path cannot be written.
    bool open(const std::string& path, std::string& error);
    std::FILE* stream() const { return file_; }
    // Completes the file: flushed, closed and put in place; false (with a reason) on any write
    // error, leaving nothing behind at a regular path.
    bool commit(std::string& error);
    // Abandons the file: a temporary file is removed.
    void discard();
    ~PendingFile() { discard(); }

private:
    enum class Mode { Replace, Direct, StandardOutput };
    std::string path_, target_, temp_;
    std::FILE* file_ = nullptr;
    Mode mode_ = Mode::Replace;
};

// The CSV of every device of every frame, in the recording format (recording_format.h). As a
// recording (--record) it is the same CSV with '#' lines before the header (units and frame) and
// one '#event2,...' line per event of the frame source, so that it still loads in any CSV reader
// that skips '#' comments, and the simulated runtime can replay it.
class CsvWriter {
public:
    bool open(const std::string& path, std::string& error, bool recording = false);
    // One row per device of the frame; timestampMs is the frame's time in ms since the monitor
    // started. Safe beside writeEvent on another thread.
    void write(unsigned long long readNumber, const tavrin_frame& frame, double timestampMs);
    // A recording's event line.
    void writeEvent(const tavrin_event& event);
    // The space of the rows that follow: a "# space:" line when it is the first or another than the
    // last; before the first row, the frame's roles as well ("# roles: SERIAL=ROLE ...").
    void noteSpace(const tavrin_space& space, const tavrin_frame& frame);
    // The filter named with the first space line ("# filter: ...").
    void setFilterNote(const std::string& note) { filterNote_ = note; }
    bool finish(std::string& error);
    unsigned long long rows() const { return rows_; }

private:
    std::mutex mutex_;
    PendingFile file_;
    unsigned long long rows_ = 0;
    bool recording_ = false;
    bool headed_ = false; // the plain CSV's header line is written (after the space and roles)
    std::string space_;   // the latest space line written
    std::string filterNote_;
};

// One device's track for the plot.
struct Track {
    int deviceClass = 0;
    std::vector<float> t, x, y, z; // ms; right, up and back (the floor seen from the space's up axis), its units
    int role = 0;                  // the latest frame's tavrin_role
};

// An event for the plot's time axis: a device that left, was switched off or changed index, and a
// session that closed.
struct PlotEvent {
    float t; // ms since the monitor started
    int kind; // a tavrin_event_kind
    std::string serial;
};

// Collects tracks by serial, keeping at most about `maxPoints` points per device (older points
// are thinned evenly as a run grows).
class PlotRecorder {
public:
    explicit PlotRecorder(size_t maxPoints = 4000) : maxPoints_(maxPoints) {}
    // The space the frames are in: their floor, up axis and units (OpenVR's until told).
    void setSpace(const tavrin_space& space) { space_ = space; }
    const tavrin_space& space() const { return space_; }
    // The moving devices of a frame (headsets, controllers, trackers) with a valid pose.
    void add(const tavrin_frame& frame, float timestampMs);
    // Keeps the events worth marking; thread-safe.
    void addEvent(float tMs, int kind, const std::string& serial);
    const std::map<std::string, Track>& tracks() const { return tracks_; }
    std::vector<PlotEvent> events() const;

private:
    size_t maxPoints_;
    tavrin_space space_{{0, 0, 0}, {1, 0, 0, 0}, TAVRIN_AXES_OPENVR, 1.0f};
    std::map<std::string, size_t> stride_;
    std::map<std::string, size_t> seen_;
    std::map<std::string, Track> tracks_;
    mutable std::mutex eventsMutex_;
    std::vector<PlotEvent> events_;
};

// A self-contained SVG: the floor plan seen from above the space's up axis (its right to the right,
// its forward up: OpenVR's x and -z), every device in its own colour and line style with markers at
// its start (circle) and end (square), a legend by serial and class; beside it height over time,
// fitted to the data, with the events marked on the time axis. Axes named as the space names them,
// in its units.
std::string renderSvg(const std::map<std::string, Track>& tracks, const std::string& title,
                      const std::vector<PlotEvent>& events = {}, const tavrin_space* space = nullptr);

std::string xmlEscape(const std::string& text);

} // namespace monitor
