// The jitter filter over vrsim's noise (1 mm and 0.5 degree per axis): a frame source at 120 Hz for
// 5 s with the default filter, a still tracker and one moving along x at a steady 1 m/s (its pose
// set anew every 2 ms from the clock). For each paced frame the raw pose of the same instant is
// read too (tavrin_source_read_at is not filtered). Then the CPU cost of filtering 18 devices a
// read, and an SVG of raw against filtered (argument 2, default filter.svg).
// Targets: the still tracker's position jitter (RMS about its mean) at least 5x smaller than raw,
// its rotation jitter at least 3x; the moving tracker within 10 mm of where it is in at least 95 %
// of frames.
// Usage: bench_filter [SECONDS, default 5] [SVG]
#include "thread_cpu.h"

#include <filter/one_euro.h>

#include <tavrin.h>
#include <vrsim.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Jitter {
    double positionMm, rotationDeg;
};

// RMS about the mean: of the position (3-D), and of the angle from the mean orientation.
Jitter jitterOf(const std::vector<tavrin_device>& samples)
{
    double mean[3] = {0, 0, 0}, q[4] = {0, 0, 0, 0};
    for (const tavrin_device& d : samples)
        for (int i = 0; i < 4; ++i) {
            if (i < 3)
                mean[i] += d.position[i] / samples.size();
            const double sign = d.orientation[0] * samples[0].orientation[0] +
                                            d.orientation[1] * samples[0].orientation[1] +
                                            d.orientation[2] * samples[0].orientation[2] +
                                            d.orientation[3] * samples[0].orientation[3] <
                                        0
                                    ? -1.0
                                    : 1.0;
            q[i] += sign * d.orientation[i];
        }
    const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    double p2 = 0, a2 = 0;
    for (const tavrin_device& d : samples) {
        for (int i = 0; i < 3; ++i)
            p2 += (d.position[i] - mean[i]) * (d.position[i] - mean[i]);
        const double dot = std::abs(d.orientation[0] * q[0] + d.orientation[1] * q[1] + d.orientation[2] * q[2] +
                                    d.orientation[3] * q[3]) /
                           n;
        const double angle = 2.0 * std::acos(std::min(1.0, dot));
        a2 += angle * angle;
    }
    return Jitter{std::sqrt(p2 / samples.size()) * 1000.0, std::sqrt(a2 / samples.size()) * 180.0 / 3.14159265358979};
}

