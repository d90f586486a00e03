// tavrin-monitor: a host program over tavrin's plain functions, as a user's own program would be.
// It registers a handler, starts the library, reads poses at the requested rate on a thread of its
// own, shows events and poses as they come, and ends with a summary of the reads and the pacing.
#include "figures.h"
#include "live.h"
#include "options.h"
#include "system.h"
#include "writers.h"

#include <tavrin.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace ViveSystem;
using Clock = std::chrono::steady_clock;

namespace {

std::atomic<bool> interrupted{false};
const Clock::time_point started = Clock::now();
bool liveTable = false;
// The monitor's own output: standard error when a recording streams to standard output.
std::FILE* human = stdout;

double secondsSinceStart()
{
    return std::chrono::duration<double>(Clock::now() - started).count();
}

// What the reader thread, the handler and the display share.
struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    _TrackedDevicePose latest[16] = {};
    _DeviceError status = DeviceError_NoSession;
    unsigned long long reads = 0;
    std::deque<std::string> recentEvents; // terminal: the last few, shown under the table
    unsigned long long events = 0;
    // Every device the events or the reads have shown, by serial: a switched-off device stays, marked
    // off, until it leaves.
    struct Known {
        int index = 0;
        int deviceClass = 0;
        bool on = true;
        bool hasPose = false;
        _TrackedDevicePose last{};
    };
    std::map<std::string, Known> known;
    static const char* stateOf(const Known& k) { return !k.on ? "off" : k.last.trackingOk ? "ok" : "lost"; }
    int knownCount = 0; // the device count of the latest event
    std::deque<double> recentWaitUs; // the latest wait errors, for the live view's figures
};
Shared shared;
std::mutex outputMutex;

std::string describeEvent(double at, int count, _DeviceEvent event, const _DeviceEventArg& arg)
{
    char line[200];
    if (event == DeviceEvent_SessionOpened)
        std::snprintf(line, sizeof line, "[%8.3f s] %-22s (devices known: %d)", at, monitor::eventName(event), count);
    else if (event == DeviceEvent_IndexChanged)
        std::snprintf(line, sizeof line, "[%8.3f s] %-22s %-16.63s index %d (was %d)  devices %d", at,
                      monitor::eventName(event), arg.serial, arg.index, arg.index2, count);
    else
        std::snprintf(line, sizeof line, "[%8.3f s] %-22s %-16.63s index %d  devices %d", at, monitor::eventName(event),
                      arg.serial, arg.index, count);
    return line;
}

