// How long a stop takes on a running driver: while it scans and while it retries an open, beside
// what waiting out the loop's sleep would cost (500 ms and 1 s); under a slow runtime (every call
// 20 ms, 16 devices; every call 1 ms with two threads reading at 120 Hz), where a stop should wait
// only for the call and the read in flight and the shutdown. And how soon after the runtime quits
// the session is shut down (the runtime kills a client that lingers about 5 s).
#include <legacy/vr_driver.h>
#include <platform/platform.h>

#include <vrsim.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

using namespace ViveSystem;

namespace {

uint32_t initCalls()
{
    vrsim_counters c{};
    vrsim_get_counters(&c);
    return c.init_calls;
}

std::vector<double> measure(bool opening, int rounds)
{
    std::mt19937 rng(1);
    std::vector<double> ms;
    vrsim_reset();
    vrsim_set_device(0, 1, "LHR-HMD", 1);
    vrsim_set_device(1, 2, "LHR-C1", 1);
    vrsim_set_init_error(opening ? 108 : 0);
    vrDriver driver;
    for (int r = 0; r < rounds; ++r) {
        const uint32_t before = initCalls();
        driver.start();
        while (initCalls() == before)
            std::this_thread::yield();
        // Land somewhere inside the loop's sleep.
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(2000, 40000)(rng)));
        const int64_t t0 = platform::steadyNanoseconds();
        driver.stop();
        ms.push_back(static_cast<double>(platform::steadyNanoseconds() - t0) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms;
}

uint32_t openSessions()
{
    vrsim_counters c{};
    vrsim_get_counters(&c);
    return c.open_sessions;
}

void report(const char* what, std::vector<double> ms, const char* against)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%-34s rounds %4zu  median %7.3f ms  worst %7.3f ms  (%s)\n", what, ms.size(), ms[ms.size() / 2],
                ms.back(), against);
}

// A stop of a scanning driver under a slow runtime, with `readers` threads reading at 120 Hz.
std::vector<double> measureSlow(uint32_t delayUs, int readers, int rounds)
{
    std::mt19937 rng(2);
    std::vector<double> ms;
    vrsim_reset();
    for (uint32_t i = 0; i < 16; ++i) {
        const std::string serial = "LHR-SLOW" + std::to_string(i);
        vrsim_set_device(i, 3, serial.c_str(), 1);
        const float m[12] = {1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 1, 0};
        const float v[3] = {0.1f, 0, 0};
        vrsim_set_pose(i, m, v, v, 200);
    }
    vrDriver driver;
    std::atomic<bool> reading{true};
    std::vector<std::thread> threads;
    for (int t = 0; t < readers; ++t)
        threads.emplace_back([&] {
            _TrackedDevicePose poses[16];
            while (reading.load())
                driver.readPoses(poses);
        });
    vrsim_set_call_delay_us(delayUs);
    for (int r = 0; r < rounds; ++r) {
        driver.start();
        while (!driver.hasSession())
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(5, 400)(rng)));
        const int64_t t0 = platform::steadyNanoseconds();
        driver.stop();
        ms.push_back(static_cast<double>(platform::steadyNanoseconds() - t0) / 1e6);
    }
    reading = false;
    for (auto& t : threads)
        t.join();
    vrsim_set_call_delay_us(0);
    return ms;
}

// From the runtime's quit to the session's shutdown, the driver scanning every 500 ms.
std::vector<double> measureQuit(int rounds)
{
    std::mt19937 rng(3);
    std::vector<double> ms;
    vrsim_reset();
    vrsim_set_device(0, 1, "LHR-HMD", 1);
    vrDriver driver;
    for (int r = 0; r < rounds; ++r) {
        vrsim_start_runtime();
        driver.start();
        while (!driver.hasSession())
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(1, 500)(rng)));
        const int64_t t0 = platform::steadyNanoseconds();
        vrsim_quit_runtime(5000);
        while (openSessions() != 0)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        ms.push_back(static_cast<double>(platform::steadyNanoseconds() - t0) / 1e6);
        driver.stop();
    }
    vrsim_start_runtime();
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 100;
    if (rounds < 1) {
        std::fprintf(stderr, "usage: bench_stop_latency [ROUNDS, >= 1]\n");
        return 2;
    }
    for (bool opening : {false, true}) {
        const auto ms = measure(opening, rounds);
        std::printf("stop while %-8s rounds %4d  median %7.3f ms  worst %7.3f ms  (waiting out the sleep: up to %s)\n",
                    opening ? "opening" : "scanning", rounds, ms[ms.size() / 2], ms.back(), opening ? "1000 ms" : "500 ms");
    }
    const int slowRounds = std::max(5, rounds / 4);
    report("stop, 20 ms a call, 16 devices", measureSlow(20000, 0, slowRounds), "goal under 80 ms");
    report("stop, 1 ms a call, 2 readers 120Hz", measureSlow(1000, 2, slowRounds), "goal under 80 ms");
    report("runtime quit to session shutdown", measureQuit(std::max(5, rounds / 5)), "killed after about 5000 ms");
    return 0;
}
