#include "replay.h"

#include "rig.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

namespace vrsim {

namespace {

// A longer line is not a recording's: it is refused before it is read whole.
constexpr size_t kMaxLine = 65536;
// 0.2.0's rows and events, then the frame source's (its rows add six columns).
constexpr size_t kPoseFields = 19;
constexpr size_t kEventFields = 7;
constexpr size_t kFramePoseFields = 25;
constexpr size_t kFrameEventFields = 8;
const char* const kFrameColumns[] = {"frame", "t_ns", "unix_ns", "connected", "pose_valid", "tracking_result"};
const char* const kKinds[] = {"session_opened",     "session_closed",      "device_arrived", "device_left",
                              "device_switched_on", "device_switched_off", "index_changed"};
// Positions further from the origin than this (metres) are no room's: a broken recording.
constexpr double kMaxPositionMetres = 1000.0;
// Samples further apart than this are a gap (the device was off or out of sight): not bridged.
constexpr double kGapMs = 250.0;

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
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return Line::Text;
}

// CSV fields, with quoted fields ("a,""b""") as the monitor writes serials; false on an unclosed
// quote.
bool split(const std::string& line, std::vector<std::string>& fields)
{
    fields.assign(1, std::string());
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                fields.back() += c;
            }
        } else if (c == '"' && fields.back().empty()) {
            quoted = true;
        } else if (c == ',') {
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

bool whole(const std::string& text, long& out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtol(text.c_str(), &end, 10);
    return *end == '\0' && errno == 0;
}

class Parser {
public:
    explicit Parser(std::string& error) : error_(error) {}

    bool fail(size_t line, const std::string& what)
    {
        error_ = "line " + std::to_string(line) + ": " + what;
        return false;
    }
    bool realField(size_t line, const std::vector<std::string>& f, size_t i, const char* name, double& out)
    {
        if (!real(f[i], out))
            return fail(line, std::string(name) + " is not a number: '" + f[i].substr(0, 40) + "'");
        return true;
    }
    bool wholeField(size_t line, const std::vector<std::string>& f, size_t i, const char* name, long lo, long hi,
                    long& out)
    {
        if (!whole(f[i], out) || out < lo || out > hi)
            return fail(line, std::string(name) + " is not a whole number from " + std::to_string(lo) + " to " +
                                  std::to_string(hi) + ": '" + f[i].substr(0, 40) + "'");
        return true;
    }

private:
    std::string& error_;
};

void matrixFromQuaternion(const float q[4], float m[12], const float p[3])
{
    const double w = q[0], x = q[1], y = q[2], z = q[3];
    const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
                            {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
                            {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col)
            m[row * 4 + col] = static_cast<float>(r[row][col]);
        m[row * 4 + 3] = p[row];
    }
}

} // namespace

