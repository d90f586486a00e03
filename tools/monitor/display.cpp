#include "display.h"

#include "figures.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace monitor {

namespace {

const char* kindText(int32_t kind)
{
    const char* name = tavrin_event_kind_name(kind);
    return name ? name : "unknown";
}

} // namespace

std::string statusText(int32_t status)
{
    switch (status) {
    case 0: return "session open";
    case 100: {
        // Say why: the runtime's own reason for the latest failed open, when there is one.
        const int32_t why = tavrin_session_error();
        if (why == 0)
            return "waiting for the VR runtime";
        return "waiting for the VR runtime: " + initErrorName(why) + " (" + std::to_string(why) + ")";
    }
    default: return std::string(tavrin_error_name(status)) + " (" + std::to_string(static_cast<int>(status)) + ")";
    }
}

std::string describeEvent(const tavrin_event& e, double at)
{
    char line[200];
    if (e.kind == TAVRIN_EVENT_SESSION_OPENED || e.kind == TAVRIN_EVENT_SESSION_CLOSED)
        std::snprintf(line, sizeof line, "[%8.3f s] %-19s devices %u", at, kindText(e.kind), e.device_count);
    else if (e.kind == TAVRIN_EVENT_INDEX_CHANGED)
        std::snprintf(line, sizeof line, "[%8.3f s] %-19s %-16.63s %-4s index %u (was %u)  devices %u", at,
                      kindText(e.kind), e.serial, shortClassName(e.device_class), e.index, e.old_index, e.device_count);
    else
        std::snprintf(line, sizeof line, "[%8.3f s] %-19s %-16.63s %-4s index %u  devices %u", at, kindText(e.kind),
                      e.serial, shortClassName(e.device_class), e.index, e.device_count);
    if (e.dropped > 0)
        std::snprintf(line + std::strlen(line), sizeof line - std::strlen(line), "  (%u events lost before)", e.dropped);
    return line;
}

namespace {

// Which columns a terminal of some width shows: every device a row first, so as the width
// shrinks columns go (the quaternion first, then speed, the battery, the angles and the class),
// never rows.
struct Layout {
    int serial = 20;
    bool cls = true, quaternion = true, angles = true, speed = true, battery = true;

    int width() const
    {
        return serial + 4 + (cls ? 5 : 0) + 11 + 5 + 24 + (quaternion ? 30 : 0) + (angles ? 23 : 0) + (speed ? 8 : 0) +
               (battery ? 5 : 0);
    }
};

Layout fit(int columns)
{
    Layout l;
    const int room = columns - 1; // a full last column would wrap on some terminals
    bool* drops[] = {&l.quaternion, &l.speed, &l.battery, &l.angles, &l.cls};
    for (bool* d : drops)
        if (l.width() > room)
            *d = false;
    while (l.width() > room && l.serial > 12)
        --l.serial;
    return l;
}

// A role in at most ten characters: "l_shoulder", "-" for none.
std::string shortRole(int role)
{
    const char* name = tavrin_role_name(role);
    if (name == nullptr || role == TAVRIN_ROLE_NONE)
        return "-";
    std::string r = name;
    if (r.rfind("left_", 0) == 0)
        r = "l_" + r.substr(5);
    else if (r.rfind("right_", 0) == 0)
        r = "r_" + r.substr(6);
    return r;
}

std::string header(const Layout& l)
{
    char line[256];
    std::snprintf(line, sizeof line, "%-*s idx%s role       trk       x       y       z", l.serial, "serial",
                  l.cls ? " cls " : "");
    std::string out = line;
    if (l.quaternion)
        out += " |      w      x      y      z";
    if (l.angles)
        out += " |    yaw  pitch   roll";
    if (l.speed)
        out += "     m/s";
    if (l.battery)
        out += "  bat";
    return out + "\n";
}

// A device moving faster than this (m/s) may be the one being waved: the fastest is marked.
constexpr double kWaved = 0.5;

std::string tableRow(const Board::Row& r, const Layout& l, bool fastest)
{
    char part[160];
    const tavrin_device& d = r.last;
    std::snprintf(part, sizeof part, "%-*.*s %3u%s%-4s %-10s %-4s %7.3f %7.3f %7.3f", l.serial, l.serial,
                  r.serial.c_str(), r.index, l.cls ? " " : "", l.cls ? shortClassName(r.deviceClass) : "",
                  shortRole(r.hasPose ? d.role : 0).c_str(), r.state, d.position[0], d.position[1], d.position[2]);
    std::string line = part;
    if (l.quaternion) {
        std::snprintf(part, sizeof part, " | %6.3f %6.3f %6.3f %6.3f", d.orientation[0], d.orientation[1],
                      d.orientation[2], d.orientation[3]);
        line += part;
    }
    if (l.angles) {
        const Euler e = yawPitchRoll(d.orientation);
        std::snprintf(part, sizeof part, " | %6.1f %6.1f %6.1f", e.yaw, e.pitch, e.roll);
        line += part;
    }
    if (l.speed) {
        std::snprintf(part, sizeof part, " %7.3f", speed(d.velocity));
        line += part;
    }
    if (l.battery) {
        if (d.battery > 100)
            std::snprintf(part, sizeof part, "    -");
        else
            std::snprintf(part, sizeof part, " %3u%%", static_cast<unsigned>(d.battery));
        line += part;
    }
    // Greyed: switched off, last pose shown; in reverse: the device moving most now, so that a user
    // who waves a tracker sees which serial it is.
    if (fastest)
        return "\x1b[7m" + line + "\x1b[0m\n";
    const bool off = std::strcmp(r.state, "off") == 0;
    return off ? "\x1b[2m" + line + "\x1b[0m\n" : line + "\n";
}

} // namespace

