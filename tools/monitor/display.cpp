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

std::string tableRow(const Board::Row& r, bool wide)
{
    char line[256];
    const tavrin_device& d = r.last;
    const Euler e = yawPitchRoll(d.orientation);
    if (wide)
        std::snprintf(line, sizeof line,
                      "%-18.18s %4u %-12s %4s %7.3f %7.3f %7.3f | %6.3f %6.3f %6.3f %6.3f | %6.1f %6.1f %6.1f | %8.3f",
                      r.serial.c_str(), r.index, className(r.deviceClass), r.state, d.position[0], d.position[1],
                      d.position[2], d.orientation[0], d.orientation[1], d.orientation[2], d.orientation[3], e.yaw,
                      e.pitch, e.roll, speed(d.velocity));
    else
        std::snprintf(line, sizeof line, "%-15.15s %3u %-4s %-4s %7.3f %7.3f %7.3f %6.1f %6.1f %6.1f %4.1f",
                      r.serial.c_str(), r.index, shortClassName(r.deviceClass), r.state, d.position[0], d.position[1],
                      d.position[2], e.yaw, e.pitch, e.roll, speed(d.velocity));
    // Greyed: switched off, last pose shown.
    const bool off = std::strcmp(r.state, "off") == 0;
    return off ? std::string("\x1b[2m") + line + "\x1b[0m\n" : std::string(line) + "\n";
}

} // namespace

std::string renderTable(const Board& board, const TableView& view)
{
    std::string screen = "\x1b[H\x1b[2J";
    char line[256];
    const bool wide = view.columns >= 130;
    std::lock_guard<std::mutex> lock(board.mutex);
    std::snprintf(line, sizeof line, "tavrin-monitor %u Hz %.1f s frame %llu (%.1f/s) %s%s\n", view.rate, view.seconds,
                  static_cast<unsigned long long>(board.frameNumber), board.recentFrameRate(),
                  statusText(board.status).c_str(), wide ? "  (Ctrl-C stops)" : "");
    screen += line;
    int used = 3;
    if (!view.liveUrl.empty()) {
        screen += "live view: " + view.liveUrl + "\n";
        ++used;
    }
    screen += "\n";
    if (wide)
        screen += "serial              idx class        trk       x       y       z |      w      x      y      z |"
                  "    yaw  pitch   roll | speed m/s\n";
    else // fits 80 columns
        screen += "serial          idx cls  trk       x       y       z    yaw  pitch   roll  m/s\n";
    const std::vector<Board::Row> rows = board.rows();
    // As many rows as the terminal has room for beside the header and the events.
    const size_t eventLines = board.recentEvents.size() + 2;
    const int room = view.rows - used - static_cast<int>(eventLines) - 2;
    const size_t shown = std::min(rows.size(), static_cast<size_t>(std::max(room, 1)));
    for (size_t r = 0; r < shown; ++r)
        screen += tableRow(rows[r], wide);
    if (shown < rows.size())
        screen += "... and " + std::to_string(rows.size() - shown) + " more devices (a taller terminal shows them)\n";
    if (rows.empty())
        screen += "(no device yet)\n";
    screen += "\nevents (latest last):\n";
    for (const auto& ev : board.recentEvents)
        screen += "  " + ev.substr(0, wide ? ev.size() : 78) + "\n";
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
    out += "\"status\":" + jsonString(statusText(board.status).c_str()) + ",\"devices\":[";
    bool first = true;
    for (const Board::Row& r : board.rows()) {
        const tavrin_device& d = r.last;
        std::snprintf(part, sizeof part,
                      ",\"index\":%u,\"cls\":%d,\"state\":\"%s\",\"p\":[%.4f,%.4f,%.4f],\"q\":[%.5f,%.5f,%.5f,%.5f]}",
                      r.index, r.deviceClass, r.state, d.position[0], d.position[1], d.position[2], d.orientation[0],
                      d.orientation[1], d.orientation[2], d.orientation[3]);
        out += (first ? "{\"serial\":" : ",{\"serial\":") + jsonString(r.serial.c_str()) + part;
        first = false;
    }
    return out + "]}";
}

} // namespace monitor