bool Recording::load(const std::string& path, Recording& out, std::string& error)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    Recording r;
    Parser parse(error);
    std::map<std::string, size_t> bySerial;
    auto track = [&](const std::string& serial) -> Track& {
        auto it = bySerial.find(serial);
        if (it == bySerial.end()) {
            it = bySerial.emplace(serial, r.tracks_.size()).first;
            r.tracks_.push_back(Track{serial, 0, {}, {}});
        }
        return r.tracks_[it->second];
    };
    // Which recording this is: told by its header, or by its first event line.
    enum class Format { Unknown, Records, Frames } format = Format::Unknown;
    auto settle = [&](Format seen, size_t n) {
        if (format != Format::Unknown && format != seen)
            return parse.fail(n, seen == Format::Frames ? "a frame source's line in a 0.2.0 recording"
                                                        : "a 0.2.0 line in a frame source's recording");
        format = seen;
        return true;
    };
    std::string line;
    std::vector<std::string> f;
    bool header = false;
    double lastPose = -1e300, lastEvent = -1e300;
    long lastCount = 0;
    for (size_t n = 1;; ++n) {
        const Line got = readLine(file.get(), line);
        if (got == Line::End)
            break;
        if (got == Line::TooLong)
            return parse.fail(n, "longer than " + std::to_string(kMaxLine) + " characters");
        if (line.empty())
            continue;
        const bool oldEvent = line.rfind("#event,", 0) == 0;
        const bool newEvent = line.rfind("#event2,", 0) == 0;
        if (oldEvent || newEvent) {
            if (!settle(newEvent ? Format::Frames : Format::Records, n))
                return false;
            if (!split(line, f))
                return parse.fail(n, "a quote is not closed");
            const size_t fields = newEvent ? kFrameEventFields : kEventFields;
            if (f.size() != fields)
                return parse.fail(n, "an event has " + std::to_string(fields) + " fields, this line " +
                                         std::to_string(f.size()));
            double t = 0;
            if (!parse.realField(n, f, 1, newEvent ? "t_ns" : "t_ms", t))
                return false;
            if (newEvent)
                t /= 1e6;
            if (t < lastEvent)
                return parse.fail(n, "time goes backwards (" + f[1] + " after " + std::to_string(lastEvent) + " ms)");
            lastEvent = t;
            if (newEvent) {
                // #event2,t_ns,kind,serial,class,index,old_index,count: the kind says what happened.
                long cls = 0, index = 0, old = 0, count = 0;
                if (!parse.wholeField(n, f, 4, "class", 0, 4, cls) || !parse.wholeField(n, f, 5, "index", 0, 63, index) ||
                    !parse.wholeField(n, f, 6, "old_index", 0, 63, old) || !parse.wholeField(n, f, 7, "count", 0, 64, count))
                    return false;
                int kind = 0;
                for (int k = 0; k < 7; ++k)
                    if (f[2] == kKinds[k])
                        kind = k + 1;
                if (kind == 0)
                    return parse.fail(n, "not an event kind: '" + f[2].substr(0, 40) + "'");
                const int32_t at = static_cast<int32_t>(index);
                if (kind == 2) {
                    r.closures_.push_back(t);
                } else if (kind >= 3) {
                    if (f[3].empty())
                        return parse.fail(n, "a device event without a serial");
                    Track& tr = track(f[3]);
                    if (cls != 0)
                        tr.cls = static_cast<int32_t>(cls);
                    static const Change::Kind kinds[] = {Change::Connect, Change::Leave, Change::Connect, Change::Off,
                                                         Change::Move};
                    tr.changes.push_back(Change{t, kinds[kind - 3], at});
                }
                continue;
            }
            // #event,t_ms,code,serial,index,old_index,count: a _DeviceEvent code of the plain
            // functions, which names no departure.
            long code = 0, index = 0, old = 0, count = 0;
            if (!parse.wholeField(n, f, 2, "code", 0, 1000, code) || !parse.wholeField(n, f, 4, "index", 0, 15, index) ||
                !parse.wholeField(n, f, 5, "old_index", 0, 15, old) || !parse.wholeField(n, f, 6, "count", 0, 16, count))
                return false;
            if (code == 10) {
                r.closures_.push_back(t);
            } else if (code >= 3 && code <= 8) {
                Track& tr = track(f[3]);
                if (tr.cls == 0)
                    tr.cls = static_cast<int32_t>((code - 1) / 2);
                const bool connect = code % 2 == 1;
                // A disconnect that lowers the count is a device that left; otherwise it was switched off.
                const Change::Kind kind = connect ? Change::Connect : count < lastCount ? Change::Leave : Change::Off;
                tr.changes.push_back(Change{t, kind, static_cast<int32_t>(index)});
            } else if (code == 9) {
                track(f[3]).changes.push_back(Change{t, Change::Move, static_cast<int32_t>(index)});
            }
            lastCount = count;
            continue;
        }
        if (line[0] == '#')
            continue;
        if (!split(line, f))
            return parse.fail(n, "a quote is not closed");
        if (!header) {
            if (f.size() < kPoseFields || f[0] != "read" || f[1] != "timestamp_ms" || f[2] != "serial")
                return parse.fail(n, "not a tavrin recording: the header 'read,timestamp_ms,serial,...' is missing");
            bool frames = f.size() == kFramePoseFields;
            for (size_t i = 0; frames && i < 6; ++i)
                frames = f[kPoseFields + i] == kFrameColumns[i];
            if (f.size() != kPoseFields && !frames)
                return parse.fail(n, "not a tavrin recording: the header's columns are not a known format's");
            if (!settle(frames ? Format::Frames : Format::Records, n))
                return false;
            header = true;
            continue;
        }
        const bool frames = format == Format::Frames;
        const size_t fields = frames ? kFramePoseFields : kPoseFields;
        if (f.size() != fields)
            return parse.fail(n, "a pose has " + std::to_string(fields) + " fields, this line " + std::to_string(f.size()));
        Sample s{};
        long index = 0, cls = 0, ok = 0;
        if (!parse.realField(n, f, 1, "timestamp_ms", s.t) ||
            !parse.wholeField(n, f, 3, "index", 0, frames ? 63 : 15, index) ||
            !parse.wholeField(n, f, 4, "class", 1, frames ? 4 : 3, cls) ||
            !parse.wholeField(n, f, 5, "tracking_ok", 0, 1, ok))
            return false;
        static const char* const names[] = {"pos_x", "pos_y", "pos_z", "quat_w", "quat_x", "quat_y", "quat_z",
                                            "vel_x", "vel_y", "vel_z", "angvel_x", "angvel_y", "angvel_z"};
        float* dest[] = {&s.pos[0], &s.pos[1], &s.pos[2], &s.quat[0], &s.quat[1], &s.quat[2], &s.quat[3],
                         &s.vel[0], &s.vel[1], &s.vel[2], &s.ang[0],  &s.ang[1],  &s.ang[2]};
        for (size_t i = 0; i < 13; ++i) {
            double v = 0;
            if (!parse.realField(n, f, 6 + i, names[i], v))
                return false;
            // A pose that cannot be a tracked device's is refused rather than played as NaNs.
            if (i < 3 && std::abs(v) > kMaxPositionMetres)
                return parse.fail(n, std::string(names[i]) + " is beyond 1 km: '" + f[6 + i].substr(0, 40) + "'");
            if (!std::isfinite(static_cast<float>(v)))
                return parse.fail(n, std::string(names[i]) + " is out of range: '" + f[6 + i].substr(0, 40) + "'");
            *dest[i] = static_cast<float>(v);
        }
        const double length = std::sqrt(double{s.quat[0]} * s.quat[0] + double{s.quat[1]} * s.quat[1] +
                                        double{s.quat[2]} * s.quat[2] + double{s.quat[3]} * s.quat[3]);
        if (!(length > 1e-6) || !std::isfinite(length))
            return parse.fail(n, "the orientation quaternion has no length");
        for (float& q : s.quat)
            q = static_cast<float>(q / length);
        s.result = ok != 0 ? 200 : 201; // Running_OK, or Running_OutOfRange
        if (frames) {
            // The frame's own time, and the runtime's tracking result as it was.
            long result = 0;
            if (!parse.realField(n, f, 20, "t_ns", s.t) ||
                !parse.wholeField(n, f, 24, "tracking_result", 0, 1000000, result))
                return false;
            s.t /= 1e6;
            s.result = static_cast<int32_t>(result);
        }
        if (s.t < lastPose)
            return parse.fail(n, "time goes backwards (" + std::to_string(s.t) + " ms after " + std::to_string(lastPose) +
                                     " ms)");
        lastPose = s.t;
        if (f[2].empty())
            return parse.fail(n, "a pose without a serial");
        s.index = static_cast<int32_t>(index);
        s.cls = static_cast<int32_t>(cls);
        Track& tr = track(f[2]);
        tr.cls = s.cls;
        tr.samples.push_back(s);
    }
    if (!header)
        return parse.fail(1, "not a tavrin recording: no header line");
    bool any = false;
    r.start_ = 1e300;
    r.end_ = -1e300;
    for (const Track& tr : r.tracks_) {
        for (const Sample& s : tr.samples) {
            r.start_ = std::min(r.start_, s.t);
            r.end_ = std::max(r.end_, s.t);
            any = true;
        }
    }
    if (!any) {
        error = "the recording holds no pose";
        return false;
    }
    out = std::move(r);
    return true;
}

