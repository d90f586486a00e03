#include "writers.h"

#include "figures.h"
#include "files.h"

#include <recording/recording_format.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <sstream>

namespace monitor {

bool PendingFile::open(const std::string& path, std::string& error)
{
    path_ = path;
    if (path == "-") {
        mode_ = Mode::StandardOutput;
        file_ = stdout;
        return true;
    }
    target_ = files::resolveLinks(path);
    switch (files::kindOf(target_)) {
    case files::Kind::Directory:
        error = "cannot write " + path + ": it is a directory";
        return false;
    case files::Kind::Other:
        mode_ = Mode::Direct; // a device or a FIFO: written as it is, never replaced
        file_ = std::fopen(target_.c_str(), "wb");
        break;
    case files::Kind::Regular:
    case files::Kind::Missing:
        mode_ = Mode::Replace;
        temp_ = target_ + ".partial";
        file_ = std::fopen(temp_.c_str(), "wb");
        break;
    }
    if (!file_) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool PendingFile::commit(std::string& error)
{
    if (!file_)
        return false;
    errno = 0;
    const bool written = std::fflush(file_) == 0 && !std::ferror(file_);
    const int writeErrno = errno;
    const bool closed = mode_ == Mode::StandardOutput || std::fclose(file_) == 0;
    file_ = nullptr;
    if (!written || !closed) {
        error = "writing " + path_ + " failed" + (writeErrno ? std::string(": ") + std::strerror(writeErrno) : "");
        if (mode_ == Mode::Replace)
            std::remove(temp_.c_str());
        return false;
    }
    if (mode_ != Mode::Replace)
        return true;
    if (!files::replace(temp_, target_)) {
        error = "cannot create " + path_ + ": " + std::strerror(errno);
        std::remove(temp_.c_str());
        return false;
    }
    return true;
}

void PendingFile::discard()
{
    if (!file_)
        return;
    if (mode_ != Mode::StandardOutput)
        std::fclose(file_);
    file_ = nullptr;
    if (mode_ == Mode::Replace)
        std::remove(temp_.c_str());
}

// ---- CSV -------------------------------------------------------------------------------------

bool CsvWriter::open(const std::string& path, std::string& error, bool recording)
{
    if (!file_.open(path, error))
        return false;
    recording_ = recording;
    if (recording) {
        std::fputs(recording::preamble(), file_.stream());
        std::fputs(recording::header(), file_.stream());
        headed_ = true;
    }
    return true;
}

// A plain CSV names its space and roles on '#' lines before its header line (which readers that
// skip leading comments take as the header); a recording after its header, where its reader takes
// every "# space:" line, also one that comes later when the space changes.
void CsvWriter::noteSpace(const tavrin_space& space, const tavrin_frame& frame)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::FILE* f = file_.stream();
    const std::string line = recording::spaceLine(space);
    if (f == nullptr || line == space_)
        return;
    if (space_.empty()) {
        std::string roles;
        for (uint32_t k = 0; k < frame.device_count && k < TAVRIN_MAX_DEVICES; ++k) {
            const tavrin_device& d = frame.devices[k];
            if (d.role != TAVRIN_ROLE_NONE)
                roles += std::string(" ") + d.serial + "=" + tavrin_role_name(d.role);
        }
        std::fputs(line.c_str(), f);
        std::fprintf(f, "# roles:%s\n", roles.empty() ? " none" : roles.c_str());
        if (!filterNote_.empty())
            std::fprintf(f, "# filter: %s\n", filterNote_.c_str());
    } else {
        std::fputs(line.c_str(), f);
    }
    space_ = line;
    if (!headed_) {
        std::fputs(recording::header(), f);
        headed_ = true;
    }
}

void CsvWriter::writeEvent(const tavrin_event& e)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::FILE* f = file_.stream())
        recording::writeEvent(f, e);
}

void CsvWriter::write(unsigned long long readNumber, const tavrin_frame& frame, double timestampMs)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::FILE* f = file_.stream())
        rows_ += recording::writeRows(f, readNumber, frame, timestampMs);
}

