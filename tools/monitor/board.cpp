#include "board.h"

#include <algorithm>

namespace monitor {

void Board::noteEvent(const tavrin_event& e)
{
    const std::string serial(e.serial);
    present.apply(e.kind, serial, e.device_class, e.index);
    if (e.kind == TAVRIN_EVENT_SESSION_OPENED || e.kind == TAVRIN_EVENT_SESSION_CLOSED)
        poses.clear();
    else if (e.kind == TAVRIN_EVENT_DEVICE_LEFT)
        poses.erase(serial);
}

void Board::noteFrame(const tavrin_frame& frame, double frameSeconds)
{
    frameNumber = frame.frame_number;
    recentFrameSec.push_back(frameSeconds);
    while (recentFrameSec.size() > 2 && recentFrameSec.back() - recentFrameSec.front() > 1.0)
        recentFrameSec.pop_front();
    for (uint32_t n = 0; n < frame.device_count && n < TAVRIN_MAX_DEVICES; ++n) {
        const tavrin_device& d = frame.devices[n];
        if (!present.find(d.serial))
            continue; // shown once its arrival is announced
        Pose& p = poses[d.serial];
        if (d.pose_valid || !p.hasPose) {
            p.last = d;
            p.hasPose = true;
        } else { // no pose now (off, or gone until discovery says so): the last one stays
            p.last.index = d.index;
            p.last.connected = d.connected;
            p.last.pose_valid = 0;
            p.last.tracking_result = d.tracking_result;
            p.last.battery = d.battery;
        }
    }
}

double Board::recentFrameRate() const
{
    const std::deque<double>& f = recentFrameSec;
    if (f.size() < 2 || f.back() <= f.front())
        return 0.0;
    return static_cast<double>(f.size() - 1) / (f.back() - f.front());
}

std::vector<Board::Row> Board::rows() const
{
    std::vector<Row> out;
    for (const auto& [serial, device] : present.devices()) {
        Row r;
        r.serial = serial;
        r.deviceClass = device.deviceClass;
        r.index = device.index;
        const auto it = poses.find(serial);
        if (it != poses.end()) {
            r.hasPose = it->second.hasPose;
            r.last = it->second.last;
            r.index = r.last.index;
        }
        if (!device.connected || (r.hasPose && !r.last.connected))
            r.state = "off";
        else
            r.state = r.hasPose && r.last.pose_valid && r.last.tracking_result == 200 ? "ok" : "lost";
        out.push_back(r);
    }
    std::stable_sort(out.begin(), out.end(), [](const Row& a, const Row& b) { return a.index < b.index; });
    return out;
}

} // namespace monitor
