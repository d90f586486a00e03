// The cost of a pose read against the simulated rig with 16 devices, without pacing: the query
// and fill alone, and the whole read through a started driver (gate, session check, query, fill).
#include <driver/vr_driver.h>

#include <openvr.h>
#include <vrsim.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>

using namespace ViveSystem;

namespace {

void sixteenDevices()
{
    vrsim_reset();
    for (uint32_t i = 0; i < 16; ++i) {
        const std::string serial = "LHR-BENCH" + std::to_string(i);
        vrsim_set_device(i, 1 + static_cast<int32_t>(i % 3), serial.c_str(), 1);
        const float a = 0.1f * static_cast<float>(i);
        const float m[12] = {std::cos(a), 0, std::sin(a), 0.1f * i, 0, 1, 0, 1.5f, -std::sin(a), 0, std::cos(a), 0};
        const float v[3] = {0.1f, 0.0f, 0.0f};
        const float w[3] = {0.0f, 0.3f, 0.0f};
        vrsim_set_pose(i, m, v, w, 200);
    }
}

} // namespace

static void BM_QueryAndFill16(benchmark::State& state)
{
    sixteenDevices();
    vr::EVRInitError err;
    vr::IVRSystem* sys = vr::VR_Init(&err, vr::VRApplication_Background);
    _TrackedDevicePose out[16];
    for (auto _ : state) {
        vr::TrackedDevicePose_t raw[16];
        sys->GetDeviceToAbsoluteTrackingPose(vr::TrackingUniverseStanding, 0.0f, raw, 16);
        benchmark::DoNotOptimize(fillPoseRecords(sys, raw, 1.0f, out));
        benchmark::ClobberMemory();
    }
    vr::VR_Shutdown();
    state.SetLabel("16 devices, 1 pose query + 16 class + 16 serial queries");
}
BENCHMARK(BM_QueryAndFill16);

// The legacy read as a caller makes it, with the frame period at zero so that no wait is left.
static void BM_LegacyRead16(benchmark::State& state)
{
    sixteenDevices();
    vrDriver driver;
    driver.start();
    while (driver.vrSystem.load() == nullptr)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    driver.framePeriodMs.store(0.0);
    _TrackedDevicePose out[16];
    for (auto _ : state) {
        driver.readPoses(out);
        benchmark::ClobberMemory();
    }
    driver.stop();
    state.SetLabel("16 devices, whole read, unpaced");
}
BENCHMARK(BM_LegacyRead16);

BENCHMARK_MAIN();
