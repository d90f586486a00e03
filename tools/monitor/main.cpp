// tavrin-monitor: a host program over tavrin's frame source, as a user's own program would be. It
// starts a source, reads frames at the requested rate on a thread of its own, takes the source's
// events on another, shows both as they come, can record them, serve them to a browser and send
// the poses to VMC receivers, and ends with a summary of the reads, the frames and the pacing.
#include "figures.h"
#include "files.h"
#include "live.h"
#include "options.h"
#include "osc.h"
#include "system.h"
#include "writers.h"

#include <tavrin.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;
using ViveSystem::DeviceError_None;
using ViveSystem::DeviceError_NoSession;

namespace {

std::atomic<bool> interrupted{false};
const Clock::time_point started = Clock::now();
const int64_t startedNs = tavrin_now_ns();
bool liveTable = false;
// The monitor's own output: standard error when a recording streams to standard output.
std::FILE* human = stdout;

double secondsSinceStart()
{
    return std::chrono::duration<double>(Clock::now() - started).count();
}

// Milliseconds since the monitor started, on the library's clock.
double msSinceStart(int64_t timeNs)
{
    return static_cast<double>(timeNs - startedNs) / 1e6;
}

// What the reader thread, the event thread and the display share.
struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    int32_t status = DeviceError_NoSession;
    unsigned long long reads = 0;
    uint64_t frameNumber = 0;
    std::deque<std::string> recentEvents; // terminal: the last few, shown under the table
    unsigned long long events = 0;
    unsigned long long dropped = 0;
    // Every device the events have announced, by serial: a switched-off device stays, marked off,
    // until it leaves. Frames bring their poses.
    struct Known {
        uint32_t index = 0;
        int deviceClass = 0;
        bool on = true;
        bool hasPose = false;
        tavrin_device last{};
    };
    std::map<std::string, Known> known;
    static const char* stateOf(const Known& k)
    {
        if (!k.on || (k.hasPose && !k.last.connected))
            return "off";
        return k.hasPose && k.last.pose_valid && k.last.tracking_result == 200 ? "ok" : "lost";
    }
    std::deque<double> recentWaitUs;   // the latest wait errors, for the live view's figures
    std::deque<double> recentFrameSec; // the latest frames' times, for the live view's frame rate
};
Shared shared;
std::mutex outputMutex;

std::string describeEvent(const tavrin_event& e)
{
    char line[200];
    const double at = msSinceStart(e.time_ns) / 1000.0;
    if (e.kind == TAVRIN_EVENT_SESSION_OPENED || e.kind == TAVRIN_EVENT_SESSION_CLOSED)
        std::snprintf(line, sizeof line, "[%8.3f s] %-19s devices %u", at, monitor::kindName(e.kind), e.device_count);
    else if (e.kind == TAVRIN_EVENT_INDEX_CHANGED)
        std::snprintf(line, sizeof line, "[%8.3f s] %-19s %-16.63s %-4s index %u (was %u)  devices %u", at,
                      monitor::kindName(e.kind), e.serial, monitor::shortClassName(e.device_class), e.index, e.old_index,
                      e.device_count);
    else
        std::snprintf(line, sizeof line, "[%8.3f s] %-19s %-16.63s %-4s index %u  devices %u", at, monitor::kindName(e.kind),
                      e.serial, monitor::shortClassName(e.device_class), e.index, e.device_count);
    if (e.dropped > 0)
        std::snprintf(line + std::strlen(line), sizeof line - std::strlen(line), "  (%u events lost before)", e.dropped);
    return line;
}

// Keeps the known devices up to date from an event's kind; under shared.mutex.
void noteEvent(const tavrin_event& e)
{
    const std::string serial(e.serial);
    switch (e.kind) {
    case TAVRIN_EVENT_SESSION_OPENED: // a fresh device list follows
    case TAVRIN_EVENT_SESSION_CLOSED: // every device was reported gone just before
        shared.known.clear();
        break;
    case TAVRIN_EVENT_DEVICE_ARRIVED: {
        Shared::Known& k = shared.known[serial];
        k.index = e.index;
        k.deviceClass = e.device_class;
        k.on = true;
        break;
    }
    case TAVRIN_EVENT_DEVICE_LEFT:
        shared.known.erase(serial);
        break;
    case TAVRIN_EVENT_DEVICE_SWITCHED_ON:
    case TAVRIN_EVENT_DEVICE_SWITCHED_OFF: {
        const auto it = shared.known.find(serial);
        if (it != shared.known.end())
            it->second.on = e.kind == TAVRIN_EVENT_DEVICE_SWITCHED_ON;
        break;
    }
    case TAVRIN_EVENT_INDEX_CHANGED: {
        const auto it = shared.known.find(serial);
        if (it != shared.known.end())
            it->second.index = e.index;
        break;
    }
    default:
        break;
    }
}

