#include "monitor.h"

#include "convert.h"
#include "display.h"
#include "figures.h"
#include "files.h"
#include "system.h"

#include <names/names.h>
#include <recording/recording_format.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace monitor {

namespace {
constexpr int32_t kNoError = 0;

// What the simulated runtime does with the rig its environment names.
std::string environmentRig(const std::string& name)
{
    if (name == "demo")
        return "the simulated runtime runs its demo rig";
    if (name == "fullbody")
        return "the simulated runtime runs its full-body rig";
    if (name == "noheadset")
        return "the simulated runtime needs a headset and has none";
    if (name.rfind("replay:", 0) == 0)
        return "the simulated runtime replays " + name.substr(7);
    return "not a rig the simulated runtime knows (demo, fullbody, noheadset, replay:PATH): its scripted rig runs";
}
} // namespace

Monitor::Monitor(const Options& options) : opt(options) {}

Monitor::~Monitor()
{
    stopReading = true;
    stopEvents = true;
    if (reader.joinable())
        reader.join();
    if (events.joinable())
        events.join();
    tavrin_source_destroy(source);
}

double Monitor::secondsSinceStart() const
{
    return std::chrono::duration<double>(Clock::now() - started).count();
}

// Milliseconds since the monitor started, on the library's clock.
double Monitor::msSince(int64_t timeNs) const
{
    return static_cast<double>(timeNs - startedNs) / 1e6;
}

void Monitor::printLine(const std::string& line)
{
    std::lock_guard<std::mutex> lock(outputMutex);
    std::fprintf(human, "%s\n", line.c_str());
    std::fflush(human);
}

