// The calling thread's CPU time, for the benchmarks that count what a wait costs.
#pragma once

#include <ctime>

inline double threadCpuMicros()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}
