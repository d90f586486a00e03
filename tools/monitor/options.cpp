#include "options.h"

#include <names/names.h>

#include <tavrin.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace monitor {

namespace {

// Ten years: far more than any run, and far less than the clock's range.
constexpr double kMaxSeconds = 315576000.0;

bool parseRate(const std::string& text, unsigned& out)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v == 0 || v > 100000)
        return false;
    out = static_cast<unsigned>(v);
    return true;
}

bool parseNonNegative(const std::string& text, double& out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < 0.0)
        return false;
    out = v;
    return true;
}

// What the monitor does, and its pace.
const char* const kUsageRun = "usage: tavrin-monitor [options]\n"
                              "\n"
                              "Starts a tavrin frame source, prints device events as they arrive and shows the\n"
                              "poses of every device (indices 0..63: headsets, controllers, trackers and base\n"
                              "stations): a live table on a terminal, one line a second otherwise. Ends with a\n"
                              "summary of the reads, the frames, the events and the pacing.\n"
                              "\n"
                              "  --rate HZ        reads per second (default 120)\n"
                              "  --seconds N      run for N seconds (default: until Ctrl-C)\n"
                              "  --spin-us N      how each read's wait for its instant ends: 0 sleep only (the\n"
                              "                   default: the poses are for the instant however late the\n"
                              "                   wake), -1 a sleep then a short spin learnt from this machine,\n"
                              "                   N spin the last N microseconds (the frame in hand sooner)\n";

// The files it writes and reads.
const char* const kUsageFiles = "  --csv FILE       write every device of every frame to FILE ('-': standard\n"
                                "                   output, and the monitor's own output goes to standard error)\n"
                                "  --plot FILE.svg  draw the devices' paths and heights into FILE.svg at the end\n"
                                "                   ('-': standard output)\n"
                                "                   A FILE that is a device or a FIFO is written directly; a link\n"
                                "                   is followed; a directory is refused\n"
                                "  --bvh FILE.bvh   write the take as a BVH animation at the end: a root at\n"
                                "                   rest and a joint per device with a pose (named by its role,\n"
                                "                   else its serial), positions in the space's origin, heading\n"
                                "                   and units with Y up (OpenVR's axes), rotations in degrees\n"
                                "  --gltf FILE      write the take as a glTF 2.0 animation at the end: FILE.gltf\n"
                                "                   (its buffer embedded) or FILE.glb; a node per device under\n"
                                "                   a node 'root', metres and Y up, the space's origin and heading\n"
                                "                   A device without a valid pose in a frame holds its last one\n"
                                "  --convert FILE   read a recording and write its take to the --csv, --bvh,\n"
                                "                   --gltf and --plot files at once (no runtime, not in real\n"
                                "                   time); a recording it refuses: exit status 2\n"
                                "  --record FILE    write a recording: the CSV of --csv plus the device events, with\n"
                                "                   a header naming units and frame; the simulated runtime replays it\n"
                                "  --replay FILE    the simulated runtime replays a recording as its rig (as\n"
                                "                   VRSIM_RIG=replay:FILE does), looping\n";

// Where it streams.
const char* const kUsageStreams = "  --serve [HOST:]PORT  a live view in the browser at http://HOST:PORT/ (HOST\n"
                                  "                   127.0.0.1 unless given; PORT 0 takes a free one)\n"
                                  "  --osc [HOST:]PORT  send the poses to a VMC receiver (Unity, Unreal, Blender,\n"
                                  "                   VSeeFace, VirtualMotionCapture; usually port 39539) as OSC\n"
                                  "                   bundles over UDP; HOST 127.0.0.1 unless given; may be given\n"
                                  "                   several times. Each bundle: /VMC/Ext/OK 1, /VMC/Ext/T seconds\n"
                                  "                   since the start, then /VMC/Ext/Hmd/Pos, /VMC/Ext/Con/Pos or\n"
                                  "                   /VMC/Ext/Tra/Pos with the serial, px py pz, qx qy qz qw for\n"
                                  "                   every connected device with a valid pose (no base stations),\n"
                                  "                   in the receivers' frame (Unity's: left-handed, +y up, +z\n"
                                  "                   forward, metres): from OpenVR's, position (x, y, -z) and\n"
                                  "                   quaternion (-qx, -qy, qz, qw)\n"
                                  "  --osc-rate HZ    bundles per second at most (default 60; never more than\n"
                                  "                   --rate)\n"
                                  "  --osc-format vmc|vrchat  what --osc sends: VMC (the default), or VRChat's OSC\n"
                                  "                   trackers (/tracking/trackers/1..8 and head: position, and\n"
                                  "                   rotation as Unity's Euler angles in degrees) for the devices\n"
                                  "                   with the roles waist, chest, left_foot, right_foot,\n"
                                  "                   left_knee, right_knee, left_elbow, right_elbow and head;\n"
                                  "                   without --osc, to VRChat's port 9000 on this machine\n";