int Monitor::prepare()
{
    // First: whatever follows may block (a FIFO with no writer yet) and Ctrl-C must end it.
    sys::watchInterrupt(&interrupted);
    std::string error;
    if (!opt.osc.empty()) {
        if (!OscSender::available(error)) {
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
    if (const int refused = openOutputs())
        return refused;
    source = tavrin_source_create(static_cast<double>(opt.rate));
    if (source == nullptr) {
        std::fprintf(stderr, "tavrin-monitor: the frame source cannot be made\n");
        return 1;
    }
    tavrin_source_set_spin_us(source, opt.spinUs);
    if (const int refused = applyRig())
        return interrupted.load() ? 130 : refused;
    if (csvPath == "-" || opt.plotPath == "-" || opt.bvhPath == "-")
        human = stderr;
    liveTable = human == stdout && sys::stdoutIsTerminal();
    if (liveTable) {
        sys::enableTerminalEscapes();
        std::fputs("\x1b[?25l", human); // hide the cursor while redrawing
    }
    int refused = chooseRig();
    if (refused == 0)
        refused = startServing();
    if (refused != 0) {
        if (liveTable)
            std::fputs("\x1b[?25h", human); // the cursor back
        return refused;
    }
    const double oscRate = std::min(opt.oscRate, static_cast<double>(opt.rate));
    for (const std::string& to : osc.receivers()) {
        char line[200];
        std::snprintf(line, sizeof line, "%s over OSC to %s, %.4g %s a second", opt.oscVrchat ? "VRChat trackers" : "VMC",
                      to.c_str(), oscRate, opt.oscVrchat ? "frames" : "bundles");
        printLine(line);
    }
    if (tavrin_source_start(source) != kNoError) {
        std::fprintf(stderr, "tavrin-monitor: the frame source did not start\n");
        return 1;
    }
    tavrin_source_get_space(source, &space);
    osc.start(oscRate, opt.oscVrchat ? OscSender::Format::Vrchat : OscSender::Format::Vmc, space);
    events = std::thread([this] { eventLoop(); });
    reader = std::thread([this] { readLoop(); });
    return 0;
}

// Opened before anything starts, so that a path that cannot be written stops the run at once and
// leaves nothing behind.
int Monitor::openOutputs()
{
    std::string error;
    const bool recording = !opt.recordPath.empty();
    csvPath = recording ? opt.recordPath : opt.csvPath;
    if (!csvPath.empty() && !csv.open(csvPath, error, recording)) {
        std::fprintf(stderr, "tavrin-monitor: %s\n", error.c_str());
        return 1;
    }
    if (!opt.gltfPath.empty() && !gltfAvailable(error)) {
        std::fprintf(stderr, "tavrin-monitor: --gltf: %s\n", error.c_str());
        return 2;
    }
    // A file that cannot be written stops the run; those opened before it are discarded with it.
    for (const auto& [path, file] :
         {std::pair{&opt.plotPath, &svgFile}, std::pair{&opt.bvhPath, &bvhFile}, std::pair{&opt.gltfPath, &gltfFile}}) {
        if (!path->empty() && !file->open(*path, error)) {
            std::fprintf(stderr, "tavrin-monitor: %s\n", error.c_str());
            return 1;
        }
    }
    return 0;
}

// The rig file (when it exists) and the roles of the command line. A bad file refuses the run. A
// FIFO or a pipe is read whole first (Ctrl-C ends the wait for its writer) and is not written back.
int Monitor::applyRig()
{
    if (!opt.rigPath.empty()) {
        const files::Kind kind = files::kindOf(opt.rigPath);
        if (kind == files::Kind::Missing) {
            printLine("rig: " + opt.rigPath + " does not exist yet; it is written at the end");
            rigChanged = true;
        } else {
            std::string copy = opt.rigPath, error;
            if (kind == files::Kind::Other) {
                rigWritable = false;
                const files::Copied copied = files::copyToTemporary(opt.rigPath, copy, interrupted, error, false);
                if (copied == files::Copied::Interrupted)
                    return 130;
                if (copied == files::Copied::Failed) {
                    std::fprintf(stderr, "tavrin-monitor: --rig: %s\n", error.c_str());
                    return 2;
                }
            }
            const bool loaded = tavrin_source_load_rig(source, copy.c_str()) == kNoError;
            std::string why = tavrin_source_rig_error(source);
            files::removeCopy(opt.rigPath, copy);
            if (!loaded) {
                for (size_t at = why.find(copy); copy != opt.rigPath && at != std::string::npos; at = why.find(copy))
                    why.replace(at, copy.size(), opt.rigPath);
                std::fprintf(stderr, "tavrin-monitor: --rig: %s\n", why.c_str());
                return 2;
            }
            tavrin_space s{};
            tavrin_source_get_space(source, &s);
            char line[320];
            std::snprintf(line, sizeof line,
                          "rig: %s loaded: space axes %s, %g units per metre, origin (%.3f, %.3f, %.3f), "
                          "orientation (%.4f, %.4f, %.4f, %.4f); its roles show in the first frame",
                          opt.rigPath.c_str(), names::axesName(s.axes), static_cast<double>(s.units_per_metre),
                          static_cast<double>(s.position[0]), static_cast<double>(s.position[1]),
                          static_cast<double>(s.position[2]), static_cast<double>(s.orientation[0]),
                          static_cast<double>(s.orientation[1]), static_cast<double>(s.orientation[2]),
                          static_cast<double>(s.orientation[3]));
            printLine(line);
        }
    }
    for (const auto& [serial, role] : opt.roles) {
        if (tavrin_source_set_role(source, serial.c_str(), role) == kNoError)
            rigChanged = true;
        reads.unseen.push_back(serial);
    }
    if (!opt.originSerial.empty() && std::find(reads.unseen.begin(), reads.unseen.end(), opt.originSerial) == reads.unseen.end())
        reads.unseen.push_back(opt.originSerial);
    if (opt.axes || opt.unitsPerMetre) {
        tavrin_space space{};
        tavrin_source_get_space(source, &space);
        const tavrin_space was = space;
        space.axes = opt.axes.value_or(space.axes);
        space.units_per_metre = static_cast<float>(opt.unitsPerMetre.value_or(space.units_per_metre));
        tavrin_source_set_space(source, &space);
        if (space.axes != was.axes || space.units_per_metre != was.units_per_metre)
            rigChanged = true;
    }
    if (opt.filter) {
        tavrin_filter f{(*opt.filter)[0], (*opt.filter)[1], (*opt.filter)[2]};
        tavrin_filter was{};
        tavrin_source_get_filter(source, nullptr, &was);
        tavrin_source_set_filter(source, nullptr, f.min_cutoff_hz > 0 ? &f : nullptr);
        if (std::memcmp(&was, &f, sizeof f) != 0)
            rigChanged = true;
    }
    tavrin_filter f{};
    tavrin_source_get_filter(source, nullptr, &f);
    char note[160] = "off";
    if (f.min_cutoff_hz > 0)
        std::snprintf(note, sizeof note, "min_cutoff_hz %g, beta %g, derivative_cutoff_hz %g (One Euro, every device)",
                      static_cast<double>(f.min_cutoff_hz), static_cast<double>(f.beta),
                      static_cast<double>(f.derivative_cutoff_hz));
    csv.setFilterNote(note);
    originPending = !opt.originSerial.empty();
    autoRoles = opt.autoRoles ? AutoRoles::Pending : AutoRoles::Off;
    return 0;
}

// --origin: once the device has a valid pose in a frame read, the space starts there, with that
// very frame (re-expressed in the new space).
void Monitor::takeOrigin()
{
    if (!originPending.load() || tavrin_source_set_origin_from_device(source, opt.originSerial.c_str()) != kNoError)
        return;
    originPending = false;
    rigChanged = true;
    const tavrin_space before = space;
    tavrin_source_get_space(source, &space);
    for (uint32_t k = 0; k < frame.device_count; ++k)
        tavrin_space_convert(&before, &space, &frame.devices[k]);
    printLine("origin and heading set from " + opt.originSerial);
}

// --auto-roles: from the first frame with a head pose, the trackers it can place get body roles
// (what --role names keeps its role); the next frame shows them, and they are printed.
void Monitor::takeAutoRoles()
{
    if (autoRoles == AutoRoles::Print) {
        autoRoles = AutoRoles::Off;
        std::string list;
        for (uint32_t k = 0; k < frame.device_count; ++k) {
            const tavrin_device& d = frame.devices[k];
            if (d.device_class == 3 && d.role != 0)
                list += std::string(list.empty() ? "" : ", ") + d.serial + " " + tavrin_role_name(d.role);
        }
        printLine("auto roles: " + (list.empty() ? std::string("no tracker placed") : list));
        return;
    }
    if (autoRoles != AutoRoles::Pending)
        return;
    const int32_t placed = tavrin_source_assign_roles(source);
    if (placed < 0)
        return; // no head yet
    for (const auto& [serial, role] : opt.roles)
        tavrin_source_set_role(source, serial.c_str(), role);
    if (placed > 0)
        rigChanged = true;
    autoRoles = AutoRoles::Print;
}

// A device whose battery falls below 15 % is named once, so that it is charged before it stops.
void Monitor::warnLowBatteries()
{
    constexpr unsigned kLow = 15;
    for (uint32_t k = 0; k < frame.device_count; ++k) {
        const tavrin_device& d = frame.devices[k];
        if (d.battery >= kLow || std::find(lowBatteries.begin(), lowBatteries.end(), d.serial) != lowBatteries.end())
            continue;
        lowBatteries.push_back(d.serial);
        printLine("warning: " + std::string(d.serial) + "'s battery is at " + std::to_string(d.battery) + " %");
    }
}

// The first frame's roles (once any --auto-roles is done), when a rig or the command line gives
// some; and with --osc-format vrchat, a run that has none of VRChat's trackers is said to send the
// head alone.
void Monitor::sayRoles()
{
    firstRolesSaid = true;
    std::string list;
    bool vrchat = false;
    for (uint32_t k = 0; k < frame.device_count; ++k) {
        const tavrin_device& d = frame.devices[k];
        if (d.role != TAVRIN_ROLE_NONE)
            list += std::string(list.empty() ? "" : ", ") + d.serial + " " + tavrin_role_name(d.role);
        vrchat = vrchat || (d.role >= TAVRIN_ROLE_WAIST && d.role <= TAVRIN_ROLE_RIGHT_ELBOW);
    }
    if (!opt.rigPath.empty() || !opt.roles.empty())
        printLine("roles: " + (list.empty() ? std::string("none") : list));
    if (opt.oscVrchat && !vrchat)
        printLine("warning: --osc-format vrchat: no device holds waist, chest, left_foot, right_foot, left_knee, "
                  "right_knee, left_elbow or right_elbow, so only the head is sent (give --role or --auto-roles)");
}

// Once the first frame with a session has shown which devices are there: a serial the command
// line names that is not among them is said at once, rather than a role that silently never shows.
void Monitor::checkNamedSerials()
{
    for (const std::string& serial : reads.unseen)
        printLine("warning: " + serial + " (named by " + (serial == opt.originSerial ? "--origin" : "--role") +
                  ") is none of the " + std::to_string(frame.device_count) +
                  " devices present; check the serial (it applies if the device comes)");
}

// Written only when this run changed the rig (or the file is new): a file that is as it was keeps
// its bytes, its time and everything in it.
bool Monitor::saveRig()
{
    if (opt.rigPath.empty())
        return true;
    if (originPending.load())
        std::fprintf(stderr, "tavrin-monitor: --origin: %s never had a valid pose; the origin is as it was\n",
                     opt.originSerial.c_str());
    if (!rigChanged) {
        std::fprintf(human, "rig: %s (unchanged, not written)\n", opt.rigPath.c_str());
        return true;
    }
    if (!rigWritable) {
        std::fprintf(stderr, "tavrin-monitor: --rig: %s is not a regular file; the changed rig is not written back\n",
                     opt.rigPath.c_str());
        return true;
    }
    if (tavrin_source_save_rig(source, opt.rigPath.c_str()) != kNoError) {
        std::fprintf(stderr, "tavrin-monitor: --rig: %s\n", tavrin_source_rig_error(source));
        return false;
    }
    std::fprintf(human, "rig: %s (saved)\n", opt.rigPath.c_str());
    return true;
}

// Which rig the simulated runtime shows: a replay, the environment's (VRSIM_RIG), the demo rig,
// or, with a real runtime, whatever it reports. Returns an exit status, 0 when the run can go on
// (see startReplay). stopRig is what undoes the choice at the end.
int Monitor::chooseRig()
{
    if (!opt.replayPath.empty())
        return startReplay(opt.replayPath);
    const char* rigName = std::getenv("VRSIM_RIG");
    if (rigName != nullptr && rigName[0] != '\0') {
        // The simulated runtime started that rig as it loaded; a replay it refused is said here.
        using WhyFn = const char* (*)();
        auto why = reinterpret_cast<WhyFn>(sys::runtimeSymbol("vrsim_replay_error"));
        if (std::strncmp(rigName, "replay:", 7) == 0 && why && why()[0] != '\0') {
            std::fprintf(stderr, "tavrin-monitor: VRSIM_RIG=%s: cannot replay %s: %s\n", rigName, rigName + 7, why());
            return 2;
        }
        if (!liveTable)
            printLine(std::string("VRSIM_RIG=") + rigName + ": " + environmentRig(rigName));
        return 0;
    }
    if (!opt.demo)
        return 0;
    auto startDemo = reinterpret_cast<RigFn>(sys::runtimeSymbol("vrsim_start_demo_rig"));
    if (startDemo) {
        startDemo();
        stopRig = reinterpret_cast<RigFn>(sys::runtimeSymbol("vrsim_stop_demo_rig"));
        if (!liveTable)
            printLine("demo rig started in the simulated runtime");
    } else if (!liveTable) {
        printLine("the OpenVR runtime has no demo rig (a real runtime?): showing what it reports");
    }
    return 0;
}

// A recording to read whole: a regular file as it is (`copy` is `path`), a FIFO or a pipe copied to
// a temporary file first, however long its writer takes (Ctrl-C ends the wait). 0 when it can be
// read; else the exit status (2 refused, 130 interrupted), the reason printed.
int Monitor::recordingAt(const std::string& path, const char* use, std::string& copy)
{
    const files::Kind kind = files::kindOf(path);
    if (kind == files::Kind::Missing || kind == files::Kind::Directory) {
        std::fprintf(stderr, "tavrin-monitor: cannot %s %s: %s\n", use, path.c_str(),
                     kind == files::Kind::Missing ? "no such file" : "it is a directory, not a recording");
        return 2;
    }
    copy = path;
    if (kind != files::Kind::Other)
        return 0;
    std::string error;
    const files::Copied copied = files::copyToTemporary(path, copy, interrupted, error);
    if (copied == files::Copied::Failed)
        std::fprintf(stderr, "tavrin-monitor: %s\n", error.c_str());
    return copied == files::Copied::Done ? 0 : copied == files::Copied::Interrupted ? 130 : 2;
}

// Replays a recording in the simulated runtime. A FIFO or a pipe (bash's <(zcat run.rec.gz)) is
// read whole first, however long its writer takes; Ctrl-C ends that wait. Returns an exit status:
// 0 when the replay runs, 2 for a refused file, 130 when interrupted.
int Monitor::startReplay(const std::string& path)
{
    using PlayFn = int32_t (*)(const char*, int32_t);
    using WhyFn = const char* (*)();
    auto play = reinterpret_cast<PlayFn>(sys::runtimeSymbol("vrsim_play_recording"));
    auto why = reinterpret_cast<WhyFn>(sys::runtimeSymbol("vrsim_replay_error"));
    if (!play) {
        std::fprintf(stderr, "tavrin-monitor: the OpenVR runtime cannot replay a recording (a real runtime?)\n");
        return 2;
    }
    std::string copy, error;
    if (const int refused = recordingAt(path, "replay", copy))
        return refused;
    const int32_t played = play(copy.c_str(), 1);
    // A replay comes back in the recording's space, unless this run names one.
    recording::Recording recorded;
    const bool ownSpace = !opt.rigPath.empty() || opt.axes || opt.unitsPerMetre || !opt.originSerial.empty();
    if (played == 0 && !ownSpace && recording::loadRecording(copy, recorded, error) &&
        !ViveSystem::isDefault(recorded.space)) {
        const tavrin_space s = recordedSpace(recorded);
        tavrin_source_set_space(source, &s);
        printLine("the recording's space: " + recording::spaceLine(s).substr(9, std::string::npos));
    }
    files::removeCopy(path, copy);
    if (played != 0) {
        std::fprintf(stderr, "tavrin-monitor: cannot replay %s: %s\n", path.c_str(), why ? why() : "?");
        return 2;
    }
    if (!liveTable)
        printLine("replaying " + path + " in the simulated runtime");
    return 0;
}

int Monitor::startServing()
{
    if (opt.serve.empty())
        return 0;
    std::string error;
    if (!live.start(opt.serve, [this] { return liveFrame(board, secondsSinceStart(), opt.rate); }, error)) {
        std::fprintf(stderr, "tavrin-monitor: %s\n", error.c_str());
        return 1;
    }
    serving = true;
    printLine("live view: " + live.url());
    return 0;
}

// ---- --convert -----------------------------------------------------------------------------

int Monitor::convert()
{
    sys::watchInterrupt(&interrupted); // a FIFO's writer may never come
    if (const int refused = openOutputs())
        return refused;
    if (csvPath == "-" || opt.plotPath == "-" || opt.bvhPath == "-")
        human = stderr;
    const std::string& path = opt.convertPath;
    std::string copy, error;
    if (const int refused = recordingAt(path, "convert", copy))
        return refused;
    recording::Recording recorded;
    const bool loaded = recording::loadRecording(copy, recorded, error);
    files::removeCopy(path, copy);
    if (!loaded) {
        std::fprintf(stderr, "tavrin-monitor: cannot convert %s: %s\n", path.c_str(), error.c_str());
        return 2;
    }
    space = recordedSpace(recorded);
    if (!recorded.filter.empty())
        csv.setFilterNote(recorded.filter);
    for (size_t i = 0; i < recorded.events.size() && !opt.plotPath.empty(); ++i)
        plot.addEvent(static_cast<float>(recorded.events[i].t - recorded.start), recorded.events[i].kind,
                      recorded.events[i].serial);
    forEachFrame(recorded, [this](const tavrin_frame& f, double tMs) {
        frame = f;
        if (reads.frames == 0) {
            reads.firstFrame = f.frame_number;
            reads.firstFrameNs = f.time_ns;
        }
        reads.lastFrame = f.frame_number;
        reads.previousFrameNs = f.time_ns;
        writeFrame(++reads.frames, tMs);
    });
    const double measured = rateOf(reads.firstFrame, reads.firstFrameNs, reads.lastFrame, reads.previousFrameNs);
    const double rate = measured > 0 ? measured : opt.rate;
    const bool written = finishOutputs("tavrin-monitor: " + path, rate);
    std::fprintf(human, "\nsummary\n  converted        %s: %llu frames, %zu devices, %.3f s at %.6g Hz\n", path.c_str(),
                 reads.frames, recorded.tracks.size(), (recorded.end - recorded.start) / 1000.0, rate);
    printHeld();
    return written ? 0 : 1;
}

// ---- the reader and the events -------------------------------------------------------------

void Monitor::readLoop()
{
    const double periodUs = 1e6 / opt.rate;
    reads.waitErrorUs.reserve(1 << 16);
    const double cpu0 = sys::threadCpuSeconds();
    const Clock::time_point begin = Clock::now();
    Clock::time_point previous{};
    while (!stopReading.load()) {
        const int32_t status = tavrin_source_read(source, &frame, sizeof frame);
        const Clock::time_point now = Clock::now();
        double waitErrorUs = -1;
        if (reads.reads > 0) {
            waitErrorUs = std::abs(std::chrono::duration<double, std::micro>(now - previous).count() - periodUs);
            if (reads.waitErrorUs.size() < (1u << 22))
                reads.waitErrorUs.push_back(waitErrorUs);
        }
        previous = now;
        ++reads.reads;
        takeFrame(status, waitErrorUs);
    }
    reads.elapsedSeconds = std::chrono::duration<double>(Clock::now() - begin).count();
    reads.cpuSeconds = sys::threadCpuSeconds() - cpu0;
}

// One read's outcome: to the outputs and the board.
void Monitor::takeFrame(int32_t status, double waitErrorUs)
{
    int64_t& previousFrameNs = reads.previousFrameNs;
    const bool withSession = status == kNoError;
    const double tMs = msSince(frame.time_ns);
    if (withSession) {
        if (reads.frames++ == 0)
            reads.firstFrame = frame.frame_number;
        reads.lastFrame = frame.frame_number;
        if (previousFrameNs != 0 && reads.frameSpacingMs.size() < (1u << 22))
            reads.frameSpacingMs.push_back(static_cast<double>(frame.time_ns - previousFrameNs) / 1e6);
        previousFrameNs = frame.time_ns;
        if (reads.latenessUs.size() < (1u << 22))
            reads.latenessUs.push_back(static_cast<double>(frame.query_time_ns - frame.time_ns) / 1e3);
        if (reads.frames == 1)
            reads.firstFrameNs = frame.time_ns;
        takeOrigin();
        // Until --origin's device shows (two seconds at the most), nothing is written: the files'
        // first frame is in the space they name.
        if (!originPending.load() || frame.time_ns - reads.firstFrameNs >= 2000000000)
            writeFrame(reads.reads, tMs);
        if (!opt.osc.empty())
            osc.offer(frame, tMs / 1000.0);
        takeAutoRoles();
        warnLowBatteries();
        // Only while a named serial is still missing: a look at this frame's serials.
        auto& unseen = reads.unseen;
        for (uint32_t k = 0; k < frame.device_count && !unseen.empty(); ++k)
            unseen.erase(std::remove(unseen.begin(), unseen.end(), frame.devices[k].serial), unseen.end());
        if (reads.frames == 1)
            checkNamedSerials();
        if (!firstRolesSaid && autoRoles == AutoRoles::Off)
            sayRoles();
    } else {
        previousFrameNs = 0; // a gap in the session is not a frame spacing
        const int32_t why = tavrin_session_error();
        if (!noHeadsetSaid && (why == 108 || why == 126)) { // Init_HmdNotFound, Init_HmdNotFoundPresenceFailed
            noHeadsetSaid = true;
            printLine("no headset: to use trackers without one, SteamVR must be told it needs none (its "
                      "settings: requireHmd false, forcedDriver null, activateMultipleDrivers true, and the "
                      "null driver enabled); see the README, \"Trackers without a headset\"");
        }
    }
    std::lock_guard<std::mutex> lock(board.mutex);
    board.reads = reads.reads;
    board.status = status;
    if (waitErrorUs >= 0) {
        board.recentWaitUs.push_back(waitErrorUs);
        if (board.recentWaitUs.size() > 1000)
            board.recentWaitUs.pop_front();
    }
    if (withSession) {
        board.space = space;
        board.noteFrame(frame, tMs / 1000.0);
    }
}

// The frame in hand to the files: the CSV or recording, the plot and the take's animations.
void Monitor::writeFrame(unsigned long long readNumber, double tMs)
{
    if (!csvPath.empty()) {
        csv.noteSpace(space, frame);
        csv.write(readNumber, frame, tMs);
    }
    if (!opt.plotPath.empty()) {
        plot.setSpace(space);
        plot.add(frame, static_cast<float>(tMs));
    }
    if (!opt.bvhPath.empty() || !opt.gltfPath.empty())
        take.add(frame, space);
}

// Takes the source's events until asked to stop, then whatever is still queued.
void Monitor::eventLoop()
{
    tavrin_event e;
    while (!stopEvents.load()) {
        if (tavrin_source_next_event(source, &e, 100) == 1)
            handleEvent(e);
    }
    while (tavrin_source_next_event(source, &e, 0) == 1)
        handleEvent(e);
}

void Monitor::handleEvent(const tavrin_event& e)
{
    const double at = msSince(e.time_ns);
    if (!opt.plotPath.empty())
        plot.addEvent(static_cast<float>(at), e.kind, e.serial);
    if (!opt.recordPath.empty())
        csv.writeEvent(e);
    const char* kind = tavrin_event_kind_name(e.kind);
    if (serving) {
        char part[160];
        std::snprintf(part, sizeof part, ",\"cls\":%d,\"index\":%u,\"old\":%u,\"count\":%u,\"t\":%.3f}", e.device_class,
                      e.index, e.old_index, e.device_count, at / 1000.0);
        live.publishEvent("{\"name\":" + jsonString(kind ? kind : "unknown") + ",\"serial\":" + jsonString(e.serial) +
                          part);
    }
    const std::string line = describeEvent(e, at / 1000.0);
    {
        std::lock_guard<std::mutex> lock(board.mutex);
        ++board.events;
        board.dropped += e.dropped;
        board.noteEvent(e);
        if (liveTable) {
            board.recentEvents.push_back(line);
            while (board.recentEvents.size() > 50)
                board.recentEvents.pop_front();
        }
    }
    if (liveTable)
        board.changed.notify_all(); // redraw now
    else
        printLine(line);
}

// ---- the run -------------------------------------------------------------------------------

void Monitor::drawTable()
{
    TableView view;
    view.rate = opt.rate;
    view.seconds = secondsSinceStart();
    view.columns = sys::terminalColumns();
    view.rows = sys::terminalRows();
    view.liveUrl = serving ? live.url() : "";
    const std::string screen = renderTable(board, view);
    std::lock_guard<std::mutex> out(outputMutex);
    std::fwrite(screen.data(), 1, screen.size(), human);
    std::fflush(human);
}

void Monitor::show(bool due, bool newEvent)
{
    if (!opt.osc.empty()) {
        const OscSender::Figures f = osc.figures();
        std::lock_guard<std::mutex> lock(board.mutex);
        board.oscNote = f.failed == 0 ? "" : "osc: " + std::to_string(f.failed) + " failed sends (" + f.lastFailure + ")";
    }
    if (liveTable && (due || newEvent))
        drawTable();
    else if (!liveTable && due)
        printLine(summaryLine(board, secondsSinceStart()));
}

void Monitor::run()
{
    const auto refresh = liveTable ? std::chrono::milliseconds(250) : std::chrono::milliseconds(1000);
    const Clock::time_point deadline =
        opt.seconds ? started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*opt.seconds))
                    : Clock::time_point::max();
    Clock::time_point nextDraw = Clock::now() + refresh;
    if (liveTable)
        drawTable();
    while (!interrupted.load() && Clock::now() < deadline) {
        bool newEvent;
        {
            std::unique_lock<std::mutex> lock(board.mutex);
            const unsigned long long seen = board.events;
            // Bounded, so that Ctrl-C is noticed promptly.
            const Clock::time_point wake = std::min({nextDraw, deadline, Clock::now() + std::chrono::milliseconds(100)});
            newEvent = board.changed.wait_until(lock, wake, [&] { return board.events != seen; });
        }
        const Clock::time_point now = Clock::now();
        const bool due = now >= nextDraw;
        show(due, newEvent);
        if (due)
            nextDraw = now + refresh;
    }
}

