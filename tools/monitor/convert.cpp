#include "convert.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace monitor {

tavrin_space recordedSpace(const recording::Recording& take)
{
    const ViveSystem::UserSpace& r = take.space;
    return tavrin_space{{r.position[0], r.position[1], r.position[2]},
                        {r.orientation[0], r.orientation[1], r.orientation[2], r.orientation[3]},
                        r.axes,
                        r.unitsPerMetre};
}

namespace {

struct Row {
    double t;
    int32_t index;
    const recording::Track* track;
    const recording::Sample* sample;
};

// Every row in frame order: by time, then by index as a frame lists its devices.
std::vector<Row> rowsInOrder(const recording::Recording& take)
{
    std::vector<Row> rows;
    for (const recording::Track& track : take.tracks)
        for (const recording::Sample& s : track.samples)
            rows.push_back(Row{s.t, s.index, &track, &s});
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.t < b.t || (a.t == b.t && a.index < b.index); });
    return rows;
}

// A row as the frame source's device record, in `space` (the sample is in the standing universe).
void fillDevice(const Row& row, const tavrin_space& space, tavrin_device& d)
{
    static const tavrin_space kStanding{{0, 0, 0}, {1, 0, 0, 0}, TAVRIN_AXES_OPENVR, 1.0f};
    const recording::Sample& s = *row.sample;
    d = tavrin_device{};
    std::strncpy(d.serial, row.track->serial.c_str(), sizeof d.serial - 1);
    d.index = static_cast<uint32_t>(s.index);
    d.device_class = row.track->deviceClass;
    d.tracking_result = s.result;
    d.connected = s.connected < 0 ? 1 : static_cast<uint8_t>(s.connected);
    d.pose_valid = static_cast<uint8_t>(s.poseValid);
    d.role = s.role;
    d.battery = 255; // recordings hold no battery
    const ViveSystem::Placement p = s.placement();
    std::memcpy(d.position, p.position, sizeof d.position);
    std::memcpy(d.rotation, p.rotation, sizeof d.rotation);
    std::memcpy(d.velocity, p.velocity, sizeof d.velocity);
    std::memcpy(d.angular_velocity, p.angularVelocity, sizeof d.angular_velocity);
    std::memcpy(d.orientation, s.quat, sizeof d.orientation);
    tavrin_space_convert(&kStanding, &space, &d);
}

} // namespace

void forEachFrame(const recording::Recording& take,
                  const std::function<void(const tavrin_frame& frame, double timestampMs)>& visit)
{
    const std::vector<Row> rows = rowsInOrder(take);
    const tavrin_space space = recordedSpace(take);
    auto frame = std::make_unique<tavrin_frame>(); // 10 KB: not on the stack
    uint64_t counted = 0;
    for (size_t i = 0; i < rows.size();) {
        const recording::Sample& first = *rows[i].sample;
        *frame = tavrin_frame{};
        frame->frame_number = take.version == 2 ? first.frame : ++counted;
        frame->time_ns = static_cast<int64_t>(std::llround(first.t * 1e6));
        frame->unix_time_ns = first.unixNs;
        frame->query_time_ns = frame->time_ns;
        for (; i < rows.size() && rows[i].t == first.t; ++i)
            if (frame->device_count < TAVRIN_MAX_DEVICES)
                fillDevice(rows[i], space, frame->devices[frame->device_count++]);
        visit(*frame, first.t - take.start);
    }
}

double rateOf(uint64_t firstNumber, int64_t firstNs, uint64_t lastNumber, int64_t lastNs)
{
    if (lastNumber <= firstNumber || lastNs <= firstNs)
        return 0;
    const double instants = static_cast<double>(lastNumber - firstNumber);
    return std::round(instants * 1e9 / static_cast<double>(lastNs - firstNs) * 1e3) / 1e3;
}

} // namespace monitor
