#include "worker.h"

#include "../platform/platform.h"

namespace ViveSystem {

workerThread::~workerThread()
{
    if (thread.joinable())
        thread.detach();
}

void workerThread::launchLocked(std::function<void()> body)
{
    done = false;
    keepGoing.store(true, std::memory_order_release);
    try {
        thread = std::thread([name = threadName, body = std::move(body)] {
            platform::nameThisThread(name);
            body();
        });
    } catch (...) {
        keepGoing.store(false, std::memory_order_release);
        done = true;
        throw;
    }
}

void workerThread::sleepFor(std::chrono::milliseconds period, const std::function<bool()>& wakeIf)
{
    std::unique_lock<std::mutex> held(mutex);
    wakeUp.wait_for(held, period, [&] { return !keepGoing.load(std::memory_order_acquire) || wakeIf(); });
}

void workerThread::finishLocked()
{
    done = true;
    wakeUp.notify_all();
}

void workerThread::waitDone(std::unique_lock<std::mutex>& held)
{
    wakeUp.wait(held, [this] { return done; });
}

} // namespace ViveSystem