int Monitor::finish()
{
    stopReading = true;
    reader.join();
    osc.stop();
    tavrin_source_stop(source); // queues nothing more: the event thread takes what is left
    stopEvents = true;
    events.join();
    const bool rigSaved = saveRig();
    tavrin_source_destroy(source);
    source = nullptr;
    serving = false;
    live.stop();
    if (stopRig)
        stopRig();
    if (liveTable) {
        drawTable();
        std::fputs("\x1b[?25h\n", human);
    }
    const bool written = finishOutputs(
        "tavrin-monitor: " + std::to_string(opt.rate) + " Hz, " + std::to_string(reads.reads) + " reads", opt.rate);
    printSummary();
    printHeld();
    // Stopped by Ctrl-C: the shell's convention for a run ended by SIGINT, after the clean stop.
    return interrupted.load() ? 130 : written && rigSaved ? 0 : 1;
}

bool Monitor::finishOutputs(const std::string& plotTitle, double rateHz)
{
    bool ok = true;
    std::string error;
    if (!csvPath.empty()) {
        const char* what = opt.recordPath.empty() ? "csv" : "recording";
        if (csv.finish(error)) {
            std::fprintf(human, "%s: %s (%llu rows)\n", what, csvPath.c_str(), csv.rows());
        } else {
            std::fprintf(stderr, "tavrin-monitor: %s\n", error.c_str());
            ok = false;
        }
    }
    if (!opt.plotPath.empty()) {
        const std::string svg = renderSvg(plot.tracks(), plotTitle, plot.events(), &plot.space());
        std::fwrite(svg.data(), 1, svg.size(), svgFile.stream());
        if (svgFile.commit(error)) {
            std::fprintf(human, "plot: %s (%zu devices)\n", opt.plotPath.c_str(), plot.tracks().size());
        } else {
            std::fprintf(stderr, "tavrin-monitor: %s\n", error.c_str());
            ok = false;
        }
    }
    return writeAnimations(rateHz) && ok;
}