bool CsvWriter::finish(std::string& error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!headed_ && file_.stream() != nullptr) // no frame came: the header alone
        std::fputs(recording::header(), file_.stream());
    headed_ = true;
    return file_.commit(error);
}

// ---- plot ------------------------------------------------------------------------------------


void PlotRecorder::add(const tavrin_frame& frame, float timestampMs)
{
    for (uint32_t k = 0; k < frame.device_count && k < TAVRIN_MAX_DEVICES; ++k) {
        const tavrin_device& d = frame.devices[k];
        if (d.serial[0] == '\0')
            continue;
        const std::string serial(d.serial);
        Track& listed = tracks_[serial]; // every device of the run is listed, posed or not
        listed.deviceClass = d.device_class;
        listed.role = d.role;
        if (!d.pose_valid)
            continue;
        size_t& stride = stride_[serial];
        if (stride == 0)
            stride = 1;
        if (seen_[serial]++ % stride != 0)
            continue;
        Track& t = listed;
        // Seen from above the space's up axis: its floor in OpenVR's axes (x right, y up, z back),
        // as the library re-expresses it, in the space's units.
        tavrin_space drawn = space_;
        drawn.axes = TAVRIN_AXES_OPENVR;
        tavrin_device v = d;
        tavrin_space_convert(&space_, &drawn, &v);
        t.t.push_back(timestampMs);
        t.x.push_back(v.position[0]);
        t.y.push_back(v.position[1]);
        t.z.push_back(v.position[2]);
        if (t.t.size() > maxPoints_) { // thin out evenly: keep every other point, sample half as often
            auto halve = [](std::vector<float>& v) {
                size_t j = 0;
                for (size_t i = 0; i < v.size(); i += 2)
                    v[j++] = v[i];
                v.resize(j);
            };
            halve(t.t);
            halve(t.x);
            halve(t.y);
            halve(t.z);
            stride *= 2;
        }
    }
}

namespace {
// Departures, switch-offs, index changes and a closed session are marked on the plot's time axis.
bool worthMarking(int kind)
{
    return kind == TAVRIN_EVENT_DEVICE_LEFT || kind == TAVRIN_EVENT_DEVICE_SWITCHED_OFF ||
           kind == TAVRIN_EVENT_INDEX_CHANGED || kind == TAVRIN_EVENT_SESSION_CLOSED;
}
const char* markLabel(int kind)
{
    switch (kind) {
    case TAVRIN_EVENT_DEVICE_LEFT: return "left";
    case TAVRIN_EVENT_INDEX_CHANGED: return "idx";
    case TAVRIN_EVENT_SESSION_CLOSED: return "closed";
    default: return "off";
    }
}
} // namespace

void PlotRecorder::addEvent(float tMs, int kind, const std::string& serial)
{
    if (!worthMarking(kind))
        return;
    std::lock_guard<std::mutex> lock(eventsMutex_);
    if (events_.size() < 10000)
        events_.push_back(PlotEvent{tMs, kind, serial});
}

std::vector<PlotEvent> PlotRecorder::events() const
{
    std::lock_guard<std::mutex> lock(eventsMutex_);
    return events_;
}

std::string xmlEscape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default:
            // Control characters are not allowed in XML 1.0 text.
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n')
                out += '?';
            else
                out += c;
        }
    }
    return out;
}

namespace {

// Twenty clearly different colours, and line styles: device n takes colour n mod 20 and dash
// (n + n / 20) mod 5, so that no two of the first hundred share both, and neighbours in the list
// (the left and right trackers of a pair, whose heights lie on top of each other) differ in dash.
const char* const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#17becf", "#8c564b",
                                "#e377c2", "#bcbd22", "#393b79", "#ad494a", "#637939", "#7b4173", "#e7ba52",
                                "#3182bd", "#31a354", "#756bb1", "#e6550d", "#843c39", "#5254a3"};
