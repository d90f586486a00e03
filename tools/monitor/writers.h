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

// The CSV of every record of every read. As a recording (--record) it is the same CSV with '#'
// lines before the header (units and frame) and one '#event,...' line per device event, so that it
// still loads in any CSV reader that skips '#' comments, and the simulated runtime can replay it:
//   #event,t_ms,code,serial,index,old_index,count
// t_ms is on the clock of the records' timestamp_ms; code is the _DeviceEvent value.
class CsvWriter {
public:
    bool open(const std::string& path, std::string& error, bool recording = false);
    // One row per filled record (device class 1..3). Safe beside writeEvent on another thread.
    void write(unsigned long long readNumber, const ViveSystem::_TrackedDevicePose (&poses)[16]);
    // A recording's event line.
    void writeEvent(float tMs, int code, const char* serial, int index, int oldIndex, int count);
    bool finish(std::string& error);
    unsigned long long rows() const { return rows_; }

    static const char* header();
    static const char* recordingPreamble();

private:
    std::mutex mutex_;
    PendingFile file_;
    unsigned long long rows_ = 0;
};

// One device's track for the plot.
struct Track {
    int deviceClass = 0;
    std::vector<float> t, x, y, z; // ms, metres
};

// A device event for the plot's time axis: disconnects, index changes and session closes.
struct PlotEvent {
    float t; // ms, on the records' time stamps' clock
    int code;
    std::string serial;
};

// Collects tracks by serial, keeping at most about `maxPoints` points per device (older points
// are thinned evenly as a run grows).
class PlotRecorder {
public:
    explicit PlotRecorder(size_t maxPoints = 4000) : maxPoints_(maxPoints) {}
    void add(const ViveSystem::_TrackedDevicePose (&poses)[16]);
    // Keeps the events worth marking (disconnects, index changes, a closed session); thread-safe.
    void addEvent(float tMs, int code, const std::string& serial);
    const std::map<std::string, Track>& tracks() const { return tracks_; }
    std::vector<PlotEvent> events() const;

private:
    size_t maxPoints_;
    std::map<std::string, size_t> stride_;
    std::map<std::string, size_t> seen_;
    std::map<std::string, Track> tracks_;
    mutable std::mutex eventsMutex_;
    std::vector<PlotEvent> events_;
};

// A self-contained SVG: the floor plan seen from above (x to the right, -z up: OpenVR's forward),
// every device in its own colour and line style with markers at its start (circle) and end
// (square), a legend by serial and class; beside it height over time, fitted to the data, with the
// events marked on the time axis.
std::string renderSvg(const std::map<std::string, Track>& tracks, const std::string& title,
                      const std::vector<PlotEvent>& events = {});

std::string xmlEscape(const std::string& text);

} // namespace monitor