// The body and its space.
const char* const kUsageBody = "  --rig FILE       the rig file (roles, offsets, space; JSON): loaded at the\n"
                               "                   start when it exists, and saved back at the end with what\n"
                               "                   --role and --origin set\n"
                               "  --role SERIAL=ROLE  gives a device a role: head, left_hand, right_hand,\n"
                               "                   waist, chest, left_foot, right_foot, left_knee, right_knee,\n"
                               "                   left_elbow, right_elbow, left_shoulder, right_shoulder,\n"
                               "                   camera, prop, or none; may be given several times\n"
                               "  --origin SERIAL  puts the space's origin and heading where that device is\n"
                               "                   (a tracker on the floor marker) once it has a valid pose\n"
                               "  --axes NAME      the axes poses are reported in: openvr (y up, -z forward),\n"
                               "                   z_up (x forward, y left), unity (y up, z forward) or\n"
                               "                   unreal (z up, x forward); saved with --rig\n"
                               "  --units UNITS    m, cm, mm, or a number of units per metre; saved with --rig\n"
                               "  --filter F       a jitter filter on every device's poses (One Euro): default\n"
                               "                   (0.5,15,0.5), off, or MIN_CUTOFF_HZ,BETA,DERIVATIVE_CUTOFF_HZ;\n"
                               "                   saved with --rig, named in the CSV\n"
                               "  --auto-roles     gives the trackers body roles from where they are around\n"
                               "                   the head (stand upright, or walk), once a frame has a\n"
                               "                   head; prints them; --role still wins; saved with --rig\n";

// The rest, and how options are given.
const char* const kUsageEnd = "  --no-demo        leave the runtime as it is (a real runtime, or an empty\n"
                              "                   simulated rig) instead of starting the demo rig; so does\n"
                              "                   VRSIM_RIG in the environment, whose rig runs instead\n"
                              "                   (VRSIM_RIG=fullbody: the simulated full-body rig)\n"
                              "  --version        show the monitor's and the library's version\n"
                              "  --help           show this text\n"
                              "Options take their value as --name value or --name=value. Ctrl-C stops the run\n"
                              "cleanly (exit status 130).\n";

} // namespace

const char* usage()
{
    static const std::string text = std::string(kUsageRun) + kUsageFiles + kUsageStreams + kUsageBody + kUsageEnd;
    return text.c_str();
}

