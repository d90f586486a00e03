#include "dev_finder.h"

#include "../platform/platform.h"

#include <cstring>

namespace ViveSystem {

namespace {
// The driver whose discovery loop runs on this thread, if any.
thread_local const devFinder* loopOwner = nullptr;

// On any driver's discovery thread, in a handler: waiting there for another discovery thread
// could deadlock, since that thread's handler may be waiting for this one.
bool onDiscoveryThread()
{
    return loopOwner != nullptr;
}
} // namespace

// A stop from a caller's thread (not a discovery thread) is counted from its first moment, before
// it waits for controlMutex: handlers' restarts asked from then on are dropped, so that the stop
// never waits behind them and the driver stays stopped once it returns.
class devFinder::CallerStop {
public:
    explicit CallerStop(devFinder& driver) : driver(driver)
    {
        auto lock = driver.finder.lock();
        ++driver.callerStops;
        ++driver.stopGeneration;
    }
    ~CallerStop()
    {
        auto lock = driver.finder.lock();
        --driver.callerStops;
    }
    CallerStop(const CallerStop&) = delete;
    CallerStop& operator=(const CallerStop&) = delete;

private:
    devFinder& driver;
};

devFinder::devFinder(const ScanScope& scope, discoverySink& sink) : scope(scope), sink(sink)
{
    std::memset(devices, 0, sizeof devices);
    std::memset(scanned, 0, sizeof scanned);
}

devFinder::~devFinder()
{
    // The memory goes: wait for the loop even when asked from another driver's handler.
    if (onOwnThread()) {
        requestFromLoop(false);
        return;
    }
    CallerStop counted(*this);
    std::lock_guard<std::mutex> control(controlMutex);
    stopLocked();
}

void devFinder::setLoopPeriods(std::chrono::milliseconds openRetry, std::chrono::milliseconds scanPass)
{
    auto lock = finder.lock();
    openRetryPeriod = openRetry;
    scanPeriod = scanPass;
}

bool devFinder::onOwnThread() const
{
    return loopOwner == this;
}

bool devFinder::start()
{
    if (onOwnThread()) {
        requestFromLoop(true);
        return true;
    }
    if (onDiscoveryThread())
        return startFromHandler();
    std::lock_guard<std::mutex> control(controlMutex);
    stopLocked();
    return launchLocked();
}

// Another driver's handler: never waits for a discovery thread, which may be waiting on the caller.
// A loop that is still alive begins a new run instead of being joined; a loop that is over is
// started afresh. A caller's stop that is under way, or that began while this start waited for
// controlMutex, wins: the start is taken as made just before that stop.
bool devFinder::startFromHandler()
{
    auto lock = finder.lock();
    if (callerStops > 0)
        return true;
    const uint64_t seen = stopGeneration;
    if (!finder.doneLocked()) {
        askRestartLocked();
        return true;
    }
    lock.unlock();
    std::lock_guard<std::mutex> control(controlMutex);
    lock.lock();
    if (callerStops > 0 || stopGeneration != seen)
        return true;
    if (!finder.doneLocked()) { // a start from elsewhere came first
        askRestartLocked();
        return true;
    }
    lock.unlock();
    stopLocked(); // joins a loop that has ended
    return launchLocked();
}

// Holds the worker's lock: the running loop ends its run and begins a new one.
void devFinder::askRestartLocked()
{
    stopAsked = false;
    restartAsked = true;
    finder.keepGoing.store(false, std::memory_order_release);
    finder.wake();
}

// Holds controlMutex; no loop runs. The flag is raised before the launch, so that a stop between
// the launch and the thread's first act is never lost (the loop does not raise it again). A
// failed launch leaves the driver stopped, and says so.
bool devFinder::launchLocked()
{
    auto lock = finder.lock();
    stopAsked = false;
    restartAsked = false;
    finder.launchLocked([this] { findDevices(); });
    return true;
}

void devFinder::stop()
{
    if (onOwnThread()) {
        requestFromLoop(false);
        return;
    }
    if (onDiscoveryThread()) {
        // Another driver's handler: ask the loop to end and do not wait for it. It leaves the
        // session itself; the next stop or start from a caller's thread joins the thread.
        auto lock = finder.lock();
        stopAsked = true;
        restartAsked = false;
        finder.keepGoing.store(false, std::memory_order_release);
        finder.wake();
        return;
    }
    CallerStop counted(*this);
    std::lock_guard<std::mutex> control(controlMutex);
    stopLocked();
}

// Holds controlMutex. Wakes the loop, waits for it to end, and makes sure the session is shut.
void devFinder::stopLocked()
{
    {
        auto lock = finder.lock();
        stopAsked = true;
        restartAsked = false;
        finder.keepGoing.store(false, std::memory_order_release);
        finder.wake();
    }
    const platform::Teardown teardown = platform::teardown();
    if (finder.handle() != nullptr) {
        if (teardown == platform::Teardown::None) {
            finder.join();
        } else {
            // Under the loader lock: wait for the loop to finish its work, not for the thread to
            // end (which needs the lock). At process exit the thread is already gone.
            if (teardown == platform::Teardown::Unload) {
                auto lock = finder.lock();
                finder.waitDone(lock);
            }
            finder.detach();
        }
    }
    // At process exit the runtime sees the process go; a thread ended mid-call may even hold its
    // locks, so the session is left alone.
    if (teardown != platform::Teardown::ProcessExit)
        sessionOwner::instance().leave(ticket);
}

// Called on the discovery thread, from a handler: the thread cannot wait for itself.
void devFinder::requestFromLoop(bool restart)
{
    auto lock = finder.lock();
    restartAsked = restart && !stopAsked && callerStops == 0;
    finder.keepGoing.store(false, std::memory_order_release);
    finder.wake();
}

void devFinder::forgetDevices()
{
    std::lock_guard<std::mutex> control(controlMutex);
    if (finder.handle() != nullptr)
        return;
    std::memset(devices, 0, sizeof devices);
    count = 0;
    pending.clear();
    sink.tableChanged(devices, scope.indices);
}

// Called by the session owner when the session ends under this loop (the runtime quit, or
// someone else shut the client down): the ticket is released already; the loop reports the loss.
void devFinder::loseSession()
{
    auto lock = finder.lock();
    sessionLost.store(true, std::memory_order_release);
    finder.wake();
}

// ---- the loop ----------------------------------------------------------------------------------

// One pass's use of the runtime: the session's health and events, then the scan. Returns the
// devices found, or -1 when there was no scan (a stop, or the session is going). The comparison
// and its events come after, outside the use, so that a sink never holds up a shutdown.
int devFinder::scanPass()
{
    sessionOwner& owner = sessionOwner::instance();
    const std::function<bool()> keepGoing = [this, &owner] {
        return running() && !owner.closing();
    };
    sessionOwner::Health health = sessionOwner::Health::Alive;
    uint64_t session = 0;
    int found = -1;
    {
        sessionUse use(owner);
        if (!ticket.held())
            return -1;
        session = owner.sessionNumber();
        vr::IVRSystem* system = nullptr;
        health = owner.check(keepGoing, system);
        if (health == sessionOwner::Health::Alive)
            found = scanDevices(system, scanned, scope, keepGoing);
    }
    if (health != sessionOwner::Health::Alive) {
        // A quit session is shut down at once (the runtime kills clients that linger); a session
        // someone else ended is dead already and is only let go.
        owner.drop(session, health == sessionOwner::Health::Quit);
        return -1;
    }
    return found;
}

// The session ended under this driver: its devices are reported gone, as a scan that finds
// nothing reports them, then the close. False when a stop cut it short.
bool devFinder::reportSessionClosed()
{
    if (!compareAndReport(0))
        return false;
    sink.sessionClosed();
    return running();
}

// Delivers what an earlier comparison left waiting; false when a stop has been asked for, so that
// the loop winds up. A change is delivered even then, because its table update is already made:
// dropping it would lose it.
bool devFinder::deliverPending()
{
    return deliverChanges(pending, [this](const DeviceChange& change) {
        sink.deviceChanged(change);
        return running();
    });
}

// Brings the table up to date with a scan of `found` devices and reports the differences, after
// anything an earlier comparison left waiting. False when a stop cut the reporting short.
bool devFinder::compareAndReport(int found)
{
    if (!deliverPending())
        return false;
    count = found;
    reconcileScan(devices, scanned, found, pending, scope.indices, platform::steadyNanoseconds());
    sink.tableChanged(devices, scope.indices);
    return deliverPending();
}

// One run: join the session (retrying), then scan and compare until stopped. When the session
// ends under the run, its devices are reported gone and the run goes back to opening.
void devFinder::runOnce()
{
    std::memset(scanned, 0, sizeof scanned);
    const auto lost = [this] { return sessionLost.load(std::memory_order_acquire); };
    bool joined = false;
    while (running()) {
        if (joined && !ticket.held()) {
            joined = false;
            if (!reportSessionClosed())
                break;
            continue;
        }
        if (!joined) {
            if (!joinSession()) {
                finder.sleepFor(openRetryPeriod, lost);
                continue;
            }
            joined = true;
            sink.sessionOpened(count);
            if (!running())
                break;
        }
        const int found = scanPass();
        if (found < 0)
            continue; // stopped, or the session is going: the loop's next turn sees which
        if (!compareAndReport(found))
            break;
        finder.sleepFor(scanPeriod, lost);
    }
}

// One attempt to join the session (why one fails is the owner's to tell: tavrin_session_error).
bool devFinder::joinSession()
{
    sessionLost.store(false, std::memory_order_release);
    int32_t initError = 0;
    return sessionOwner::instance().join(ticket, initError);
}

void devFinder::findDevices()
{
    loopOwner = this;
    for (;;) {
        runOnce();
        // During an unload the unloading thread, which holds the loader lock, shuts the session
        // down after this loop is done: a runtime's shutdown may unload modules, which needs that
        // lock.
        if (platform::teardown() != platform::Teardown::Unload)
            sessionOwner::instance().leave(ticket);
        auto lock = finder.lock();
        if (!restartAsked || stopAsked || callerStops > 0) {
            // Decided and marked under one lock, so that a restart asked from another driver's
            // handler either comes before this and is taken, or sees the loop done. This thread
            // touches nothing of the driver after the unlock: a stop waiting for it may free it.
            loopOwner = nullptr;
            finder.finishLocked();
            break;
        }
        restartAsked = false;
        finder.keepGoing.store(true, std::memory_order_release);
    }
    platform::leaveIfUnloading();
}

} // namespace ViveSystem
