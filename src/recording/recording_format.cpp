#include "recording_format.h"

#include "../names/names.h"
#include "present_devices.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>

namespace recording {

// ---- writing -------------------------------------------------------------------------------

const char* preamble()
{
    return "# tavrin recording 2\n"
           "# poses: one row per device per frame, every device the frame source knows (base stations and\n"
           "#   switched-off devices too); timestamp_ms: ms since the monitor started; frame: the source's\n"
           "#   frame number; t_ns: the frame's time on the library's monotonic clock (tavrin_now_ns);\n"
           "#   unix_ns: the same moment on the wall clock (ns since 1970); tracking_result: OpenVR's\n"
           "#   ETrackingResult (tracking_ok: 1 when it is 200, Running_OK); role: the device's\n"
           "#   tavrin_role by name (none, head, left_hand, ..., prop)\n"
           "# units: position m, velocity m/s, angular velocity rad/s; quaternion w x y z\n"
           "# frame: OpenVR standing universe, right-handed, Y up, -Z forward (unless the source's\n"
           "#   space was set: then the rig's space, axes and units)\n"
           "# events: #event2,t_ns,kind,serial,class,index,old_index,count (t_ns on the rows' t_ns clock;\n"
           "#   kind: session_opened, session_closed, device_arrived, device_left, device_switched_on,\n"
           "#   device_switched_off, index_changed)\n";
}

const char* header()
{
    return "read,timestamp_ms,serial,index,class,tracking_ok,pos_x,pos_y,pos_z,quat_w,quat_x,quat_y,quat_z,"
           "vel_x,vel_y,vel_z,angvel_x,angvel_y,angvel_z,frame,t_ns,unix_ns,connected,pose_valid,tracking_result,role,"
           "rot_00,rot_01,rot_02,rot_10,rot_11,rot_12,rot_20,rot_21,rot_22\n";
}

namespace {

// A serial as a CSV field: quoted when it holds a comma, a quote or a line break.
std::string csvField(const char* text)
{
    const std::string s(text);
    if (s.find_first_of(",\"\r\n") == std::string::npos)
        return s;
    std::string q = "\"";
    for (char c : s) {
        if (c == '"')
            q += '"';
        q += c;
    }
    return q + "\"";
}

} // namespace

unsigned writeRows(std::FILE* out, unsigned long long readNumber, const tavrin_frame& frame, double timestampMs)
{
    unsigned rows = 0;
    for (uint32_t k = 0; k < frame.device_count && k < TAVRIN_MAX_DEVICES; ++k) {
        const tavrin_device& d = frame.devices[k];
        // %.9g: every float comes back exactly when read again.
        std::fprintf(out, "%llu,%.3f,%s,%u,%d,%d", readNumber, timestampMs, csvField(d.serial).c_str(), d.index,
                     d.device_class, d.tracking_result == 200 ? 1 : 0);
        for (const float* values : {d.position, d.orientation, d.velocity, d.angular_velocity}) {
            const int n = values == d.orientation ? 4 : 3;
            for (int i = 0; i < n; ++i)
                std::fprintf(out, ",%.9g", values[i]);
        }
        const char* role = names::roleName(d.role);
        std::fprintf(out, ",%llu,%lld,%lld,%d,%d,%d,%s", static_cast<unsigned long long>(frame.frame_number),
                     static_cast<long long>(frame.time_ns), static_cast<long long>(frame.unix_time_ns), d.connected,
                     d.pose_valid, d.tracking_result, role ? role : "none");
        // The rotation as the runtime gave it: a replay hands back this matrix, whose quaternion is
        // then the one recorded to the last digit.
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                std::fprintf(out, ",%.9g", d.rotation[r][c]);
        std::fputc('\n', out);
        ++rows;
    }
    return rows;
}

std::string spaceLine(const tavrin_space& s)
{
    char line[320];
    std::snprintf(line, sizeof line,
                  "# space: axes %s, units_per_metre %.9g, origin %.9g %.9g %.9g, orientation %.9g %.9g %.9g %.9g\n",
                  names::axesName(s.axes), static_cast<double>(s.units_per_metre),
                  static_cast<double>(s.position[0]), static_cast<double>(s.position[1]),
                  static_cast<double>(s.position[2]), static_cast<double>(s.orientation[0]),
                  static_cast<double>(s.orientation[1]), static_cast<double>(s.orientation[2]),
                  static_cast<double>(s.orientation[3]));
    return line;
}

void writeEvent(std::FILE* out, const tavrin_event& e)
{
    const char* kind = names::eventKindName(e.kind);
    std::fprintf(out, "#event2,%lld,%s,%s,%d,%u,%u,%u\n", static_cast<long long>(e.time_ns), kind ? kind : "unknown",
                 csvField(e.serial).c_str(), e.device_class, e.index, e.old_index, e.device_count);
}

// ---- reading -------------------------------------------------------------------------------

ViveSystem::Placement Sample::placement() const
{
    ViveSystem::Placement p;
    std::memcpy(p.position, pos, sizeof p.position);
    std::memcpy(p.velocity, vel, sizeof p.velocity);
    std::memcpy(p.angularVelocity, ang, sizeof p.angularVelocity);
    if (hasRotation)
        std::memcpy(p.rotation, rotation, sizeof p.rotation);
    else
        ViveSystem::quaternionToMatrix(quat, p.rotation);
    return p;
}

namespace {

// A longer line is not a recording's: it is refused before it is read whole.
constexpr size_t kMaxLine = 65536;
// 0.2.0's rows and events, then the frame source's (its rows add six columns).
constexpr size_t kPoseFields = 19;
constexpr size_t kEventFields = 7;
constexpr size_t kFramePoseFields = 25; // and a role after them, since roles came
constexpr size_t kRotationFields = 9;    // and the rotation's rows after the role, since exact replays came
constexpr size_t kFrameEventFields = 8;
const char* const kFrameColumns[] = {"frame",  "t_ns",   "unix_ns", "connected", "pose_valid", "tracking_result",
                                     "role",   "rot_00", "rot_01",  "rot_02",    "rot_10",     "rot_11",
                                     "rot_12", "rot_20", "rot_21",  "rot_22"};
// Frame numbers and wall-clock times: any 64-bit whole number.
constexpr long long kMaxWhole = std::numeric_limits<long long>::max();
// Positions further from the origin than this (metres) are no room's: a broken recording.
constexpr double kMaxPositionMetres = 1000.0;

enum class Line { Text, End, TooLong };

Line readLine(std::FILE* f, std::string& line)
{
    line.clear();
    int c = std::fgetc(f);
    if (c == EOF)
        return Line::End;
    for (; c != EOF && c != '\n'; c = std::fgetc(f)) {
        if (line.size() >= kMaxLine)
            return Line::TooLong;
        line.push_back(static_cast<char>(c));
    }
    return Line::Text;
}

// CSV fields, with quoted fields ("a,""b""") as the writer quotes serials; false on an unclosed
// quote.
bool split(const std::string& line, std::vector<std::string>& fields)
{
    fields.assign(1, std::string());
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (quoted && c == '"') {
            quoted = false;
        } else if (!quoted && c == '"' && fields.back().empty()) {
            quoted = true;
        } else if (!quoted && c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return !quoted;
}

bool real(const std::string& text, double& out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(text.c_str(), &end);
    return *end == '\0' && errno == 0 && std::isfinite(out);
}

bool whole(const std::string& text, long long& out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtoll(text.c_str(), &end, 10);
    return *end == '\0' && errno == 0;
}

// One pass over a recording's lines; each step checks its line and names it when it fails.
class Parser {
public:
    Parser(Recording& out, std::string& error) : out(out), error(error) {}

    bool line(const std::string& text);
    bool tooLong()
    {
        ++lineNumber;
        return fail("longer than " + std::to_string(kMaxLine) + " characters");
    }
    bool finish();
    // The lines a record took beyond its first.
    void skipLines(size_t n) { lineNumber += n; }

private:
    bool fail(const std::string& what)
    {
        error = "line " + std::to_string(lineNumber) + ": " + what;
        return false;
    }
    bool realField(size_t i, const char* name, double& value)
    {
        if (!real(fields[i], value))
            return fail(std::string(name) + " is not a number: '" + fields[i].substr(0, 40) + "'");
        return true;
    }
    bool wholeField(size_t i, const char* name, long long lo, long long hi, long long& value)
    {
        if (!whole(fields[i], value) || value < lo || value > hi)
            return fail(std::string(name) + " is not a whole number from " + std::to_string(lo) + " to " +
                        std::to_string(hi) + ": '" + fields[i].substr(0, 40) + "'");
        return true;
    }
    bool settle(int version);
    bool eventLine(bool frames);
    bool frameEvent(double t);
    bool recordsEvent(double t);
    bool headerLine();
    bool poseRow();
    bool poseValues(Sample& s);
    bool spaceLine(const std::string& text);
    void toStandingUniverse(Sample& s) const;
    bool eventTime(double t);
    Track& track(const std::string& serial);

    Recording& out;
    std::string& error;
    size_t lineNumber = 0;
    std::vector<std::string> fields;
    bool header = false;
    size_t columns = 0; // the header's
    double lastPose = -1e300, lastEvent = -1e300;
    long long lastCount = 0;                      // 0.2.0: the device count of the previous event
    PresentDevices present;                  // 0.2.0: what its codes stand for
    std::map<std::string, size_t> bySerial;  // tracks by serial
    ViveSystem::UserSpace space = ViveSystem::defaultSpace(); // the rows' space, from the latest space line
    bool anyPose = false;
};

Track& Parser::track(const std::string& serial)
{
    auto it = bySerial.find(serial);
    if (it == bySerial.end()) {
        it = bySerial.emplace(serial, out.tracks.size()).first;
        out.tracks.push_back(Track{serial, 0, {}, false});
    }
    return out.tracks[it->second];
}

// Which version this is: told by its header, or by its first event line.
bool Parser::settle(int version)
{
    if (out.version != 0 && out.version != version)
        return fail(version == 2 ? "a frame source's line in a 0.2.0 recording" : "a 0.2.0 line in a frame source's recording");
    out.version = version;
    return true;
}

bool Parser::line(const std::string& text)
{
    ++lineNumber;
    if (text.empty())
        return true;
    const bool oldEvent = text.rfind("#event,", 0) == 0;
    const bool newEvent = text.rfind("#event2,", 0) == 0;
    if (text.rfind("# space:", 0) == 0)
        return spaceLine(text);
    if (text.rfind("# filter: ", 0) == 0 && out.filter.empty())
        out.filter = text.substr(10);
    if (!oldEvent && !newEvent && text[0] == '#')
        return true;
    if (!split(text, fields))
        return fail("a quote is not closed");
    if (oldEvent || newEvent)
        return eventLine(newEvent);
    return header ? poseRow() : headerLine();
}

bool Parser::eventTime(double t)
{
    if (t < lastEvent)
        return fail("time goes backwards (" + fields[1] + " after " + std::to_string(lastEvent) + " ms)");
    lastEvent = t;
    return true;
}

bool Parser::eventLine(bool frames)
{
    if (!settle(frames ? 2 : 1))
        return false;
    const size_t expected = frames ? kFrameEventFields : kEventFields;
    if (fields.size() != expected)
        return fail("an event has " + std::to_string(expected) + " fields, this line " + std::to_string(fields.size()));
    double t = 0;
    if (!realField(1, frames ? "t_ns" : "t_ms", t))
        return false;
    if (frames)
        t /= 1e6;
    if (!eventTime(t))
        return false;
    return frames ? frameEvent(t) : recordsEvent(t);
}

// #event2,t_ns,kind,serial,class,index,old_index,count: the kind says what happened.
bool Parser::frameEvent(double t)
{
    long long cls = 0, index = 0, old = 0, count = 0;
    if (!wholeField(4, "class", 0, 4, cls) || !wholeField(5, "index", 0, 63, index) ||
        !wholeField(6, "old_index", 0, 63, old) || !wholeField(7, "count", 0, 64, count))
        return false;
    const int32_t kind = names::eventKindFromName(fields[2]);
    if (kind == 0)
        return fail("not an event kind: '" + fields[2].substr(0, 40) + "'");
    const bool deviceEvent = kind >= TAVRIN_EVENT_DEVICE_ARRIVED;
    if (deviceEvent && fields[3].empty())
        return fail("a device event without a serial");
    if (deviceEvent) {
        Track& tr = track(fields[3]);
        tr.inEvents = true;
        if (cls != 0)
            tr.deviceClass = static_cast<int32_t>(cls);
    }
    out.events.push_back(Event{t, kind, deviceEvent ? fields[3] : std::string(), static_cast<int32_t>(cls),
                               static_cast<uint32_t>(index), static_cast<uint32_t>(old), static_cast<uint32_t>(count)});
    return true;
}

// #event,t_ms,code,serial,index,old_index,count: a _DeviceEvent code of the plain functions, which
// names no departure: a disconnect that lowers the count is one, otherwise a switch-off.
bool Parser::recordsEvent(double t)
{
    long long code = 0, index = 0, old = 0, count = 0;
    if (!wholeField(2, "code", 0, 1000, code) || !wholeField(4, "index", 0, 15, index) ||
        !wholeField(5, "old_index", 0, 15, old) || !wholeField(6, "count", 0, 16, count))
        return false;
    const std::string& serial = fields[3];
    int32_t kind = 0, cls = 0;
    if (code == 10) {
        kind = TAVRIN_EVENT_SESSION_CLOSED;
    } else if (code >= 3 && code <= 8) {
        cls = static_cast<int32_t>((code - 1) / 2);
        if (code % 2 == 1)
            kind = present.find(serial) ? TAVRIN_EVENT_DEVICE_SWITCHED_ON : TAVRIN_EVENT_DEVICE_ARRIVED;
        else
            kind = count < lastCount ? TAVRIN_EVENT_DEVICE_LEFT : TAVRIN_EVENT_DEVICE_SWITCHED_OFF;
    } else if (code == 9) {
        kind = TAVRIN_EVENT_INDEX_CHANGED;
    }
    lastCount = count;
    if (kind == 0)
        return true; // SessionOpened, or a code of no device change
    if (kind != TAVRIN_EVENT_SESSION_CLOSED) {
        Track& tr = track(serial);
        tr.inEvents = true;
        if (tr.deviceClass == 0)
            tr.deviceClass = cls;
    }
    present.apply(kind, serial, cls, static_cast<uint32_t>(index));
    out.events.push_back(Event{t, kind, kind == TAVRIN_EVENT_SESSION_CLOSED ? std::string() : serial, cls,
                               static_cast<uint32_t>(index), static_cast<uint32_t>(old), static_cast<uint32_t>(count)});
    return true;
}

bool Parser::headerLine()
{
    if (fields.size() < kPoseFields || fields[0] != "read" || fields[1] != "timestamp_ms" || fields[2] != "serial")
        return fail("not a tavrin recording: the header 'read,timestamp_ms,serial,...' is missing");
    bool frames = fields.size() == kFramePoseFields || fields.size() == kFramePoseFields + 1 ||
                  fields.size() == kFramePoseFields + 1 + kRotationFields;
    for (size_t i = kPoseFields; frames && i < fields.size(); ++i)
        frames = fields[i] == kFrameColumns[i - kPoseFields];
    if (fields.size() != kPoseFields && !frames)
        return fail("not a tavrin recording: the header's columns are not a known format's");
    header = true;
    columns = fields.size();
    return settle(frames ? 2 : 1);
}

// The thirteen values of a pose, refused unless a tracked device could have them.
bool Parser::poseValues(Sample& s)
{
    static const char* const names[] = {"pos_x", "pos_y", "pos_z", "quat_w", "quat_x", "quat_y", "quat_z",
                                        "vel_x", "vel_y", "vel_z", "angvel_x", "angvel_y", "angvel_z"};
    float* dest[] = {&s.pos[0], &s.pos[1], &s.pos[2], &s.quat[0], &s.quat[1], &s.quat[2], &s.quat[3],
                     &s.vel[0], &s.vel[1], &s.vel[2], &s.ang[0],  &s.ang[1],  &s.ang[2]};
    for (size_t i = 0; i < 13; ++i) {
        double v = 0;
        if (!realField(6 + i, names[i], v))
            return false;
        if (i < 3 && std::abs(v) > kMaxPositionMetres * space.unitsPerMetre)
            return fail(std::string(names[i]) + " is beyond 1 km: '" + fields[6 + i].substr(0, 40) + "'");
        if (!std::isfinite(static_cast<float>(v)))
            return fail(std::string(names[i]) + " is out of range: '" + fields[6 + i].substr(0, 40) + "'");
        *dest[i] = static_cast<float>(v);
    }
    const double length = std::sqrt(double{s.quat[0]} * s.quat[0] + double{s.quat[1]} * s.quat[1] +
                                    double{s.quat[2]} * s.quat[2] + double{s.quat[3]} * s.quat[3]);
    if (!(length > 1e-6) || !std::isfinite(length))
        return fail("the orientation quaternion has no length");
    // Normalised, unless only the written digits' rounding keeps it from length 1: then the values
    // stay as written.
    if (std::abs(length - 1) > 1e-6)
        for (float& q : s.quat)
            q = static_cast<float>(q / length);
    return true;
}

bool Parser::poseRow()
{
    const bool frames = out.version == 2;
    const size_t expected = columns;
    if (fields.size() != expected)
        return fail("a pose has " + std::to_string(expected) + " fields, this line " + std::to_string(fields.size()));
    Sample s{};
    long long index = 0, cls = 0, ok = 0, result = 0;
    if (!realField(1, "timestamp_ms", s.t) || !wholeField(3, "index", 0, frames ? 63 : 15, index) ||
        !wholeField(4, "class", 1, frames ? 4 : 3, cls) || !wholeField(5, "tracking_ok", 0, 1, ok) || !poseValues(s))
        return false;
    s.result = ok != 0 ? 200 : 201; // Running_OK, or Running_OutOfRange
    s.poseValid = static_cast<int8_t>(ok);
    if (frames) {
        // The frame's own time, and the runtime's tracking result as it was.
        if (!realField(20, "t_ns", s.t) || !wholeField(24, "tracking_result", -2147483647L - 1, 2147483647L, result))
            return false;
        long long connected = 0, valid = 0, number = 0, unix = 0;
        if (!wholeField(22, "connected", 0, 1, connected) || !wholeField(23, "pose_valid", 0, 1, valid) ||
            !wholeField(19, "frame", 0, kMaxWhole, number) || !wholeField(21, "unix_ns", -kMaxWhole - 1, kMaxWhole, unix))
            return false;
        s.t /= 1e6;
        s.result = static_cast<int32_t>(result);
        s.connected = static_cast<int8_t>(connected);
        s.poseValid = static_cast<int8_t>(valid);
        s.frame = static_cast<uint64_t>(number);
        s.unixNs = unix;
        // A role of no known name is none: the row's pose still counts.
        if (columns > kFramePoseFields)
            s.role = static_cast<uint8_t>(std::max(0, names::roleFromName(fields[kFramePoseFields].c_str())));
        s.hasRotation = columns == kFramePoseFields + 1 + kRotationFields;
        for (size_t i = 0; s.hasRotation && i < kRotationFields; ++i) {
            double v = 0;
            if (!realField(kFramePoseFields + 1 + i, kFrameColumns[7 + i], v))
                return false;
            if (!(std::abs(v) <= 1.001))
                return fail(std::string(kFrameColumns[7 + i]) + " is not a rotation's: '" +
                            fields[kFramePoseFields + 1 + i].substr(0, 40) + "'");
            s.rotation[i] = static_cast<float>(v);
        }
    }
    if (s.t < lastPose)
        return fail("time goes backwards (" + std::to_string(s.t) + " ms after " + std::to_string(lastPose) + " ms)");
    lastPose = s.t;
    if (fields[2].empty())
        return fail("a pose without a serial");
    s.index = static_cast<int32_t>(index);
    if (!anyPose)
        out.space = space;
    anyPose = true;
    toStandingUniverse(s);
    Track& tr = track(fields[2]);
    tr.deviceClass = static_cast<int32_t>(cls);
    tr.samples.push_back(s);
    return true;
}

// "# space: axes NAME, units_per_metre U, origin X Y Z, orientation W X Y Z": the rows after it are
// in that space.
bool Parser::spaceLine(const std::string& text)
{
    char axes[16] = {};
    double u = 0, o[3] = {}, q[4] = {};
    int used = 0;
    const int n = std::sscanf(text.c_str(),
                              "# space: axes %15[a-z_], units_per_metre %lf, origin %lf %lf %lf, orientation %lf %lf "
                              "%lf %lf%n",
                              axes, &u, &o[0], &o[1], &o[2], &q[0], &q[1], &q[2], &q[3], &used);
    ViveSystem::UserSpace s = ViveSystem::defaultSpace();
    s.axes = names::axesFromName(axes);
    bool finite = std::isfinite(u) && u > 0 && u < 1e9;
    for (int i = 0; i < 3; ++i) {
        s.position[i] = static_cast<float>(o[i]);
        finite = finite && std::isfinite(s.position[i]);
    }
    double length = 0;
    for (int i = 0; i < 4; ++i) {
        s.orientation[i] = static_cast<float>(q[i]);
        length += q[i] * q[i];
    }
    if (n != 9 || static_cast<size_t>(used) != text.size() || s.axes < 0 || !finite || !(std::abs(length - 1) < 1e-3))
        return fail("not a space line: '" + text.substr(0, 80) + "'");
    for (float& v : s.orientation)
        v = static_cast<float>(v / std::sqrt(length));
    s.unitsPerMetre = static_cast<float>(u);
    space = s;
    return true;
}

// A row of another space, back in the standing universe in metres: the replay's runtime reports
// poses there.
void Parser::toStandingUniverse(Sample& s) const
{
    if (ViveSystem::isDefault(space))
        return;
    ViveSystem::Placement p = s.placement();
    ViveSystem::convertSpace(space, ViveSystem::defaultSpace(), p, s.quat);
    std::memcpy(s.pos, p.position, sizeof s.pos);
    std::memcpy(s.vel, p.velocity, sizeof s.vel);
    std::memcpy(s.ang, p.angularVelocity, sizeof s.ang);
    if (s.hasRotation)
        std::memcpy(s.rotation, p.rotation, sizeof s.rotation);
}

bool Parser::finish()
{
    if (!header) {
        lineNumber = 1;
        return fail("not a tavrin recording: no header line");
    }
    out.start = 1e300;
    out.end = -1e300;
    for (const Track& tr : out.tracks) {
        for (const Sample& s : tr.samples) {
            out.start = std::min(out.start, s.t);
            out.end = std::max(out.end, s.t);
        }
    }
    if (out.start > out.end) {
        error = "the recording holds no pose";
        return false;
    }
    return true;
}

} // namespace

bool readRecording(std::FILE* in, Recording& out, std::string& error)
{
    Recording r;
    Parser parse(r, error);
    std::string text, more;
    for (Line got = readLine(in, text); got != Line::End; got = readLine(in, text)) {
        // A quoted field may hold a line break (a serial is any bytes the runtime sent): the
        // record goes on over the next line until its quote closes.
        size_t lines = 1;
        while (got == Line::Text && std::count(text.begin(), text.end(), '"') % 2 == 1) {
            const Line next = readLine(in, more);
            if (next == Line::End)
                break;
            if (next == Line::TooLong || text.size() + 1 + more.size() > kMaxLine) {
                got = Line::TooLong;
                break;
            }
            text += '\n';
            text += more;
            ++lines;
        }
        if (!text.empty() && text.back() == '\r')
            text.pop_back(); // a line break written as CR LF
        if (!(got == Line::TooLong ? parse.tooLong() : parse.line(text)))
            return false;
        parse.skipLines(lines - 1);
    }
    if (!parse.finish())
        return false;
    out = std::move(r);
    return true;
}

bool loadRecording(const std::string& path, Recording& out, std::string& error)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    return readRecording(file.get(), out, error);
}

} // namespace recording