// Every device a row first, then as many of the latest events as the height leaves room for.
std::string renderTable(const Board& board, const TableView& view)
{
    std::string screen = "\x1b[H\x1b[2J";
    char line[256];
    const Layout layout = fit(view.columns);
    const bool wide = layout.quaternion;
    std::lock_guard<std::mutex> lock(board.mutex);
    std::snprintf(line, sizeof line, "tavrin-monitor %u Hz %.1f s frame %llu (%.1f/s) %s%s", view.rate, view.seconds,
                  static_cast<unsigned long long>(board.frameNumber), board.recentFrameRate(),
                  statusText(board.status).c_str(), wide ? "  (Ctrl-C stops)" : "");
    screen += std::string(line).substr(0, static_cast<size_t>(std::max(view.columns - 1, 1))) + "\n";
    int used = 1;
    if (!board.oscNote.empty()) {
        screen += board.oscNote.substr(0, static_cast<size_t>(std::max(view.columns - 1, 1))) + "\n";
        ++used;
    }
    if (!view.liveUrl.empty()) {
        screen += "live view: " + view.liveUrl + "\n";
        ++used;
    }
    screen += "\n" + header(layout);
    used += 2;
    const std::vector<Board::Row> rows = board.rows();
    // The last line stays free, so that the table never scrolls the terminal.
    int room = view.rows - 1 - used;
    const size_t shown = rows.size() <= static_cast<size_t>(std::max(room, 0)) ? rows.size()
                                                                               : static_cast<size_t>(std::max(room - 1, 0));
    size_t fastest = rows.size();
    double top = kWaved;
    for (size_t r = 0; r < rows.size(); ++r) {
        const double v = speed(rows[r].last.velocity);
        if (rows[r].hasPose && std::strcmp(rows[r].state, "ok") == 0 && v > top) {
            top = v;
            fastest = r;
        }
    }
    for (size_t r = 0; r < shown; ++r)
        screen += tableRow(rows[r], layout, r == fastest);
    if (shown < rows.size())
        screen += "... and " + std::to_string(rows.size() - shown) + " more devices (a taller terminal shows them)\n";
    if (rows.empty())
        screen += "(no device yet)\n";
    room -= static_cast<int>(std::max<size_t>(shown + (shown < rows.size() ? 1 : 0), 1));
    if (room >= 2 && !board.recentEvents.empty()) {
        screen += "events (latest last):\n";
        const size_t fits = std::min(board.recentEvents.size(), static_cast<size_t>(room - 1));
        const size_t width = static_cast<size_t>(std::max(view.columns - 3, 10));
        for (size_t e = board.recentEvents.size() - fits; e < board.recentEvents.size(); ++e)
            screen += "  " + board.recentEvents[e].substr(0, width) + "\n";
    }
    return screen;
}

