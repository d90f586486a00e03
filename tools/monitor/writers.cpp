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
    if (recording)
        std::fputs(recording::preamble(), file_.stream());
    std::fputs(recording::header(), file_.stream());
    return true;
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
    return file_.commit(error);
}

// ---- plot ------------------------------------------------------------------------------------

void PlotRecorder::add(const tavrin_frame& frame, float timestampMs)
{
    for (uint32_t k = 0; k < frame.device_count && k < TAVRIN_MAX_DEVICES; ++k) {
        const tavrin_device& d = frame.devices[k];
        if (d.device_class < 1 || d.device_class > 3 || !d.pose_valid || d.serial[0] == '\0')
            continue;
        const std::string serial(d.serial);
        size_t& stride = stride_[serial];
        if (stride == 0)
            stride = 1;
        if (seen_[serial]++ % stride != 0)
            continue;
        Track& t = tracks_[serial];
        t.deviceClass = d.device_class;
        t.role = d.role;
        t.t.push_back(timestampMs);
        t.x.push_back(d.position[0]);
        t.y.push_back(d.position[1]);
        t.z.push_back(d.position[2]);
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

const char* const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e",
                                "#17becf", "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22"};
// Line styles, so that devices whose paths lie on top of each other stay apart.
const char* const kDashes[] = {"none", "7 4", "2 3", "10 3 2 3", "4 4"};
const double kWidths[] = {2.6, 1.8, 1.4, 2.2, 1.2};

// The n-th entry of a table of styles, round and round.
template <class T, size_t N>
T pick(const T (&table)[N], size_t n)
{
    return table[n % N];
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
              const std::vector<float>& ys, const Panel& p, const char* colour, size_t style)
{
    const char* dash = pick(kDashes, style);
    const double width = pick(kWidths, style);
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
        o << p.px(xs[i]) << ',' << p.py(ys[i]) << ' ';
    }
    if (open)
        o << "'/>\n";
}

} // namespace

namespace {

// The floor plan seen from above (x to the right, OpenVR's forward -z up the page) keeps metres
// square; the height panel spans the run's time and is fitted to the heights, with a margin.
void fitPanels(const std::map<std::string, Track>& tracks, Panel& floor, Panel& height, Range& t0)
{
    for (const auto& [serial, tr] : tracks) {
        for (size_t i = 0; i < tr.t.size(); ++i) {
            floor.rx.add(tr.x[i]);
            floor.ry.add(-tr.z[i]);
            height.ry.add(tr.y[i]);
            t0.add(tr.t[i]);
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

// Events on the time axis: a tick and a short label (left, off: switched off, idx: an index
// change, closed: the session ended).
void drawEvents(std::ostringstream& o, const std::vector<PlotEvent>& events, const Panel& height, const Range& t0)
{
    for (const PlotEvent& e : events) {
        const double secs = (e.t - t0.lo) / 1000.0;
        if (!worthMarking(e.kind) || secs < height.rx.lo || secs > height.rx.hi)
            continue;
        const double x = height.px(secs);
        const char* label = markLabel(e.kind);
        o << "<line class='event' x1='" << x << "' y1='" << height.y << "' x2='" << x << "' y2='" << height.y + height.h
          << "' stroke='#888' stroke-dasharray='3 3'><title>" << xmlEscape(e.serial) << ' ' << label
          << "</title></line>\n"
          << "<text x='" << x + 2 << "' y='" << height.y + 12 << "' font-size='10' fill='#555'>" << label << "</text>\n";
    }
}

// One device: its path on the floor with where it starts (circle) and ends (square), its height
// over time, and its legend line.
void drawTrack(std::ostringstream& o, const std::string& serial, const Track& tr, size_t n, const Panel& floor,
               const Panel& height, const Range& t0, double legendTop)
{
    const char* colour = pick(kColours, n);
    std::vector<float> forward;
    for (float z : tr.z)
        forward.push_back(-z);
    polyline(o, tr.t, tr.x, forward, floor, colour, n);
    if (!tr.t.empty()) {
        o << "<circle cx='" << floor.px(tr.x.front()) << "' cy='" << floor.py(forward.front())
          << "' r='5' fill='white' stroke='" << colour << "' stroke-width='2'/>\n"
          << "<rect x='" << floor.px(tr.x.back()) - 4 << "' y='" << floor.py(forward.back()) - 4
          << "' width='8' height='8' fill='" << colour << "'/>\n";
    }
    std::vector<float> secs(tr.t.size());
    for (size_t i = 0; i < tr.t.size(); ++i)
        secs[i] = static_cast<float>((tr.t[i] - t0.lo) / 1000.0);
    polyline(o, tr.t, secs, tr.y, height, colour, n);
    const double ly = legendTop + 24.0 * static_cast<double>(n);
    o << "<line x1='70' y1='" << ly - 8 << "' x2='94' y2='" << ly - 8 << "' stroke='" << colour << "' stroke-width='"
      << pick(kWidths, n) << "' stroke-dasharray='" << pick(kDashes, n) << "'/>\n"
      << "<text x='102' y='" << ly - 3 << "'>" << xmlEscape(serial) << " (" << className(tr.deviceClass) << ", "
      << (tr.role != TAVRIN_ROLE_NONE && tavrin_role_name(tr.role) ? std::string(tavrin_role_name(tr.role)) + ", " : "")
      << tr.t.size() << " points)</text>\n";
}

} // namespace

std::string renderSvg(const std::map<std::string, Track>& tracks, const std::string& title,
                      const std::vector<PlotEvent>& events)
{
    Panel floor{70, 60, 420, 420, {}, {}};
    Panel height{580, 60, 520, 420, {}, {}};
    Range t0;
    fitPanels(tracks, floor, height, t0);
    const double legendTop = 540;
    const double totalHeight = legendTop + 24.0 * static_cast<double>(tracks.size()) + 20;
    std::ostringstream o;
    o.precision(5);
    o << "<?xml version='1.0' encoding='UTF-8'?>\n"
      << "<svg xmlns='http://www.w3.org/2000/svg' width='1140' height='" << totalHeight << "' viewBox='0 0 1140 "
      << totalHeight << "' font-family='sans-serif' font-size='13'>\n"
      << "<rect width='100%' height='100%' fill='white'/>\n"
      << "<text x='20' y='26' font-size='16' font-weight='bold'>" << xmlEscape(title) << "</text>\n";
    axes(o, floor, "Floor plan from above (x right, \u2212z up)", "x (m) \u2192", "\u2212z (m), forward \u2191");
    axes(o, height, "Height over time", "time (s)", "height y (m)");
    drawEvents(o, events, height, t0);
    size_t n = 0;
    for (const auto& [serial, tr] : tracks)
        drawTrack(o, serial, tr, n++, floor, height, t0, legendTop);
    if (tracks.empty())
        o << "<text x='70' y='" << legendTop << "'>no device was tracked</text>\n";
    o << "</svg>\n";
    return o.str();
}

} // namespace monitor
