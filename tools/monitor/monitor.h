// tavrin-monitor's run: a frame source read at the asked rate on a thread of its own, its events
// taken on another, both shown as they come (a live table on a terminal, a line a second
// otherwise), recorded, served to browsers and sent to VMC receivers as asked, and a summary of
// the reads, the frames and the pacing at the end.
#pragma once

#include "animation.h"
#include "board.h"
#include "live.h"
#include "options.h"
#include "osc.h"
#include "writers.h"

#include <tavrin.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace monitor {

class Monitor {
public:
    explicit Monitor(const Options& options);
    ~Monitor();
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    // Everything that may refuse the run, before it starts: the OSC receivers, the output files,
    // the rig, the live view, the source. 0 when the run can start; otherwise its exit status,
    // with the reason printed.
    int prepare();
    // Reads until the run's time is up or Ctrl-C, showing what comes.
    void run();
    // Stops, completes the outputs and prints the summary. The exit status: 130 after Ctrl-C, 1
    // when an output could not be completed, else 0.
    int finish();
    // --convert: the recording's take written to the outputs at once, with no runtime. The exit
    // status: 2 for a recording it refuses, 1 when an output could not be written, else 0.
    int convert();

private:
    using Clock = std::chrono::steady_clock;
    using RigFn = void (*)();

    // What the reader thread finds; its own until it ends.
    struct Reads {
        unsigned long long reads = 0, frames = 0;
        uint64_t firstFrame = 0, lastFrame = 0;
        double elapsedSeconds = 0, cpuSeconds = 0;
        std::vector<double> waitErrorUs;
        std::vector<double> frameSpacingMs; // successive frames' time_ns differences
        std::vector<double> latenessUs;     // each frame's query time less its instant
        int64_t previousFrameNs = 0;        // the latest frame's, 0 after a read without a session
        int64_t firstFrameNs = 0;           // the first frame's time
        std::vector<std::string> unseen;    // serials --role and --origin name that no frame has held
    };

    int openOutputs();
    void writeFrame(unsigned long long readNumber, double tMs);
    bool writeAnimations(double rateHz);
    void printHeld();
    int applyRig();
    void takeOrigin();
    void takeAutoRoles();
    void warnLowBatteries();
    void sayRoles();
    void checkNamedSerials();
    bool saveRig();
    int chooseRig();
    int recordingAt(const std::string& path, const char* use, std::string& copy);
    int startReplay(const std::string& path);
    int startServing();
    void readLoop();
    void takeFrame(int32_t status, double waitErrorUs);
    void eventLoop();
    void handleEvent(const tavrin_event& event);
    void show(bool due, bool newEvent);
    void drawTable();
    void printLine(const std::string& line);
    bool finishOutputs(const std::string& plotTitle, double rateHz);
    void printSummary();
    double secondsSinceStart() const;
    double msSince(int64_t timeNs) const;

    const Options opt;
    const Clock::time_point started = Clock::now();
    const int64_t startedNs = tavrin_now_ns();
    bool liveTable = false;
    std::FILE* human = stdout; // the monitor's own output: standard error when a recording streams to stdout
    std::atomic<bool> interrupted{false};
    std::string csvPath;

    Board board;
    CsvWriter csv;
    PendingFile svgFile;
    PlotRecorder plot;
    PendingFile bvhFile, gltfFile;
    Take take; // the reading thread's, until it ends
    OscSender osc;
    LiveServer live;
    bool serving = false;
    RigFn stopRig = nullptr;
    tavrin_source* source = nullptr;
    std::atomic<bool> originPending{false}; // --origin waits for the device's first valid pose
    enum class AutoRoles { Off, Pending, Print } autoRoles = AutoRoles::Off; // the reading thread's
    std::vector<std::string> lowBatteries; // the reading thread's: devices warned of, once each
    tavrin_space space{};                  // the frames' space (the reading thread's once it runs)
    bool firstRolesSaid = false;           // the reading thread's
    bool noHeadsetSaid = false;            // the reading thread's
    std::atomic<bool> rigChanged{false};    // what --rig names is written back only when so
    bool rigWritable = true;                // false for a FIFO or a pipe
    std::atomic<bool> stopReading{false}, stopEvents{false};
    std::thread reader, events;
    Reads reads;
    tavrin_frame frame{}; // the reader's (10 KB: not on its stack)
    std::mutex outputMutex;
};

} // namespace monitor
