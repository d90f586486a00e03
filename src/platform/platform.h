// What the driver takes from the operating system. One implementation file per system.
#pragma once

#include <cstdint>
#include <string>

namespace ViveSystem::platform {

// A monotonic clock in nanoseconds, from the system's high-resolution counter.
int64_t steadyNanoseconds();

// The wall clock in nanoseconds since 1970-01-01 UTC.
int64_t wallNanoseconds();

// Names the calling thread for debuggers and tools (at most 15 characters are kept on Linux).
void nameThisThread(const char* name);

// Sleeps the calling thread for about this many microseconds; zero or less returns at once.
void sleepMicros(int64_t microseconds);

// Sleeps until steadyNanoseconds() reaches a deadline, or a little later (the system's own
// lateness); at once when it has. An absolute deadline: a sleep cut short by a signal goes on to
// the same deadline. On Windows a high-resolution waitable timer where the system has one, made
// once, when first needed, and kept (it is costly to make): one sleeper serves one thread at a
// time, so each reading thread's object (a frame source) holds its own.
class preciseSleeper {
public:
    preciseSleeper() = default;
    ~preciseSleeper();
    preciseSleeper(const preciseSleeper&) = delete;
    preciseSleeper& operator=(const preciseSleeper&) = delete;
    void sleepUntil(int64_t deadlineNs);

private:
    void* timer = nullptr; // the system's, where it keeps one
    bool noTimer = false;  // the system has none: the plain sleep serves
};

// Whether the library's static objects are being destroyed by an unload or by the process's exit
// while the system's loader lock is held (Windows). A thread cannot be joined then: its exit
// needs that lock; and at process exit the system has already ended every other thread.
enum class Teardown { None, Unload, ProcessExit };
Teardown teardown();
void setTeardown(Teardown state); // called by the library entry

// Called by a library thread as its last act: during an unload it ends the thread at once, so
// that the thread runs no more library code once the library is gone; otherwise it returns.
void leaveIfUnloading();

// Puts `content` at `path` whole or not at all: written to a new file beside it, flushed to the
// disk, then renamed over whatever was there, so that a crash leaves the old file whole. False,
// with no new file left behind and the system's reason in `why`, when any step fails.
bool replaceFile(const std::string& path, const std::string& content, std::string& why);

} // namespace ViveSystem::platform