// The take as BVH and glTF, written once it is whole.
bool Monitor::writeAnimations(double rateHz)
{
    if (opt.bvhPath.empty() && opt.gltfPath.empty())
        return true;
    take.finish(rateHz);
    bool ok = true;
    std::string error, bytes;
    if (!opt.bvhPath.empty()) {
        bytes = bvhText(take);
        std::fwrite(bytes.data(), 1, bytes.size(), bvhFile.stream());
        if (bvhFile.commit(error)) {
            std::fprintf(human, "bvh: %s (%zu joints, %zu frames of %.6f s)\n", opt.bvhPath.c_str(),
                         take.devices().size(), take.times().size(), rateHz > 0 ? 1.0 / rateHz : 0.0);
        } else {
            std::fprintf(stderr, "tavrin-monitor: %s\n", error.c_str());
            ok = false;
        }
    }
    if (!opt.gltfPath.empty()) {
        if (gltfBytes(take, endsWith(opt.gltfPath, ".glb"), bytes, error)) {
            std::fwrite(bytes.data(), 1, bytes.size(), gltfFile.stream());
            if (gltfFile.commit(error))
                std::fprintf(human, "gltf: %s (%zu nodes under root, %zu keys each)\n", opt.gltfPath.c_str(),
                             take.devices().size(), take.times().size());
        }
        if (!error.empty()) {
            gltfFile.discard();
            std::fprintf(stderr, "tavrin-monitor: %s\n", error.c_str());
            ok = false;
        }
    }
    return ok;
}