monitor::PlotRecorder* plotEvents = nullptr; // set while a plot is recorded
monitor::CsvWriter* recordEvents = nullptr;  // set while a recording is written
monitor::LiveServer* liveView = nullptr;     // set while the live view is served
unsigned askedRate = 120;

// A JSON string: quotes, backslashes and control characters escaped.
std::string jsonString(const char* text)
{
    std::string out = "\"";
    for (const char* p = text; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string statusText(int32_t status);

// Frames a second over the latest second of frames; under shared.mutex.
double recentFrameRate()
{
    const std::deque<double>& f = shared.recentFrameSec;
    if (f.size() < 2 || f.back() <= f.front())
        return 0.0;
    return static_cast<double>(f.size() - 1) / (f.back() - f.front());
}

// One frame of the live view: the known devices, the frame number and rate, the pacing figures.
std::string liveFrame()
{
    std::string out;
    char part[320];
    std::lock_guard<std::mutex> lock(shared.mutex);
    const double t = secondsSinceStart();
    std::vector<double> waits(shared.recentWaitUs.begin(), shared.recentWaitUs.end());
    std::snprintf(part, sizeof part,
                  "{\"t\":%.3f,\"asked\":%u,\"rate\":%.2f,\"p50\":%.2f,\"p99\":%.2f,\"reads\":%llu,\"frame\":%llu,"
                  "\"fps\":%.2f,",
                  t, askedRate, t > 0 ? static_cast<double>(shared.reads) / t : 0.0, monitor::percentile(waits, 0.5),
                  monitor::percentile(waits, 0.99), shared.reads, static_cast<unsigned long long>(shared.frameNumber),
                  recentFrameRate());
    out = part;
    out += "\"status\":" + jsonString(statusText(shared.status).c_str()) + ",\"devices\":[";
    bool first = true;
    for (const auto& [serial, k] : shared.known) {
        const tavrin_device& d = k.last;
        std::snprintf(part, sizeof part,
                      ",\"index\":%u,\"cls\":%d,\"state\":\"%s\",\"p\":[%.4f,%.4f,%.4f],\"q\":[%.5f,%.5f,%.5f,%.5f]}",
                      k.index, k.deviceClass, Shared::stateOf(k), d.position[0], d.position[1], d.position[2],
                      d.orientation[0], d.orientation[1], d.orientation[2], d.orientation[3]);
        out += (first ? "{\"serial\":" : ",{\"serial\":") + jsonString(serial.c_str()) + part;
        first = false;
    }
    return out + "]}";
}

void handleEvent(const tavrin_event& e)
{
    const float tMs = static_cast<float>(msSinceStart(e.time_ns));
    if (plotEvents)
        plotEvents->addEvent(tMs, e.kind, e.serial);
    if (recordEvents)
        recordEvents->writeEvent(e);
    if (liveView) {
        char part[160];
        std::snprintf(part, sizeof part, ",\"cls\":%d,\"index\":%u,\"old\":%u,\"count\":%u,\"t\":%.3f}", e.device_class,
                      e.index, e.old_index, e.device_count, msSinceStart(e.time_ns) / 1000.0);
        liveView->publishEvent("{\"name\":" + jsonString(monitor::kindName(e.kind)) + ",\"serial\":" +
                               jsonString(e.serial) + part);
    }
    const std::string line = describeEvent(e);
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        ++shared.events;
        shared.dropped += e.dropped;
        noteEvent(e);
        if (liveTable) {
            shared.recentEvents.push_back(line);
            while (shared.recentEvents.size() > 10)
                shared.recentEvents.pop_front();
        }
    }
    if (liveTable) {
        shared.changed.notify_all(); // redraw now
    } else {
        std::lock_guard<std::mutex> lock(outputMutex);
        std::fprintf(human, "%s\n", line.c_str());
        std::fflush(human);
    }
}

// Takes the source's events until asked to stop, then whatever is still queued.
void eventLoop(tavrin_source* source, std::atomic<bool>& stop)
{
    tavrin_event e;
    while (!stop.load()) {
        if (tavrin_source_next_event(source, &e, 100) == 1)
            handleEvent(e);
    }
    while (tavrin_source_next_event(source, &e, 0) == 1)
        handleEvent(e);
}

struct ReaderResult {
    unsigned long long reads = 0, frames = 0;
    uint64_t firstFrame = 0, lastFrame = 0;
    double elapsedSeconds = 0, cpuSeconds = 0;
    std::vector<double> waitErrorUs;
    std::vector<double> frameSpacingMs; // successive frames' time_ns differences
};

void readLoop(tavrin_source* source, unsigned rate, std::atomic<bool>& stop, monitor::CsvWriter* csv,
              monitor::PlotRecorder* plot, monitor::OscSender* osc, ReaderResult& result)
{
    const double periodUs = 1e6 / rate;
    result.waitErrorUs.reserve(1 << 16);
    const double cpu0 = monitor::sys::threadCpuSeconds();
    const Clock::time_point begin = Clock::now();
    Clock::time_point previous{};
    int64_t previousFrameNs = 0;
    static tavrin_frame frame; // 10 KB: not on the stack
    while (!stop.load()) {
        const int32_t status = tavrin_source_read(source, &frame);
        const Clock::time_point now = Clock::now();
        double waitErrorUs = -1;
        if (result.reads > 0) {
            const double spacingUs = std::chrono::duration<double, std::micro>(now - previous).count();
            waitErrorUs = std::abs(spacingUs - periodUs);
            if (result.waitErrorUs.size() < (1u << 22))
                result.waitErrorUs.push_back(waitErrorUs);
        }
        previous = now;
        ++result.reads;
        const bool withSession = status == DeviceError_None;
        const double tMs = msSinceStart(frame.time_ns);
        if (withSession) {
            if (result.frames++ == 0)
                result.firstFrame = frame.frame_number;
            result.lastFrame = frame.frame_number;
            if (previousFrameNs != 0 && result.frameSpacingMs.size() < (1u << 22))
                result.frameSpacingMs.push_back(static_cast<double>(frame.time_ns - previousFrameNs) / 1e6);
            previousFrameNs = frame.time_ns;
            if (csv)
                csv->write(result.reads, frame, tMs);
            if (plot)
                plot->add(frame, static_cast<float>(tMs));
            if (osc)
                osc->offer(frame, tMs / 1000.0);
        } else {
            previousFrameNs = 0; // a gap in the session is not a frame spacing
        }
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.reads = result.reads;
        shared.status = status;
        if (waitErrorUs >= 0) {
            shared.recentWaitUs.push_back(waitErrorUs);
            if (shared.recentWaitUs.size() > 1000)
                shared.recentWaitUs.pop_front();
        }
        if (withSession) {
            shared.frameNumber = frame.frame_number;
            shared.recentFrameSec.push_back(tMs / 1000.0);
            while (shared.recentFrameSec.size() > 2 && shared.recentFrameSec.back() - shared.recentFrameSec.front() > 1.0)
                shared.recentFrameSec.pop_front();
            for (uint32_t n = 0; n < frame.device_count; ++n) {
                const tavrin_device& d = frame.devices[n];
                const auto it = shared.known.find(d.serial);
                if (it == shared.known.end())
                    continue; // shown once its arrival is announced
                Shared::Known& k = it->second;
                k.index = d.index;
                if (d.pose_valid || !k.hasPose) {
                    k.last = d;
                    k.hasPose = true;
                } else { // no pose now (off, or gone until discovery says so): the last one stays
                    k.last.connected = d.connected;
                    k.last.pose_valid = 0;
                    k.last.tracking_result = d.tracking_result;
                }
            }
        }
    }
    result.elapsedSeconds = std::chrono::duration<double>(Clock::now() - begin).count();
    result.cpuSeconds = monitor::sys::threadCpuSeconds() - cpu0;
}

std::string statusText(int32_t status)
{
    switch (status) {
    case DeviceError_None: return "session open";
    case DeviceError_NoSession: {
        // Say why: the runtime's own reason for the latest failed open, when there is one.
        const int32_t why = tavrin_session_error();
        if (why == 0)
            return "waiting for the VR runtime";
        return "waiting for the VR runtime: " + monitor::initErrorName(why) + " (" + std::to_string(why) + ")";
    }
    default: return std::string(tavrin_error_name(status)) + " (" + std::to_string(static_cast<int>(status)) + ")";
    }
}

void drawTable(unsigned rate)
{
    std::string screen = "\x1b[H\x1b[2J";
    char line[256];
    const bool wide = monitor::sys::terminalColumns() >= 130;
    std::lock_guard<std::mutex> lock(shared.mutex);
    const double t = secondsSinceStart();
    std::snprintf(line, sizeof line, "tavrin-monitor %u Hz %.1f s frame %llu (%.1f/s) %s%s\n", rate, t,
                  static_cast<unsigned long long>(shared.frameNumber), recentFrameRate(),
                  statusText(shared.status).c_str(), wide ? "  (Ctrl-C stops)" : "");
    screen += line;
    int used = 3;
    if (liveView) {
        screen += "live view: " + liveView->url() + "\n";
        ++used;
    }
    screen += "\n";
    if (wide)
        screen += "serial              idx class        trk       x       y       z |      w      x      y      z |"
                  "    yaw  pitch   roll | speed m/s\n";
    else // fits 80 columns
        screen += "serial          idx cls  trk       x       y       z    yaw  pitch   roll  m/s\n";
    std::vector<std::pair<const std::string*, const Shared::Known*>> rows;
    for (const auto& [serial, k] : shared.known)
        rows.emplace_back(&serial, &k);
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.second->index < b.second->index; });
    // As many rows as the terminal has room for beside the header and the events.
    const size_t eventLines = shared.recentEvents.size() + 2;
    const int room = monitor::sys::terminalRows() - used - static_cast<int>(eventLines) - 2;
    const size_t shown = std::min(rows.size(), static_cast<size_t>(std::max(room, 1)));
    for (size_t r = 0; r < shown; ++r) {
        const std::string& serial = *rows[r].first;
        const Shared::Known& k = *rows[r].second;
        const tavrin_device& d = k.last;
        const monitor::Euler e = monitor::yawPitchRoll(d.orientation);
        const char* state = Shared::stateOf(k);
        const bool off = std::strcmp(state, "off") == 0;
        if (off)
            screen += "\x1b[2m"; // greyed: switched off, last pose shown
        if (wide)
            std::snprintf(line, sizeof line,
                          "%-18.18s %4u %-12s %4s %7.3f %7.3f %7.3f | %6.3f %6.3f %6.3f %6.3f | %6.1f %6.1f %6.1f | %8.3f",
                          serial.c_str(), k.index, monitor::className(k.deviceClass), state, d.position[0],
                          d.position[1], d.position[2], d.orientation[0], d.orientation[1], d.orientation[2],
                          d.orientation[3], e.yaw, e.pitch, e.roll, monitor::speed(d.velocity));
        else
            std::snprintf(line, sizeof line, "%-15.15s %3u %-4s %-4s %7.3f %7.3f %7.3f %6.1f %6.1f %6.1f %4.1f",
                          serial.c_str(), k.index, monitor::shortClassName(k.deviceClass), state, d.position[0],
                          d.position[1], d.position[2], e.yaw, e.pitch, e.roll, monitor::speed(d.velocity));
        screen += line;
        screen += off ? "\x1b[0m\n" : "\n";
    }
    if (shown < rows.size())
        screen += "... and " + std::to_string(rows.size() - shown) + " more devices (a taller terminal shows them)\n";
    if (rows.empty())
        screen += "(no device yet)\n";
    screen += "\nevents (latest last):\n";
    for (const auto& ev : shared.recentEvents)
        screen += "  " + ev.substr(0, wide ? ev.size() : 78) + "\n";
    std::lock_guard<std::mutex> out(outputMutex);
    std::fwrite(screen.data(), 1, screen.size(), human);
    std::fflush(human);
}

