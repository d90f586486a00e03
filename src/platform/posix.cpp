#include "platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
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

namespace {

// The file a path names, a link followed to its end (a link names a file that may not exist yet);
// the path itself when it is no link.
std::string linkTarget(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        std::vector<char> buffer(4096);
        const ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size() - 1);
        if (n < 0)
            return path;
        std::string next(buffer.data(), static_cast<size_t>(n));
        if (next.empty() || next[0] != '/') {
            const size_t slash = path.rfind('/');
            next = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + next;
        }
        path = next;
    }
    return path;
}

// The temporary files of a save are "<dir>/.<name>.<pid>.tavrin-save": one a saving process, so
// that one killed midway leaves a name the next save recognises and removes.
const char* const kTempSuffix = ".tavrin-save";

void removeStaleTemporaries(const std::string& dir, const std::string& name)
{
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (d == nullptr)
        return;
    const std::string prefix = "." + name + ".";
    while (const dirent* e = readdir(d)) {
        const std::string entry = e->d_name;
        const size_t suffix = entry.size() - std::strlen(kTempSuffix);
        if (entry.size() <= prefix.size() + std::strlen(kTempSuffix) || entry.compare(0, prefix.size(), prefix) != 0 ||
            entry.compare(suffix, std::string::npos, kTempSuffix) != 0)
            continue;
        const std::string pid = entry.substr(prefix.size(), suffix - prefix.size());
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid.size() > 9)
            continue;
        const pid_t owner = static_cast<pid_t>(std::stol(pid));
        if (owner != getpid() && kill(owner, 0) != 0 && errno == ESRCH)
            unlink((dir + entry).c_str());
    }
    closedir(d);
}

} // namespace

bool replaceFile(const std::string& path, const std::string& content, std::string& why)
{
    // Through a link to the file it names, so that the link stays a link.
    const std::string file = linkTarget(path);
    const size_t slash = file.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
    const std::string name = file.substr(slash == std::string::npos ? 0 : slash + 1);
    removeStaleTemporaries(dir, name);
    const std::string temp = dir + "." + name + "." + std::to_string(getpid()) + kTempSuffix;
    // The old file's mode, or for a new file what the process's umask allows.
    struct stat old {};
    const bool existed = stat(file.c_str(), &old) == 0;
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    size_t done = 0;
    bool ok = !existed || fchmod(fd, old.st_mode & 07777) == 0;
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
    if (ok && std::rename(temp.c_str(), file.c_str()) == 0)
        return true;
    why = std::strerror(ok ? errno : writeErrno);
    unlink(temp.c_str());
    return false;
}

} // namespace ViveSystem::platform