const char* const kDashes[] = {"none", "7 4", "2 3", "10 3 2 3", "4 4"};
const double kWidths[] = {2.6, 1.8, 1.6, 2.2, 1.4};

struct Style {
    const char* colour;
    const char* dash;
    double width;
};

Style styleOf(size_t n)
{
    const size_t dash = (n + n / 20) % 5;
    return Style{kColours[n % 20], kDashes[dash], kWidths[dash]};
}

struct Range {
    double lo = 1e300, hi = -1e300;
    void add(double v)
    {
        if (std::isfinite(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    void settle(double minSpan)
    {
        if (lo > hi) {
            lo = 0;
            hi = 1;
        }
        if (hi - lo < minSpan) {
            const double mid = 0.5 * (lo + hi);
            lo = mid - 0.5 * minSpan;
            hi = mid + 0.5 * minSpan;
        }
    }
};

// A "nice" tick step for a span.
double tickStep(double span)
{
    const double raw = span / 5.0;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * mag >= raw)
            return m * mag;
    return 10.0 * mag;
}

struct Panel {
    double x, y, w, h;
    Range rx, ry;
    double px(double v) const { return x + (v - rx.lo) / (rx.hi - rx.lo) * w; }
    double py(double v) const { return y + h - (v - ry.lo) / (ry.hi - ry.lo) * h; }
};

void axes(std::ostringstream& o, const Panel& p, const char* title, const char* xLabel, const char* yLabel)
{
    o << "<rect x='" << p.x << "' y='" << p.y << "' width='" << p.w << "' height='" << p.h
      << "' fill='#fafafa' stroke='#999'/>\n";
    o << "<text x='" << p.x + p.w / 2 << "' y='" << p.y - 10 << "' text-anchor='middle' font-weight='bold'>" << title
      << "</text>\n";
    const double sx = tickStep(p.rx.hi - p.rx.lo), sy = tickStep(p.ry.hi - p.ry.lo);
    for (double v = std::ceil(p.rx.lo / sx) * sx; v <= p.rx.hi + 1e-9; v += sx) {
        o << "<line x1='" << p.px(v) << "' y1='" << p.y << "' x2='" << p.px(v) << "' y2='" << p.y + p.h
          << "' stroke='#e4e4e4'/>\n";
        o << "<text x='" << p.px(v) << "' y='" << p.y + p.h + 16 << "' text-anchor='middle' font-size='11'>"
          << (std::abs(v) < 1e-9 ? 0.0 : v) << "</text>\n";
    }
    for (double v = std::ceil(p.ry.lo / sy) * sy; v <= p.ry.hi + 1e-9; v += sy) {
        o << "<line x1='" << p.x << "' y1='" << p.py(v) << "' x2='" << p.x + p.w << "' y2='" << p.py(v)
          << "' stroke='#e4e4e4'/>\n";
        o << "<text x='" << p.x - 6 << "' y='" << p.py(v) + 4 << "' text-anchor='end' font-size='11'>"
          << (std::abs(v) < 1e-9 ? 0.0 : v) << "</text>\n";
    }
    o << "<text x='" << p.x + p.w / 2 << "' y='" << p.y + p.h + 34 << "' text-anchor='middle' font-size='12'>"
      << xLabel << "</text>\n";
    o << "<text x='" << p.x - 42 << "' y='" << p.y + p.h / 2 << "' text-anchor='middle' font-size='12' transform='rotate(-90 "
      << p.x - 42 << ' ' << p.y + p.h / 2 << ")'>" << yLabel << "</text>\n";
}

// One line per stretch of continuous tracking: a gap of more than a quarter second (a device
// switched off, or out of sight) starts a new line instead of bridging it.
void polyline(std::ostringstream& o, const std::vector<float>& ts, const std::vector<float>& xs,
              const std::vector<float>& ys, const Panel& p, const Style& style, double lift = 0)
{
    const char* colour = style.colour;
    const char* dash = style.dash;
    const double width = style.width;
    bool open = false;
    for (size_t i = 0; i < xs.size(); ++i) {
        if (!std::isfinite(xs[i]) || !std::isfinite(ys[i]))
            continue;
        if (open && i > 0 && ts[i] - ts[i - 1] > 250.0f) {
            o << "'/>\n";
            open = false;
        }
        if (!open) {
            o << "<polyline fill='none' stroke='" << colour << "' stroke-width='" << width << "' stroke-dasharray='"
              << dash << "' stroke-linejoin='round' stroke-opacity='0.85' points='";
            open = true;
        }
        o << p.px(xs[i]) << ',' << p.py(ys[i]) - lift << ' ';
    }
    if (open)
        o << "'/>\n";
}

} // namespace

namespace {

bool moving(const Track& tr)
{
    return tr.deviceClass >= 1 && tr.deviceClass <= 3;
}

// The floor plan seen from above (x to the right, OpenVR's forward -z up the page) keeps metres
// square and is fitted to the moving devices (base stations beyond it are marked at its edge);
// the height panel spans the run's time and is fitted to the heights, with a margin.
void fitPanels(const std::map<std::string, Track>& tracks, Panel& floor, Panel& height, Range& t0)
{
    for (const auto& [serial, tr] : tracks) {
        for (size_t i = 0; i < tr.t.size(); ++i) {
            t0.add(tr.t[i]);
            if (!moving(tr))
                continue;
            floor.rx.add(tr.x[i]);
            floor.ry.add(-tr.z[i]);
            height.ry.add(tr.y[i]);
        }
    }
    floor.rx.settle(0.5);
    floor.ry.settle(0.5);
    const double span = std::max(floor.rx.hi - floor.rx.lo, floor.ry.hi - floor.ry.lo) * 1.1;
    for (Range* r : {&floor.rx, &floor.ry}) {
        const double mid = 0.5 * (r->lo + r->hi);
        r->lo = mid - span / 2;
        r->hi = mid + span / 2;
    }
    t0.settle(1.0);
    height.rx.lo = 0;
    height.rx.hi = (t0.hi - t0.lo) / 1000.0;
    height.rx.settle(0.1);
    height.ry.settle(0.2);
    const double margin = 0.08 * (height.ry.hi - height.ry.lo);
    height.ry.lo -= margin;
    height.ry.hi += margin;
}

std::string roleOf(const std::map<std::string, Track>& tracks, const std::string& serial)
{
    const auto it = tracks.find(serial);
    const char* name = it == tracks.end() || it->second.role == TAVRIN_ROLE_NONE ? nullptr : tavrin_role_name(it->second.role);
    return name ? std::string(" (") + name + ")" : "";
}

// Events on the time axis: a tick, labelled up its length with the device's serial (and role) and
// what happened (left, off: switched off, idx: an index change, closed: the session ended).
void drawEvents(std::ostringstream& o, const std::vector<PlotEvent>& events, const std::map<std::string, Track>& tracks,
                const Panel& height, const Range& t0)
{
    for (const PlotEvent& e : events) {
        const double secs = (e.t - t0.lo) / 1000.0;
        if (!worthMarking(e.kind) || secs < height.rx.lo || secs > height.rx.hi)
            continue;
        const double x = height.px(secs);
        const std::string label = xmlEscape((e.serial.empty() ? "" : e.serial + roleOf(tracks, e.serial) + " ") +
                                            markLabel(e.kind));
        const double y = height.y + height.h - 4;
        o << "<line class='event' x1='" << x << "' y1='" << height.y << "' x2='" << x << "' y2='" << height.y + height.h
          << "' stroke='#888' stroke-dasharray='3 3'><title>" << label << "</title></line>\n"
          << "<text class='event-label' x='" << x - 3 << "' y='" << y << "' transform='rotate(-90 " << x - 3 << ' ' << y
          << ")' font-size='10' fill='#555'>" << label << "</text>\n";
    }
}

// The mean of a track's coordinate.
double meanOf(const std::vector<float>& v)
{
    double sum = 0;
    for (float x : v)
        sum += x;
    return v.empty() ? 0 : sum / static_cast<double>(v.size());
}

// A base station: a square with its cross where it stands, or, beyond the plan, a triangle at the
// plan's edge pointing to it.
void drawBase(std::ostringstream& o, const Track& tr, const Panel& floor, const Style& style)
{
    if (tr.t.empty())
        return;
    const double x = floor.px(meanOf(tr.x)), y = floor.py(-meanOf(tr.z));
    const double cx = floor.x + floor.w / 2, cy = floor.y + floor.h / 2;
    if (x >= floor.x && x <= floor.x + floor.w && y >= floor.y && y <= floor.y + floor.h) {
        o << "<g class='base'><rect x='" << x - 6 << "' y='" << y - 6 << "' width='12' height='12' fill='" << style.colour
          << "'/><path d='M" << x - 6 << ',' << y - 6 << " L" << x + 6 << ',' << y + 6 << " M" << x + 6 << ',' << y - 6
          << " L" << x - 6 << ',' << y + 6 << "' stroke='white'/></g>\n";
        return;
    }
    const double dx = x - cx, dy = y - cy;
    const double k = std::min((floor.w / 2 - 8) / std::max(std::abs(dx), 1e-9), (floor.h / 2 - 8) / std::max(std::abs(dy), 1e-9));
    const double ex = cx + dx * k, ey = cy + dy * k, a = std::atan2(dy, dx);
    o << "<polygon class='base' points='" << ex + 9 * std::cos(a) << ',' << ey + 9 * std::sin(a) << ' '
      << ex + 7 * std::cos(a + 2.4) << ',' << ey + 7 * std::sin(a + 2.4) << ' ' << ex + 7 * std::cos(a - 2.4) << ','
      << ey + 7 * std::sin(a - 2.4) << "' fill='" << style.colour << "'/>\n";
}

// Whether two tracks' heights lie on top of each other (mirrored trackers): within 2 cm on average
// at the samples of the first, matched to the nearest of the second.
bool overlapping(const Track& a, const Track& b)
{
    if (a.t.empty() || b.t.empty())
        return false;
    double sum = 0;
    size_t n = 0, j = 0;
    for (size_t i = 0; i < a.t.size(); ++i) {
        while (j + 1 < b.t.size() && std::abs(b.t[j + 1] - a.t[i]) <= std::abs(b.t[j] - a.t[i]))
            ++j;
        if (std::abs(b.t[j] - a.t[i]) > 20.0f)
            continue;
        sum += std::abs(a.y[i] - b.y[j]);
        ++n;
    }
    return n > 0 && sum / static_cast<double>(n) < 0.02;
}

// One moving device: its path on the floor with where it starts (circle) and ends (square), and
// its height over time, lifted a little when it would hide another's.
void drawTrack(std::ostringstream& o, const Track& tr, const Style& style, const Panel& floor, const Panel& height,
               const Range& t0, double lift)
{
    std::vector<float> forward;
    for (float z : tr.z)
        forward.push_back(-z);
    polyline(o, tr.t, tr.x, forward, floor, style);
    if (!tr.t.empty()) {
        o << "<circle cx='" << floor.px(tr.x.front()) << "' cy='" << floor.py(forward.front())
          << "' r='5' fill='white' stroke='" << style.colour << "' stroke-width='2'/>\n"
          << "<rect x='" << floor.px(tr.x.back()) - 4 << "' y='" << floor.py(forward.back()) - 4
          << "' width='8' height='8' fill='" << style.colour << "'/>\n";
    }
    std::vector<float> secs(tr.t.size());
    for (size_t i = 0; i < tr.t.size(); ++i)
        secs[i] = static_cast<float>((tr.t[i] - t0.lo) / 1000.0);
    polyline(o, tr.t, secs, tr.y, height, style, lift);
}

void legendLine(std::ostringstream& o, double y, const std::string& serial, const Track& tr, const Style& style,
                const std::string& note)
{
    o << "<line class='legend' x1='70' y1='" << y - 4 << "' x2='94' y2='" << y - 4 << "' stroke='" << style.colour
      << "' stroke-width='" << style.width << "' stroke-dasharray='" << style.dash << "'/>\n"
      << "<text x='102' y='" << y << "'>" << xmlEscape(serial) << " (" << className(tr.deviceClass)
      << (tr.role != TAVRIN_ROLE_NONE && tavrin_role_name(tr.role) ? std::string(", ") + tavrin_role_name(tr.role) : "")
      << ", " << (tr.t.empty() ? std::string("no valid pose") : moving(tr) ? std::to_string(tr.t.size()) + " points" : "fixed")
      << ")"
      << xmlEscape(note) << "</text>\n";
}

} // namespace

std::string renderSvg(const std::map<std::string, Track>& tracks, const std::string& title,
                      const std::vector<PlotEvent>& events, const tavrin_space* space)
{
    const ViewNames names = viewNames(space ? space->axes : TAVRIN_AXES_OPENVR);
    const std::string unit = unitName(space ? space->units_per_metre : 1.0f);
    Panel floor{70, 60, 420, 420, {}, {}};
    Panel height{580, 60, 520, 420, {}, {}};
    Range t0;
    fitPanels(tracks, floor, height, t0);
    const double legendTop = 540;
    const double totalHeight = legendTop + 22.0 * static_cast<double>(tracks.size() + 3) + 10;
    std::ostringstream o;
    o.precision(5);
    o << "<?xml version='1.0' encoding='UTF-8'?>\n"
      << "<svg xmlns='http://www.w3.org/2000/svg' width='1140' height='" << totalHeight << "' viewBox='0 0 1140 "
      << totalHeight << "' font-family='sans-serif' font-size='13'>\n"
      << "<rect width='100%' height='100%' fill='white'/>\n"
      << "<text x='20' y='26' font-size='16' font-weight='bold'>" << xmlEscape(title) << "</text>\n";
    const std::string r = names.right, f = names.forward, u = names.up;
    axes(o, floor, ("Floor plan from above (" + r + " right, " + f + " up)").c_str(), (r + " (" + unit + ") \u2192").c_str(),
         (f + " (" + unit + "), forward \u2191").c_str());
    axes(o, height, "Height over time", "time (s)", ("height " + u + " (" + unit + ")").c_str());
    drawEvents(o, events, tracks, height, t0);
    size_t n = 0;
    double y = legendTop;
    std::vector<const Track*> drawn;
    for (const auto& [serial, tr] : tracks) {
        const Style style = styleOf(n++);
        std::string note;
        double lift = 0;
        if (!moving(tr)) {
            drawBase(o, tr, floor, style);
        } else {
            for (const Track* other : drawn)
                lift += overlapping(tr, *other) ? 3 : 0;
            if (lift > 0)
                note = " \u2014 its height drawn " + std::to_string(static_cast<int>(lift)) + " px up: it overlaps another's";
            drawTrack(o, tr, style, floor, height, t0, lift);
            drawn.push_back(&tr);
        }
        legendLine(o, y, serial, tr, style, note);
        y += 22;
    }
    if (tracks.empty())
        o << "<text x='70' y='" << legendTop << "'>no device was seen</text>\n";
    o << "<text class='key' x='70' y='" << y + 8 << "' font-size='12' fill='#555'>\u25CB where a path starts, "
      << "\u25A0 where it ends; \u22A0 a base station (\u25B2 at the plan's edge: beyond it, that way)</text>\n"
      << "<text class='key' x='70' y='" << y + 26 << "' font-size='12' fill='#555'>dashed grey lines: events, "
      << "labelled with the device (left, off: switched off, idx: index changed, closed: the session ended)</text>\n";
    o << "</svg>\n";
    return o.str();
}

} // namespace monitor