// Keeps the known devices up to date; under shared.mutex. A disconnect event whose count is below
// the count known so far is a device that left; otherwise it was switched off.
void noteEvent(int count, _DeviceEvent event, const _DeviceEventArg& arg)
{
    const std::string serial(arg.serial);
    const int code = static_cast<int>(event);
    if (event == DeviceEvent_SessionClosed) {
        shared.known.clear();
    } else if (code >= DeviceEvent_HmdConnected && code <= DeviceEvent_TrackerDisconnected) {
        const bool connect = code % 2 == 1;
        if (!connect && count < shared.knownCount) {
            shared.known.erase(serial);
        } else {
            Shared::Known& k = shared.known[serial];
            k.index = arg.index;
            k.deviceClass = (code - 1) / 2;
            k.on = connect;
        }
    } else if (event == DeviceEvent_IndexChanged) {
        shared.known[serial].index = arg.index;
    }
    shared.knownCount = count;
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

std::string statusText(_DeviceError status);

// One frame of the live view: the known devices and the pacing figures.
std::string liveFrame()
{
    std::string out;
    char part[256];
    std::lock_guard<std::mutex> lock(shared.mutex);
    const double t = secondsSinceStart();
    std::vector<double> waits(shared.recentWaitUs.begin(), shared.recentWaitUs.end());
    std::snprintf(part, sizeof part, "{\"t\":%.3f,\"asked\":%u,\"rate\":%.2f,\"p50\":%.2f,\"p99\":%.2f,\"reads\":%llu,",
                  t, askedRate, t > 0 ? static_cast<double>(shared.reads) / t : 0.0, monitor::percentile(waits, 0.5),
                  monitor::percentile(waits, 0.99), shared.reads);
    out = part;
    out += "\"status\":" + jsonString(statusText(shared.status).c_str()) + ",\"devices\":[";
    bool first = true;
    for (const auto& [serial, k] : shared.known) {
        const _TrackedDevicePose& p = k.last;
        const char* state = Shared::stateOf(k);
        std::snprintf(part, sizeof part,
                      ",\"index\":%d,\"cls\":%d,\"state\":\"%s\",\"p\":[%.4f,%.4f,%.4f],\"q\":[%.5f,%.5f,%.5f,%.5f]}",
                      k.index, k.deviceClass, state, p.position[0], p.position[1], p.position[2], p.quaternion[0],
                      p.quaternion[1], p.quaternion[2], p.quaternion[3]);
        out += (first ? "{\"serial\":" : ",{\"serial\":") + jsonString(serial.c_str()) + part;
        first = false;
    }
    return out + "]}";
}

// Runs on tavrin's discovery thread.
void onDeviceEvent(int count, _DeviceEvent event, _DeviceEventArg arg)
{
    // Record stamps count from the driver's construction, as the monitor's clock does from its
    // start: both happen as the program loads.
    const float tMs = static_cast<float>(secondsSinceStart() * 1000.0);
    if (plotEvents)
        plotEvents->addEvent(tMs, static_cast<int>(event), arg.serial);
    if (recordEvents)
        recordEvents->writeEvent(tMs, static_cast<int>(event), arg.serial, arg.index, arg.index2, count);
    if (liveView) {
        char part[128];
        std::snprintf(part, sizeof part, ",\"index\":%d,\"old\":%d,\"count\":%d,\"t\":%.3f}", arg.index, arg.index2, count,
                      secondsSinceStart());
        liveView->publishEvent("{\"name\":" + jsonString(monitor::eventName(event)) + ",\"serial\":" +
                               jsonString(arg.serial) + part);
    }
    const std::string line = describeEvent(secondsSinceStart(), count, event, arg);
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        ++shared.events;
        noteEvent(count, event, arg);
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

struct ReaderResult {
    unsigned long long reads = 0, readsWithPoses = 0;
    double elapsedSeconds = 0, cpuSeconds = 0;
    std::vector<double> waitErrorUs;
};

void readLoop(unsigned rate, std::atomic<bool>& stop, monitor::CsvWriter* csv, monitor::PlotRecorder* plot,
              ReaderResult& result)
{
    const double periodUs = 1e6 / rate;
    result.waitErrorUs.reserve(1 << 16);
    const double cpu0 = monitor::sys::threadCpuSeconds();
    const Clock::time_point begin = Clock::now();
    Clock::time_point previous{};
    while (!stop.load()) {
        _TrackedDevicePose poses[16];
        std::memset(poses, 0, sizeof poses);
        _DeviceError err = DeviceError_Unknown;
        readViveData(poses, &err);
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
        if (err == DeviceError_None) {
            ++result.readsWithPoses;
            if (csv)
                csv->write(result.reads, poses);
            if (plot)
                plot->add(poses);
        }
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.reads = result.reads;
        shared.status = err;
        if (waitErrorUs >= 0) {
            shared.recentWaitUs.push_back(waitErrorUs);
            if (shared.recentWaitUs.size() > 1000)
                shared.recentWaitUs.pop_front();
        }
        if (err == DeviceError_None) {
            std::memcpy(shared.latest, poses, sizeof poses);
            for (const auto& p : poses) {
                if (p.deviceClass < 1 || p.deviceClass > 3)
                    continue;
                Shared::Known& k = shared.known[p.serial];
                k.index = p.index;
                k.deviceClass = p.deviceClass;
                k.on = true;
                k.hasPose = true;
                k.last = p;
            }
        }
    }
    result.elapsedSeconds = std::chrono::duration<double>(Clock::now() - begin).count();
    result.cpuSeconds = monitor::sys::threadCpuSeconds() - cpu0;
}

std::string statusText(_DeviceError status)
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
    std::snprintf(line, sizeof line, "tavrin-monitor %u Hz %.1f s reads %llu (%.1f/s) %s%s\n", rate, t, shared.reads,
                  t > 0 ? static_cast<double>(shared.reads) / t : 0.0, statusText(shared.status).c_str(),
                  wide ? "  (Ctrl-C stops)" : "");
    screen += line;
    if (liveView)
        screen += "live view: " + liveView->url() + "\n";
    screen += "\n";
    if (wide)
        screen += "serial              idx class       trk       x       y       z |      w      x      y      z |"
                  "    yaw  pitch   roll | speed m/s\n";
    else // fits 80 columns
        screen += "serial          idx cls  trk       x       y       z    yaw  pitch   roll  m/s\n";
    static const char* const shortClass[] = {"?", "hmd", "ctl", "trk"};
    std::vector<std::pair<const std::string*, const Shared::Known*>> rows;
    for (const auto& [serial, k] : shared.known)
        rows.emplace_back(&serial, &k);
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.second->index < b.second->index; });
    for (const auto& [serial, k] : rows) {
        const _TrackedDevicePose& p = k->last;
        const monitor::Euler e = monitor::yawPitchRoll(p.quaternion);
        const char* trk = Shared::stateOf(*k);
        if (!k->on)
            screen += "\x1b[2m"; // greyed: switched off, last pose shown
        if (wide)
            std::snprintf(line, sizeof line,
                          "%-18.18s %4d %-10s %4s %7.3f %7.3f %7.3f | %6.3f %6.3f %6.3f %6.3f | %6.1f %6.1f %6.1f | %8.3f",
                          serial->c_str(), k->index, monitor::className(k->deviceClass), trk, p.position[0],
                          p.position[1], p.position[2], p.quaternion[0], p.quaternion[1], p.quaternion[2],
                          p.quaternion[3], e.yaw, e.pitch, e.roll, monitor::speed(p.velocity));
        else
            std::snprintf(line, sizeof line, "%-15.15s %3d %-4s %-4s %7.3f %7.3f %7.3f %6.1f %6.1f %6.1f %4.1f",
                          serial->c_str(), k->index, shortClass[k->deviceClass >= 1 && k->deviceClass <= 3 ? k->deviceClass : 0], trk, p.position[0],
                          p.position[1], p.position[2], e.yaw, e.pitch, e.roll, monitor::speed(p.velocity));
        screen += line;
        screen += k->on ? "\n" : "\x1b[0m\n";
    }
    if (rows.empty())
        screen += "(no tracked device yet)\n";
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
        std::snprintf(part, sizeof part, "[%8.3f s] reads %llu (%.1f/s), %s:", t, shared.reads,
                      t > 0 ? static_cast<double>(shared.reads) / t : 0.0, statusText(shared.status).c_str());
        text = part;
        int shown = 0;
        for (const auto& p : shared.latest) {
            if (p.deviceClass < 1 || p.deviceClass > 3)
                continue;
            std::snprintf(part, sizeof part, " %.63s@%d (%.2f, %.2f, %.2f)", p.serial, p.index, p.position[0],
                          p.position[1], p.position[2]);
            text += part;
            ++shown;
        }
        if (shown == 0)
            text += " no tracked device";
    }
    std::lock_guard<std::mutex> out(outputMutex);
    std::fprintf(human, "%s\n", text.c_str());
    std::fflush(human);
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

    // Outputs are opened before anything starts, so that a path that cannot be written stops the
    // run at once and leaves nothing behind.
    std::string error;
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

    using RigFn = void (*)();
    RigFn stopDemo = nullptr;
    if (!opt.replayPath.empty()) {
        using PlayFn = int32_t (*)(const char*, int32_t);
        using WhyFn = const char* (*)();
        auto play = reinterpret_cast<PlayFn>(monitor::sys::runtimeSymbol("vrsim_play_recording"));
        auto why = reinterpret_cast<WhyFn>(monitor::sys::runtimeSymbol("vrsim_replay_error"));
        if (!play) {
            std::fprintf(stderr, "tavrin-monitor: the OpenVR runtime cannot replay a recording (a real runtime?)\n");
            return 1;
        }
        if (play(opt.replayPath.c_str(), 1) != 0) {
            std::fprintf(stderr, "tavrin-monitor: cannot replay %s: %s\n", opt.replayPath.c_str(), why ? why() : "?");
            return 1;
        }
        if (!liveTable)
            std::fprintf(human, "replaying %s in the simulated runtime\n", opt.replayPath.c_str());
    } else if (opt.demo) {
        auto startDemo = reinterpret_cast<RigFn>(monitor::sys::runtimeSymbol("vrsim_start_demo_rig"));
        stopDemo = reinterpret_cast<RigFn>(monitor::sys::runtimeSymbol("vrsim_stop_demo_rig"));
        if (startDemo) {
            startDemo();
            if (!liveTable)
                std::fprintf(human, "demo rig started in the simulated runtime\n");
        } else if (!liveTable) {
            std::fprintf(human, "the OpenVR runtime has no demo rig (a real runtime?): showing what it reports\n");
        }
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
    askedRate = opt.rate;
    if (!opt.plotPath.empty())
        plotEvents = &plot;
    if (recording)
        recordEvents = &csv;
    setDeviceStatusChangedHandle(onDeviceEvent);
    setFreq(opt.rate);
    _DeviceError err = DeviceError_Unknown;
    if (!initViveLib(&err)) {
        std::fprintf(stderr, "tavrin-monitor: the library did not start (status %d)\n", static_cast<int>(err));
        return 1;
    }

    std::atomic<bool> stopReading{false};
    ReaderResult result;
    std::thread reader(readLoop, opt.rate, std::ref(stopReading), csvPath.empty() ? nullptr : &csv,
                       opt.plotPath.empty() ? nullptr : &plot, std::ref(result));

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
    releaseViveLib();
    liveView = nullptr;
    live.stop();
    setDeviceStatusChangedHandle(nullptr);
    if (stopDemo)
        stopDemo();
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
    std::fprintf(human, "\nsummary\n"
                "  reads            %llu (%llu with poses) in %.2f s\n"
                "  achieved rate    %.2f reads/s (asked %u)\n"
                "  wait error       p50 %.1f us, p99 %.1f us, max %.1f us\n"
                "  cpu per read     %.1f us\n"
                "  events           %llu\n",
                result.reads, result.readsWithPoses, result.elapsedSeconds, rateAchieved, opt.rate,
                monitor::percentile(result.waitErrorUs, 0.50), monitor::percentile(result.waitErrorUs, 0.99),
                monitor::percentile(result.waitErrorUs, 1.0),
                result.reads ? result.cpuSeconds * 1e6 / static_cast<double>(result.reads) : 0.0, shared.events);
    // Stopped by Ctrl-C: the shell's convention for a run ended by SIGINT, after the clean stop.
    return interrupted.load() ? 130 : status;
}