namespace {

bool takesNoValue(const std::string& name)
{
    return name == "--help" || name == "-h" || name == "--version" || name == "--no-demo" || name == "--auto-roles";
}

bool takesValue(const std::string& name)
{
    for (const char* known : {"--rate",     "--seconds",    "--csv",    "--plot", "--record", "--replay", "--osc",
                              "--osc-rate", "--osc-format", "--serve",  "--rig",  "--role",   "--origin", "--spin-us",
                              "--axes",     "--units",      "--filter", "--bvh",  "--gltf",   "--convert"})
        if (name == known)
            return true;
    return false;
}

// An option that takes no value; false for none of those.
bool flag(const std::string& name, Options& o)
{
    if (name == "--help" || name == "-h")
        o.help = true;
    else if (name == "--version")
        o.version = true;
    else if (name == "--no-demo")
        o.demo = false;
    else if (name == "--auto-roles")
        o.autoRoles = true;
    else
        return false;
    return true;
}

// A path or address kept as given (checked when used); false for none of those.
bool text(const std::string& name, const std::string& v, Options& o)
{
    std::string* field = name == "--csv"       ? &o.csvPath
                         : name == "--plot"    ? &o.plotPath
                         : name == "--record"  ? &o.recordPath
                         : name == "--replay"  ? &o.replayPath
                         : name == "--rig"     ? &o.rigPath
                         : name == "--origin"  ? &o.originSerial
                         : name == "--bvh"     ? &o.bvhPath
                         : name == "--gltf"    ? &o.gltfPath
                         : name == "--convert" ? &o.convertPath
                                               : nullptr;
    if (field == nullptr)
        return false;
    *field = v;
    return true;
}

// An option with a number or an address; error says why a value is refused.
void number(const std::string& name, const std::string& v, Options& o, std::string& error)
{
    double d = 0;
    std::string host;
    int port = 0;
    if (name == "--rate") {
        if (!parseRate(v, o.rate))
            error = "--rate takes a whole number of reads per second from 1 to 100000, not '" + v + "'";
    } else if (name == "--seconds") {
        if (!parseNonNegative(v, d))
            error = "--seconds takes a duration of zero or more seconds, not '" + v + "'";
        else if (d > kMaxSeconds)
            error = "--seconds takes at most 315576000 (ten years), not '" + v + "'";
        else
            o.seconds = d;
    } else if (name == "--osc") {
        Options::Receiver to;
        if (!parseReceiver(v, to.host, to.port))
            error = "--osc takes PORT or HOST:PORT (a port from 1 to 65535), not '" + v + "'";
        else
            o.osc.push_back(to);
    } else if (name == "--osc-rate") {
        if (!parseNonNegative(v, d) || d <= 0.0 || d > 100000.0)
            error = "--osc-rate takes a rate above 0 and up to 100000 bundles per second, not '" + v + "'";
        else
            o.oscRate = d;
    } else if (name == "--spin-us") {
        char* end = nullptr;
        errno = 0;
        const long us = std::strtol(v.c_str(), &end, 10);
        if (v.empty() || *end != '\0' || errno != 0 || us < -1 || us > 1000000)
            error = "--spin-us takes -1 (adaptive), 0 (sleep only) or microseconds up to 1000000, not '" + v + "'";
        else
            o.spinUs = static_cast<int>(us);
    } else if (name == "--osc-format") {
        if (v != "vmc" && v != "vrchat")
            error = "--osc-format takes vmc or vrchat, not '" + v + "'";
        o.oscVrchat = v == "vrchat";
    } else if (name == "--role") {
        std::string serial;
        int role = 0;
        if (!parseRole(v, serial, role))
            error = "--role takes SERIAL=ROLE (a role such as waist, left_foot, head; see --help), not '" + v + "'";
        else
            o.roles.emplace_back(serial, role);
    } else if (name == "--axes") {
        if (names::axesFromName(v) >= 0)
            o.axes = names::axesFromName(v);
        else
            error = "--axes takes openvr, z_up, unity or unreal, not '" + v + "'";
    } else if (name == "--filter") {
        float f[3] = {0, 0, 0};
        char tail = 0;
        if (v == "default")
            o.filter = std::vector<float>{0.5f, 15.0f, 0.5f};
        else if (v == "off")
            o.filter = std::vector<float>{0, 0, 0};
        else if (std::sscanf(v.c_str(), "%f,%f,%f%c", &f[0], &f[1], &f[2], &tail) == 3 && std::isfinite(f[0]) &&
                 std::isfinite(f[1]) && std::isfinite(f[2]) && f[0] >= 0 && f[1] >= 0 && f[2] >= 0)
            o.filter = std::vector<float>{f[0], f[1], f[2]};
        else
            error = "--filter takes default, off or MIN_CUTOFF_HZ,BETA,DERIVATIVE_CUTOFF_HZ (numbers of at least 0), "
                    "not '" +
                    v + "'";
    } else if (name == "--units") {
        const double named = v == "m" ? 1.0 : v == "cm" ? 100.0 : v == "mm" ? 1000.0 : 0.0;
        if (named > 0.0)
            o.unitsPerMetre = named;
        else if (parseNonNegative(v, d) && d > 0.0 && d <= 1e9)
            o.unitsPerMetre = d;
        else
            error = "--units takes m, cm, mm or a number of units per metre above 0, not '" + v + "'";
    } else if (name == "--serve") {
        o.serve = v;
        if (!parseHostPort(v, host, port))
            error = "--serve takes PORT or HOST:PORT (a port from 0 to 65535), not '" + v + "'";
    }
}

// What --convert cannot take: options of a live run, which would change what the take was.
std::string liveOnly(const Options& o)
{
    const std::pair<bool, const char*> live[] = {
        {!o.recordPath.empty(), "--record"},      {!o.replayPath.empty(), "--replay"}, {!o.serve.empty(), "--serve"},
        {!o.osc.empty() || o.oscVrchat, "--osc"}, {!o.rigPath.empty(), "--rig"},       {!o.roles.empty(), "--role"},
        {!o.originSerial.empty(), "--origin"},    {o.autoRoles, "--auto-roles"},       {o.axes.has_value(), "--axes"},
        {o.unitsPerMetre.has_value(), "--units"}, {o.filter.has_value(), "--filter"}};
    for (const auto& [given, name] : live)
        if (given)
            return std::string("--convert writes the take as it was recorded; ") + name + " belongs to a live run";
    if (o.csvPath.empty() && o.bvhPath.empty() && o.gltfPath.empty() && o.plotPath.empty())
        return "--convert needs an output: --csv, --bvh, --gltf or --plot";
    return "";
}

// Options that cannot go together.
std::string conflicts(const Options& o)
{
    if (!o.csvPath.empty() && !o.recordPath.empty())
        return "--record writes the CSV too: give --csv or --record, not both";
    const std::pair<const std::string*, const char*> outputs[] = {{&o.csvPath, "--csv"},
                                                                  {&o.recordPath, "--record"},
                                                                  {&o.plotPath, "--plot"},
                                                                  {&o.bvhPath, "--bvh"},
                                                                  {&o.gltfPath, "--gltf"}};
    for (size_t i = 0; i < std::size(outputs); ++i)
        for (size_t j = i + 1; j < std::size(outputs); ++j)
            if (!outputs[i].first->empty() && *outputs[i].first == *outputs[j].first)
                return std::string(outputs[i].second) + " and " + outputs[j].second + " name the same file";
    if (!o.gltfPath.empty() && !endsWith(o.gltfPath, ".gltf") && !endsWith(o.gltfPath, ".glb"))
        return "--gltf writes FILE.gltf (its buffer embedded) or FILE.glb, not '" + o.gltfPath + "'";
    if (!o.convertPath.empty())
        return liveOnly(o);
    return "";
}

} // namespace