void printSummaryLine()
{
    std::string text;
    char part[160];
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        const double t = secondsSinceStart();
        std::snprintf(part, sizeof part, "[%8.3f s] reads %llu (%.1f/s), frame %llu, %s:", t, shared.reads,
                      t > 0 ? static_cast<double>(shared.reads) / t : 0.0,
                      static_cast<unsigned long long>(shared.frameNumber), statusText(shared.status).c_str());
        text = part;
        for (const auto& [serial, k] : shared.known) {
            if (!k.hasPose)
                continue;
            std::snprintf(part, sizeof part, " %.63s@%u %s (%.2f, %.2f, %.2f)", serial.c_str(), k.index,
                          Shared::stateOf(k), k.last.position[0], k.last.position[1], k.last.position[2]);
            text += part;
        }
        if (shared.known.empty())
            text += " no device";
    }
    std::lock_guard<std::mutex> out(outputMutex);
    std::fprintf(human, "%s\n", text.c_str());
    std::fflush(human);
}

using RigFn = void (*)();

// Replays a recording in the simulated runtime. A FIFO or a pipe (bash's <(zcat run.rec.gz)) is
// read whole first, however long its writer takes; Ctrl-C ends that wait. Returns an exit status:
// 0 when the replay runs, 2 for a refused file, 130 when interrupted.
int startReplay(const std::string& path)
{
    using PlayFn = int32_t (*)(const char*, int32_t);
    using WhyFn = const char* (*)();
    auto play = reinterpret_cast<PlayFn>(monitor::sys::runtimeSymbol("vrsim_play_recording"));
    auto why = reinterpret_cast<WhyFn>(monitor::sys::runtimeSymbol("vrsim_replay_error"));
    if (!play) {
        std::fprintf(stderr, "tavrin-monitor: the OpenVR runtime cannot replay a recording (a real runtime?)\n");
        return 2;
    }
    const monitor::files::Kind kind = monitor::files::kindOf(path);
    if (kind == monitor::files::Kind::Missing || kind == monitor::files::Kind::Directory) {
        std::fprintf(stderr, "tavrin-monitor: cannot replay %s: %s\n", path.c_str(),
                     kind == monitor::files::Kind::Missing ? "no such file" : "it is a directory, not a recording");
        return 2;
    }
    std::string copy = path, error;
    if (kind == monitor::files::Kind::Other) {
        const monitor::files::Copied copied = monitor::files::copyToTemporary(path, copy, interrupted, error);
        if (copied == monitor::files::Copied::Interrupted)
            return 130;
        if (copied == monitor::files::Copied::Failed) {
            std::fprintf(stderr, "tavrin-monitor: %s\n", error.c_str());
            return 2;
        }
    }
    const int32_t played = play(copy.c_str(), 1);
    monitor::files::removeCopy(path, copy);
    if (played != 0) {
        std::fprintf(stderr, "tavrin-monitor: cannot replay %s: %s\n", path.c_str(), why ? why() : "?");
        return 2;
    }
    if (!liveTable)
        std::fprintf(human, "replaying %s in the simulated runtime\n", path.c_str());
    return 0;
}