// Which devices' animations hold poses they did not have, and how many.
void Monitor::printHeld()
{
    if (opt.bvhPath.empty() && opt.gltfPath.empty())
        return;
    std::string list;
    for (const AnimatedDevice& d : take.devices())
        if (d.held > 0)
            list += (list.empty() ? "" : ", ") + d.serial + " " + std::to_string(d.held);
    std::fprintf(human, "  held samples     %s\n",
                 list.empty() ? "none (every device had a valid pose in every frame)"
                              : (list + " (no valid pose: the last valid one held, the first before it)").c_str());
    if (take.skipped() > 0)
        std::fprintf(human, "  skipped          %llu instants between frames (the BVH has one frame per frame read)\n",
                     take.skipped());
}

void Monitor::printSummary()
{
    const Reads& r = reads;
    const double rate = r.elapsedSeconds > 0 ? static_cast<double>(r.reads) / r.elapsedSeconds : 0;
    const unsigned long long numbered = r.frames > 0 ? static_cast<unsigned long long>(r.lastFrame - r.firstFrame + 1) : 0;
    std::fprintf(human,
                 "\nsummary\n"
                 "  reads            %llu (%llu with a session) in %.2f s\n"
                 "  frames           %llu, numbers %llu to %llu (%llu missing)\n"
                 "  achieved rate    %.2f reads/s (asked %u)\n"
                 "  wait error       p50 %.1f us, p99 %.1f us, max %.1f us\n"
                 "  frame spacing    p50 %.3f ms, p99 %.3f ms (successive frame times)\n"
                 "  sample lateness  p50 %.1f us, p99 %.1f us (the runtime asked after the instant)\n"
                 "  cpu per read     %.1f us\n"
                 "  events           %llu (%llu dropped)\n",
                 r.reads, r.frames, r.elapsedSeconds, r.frames, static_cast<unsigned long long>(r.firstFrame),
                 static_cast<unsigned long long>(r.lastFrame), numbered - r.frames, rate, opt.rate,
                 percentile(r.waitErrorUs, 0.50), percentile(r.waitErrorUs, 0.99), percentile(r.waitErrorUs, 1.0),
                 percentile(r.frameSpacingMs, 0.50), percentile(r.frameSpacingMs, 0.99), percentile(r.latenessUs, 0.50),
                 percentile(r.latenessUs, 0.99),
                 r.reads ? r.cpuSeconds * 1e6 / static_cast<double>(r.reads) : 0.0, board.events, board.dropped);
    if (!r.unseen.empty()) {
        std::string list;
        for (const std::string& serial : r.unseen)
            list += (list.empty() ? "" : ", ") + serial;
        std::fprintf(human, "  never seen       %s (named by --role or --origin)\n", list.c_str());
    }
    if (!opt.osc.empty()) {
        const OscSender::Figures f = osc.figures();
        std::fprintf(human,
                     "  osc              %llu %s to %zu receivers, %llu failed sends, %llu frames skipped, %llu "
                     "datagrams sent%s\n",
                     f.bundles, opt.oscVrchat ? "frames" : "bundles", opt.osc.size(), f.failed, f.skipped, f.datagrams,
                     f.failed ? (" (latest: " + f.lastFailure + ")").c_str() : "");
    }
}

} // namespace monitor
