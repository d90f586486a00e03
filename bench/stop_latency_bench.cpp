// How long a stop takes on a running driver, while it scans and while it retries an open, beside
// what waiting out the loop's sleep would cost (500 ms and 1 s).
#include <driver/vr_driver.h>
#include <platform/platform.h>

#include <vrsim.h>

#include <algorithm>
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

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 100;
    for (bool opening : {false, true}) {
        const auto ms = measure(opening, rounds);
        std::printf("stop while %-8s rounds %4d  median %7.3f ms  worst %7.3f ms  (waiting out the sleep: up to %s)\n",
                    opening ? "opening" : "scanning", rounds, ms[ms.size() / 2], ms.back(), opening ? "1000 ms" : "500 ms");
    }
    return 0;
}