std::string summaryLine(const Board& board, double t)
{
    char part[160];
    std::lock_guard<std::mutex> lock(board.mutex);
    std::snprintf(part, sizeof part, "[%8.3f s] reads %llu (%.1f/s), frame %llu, %s:", t, board.reads,
                  t > 0 ? static_cast<double>(board.reads) / t : 0.0, static_cast<unsigned long long>(board.frameNumber),
                  statusText(board.status).c_str());
    std::string text = part;
    const std::vector<Board::Row> rows = board.rows();
    for (const Board::Row& r : rows) {
        if (!r.hasPose)
            continue;
        std::snprintf(part, sizeof part, " %.63s@%u %s (%.2f, %.2f, %.2f)", r.serial.c_str(), r.index, r.state,
                      r.last.position[0], r.last.position[1], r.last.position[2]);
        text += part;
    }
    if (rows.empty())
        text += " no device";
    if (!board.oscNote.empty())
        text += "; " + board.oscNote;
    return text;
}

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

namespace {
const char* roleOf(const Board::Row& r)
{
    const char* name = tavrin_role_name(r.hasPose ? r.last.role : 0);
    return name ? name : "none";
}
} // namespace

std::string liveFrame(const Board& board, double t, unsigned askedRate)
{
    char part[320];
    std::lock_guard<std::mutex> lock(board.mutex);
    std::vector<double> waits(board.recentWaitUs.begin(), board.recentWaitUs.end());
    std::snprintf(part, sizeof part,
                  "{\"t\":%.3f,\"asked\":%u,\"rate\":%.2f,\"p50\":%.2f,\"p99\":%.2f,\"reads\":%llu,\"frame\":%llu,"
                  "\"fps\":%.2f,",
                  t, askedRate, t > 0 ? static_cast<double>(board.reads) / t : 0.0, percentile(waits, 0.5),
                  percentile(waits, 0.99), board.reads, static_cast<unsigned long long>(board.frameNumber),
                  board.recentFrameRate());
    std::string out = part;
    // The space the values are in, as the page names its axes; each device's pose also as the page
    // draws it ("v", "vq": OpenVR's axes in metres, the space's origin and heading kept).
    const ViewNames names = viewNames(board.space.axes);
    tavrin_space drawn = board.space;
    drawn.axes = TAVRIN_AXES_OPENVR;
    drawn.units_per_metre = 1.0f;
    std::snprintf(part, sizeof part, "\"space\":{\"right\":%s,\"forward\":%s,\"up\":%s,\"unit\":%s,\"upm\":%g},",
                  jsonString(names.right).c_str(), jsonString(names.forward).c_str(), jsonString(names.up).c_str(),
                  jsonString(unitName(board.space.units_per_metre).c_str()).c_str(),
                  static_cast<double>(board.space.units_per_metre));
    out += part;
    out += "\"status\":" + jsonString(statusText(board.status).c_str()) + ",\"devices\":[";
    bool first = true;
    for (const Board::Row& r : board.rows()) {
        const tavrin_device& d = r.last;
        char battery[8] = "null";
        if (d.battery <= 100)
            std::snprintf(battery, sizeof battery, "%u", static_cast<unsigned>(d.battery));
        std::snprintf(part, sizeof part,
                      ",\"index\":%u,\"cls\":%d,\"role\":\"%s\",\"state\":\"%s\",\"bat\":%s,"
                      "\"p\":[%.4f,%.4f,%.4f],\"q\":[%.5f,%.5f,%.5f,%.5f]}",
                      r.index, r.deviceClass, roleOf(r), r.state, battery, d.position[0], d.position[1],
                      d.position[2], d.orientation[0], d.orientation[1], d.orientation[2], d.orientation[3]);
        tavrin_device v = d;
        if (tavrin_space_convert(&board.space, &drawn, &v) != 0)
            v = d;
        out += (first ? "{\"serial\":" : ",{\"serial\":") + jsonString(r.serial.c_str()) + part;
        out.pop_back(); // the record goes on: its pose as drawn
        std::snprintf(part, sizeof part, ",\"v\":[%.4f,%.4f,%.4f],\"vq\":[%.5f,%.5f,%.5f,%.5f]}", v.position[0],
                      v.position[1], v.position[2], v.orientation[0], v.orientation[1], v.orientation[2],
                      v.orientation[3]);
        out += part;
        first = false;
    }
    return out + "]}";
}

} // namespace monitor