Recording::State Recording::stateAt(const Track& track, double t) const
{
    State s;
    double since = -1e300; // time of the latest change that applies
    if (!track.changes.empty()) {
        for (const Change& c : track.changes) {
            if (c.t > t)
                break;
            since = c.t;
            switch (c.kind) {
            case Change::Connect: s = State{true, true, c.index}; break;
            case Change::Off: s = State{true, false, c.index}; break;
            case Change::Leave: s = State{}; break;
            case Change::Move: s.index = c.index; break;
            case Change::Closed: s = State{}; break;
            }
        }
        for (double closed : closures_)
            if (closed <= t && closed >= since)
                s = State{};
        return s;
    }
    // No events for this device: it is there while samples are.
    const auto it = std::lower_bound(track.samples.begin(), track.samples.end(), t,
                                     [](const Sample& a, double v) { return a.t < v; });
    const Sample* near = nullptr;
    if (it != track.samples.end())
        near = &*it;
    if (it != track.samples.begin() && (!near || t - (it - 1)->t < near->t - t))
        near = &*(it - 1);
    if (near && std::abs(near->t - t) <= kGapMs)
        s = State{true, true, near->index};
    return s;
}

const Recording::Track* Recording::trackAt(uint32_t index, double t, State& state) const
{
    for (const Track& tr : tracks_) {
        state = stateAt(tr, t);
        if (state.present && state.index == static_cast<int32_t>(index))
            return &tr;
    }
    return nullptr;
}