ParseResult parseOptions(int argc, const char* const* argv)
{
    ParseResult r;
    for (int i = 1; i < argc && r.error.empty(); ++i) {
        std::string name = argv[i];
        // --name=value is the same as --name value.
        std::optional<std::string> value;
        const size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        if (takesNoValue(name)) {
            if (value)
                r.error = name + " takes no value";
            else
                flag(name, r.options);
            continue;
        }
        if (!takesValue(name)) {
            r.error = "unknown option '" + name + "'";
            continue;
        }
        if (!value && i + 1 >= argc) {
            r.error = name + " needs a value";
            continue;
        }
        const std::string v = value ? *value : argv[++i];
        if (!text(name, v, r.options))
            number(name, v, r.options, r.error);
    }
    if (r.error.empty())
        r.error = conflicts(r.options);
    if (r.options.oscVrchat && r.options.osc.empty()) // VRChat's own port, on this machine
        r.options.osc.push_back(Options::Receiver{"127.0.0.1", 9000});
    return r;
}

bool endsWith(std::string text, const char* tail)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t n = std::strlen(tail);
    return text.size() > n && text.compare(text.size() - n, n, tail) == 0;
}

bool parseRole(const std::string& text, std::string& serial, int& role)
{
    const size_t eq = text.rfind('=');
    if (eq == std::string::npos || eq == 0 || eq > 63)
        return false;
    serial = text.substr(0, eq);
    const std::string name = text.substr(eq + 1);
    role = tavrin_role_from_name(name.c_str());
    if (role < 0 && !name.empty() && name.size() <= 2 && name.find_first_not_of("0123456789") == std::string::npos)
        role = std::stoi(name);
    return role >= 0 && role < 16 && serial.find('\0') == std::string::npos;
}

bool parseReceiver(const std::string& text, std::string& host, int& port)
{
    return parseHostPort(text, host, port) && port > 0;
}

bool parseHostPort(const std::string& text, std::string& host, int& port)
{
    std::string portText = text;
    host = "127.0.0.1";
    const size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        host = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        if (host.empty())
            return false;
    }
    if (portText.empty() || portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(portText);
    return port <= 65535;
}

} // namespace monitor
