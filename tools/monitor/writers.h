// The monitor's recordings: a CSV of every record of every read, and an SVG picture of the run.
// Both write to a temporary file beside the target and put it in place only when complete, so a
// failed or interrupted run leaves nothing half-written under the target's name.
#pragma once

#include <tavrin.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace monitor {

// A file that appears under its name only when committed.
class PendingFile {
public:
    // Opens a temporary file beside `path`; false (with a reason) when it cannot be written.
    bool open(const std::string& path, std::string& error);
    std::FILE* stream() const { return file_; }
    // Closes and renames into place; false (with a reason) on failure, leaving nothing behind.
    bool commit(std::string& error);
    // Closes and removes the temporary file.
    void discard();
    ~PendingFile() { discard(); }

private:
    std::string path_, temp_;
    std::FILE* file_ = nullptr;
};

class CsvWriter {
public:
    bool open(const std::string& path, std::string& error);
    // One row per filled record (device class 1..3).
    void write(unsigned long long readNumber, const ViveSystem::_TrackedDevicePose (&poses)[16]);
    bool finish(std::string& error);
    unsigned long long rows() const { return rows_; }

    static const char* header();

private:
    PendingFile file_;
    unsigned long long rows_ = 0;
};

// One device's track for the plot.
struct Track {
    int deviceClass = 0;
    std::vector<float> t, x, y, z; // ms, metres
};

// Collects tracks by serial, keeping at most about `maxPoints` points per device (older points
// are thinned evenly as a run grows).
class PlotRecorder {
public:
    explicit PlotRecorder(size_t maxPoints = 4000) : maxPoints_(maxPoints) {}
    void add(const ViveSystem::_TrackedDevicePose (&poses)[16]);
    const std::map<std::string, Track>& tracks() const { return tracks_; }

private:
    size_t maxPoints_;
    std::map<std::string, size_t> stride_;
    std::map<std::string, size_t> seen_;
    std::map<std::string, Track> tracks_;
};

// A self-contained SVG: the floor-plane path (x, z) of every device in its own colour with a legend
// by serial and class, and beside it height over time.
std::string renderSvg(const std::map<std::string, Track>& tracks, const std::string& title);

std::string xmlEscape(const std::string& text);

} // namespace monitor
