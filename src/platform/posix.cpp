#include "platform.h"

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>

namespace ViveSystem::platform {

int64_t counterNow()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t counterFrequency()
{
    return 1000000000;
}

int localMilliseconds()
{
    // The millisecond field of local time is that of UTC: zones differ by whole minutes.
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int>(ts.tv_nsec / 1000000);
}

int64_t steadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t wallNanoseconds()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void nameThisThread(const char* name)
{
    char shortName[16] = {};
    for (int i = 0; i < 15 && name[i] != '\0'; ++i)
        shortName[i] = name[i];
    pthread_setname_np(pthread_self(), shortName);
}

void sleepMicros(int64_t microseconds)
{
    if (microseconds <= 0)
        return;
    timespec left{static_cast<time_t>(microseconds / 1000000), static_cast<long>((microseconds % 1000000) * 1000)};
    timespec rest{};
    while (nanosleep(&left, &rest) != 0 && errno == EINTR)
        left = rest;
}

// Threads can always be joined here: unloading a shared object does not block thread exit.
Teardown teardown()
{
    return Teardown::None;
}

void setTeardown(Teardown) {}

void leaveIfUnloading() {}

} // namespace ViveSystem::platform
