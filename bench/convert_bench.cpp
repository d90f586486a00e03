// tavrin-monitor --convert on a 60 s take at 120 Hz of 18 devices (a headset, two controllers,
// thirteen trackers and two base stations, all moving but the base stations), writing the CSV, the
// BVH, the glTF (.glb) and the plot at once. Target: under 2 s. Best of three runs of the program.
// Usage: bench_convert [WORK_DIR]
#include <recording/recording_format.h>
#include <tavrin.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr int kDevices = 18;
constexpr int kRate = 120;
constexpr int kSeconds = 60;

bool writeTake(const std::string& path)
{
    std::FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr)
        return false;
    std::fputs(recording::preamble(), out);
    std::fputs(recording::header(), out);
    auto frame = std::make_unique<tavrin_frame>();
    for (int f = 0; f < kRate * kSeconds; ++f) {
        *frame = tavrin_frame{};
        frame->frame_number = static_cast<uint64_t>(f + 1);
        frame->time_ns = 1000000000LL + std::llround(f * 1e9 / kRate);
        frame->unix_time_ns = 1700000000000000000LL + frame->time_ns;
        frame->device_count = kDevices;
        const double t = f / static_cast<double>(kRate);
        for (int k = 0; k < kDevices; ++k) {
            tavrin_device& d = frame->devices[k];
            std::snprintf(d.serial, sizeof d.serial, "LHR-BENCH%02d", k);
            d.index = static_cast<uint32_t>(k);
            d.device_class = k == 0 ? 1 : k < 3 ? 2 : k < 16 ? 3 : 4;
            d.tracking_result = 200;
            d.connected = d.pose_valid = 1;
            d.role = static_cast<uint8_t>(k < 14 ? k + 1 : 0);
            const double a = d.device_class == 4 ? 0 : t * (0.5 + 0.05 * k);
            d.position[0] = static_cast<float>(std::cos(a) + 0.1 * k);
            d.position[1] = static_cast<float>(1 + 0.2 * std::sin(3 * a));
            d.position[2] = static_cast<float>(std::sin(a));
            d.orientation[0] = static_cast<float>(std::cos(a / 2));
            d.orientation[2] = static_cast<float>(std::sin(a / 2));
            d.rotation[0][0] = d.rotation[2][2] = static_cast<float>(std::cos(a));
            d.rotation[0][2] = static_cast<float>(std::sin(a));
            d.rotation[2][0] = -d.rotation[0][2];
            d.rotation[1][1] = 1;
        }
        recording::writeRows(out, static_cast<unsigned long long>(f + 1), *frame, t * 1000);
    }
    return std::fclose(out) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string dir = argc > 1 ? argv[1] : ".";
    const std::string take = dir + "/bench_take.csv";
    if (!writeTake(take)) {
        std::fprintf(stderr, "cannot write %s\n", take.c_str());
        return 1;
    }
    const std::string command = std::string("\"") + TAVRIN_MONITOR_PATH + "\" --convert \"" + take + "\" --csv \"" +
                                dir + "/bench_take.out.csv\" --bvh \"" + dir + "/bench_take.bvh\" --gltf \"" + dir +
                                "/bench_take.glb\" --plot \"" + dir + "/bench_take.svg\" >/dev/null";
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        const auto begin = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "failed: %s\n", command.c_str());
            return 1;
        }
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    }
    std::printf("--convert of a %d s take at %d Hz, %d devices, to CSV, BVH, glTF and SVG: %.3f s (target < 2 s)\n",
                kSeconds, kRate, kDevices, best);
    return best < 2.0 ? 0 : 1;
}
