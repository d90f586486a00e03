// The monitor's recordings: a CSV of every record of every read, and an SVG picture of the run.
#pragma once

#include <tavrin.h>

#include <cstdio>
#include <map>
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
