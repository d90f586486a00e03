// A worker thread owned by one object: the thread (held by value), its keep-going flag, the
// condition variable its waits sleep on, and its name. Waits between polls end at once when the
// thread is asked to stop. The owner keeps any further state of its own (requests, counts) under
// the worker's lock, so that one lock orders everything the thread and its callers share.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace ViveSystem {

class workerThread {
public:
    explicit workerThread(const char* name) : threadName(name) {}
    // The owner ends the thread first; one still joinable here is detached rather than terminate.
    ~workerThread();
    workerThread(const workerThread&) = delete;
    workerThread& operator=(const workerThread&) = delete;

    // Holds lock(); no thread of this worker is joinable. Raises the keep-going flag and starts
    // body on a new thread named after the worker. When no thread can be made, the flag is down
    // again, the worker is done, and the exception goes to the caller.
    void launchLocked(std::function<void()> body);

    // The flag the body checks between steps: true while it should go on.
    std::atomic<bool> keepGoing{false};

    std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(mutex); }
    // Wakes a wait in progress, to look at the flag or at the owner's state again.
    void wake() { wakeUp.notify_all(); }
    // Sleeps up to `period`; returns early once the flag is down or wakeIf() holds (both looked at
    // under the lock).
    void sleepFor(std::chrono::milliseconds period, const std::function<bool()>& wakeIf);

    // Holds lock(): the body has ended its work and touches the owner no more. Notified under
    // the lock, so that an owner waiting for it may be freed as soon as it has the lock again.
    void finishLocked();
    bool doneLocked() const { return done; }
    // Holds lock() (in `held`): waits for finishLocked.
    void waitDone(std::unique_lock<std::mutex>& held);

    // The thread object while there is one to join or detach; null otherwise.
    std::thread* handle() { return thread.joinable() ? &thread : nullptr; }
    void join() { thread.join(); }
    void detach() { thread.detach(); }

private:
    const char* threadName;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wakeUp;
    bool done = true;
};

} // namespace ViveSystem