bool Recording::deviceAt(uint32_t index, double t, Device& out) const
{
    State state;
    const Track* tr = trackAt(index, t, state);
    if (!tr)
        return false;
    out.cls = tr->cls;
    out.serial = tr->serial;
    out.connected = state.connected;
    return true;
}

Pose Recording::poseAt(uint32_t index, double t) const
{
    Pose pose{};
    State state;
    const Track* tr = trackAt(index, t, state);
    if (!tr || tr->samples.empty())
        return pose;
    const auto& ss = tr->samples;
    const auto it = std::upper_bound(ss.begin(), ss.end(), t, [](double v, const Sample& a) { return v < a.t; });
    Sample s;
    if (it == ss.begin()) {
        s = ss.front();
    } else if (it == ss.end()) {
        s = ss.back();
    } else {
        const Sample& a = *(it - 1);
        const Sample& b = *it;
        if (b.t - a.t > kGapMs) { // a gap: hold the nearer side
            s = (t - a.t < b.t - t) ? a : b;
        } else {
            const double u = b.t > a.t ? (t - a.t) / (b.t - a.t) : 0.0;
            s = a;
            auto mix = [u](float x, float y) { return static_cast<float>(x + (y - x) * u); };
            for (int i = 0; i < 3; ++i) {
                s.pos[i] = mix(a.pos[i], b.pos[i]);
                s.vel[i] = mix(a.vel[i], b.vel[i]);
                s.ang[i] = mix(a.ang[i], b.ang[i]);
            }
            // Normalised linear interpolation, along the shorter arc.
            const double dot = a.quat[0] * b.quat[0] + a.quat[1] * b.quat[1] + a.quat[2] * b.quat[2] + a.quat[3] * b.quat[3];
            const float sign = dot < 0 ? -1.0f : 1.0f;
            double len = 0;
            for (int i = 0; i < 4; ++i) {
                s.quat[i] = mix(a.quat[i], sign * b.quat[i]);
                len += s.quat[i] * s.quat[i];
            }
            len = std::sqrt(len);
            for (float& q : s.quat)
                q = len > 0 ? static_cast<float>(q / len) : q;
            s.result = u < 0.5 ? a.result : b.result;
        }
    }
    matrixFromQuaternion(s.quat, pose.matrix, s.pos);
    for (int i = 0; i < 3; ++i) {
        pose.velocity[i] = s.vel[i];
        pose.angular[i] = s.ang[i];
    }
    pose.result = s.result;
    return pose;
}

} // namespace vrsim