// A polyline of (t, value) scaled into a panel.
std::string path(const std::vector<double>& t, const std::vector<double>& v, double x0, double y0, double w, double h,
                 double lo, double hi, const char* colour)
{
    std::ostringstream o;
    o << "<polyline fill='none' stroke='" << colour << "' stroke-width='1.2' points='";
    for (size_t i = 0; i < t.size(); ++i)
        o << x0 + w * t[i] / t.back() << ',' << y0 + h - h * (std::clamp(v[i], lo, hi) - lo) / (hi - lo) << ' ';
    o << "'/>\n";
    return o.str();
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    const std::string svgPath = argc > 2 ? argv[2] : "filter.svg";
    if (!(seconds > 1.0)) {
        std::fprintf(stderr, "usage: bench_filter [SECONDS, > 1] [SVG]\n");
        return 2;
    }
    vrsim_reset();
    vrsim_set_device(0, 3, "LHR-STILL", 1);
    vrsim_set_device(1, 3, "LHR-MOVING", 1);
    const float still[12] = {1, 0, 0, 0.5f, 0, 1, 0, 1.0f, 0, 0, 1, 0}, none[3] = {0, 0, 0}, v[3] = {1, 0, 0};
    vrsim_set_pose(0, still, none, none, 200);
    vrsim_set_noise(0.001f, 0.5f * 3.14159265f / 180.0f, 42);
    const int64_t start = tavrin_now_ns();
    const auto truth = [start](int64_t at) { return -2.5 + static_cast<double>(at - start) / 1e9; };
    std::atomic<bool> moving{true};
    std::thread mover([&] {
        while (moving.load()) {
            const float m[12] = {1, 0, 0, static_cast<float>(truth(tavrin_now_ns())), 0, 1, 0, 1.2f, 0, 0, 1, 0};
            vrsim_set_pose(1, m, v, none, 200);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });

    tavrin_source* source = tavrin_source_create(120.0);
    tavrin_filter f;
    tavrin_filter_default(&f);
    tavrin_source_set_filter(source, nullptr, &f);
    tavrin_source_start(source);
    static tavrin_frame frame, raw;
    while (tavrin_source_read(source, &frame, sizeof frame) != 0 || frame.device_count < 2) {
    }
    const int64_t t0 = frame.time_ns;
    std::vector<tavrin_device> stillRaw, stillFiltered;
    std::vector<double> times, rawX, filteredX, errorMm, rawErrorMm;
    size_t within = 0, frames = 0;
    while (frame.time_ns - t0 < static_cast<int64_t>(seconds * 1e9)) {
        if (tavrin_source_read(source, &frame, sizeof frame) != 0 || frame.device_count < 2 ||
            tavrin_source_read_at(source, frame.time_ns, &raw, sizeof raw) != 0 || raw.device_count < 2)
            continue;
        const double t = static_cast<double>(frame.time_ns - t0) / 1e9;
        if (t < 0.5)
            continue; // the filter settles
        stillFiltered.push_back(frame.devices[0]);
        stillRaw.push_back(raw.devices[0]);
        const double x = truth(frame.time_ns);
        const double e = std::abs(frame.devices[1].position[0] - x) * 1000.0;
        within += e <= 10.0 ? 1 : 0;
        ++frames;
        times.push_back(t - 0.5);
        rawX.push_back((raw.devices[0].position[0] - 0.5) * 1000.0);
        filteredX.push_back((frame.devices[0].position[0] - 0.5) * 1000.0);
        errorMm.push_back((frame.devices[1].position[0] - x) * 1000.0);
        rawErrorMm.push_back((raw.devices[1].position[0] - x) * 1000.0);
    }
    tavrin_source_destroy(source);
    moving = false;
    mover.join();

    // The filter's own cost: 18 devices a read, each a step of its state.
    ViveSystem::OneEuroState states[18];
    ViveSystem::Placement poses[18];
    for (int k = 0; k < 18; ++k)
        poses[k] =
            ViveSystem::Placement{{0.1f * k, 1.0f, 0.0f}, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {0, 0, 0}, {0, 0, 0}};
    const int rounds = 20000;
    const double cpu0 = threadCpuMicros();
    for (int r = 0; r < rounds; ++r)
        for (int k = 0; k < 18; ++k) {
            ViveSystem::Placement p = poses[k];
            p.position[0] += 0.001f * static_cast<float>(r % 7);
            ViveSystem::oneEuro(ViveSystem::kDefaultFilter, states[k], 1.0 / 120.0, p);
        }
    const double cpuPerRead = (threadCpuMicros() - cpu0) / rounds;

    const Jitter r = jitterOf(stillRaw), fl = jitterOf(stillFiltered);
    const double share = 100.0 * static_cast<double>(within) / static_cast<double>(std::max<size_t>(frames, 1));
    std::printf("jitter filter (One Euro, %g Hz, beta %g, %g Hz), 120 Hz, noise 1 mm and 0.5 deg, %.1f s\n",
                static_cast<double>(f.min_cutoff_hz), static_cast<double>(f.beta),
                static_cast<double>(f.derivative_cutoff_hz), seconds);
    std::printf(
        "  still tracker: position jitter %.3f mm raw, %.3f mm filtered (%.1fx); rotation %.3f deg raw, %.3f deg "
        "filtered (%.1fx)\n",
        r.positionMm, fl.positionMm, r.positionMm / fl.positionMm, r.rotationDeg, fl.rotationDeg,
        r.rotationDeg / fl.rotationDeg);
    std::printf("  moving tracker, 1 m/s: within 10 mm in %.1f %% of %zu frames\n", share, frames);
    std::printf("  cost: %.2f us a read for 18 devices\n", cpuPerRead);
    const bool met = r.positionMm >= 5 * fl.positionMm && r.rotationDeg >= 3 * fl.rotationDeg && share >= 95.0;
    std::printf("target (5x, 3x, 95 %% within 10 mm): %s\n", met ? "met" : "NOT met");

    std::ofstream svg(svgPath);
    svg << "<?xml version='1.0' encoding='UTF-8'?>\n<svg xmlns='http://www.w3.org/2000/svg' width='900' height='520' "
           "font-family='sans-serif' font-size='13'>\n<rect width='100%' height='100%' fill='white'/>\n"
           "<text x='20' y='24' font-size='15' font-weight='bold'>The jitter filter: raw (grey) against filtered "
           "(blue), 120 Hz, noise 1 mm and 0.5 deg</text>\n";
    for (int panel = 0; panel < 2; ++panel) {
        const double hi = panel == 0 ? 4 : 12, lo = -hi; // mm
        const double y0 = 60 + panel * 230;
        svg << "<rect x='70' y='" << y0 << "' width='800' height='180' fill='#fafafa' stroke='#999'/>\n"
            << "<text x='70' y='" << y0 - 8 << "'>"
            << (panel == 0 ? "a still tracker: x less where it is (mm)" : "a tracker at 1 m/s: x less where it is (mm)")
            << "</text>\n<text x='20' y='" << y0 + 10 << "'>" << hi << "</text><text x='20' y='" << y0 + 180 << "'>"
            << lo << "</text>\n";
        svg << path(times, panel == 0 ? rawX : rawErrorMm, 70, y0, 800, 180, lo, hi, "#999");
        svg << path(times, panel == 0 ? filteredX : errorMm, 70, y0, 800, 180, lo, hi, "#1f77b4");
    }
    svg << "<text x='70' y='510'>time (s), 0 to " << times.back() << "</text>\n</svg>\n";
    return 0;
}
