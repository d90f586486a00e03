#include "platform.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

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

// CLOCK_MONOTONIC: the clock sleepUntil's absolute deadlines are on.
int64_t steadyNanoseconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
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

preciseSleeper::~preciseSleeper() = default;

void preciseSleeper::sleepUntil(int64_t deadlineNs)
{
    if (deadlineNs <= 0)
        return;
    const timespec at{static_cast<time_t>(deadlineNs / 1000000000), static_cast<long>(deadlineNs % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

// Threads can always be joined here: unloading a shared object does not block thread exit.
Teardown teardown()
{
    return Teardown::None;
}

void setTeardown(Teardown) {}

void leaveIfUnloading() {}

bool replaceFile(const std::string& path, const std::string& content, std::string& why)
{
    std::string name = path + ".XXXXXX";
    std::vector<char> temp(name.begin(), name.end());
    temp.push_back('\0');
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    size_t done = 0;
    bool ok = true;
    while (ok && done < content.size()) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    const int writeErrno = errno;
    ok = close(fd) == 0 && ok;
    if (ok && std::rename(temp.data(), path.c_str()) == 0)
        return true;
    why = std::strerror(ok ? errno : writeErrno);
    unlink(temp.data());
    return false;
}

} // namespace ViveSystem::platform