// Which rig the simulated runtime shows: a replay, the environment's (VRSIM_RIG), the demo rig,
// or, with a real runtime, whatever it reports. Returns an exit status, 0 when the run can go on
// (see startReplay). stopRig is what undoes the choice at the end.
int chooseRig(const monitor::Options& opt, RigFn& stopRig)
{
    if (!opt.replayPath.empty())
        return startReplay(opt.replayPath);
    const char* rigName = std::getenv("VRSIM_RIG");
    if (rigName != nullptr && rigName[0] != '\0') {
        // The simulated runtime started that rig as it loaded; a replay it refused is said here.
        using WhyFn = const char* (*)();
        auto why = reinterpret_cast<WhyFn>(monitor::sys::runtimeSymbol("vrsim_replay_error"));
        if (std::strncmp(rigName, "replay:", 7) == 0 && why && why()[0] != '\0') {
            std::fprintf(stderr, "tavrin-monitor: VRSIM_RIG=%s: cannot replay %s: %s\n", rigName, rigName + 7, why());
            return 2;
        }
        if (!liveTable)
            std::fprintf(human, "VRSIM_RIG=%s: the simulated runtime's rig is left as it is\n", rigName);
        return 0;
    }
    if (!opt.demo)
        return 0;
    auto startDemo = reinterpret_cast<RigFn>(monitor::sys::runtimeSymbol("vrsim_start_demo_rig"));
    if (startDemo) {
        startDemo();
        stopRig = reinterpret_cast<RigFn>(monitor::sys::runtimeSymbol("vrsim_stop_demo_rig"));
        if (!liveTable)
            std::fprintf(human, "demo rig started in the simulated runtime\n");
    } else if (!liveTable) {
        std::fprintf(human, "the OpenVR runtime has no demo rig (a real runtime?): showing what it reports\n");
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const monitor::ParseResult parsed = monitor::parseOptions(argc, argv);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "tavrin-monitor: %s\n(tavrin-monitor --help lists the options)\n", parsed.error.c_str());
        return 2;
    }
    const monitor::Options& opt = parsed.options;
    if (opt.help) {
        std::fputs(monitor::usage(), stdout);
        return 0;
    }
    if (opt.version) {
        std::printf("tavrin-monitor %s (library %s)\n", TAVRIN_VERSION_STRING, tavrin_version());
        return 0;
    }
    std::string error;
    monitor::OscSender osc;
    if (!opt.osc.empty()) {
        if (!monitor::OscSender::available(error)) {
            std::fprintf(stderr, "tavrin-monitor: --osc: %s\n", error.c_str());
            return 2;
        }
        for (const auto& to : opt.osc) {
            if (!osc.addReceiver(to.host, to.port, error)) {
                std::fprintf(stderr, "tavrin-monitor: --osc: %s\n", error.c_str());
                return 2;
            }
        }
    }

    // Outputs are opened before anything starts, so that a path that cannot be written stops the
    // run at once and leaves nothing behind.
    monitor::CsvWriter csv;
    monitor::PendingFile svgFile;
    monitor::PlotRecorder plot;
    const bool recording = !opt.recordPath.empty();
    const std::string csvPath = recording ? opt.recordPath : opt.csvPath;
    if (!csvPath.empty() && !csv.open(csvPath, error, recording)) {
        std::fprintf(stderr, "tavrin-monitor: %s\n", error.c_str());
        return 1;
    }
    if (!opt.plotPath.empty() && !svgFile.open(opt.plotPath, error)) {
        std::fprintf(stderr, "tavrin-monitor: %s\n", error.c_str());
        return 1; // the CSV's temporary file is discarded with it
    }

    if (csvPath == "-" || opt.plotPath == "-")
        human = stderr;
    liveTable = human == stdout && monitor::sys::stdoutIsTerminal();
    if (liveTable) {
        monitor::sys::enableTerminalEscapes();
        std::fputs("\x1b[?25l", human); // hide the cursor while redrawing
    }
    monitor::sys::watchInterrupt(&interrupted);

    RigFn stopRig = nullptr;
    if (const int refused = chooseRig(opt, stopRig); refused != 0) {
        if (liveTable)
            std::fputs("\x1b[?25h", human);
        return refused;
    }

    monitor::LiveServer live;
    if (!opt.serve.empty()) {
        if (!live.start(opt.serve, liveFrame, error)) {
            std::fprintf(stderr, "tavrin-monitor: %s\n", error.c_str());
            return 1;
        }
        liveView = &live;
        std::fprintf(human, "live view: %s\n", live.url().c_str());
        std::fflush(human);
    }
    const double oscRate = std::min(opt.oscRate, static_cast<double>(opt.rate));
    if (!opt.osc.empty()) {
        for (const std::string& to : osc.receivers())
            std::fprintf(human, "VMC over OSC to %s, %.4g bundles a second\n", to.c_str(), oscRate);
        std::fflush(human);
    }
    askedRate = opt.rate;
    if (!opt.plotPath.empty())
        plotEvents = &plot;
    if (recording)
        recordEvents = &csv;

    tavrin_source* source = tavrin_source_create(static_cast<double>(opt.rate));
    if (source == nullptr || tavrin_source_start(source) != DeviceError_None) {
        std::fprintf(stderr, "tavrin-monitor: the frame source did not start\n");
        tavrin_source_destroy(source);
        return 1;
    }
    osc.start(oscRate);

    std::atomic<bool> stopReading{false}, stopEvents{false};
    ReaderResult result;
    std::thread events(eventLoop, source, std::ref(stopEvents));
    std::thread reader(readLoop, source, opt.rate, std::ref(stopReading), csvPath.empty() ? nullptr : &csv,
                       opt.plotPath.empty() ? nullptr : &plot, opt.osc.empty() ? nullptr : &osc, std::ref(result));

    const auto refresh = liveTable ? std::chrono::milliseconds(250) : std::chrono::milliseconds(1000);
    const Clock::time_point deadline =
        opt.seconds ? started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*opt.seconds))
                    : Clock::time_point::max();
    Clock::time_point nextDraw = Clock::now() + refresh;
    if (liveTable)
        drawTable(opt.rate);
    while (!interrupted.load() && Clock::now() < deadline) {
        bool newEvent;
        {
            std::unique_lock<std::mutex> lock(shared.mutex);
            const unsigned long long seen = shared.events;
            // Bounded, so that Ctrl-C is noticed promptly.
            const Clock::time_point wake = std::min({nextDraw, deadline, Clock::now() + std::chrono::milliseconds(100)});
            newEvent = shared.changed.wait_until(lock, wake, [&] { return shared.events != seen; });
        }
        const Clock::time_point now = Clock::now();
        const bool due = now >= nextDraw;
        if (liveTable && (due || newEvent))
            drawTable(opt.rate);
        else if (!liveTable && due)
            printSummaryLine();
        if (due)
            nextDraw = now + refresh;
    }

    stopReading = true;
    reader.join();
    osc.stop();
    tavrin_source_stop(source); // queues nothing more: the event thread takes what is left
    stopEvents = true;
    events.join();
    tavrin_source_destroy(source);
    liveView = nullptr;
    live.stop();
    if (stopRig)
        stopRig();
    if (liveTable) {
        drawTable(opt.rate);
        std::fputs("\x1b[?25h\n", human);
    }

    int status = 0;
    if (!csvPath.empty()) {
        recordEvents = nullptr;
        if (csv.finish(error)) {
            std::fprintf(human, "%s: %s (%llu rows)\n", recording ? "recording" : "csv", csvPath.c_str(), csv.rows());
        } else {
            std::fprintf(stderr, "tavrin-monitor: %s\n", error.c_str());
            status = 1;
        }
    }
    if (!opt.plotPath.empty()) {
        const std::string svg = monitor::renderSvg(
            plot.tracks(), "tavrin-monitor: " + std::to_string(opt.rate) + " Hz, " + std::to_string(result.reads) + " reads",
            plot.events());
        std::fwrite(svg.data(), 1, svg.size(), svgFile.stream());
        if (svgFile.commit(error)) {
            std::fprintf(human, "plot: %s (%zu devices)\n", opt.plotPath.c_str(), plot.tracks().size());
        } else {
            std::fprintf(stderr, "tavrin-monitor: %s\n", error.c_str());
            status = 1;
        }
    }

    const double rateAchieved = result.elapsedSeconds > 0 ? static_cast<double>(result.reads) / result.elapsedSeconds : 0;
    const unsigned long long numbered =
        result.frames > 0 ? static_cast<unsigned long long>(result.lastFrame - result.firstFrame + 1) : 0;
    std::fprintf(human,
                 "\nsummary\n"
                 "  reads            %llu (%llu with a session) in %.2f s\n"
                 "  frames           %llu, numbers %llu to %llu (%llu missing)\n"
                 "  achieved rate    %.2f reads/s (asked %u)\n"
                 "  wait error       p50 %.1f us, p99 %.1f us, max %.1f us\n"
                 "  frame spacing    p50 %.3f ms, p99 %.3f ms (successive frame times)\n"
                 "  cpu per read     %.1f us\n"
                 "  events           %llu (%llu dropped)\n",
                 result.reads, result.frames, result.elapsedSeconds, result.frames,
                 static_cast<unsigned long long>(result.firstFrame), static_cast<unsigned long long>(result.lastFrame),
                 numbered - result.frames, rateAchieved, opt.rate, monitor::percentile(result.waitErrorUs, 0.50),
                 monitor::percentile(result.waitErrorUs, 0.99), monitor::percentile(result.waitErrorUs, 1.0),
                 monitor::percentile(result.frameSpacingMs, 0.50), monitor::percentile(result.frameSpacingMs, 0.99),
                 result.reads ? result.cpuSeconds * 1e6 / static_cast<double>(result.reads) : 0.0, shared.events,
                 shared.dropped);
    if (!opt.osc.empty()) {
        const monitor::OscSender::Figures f = osc.figures();
        std::fprintf(human, "  osc              %llu bundles to %zu receivers, %llu failed sends, %llu frames skipped\n",
                     f.bundles, opt.osc.size(), f.failed, f.skipped);
    }
    // Stopped by Ctrl-C: the shell's convention for a run ended by SIGINT, after the clean stop.
    return interrupted.load() ? 130 : status;
}
