// The cost of a pose read against the simulated rig with 16 devices, without pacing: the legacy
// fill of 16 records from a labelled query alone; the whole legacy read through a started driver
// (gate, session check, query, labels, fill); and the frame source's read (one query of 64 poses,
// records from what discovery learnt). Then both whole reads again under a runtime that takes
// 1 ms a call. calls_per_read counts the runtime calls a steady read makes (pose, class, serial,
// connected and hand queries).
// Goals: a steady read of either face asks the runtime once; a steady source read costs at most
// 1 us of the library's own time (own_ns: the read less the runtime's pose query alone); at 1 ms a
// call either read costs about one call.
#include <legacy/legacy_records.h>
#include <legacy/vr_driver.h>

#include <openvr.h>
#include <vrsim.h>

#include <benchmark/benchmark.h>

#include <atomic>
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

double seconds(std::chrono::steady_clock::time_point from)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

std::atomic<int> connects{0}; // the legacy driver's device events so far

uint32_t runtimeCalls()
{
    vrsim_counters c;
    vrsim_get_counters(&c);
    return c.pose_queries + c.class_queries + c.serial_queries + c.connected_queries + c.role_queries;
}

// The runtime's own share of a read: the same pose query, made directly.
double queryNs(uint32_t count)
{
    vr::EVRInitError err;
    vr::IVRSystem* sys = vr::VR_Init(&err, vr::VRApplication_Background);
    vr::TrackedDevicePose_t raw[64];
    const int queries = 20000;
    const auto q0 = std::chrono::steady_clock::now();
    for (int n = 0; n < queries; ++n) {
        sys->GetDeviceToAbsoluteTrackingPose(vr::TrackingUniverseStanding, 0.0f, raw, count);
        benchmark::ClobberMemory();
    }
    return seconds(q0) / queries * 1e9;
}

// The legacy read as a caller makes it, with the frame period at zero so that no wait is left,
// once discovery knows every device.
void legacyRead(benchmark::State& state, uint32_t callDelayUs)
{
    sixteenDevices();
    vrDriver driver;
    connects = 0;
    driver.setHandler([](int, _DeviceEvent event, _DeviceEventArg) {
        if (event != DeviceEvent_SessionOpened)
            ++connects;
    });
    driver.start();
    while (connects.load() < 16) // the table is complete before its changes are reported
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    driver.setFramePeriodMs(0.0);
    _TrackedDevicePose out[16];
    driver.readPoses(out); // the first read after discovery's pass may still learn
    vrsim_set_call_delay_us(callDelayUs);
    const uint32_t calls0 = runtimeCalls();
    const auto begin = std::chrono::steady_clock::now();
    for (auto _ : state) {
        driver.readPoses(out);
        benchmark::ClobberMemory();
    }
    const double perRead = seconds(begin) / static_cast<double>(state.iterations());
    // Discovery's passes (every 500 ms) are counted too: a long run shows them.
    state.counters["calls_per_read"] =
        static_cast<double>(runtimeCalls() - calls0) / static_cast<double>(state.iterations());
    vrsim_set_call_delay_us(0);
    if (callDelayUs == 0)
        state.counters["own_ns"] = perRead * 1e9 - queryNs(16);
    driver.stop();
}

// The frame source's read at rate 0 (no wait), once discovery knows every device.
void sourceRead(benchmark::State& state, uint32_t callDelayUs)
{
    sixteenDevices();
    tavrin_source* source = tavrin_source_create(0.0);
    tavrin_source_start(source);
    tavrin_event e;
    int arrived = 0;
    while (arrived < 16 && tavrin_source_next_event(source, &e, 10000) == 1)
        arrived += e.kind == TAVRIN_EVENT_DEVICE_ARRIVED ? 1 : 0;
    static tavrin_frame frame;
    tavrin_source_read(source, &frame, sizeof frame);
    vrsim_set_call_delay_us(callDelayUs);
    const uint32_t calls0 = runtimeCalls();
    const auto begin = std::chrono::steady_clock::now();
    for (auto _ : state) {
        benchmark::DoNotOptimize(tavrin_source_read(source, &frame, sizeof frame));
        benchmark::ClobberMemory();
    }
    const double perRead = seconds(begin) / static_cast<double>(state.iterations());
    state.counters["calls_per_read"] =
        static_cast<double>(runtimeCalls() - calls0) / static_cast<double>(state.iterations());
    vrsim_set_call_delay_us(0);
    if (callDelayUs == 0) {
        const double perQuery = queryNs(64);
        state.counters["query_ns"] = perQuery;
        state.counters["own_ns"] = perRead * 1e9 - perQuery;
    }
    state.counters["devices"] = frame.device_count;
    tavrin_source_destroy(source);
}

} // namespace

// The legacy fill alone: 16 records from one labelled query.
static void BM_LegacyFill16(benchmark::State& state)
{
    sixteenDevices();
    vr::EVRInitError err;
    vr::IVRSystem* sys = vr::VR_Init(&err, vr::VRApplication_Background);
    vr::TrackedDevicePose_t raw[16];
    sys->GetDeviceToAbsoluteTrackingPose(vr::TrackingUniverseStanding, 0.0f, raw, 16);
    KnownDevice known[16] = {};
    labelIndices(sys, raw, 16, known, kLegacyLabels);
    sampleFrame frame{};
    frame.count = 16;
    for (uint32_t i = 0; i < 16; ++i)
        sampleIndex(raw[i], known[i], frame.devices[i]);
    _TrackedDevicePose out[16];
    for (auto _ : state) {
        benchmark::DoNotOptimize(fillPoseRecords(frame, 1.0f, out));
        benchmark::ClobberMemory();
    }
    vr::VR_Shutdown();
    state.SetLabel("16 devices, fill only");
}
BENCHMARK(BM_LegacyFill16);

static void BM_LegacyRead16(benchmark::State& state)
{
    legacyRead(state, 0);
    state.SetLabel("16 devices, whole read, unpaced");
}
BENCHMARK(BM_LegacyRead16);

static void BM_SourceRead16(benchmark::State& state)
{
    sourceRead(state, 0);
    state.SetLabel("16 devices, whole read, unpaced");
}
BENCHMARK(BM_SourceRead16);

static void BM_LegacyRead16At1msPerCall(benchmark::State& state)
{
    legacyRead(state, 1000);
    state.SetLabel("every runtime call 1 ms");
}
BENCHMARK(BM_LegacyRead16At1msPerCall)->Unit(benchmark::kMillisecond)->Iterations(200)->UseRealTime();

static void BM_SourceRead16At1msPerCall(benchmark::State& state)
{
    sourceRead(state, 1000);
    state.SetLabel("every runtime call 1 ms");
}
BENCHMARK(BM_SourceRead16At1msPerCall)->Unit(benchmark::kMillisecond)->Iterations(200)->UseRealTime();

BENCHMARK_MAIN();
