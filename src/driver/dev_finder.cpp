#include "dev_finder.h"

#include "session.h"

#include "../platform/platform.h"

#include <openvr.h>

#include <cstring>

namespace ViveSystem {

namespace {
// The driver whose discovery loop runs on this thread, if any.
thread_local const devFinder* loopOwner = nullptr;
} // namespace

_DeviceError mapInitError(int32_t evrInitError)
{
    switch (evrInitError) {
    case vr::VRInitError_None:
        return DeviceError_None;
    case vr::VRInitError_Init_HmdNotFound:
    case vr::VRInitError_Init_HmdDriverIdIsNone:
    case vr::VRInitError_Init_HmdNotFoundPresenceFailed:
    case vr::VRInitError_Driver_HmdUnknown:
        return DeviceError_HmdNotFound;
    case vr::VRInitError_Driver_HmdInUse:
        return DeviceError_HmdInUse;
    default:
        return DeviceError_Unknown;
    }
}

// A stop from a caller's thread (not a discovery thread) is counted from its first moment, before
// it waits for controlMutex: handlers' restarts asked from then on are dropped, so that the stop
// never waits behind them and the driver stays stopped once it returns.
class devFinder::CallerStop {
public:
    explicit CallerStop(devFinder& driver) : driver(driver)
    {
        std::lock_guard<std::mutex> lock(driver.loopMutex);
        ++driver.callerStops;
        ++driver.stopGeneration;
    }
    ~CallerStop()
    {
        std::lock_guard<std::mutex> lock(driver.loopMutex);
        --driver.callerStops;
    }
    CallerStop(const CallerStop&) = delete;
    CallerStop& operator=(const CallerStop&) = delete;

private:
    devFinder& driver;
};

devFinder::devFinder()
{
    DeviceSlot empty;
    clearSlot(empty);
    devices.assign(kMaxDevices, empty);
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
    std::lock_guard<std::mutex> lock(loopMutex);
    openRetryPeriod = openRetry;
    scanPeriod = scanPass;
}

bool devFinder::onOwnThread() const
{
    return loopOwner == this;
}

// On any driver's discovery thread, in a handler: waiting there for another discovery thread
// could deadlock, since that thread's handler may be waiting for this one.
static bool onDiscoveryThread()
{
    return loopOwner != nullptr;
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
    std::unique_lock<std::mutex> lock(loopMutex);
    if (callerStops > 0)
        return true;
    const uint64_t seen = stopGeneration;
    if (!loopDone) {
        askRestartLocked();
        return true;
    }
    lock.unlock();
    std::lock_guard<std::mutex> control(controlMutex);
    lock.lock();
    if (callerStops > 0 || stopGeneration != seen)
        return true;
    if (!loopDone) { // a start from elsewhere came first
        askRestartLocked();
        return true;
    }
    lock.unlock();
    stopLocked(); // joins a loop that has ended
    return launchLocked();
}

// Holds loopMutex: the running loop ends its run and begins a new one.
void devFinder::askRestartLocked()
{
    stopAsked = false;
    restartAsked = true;
    running.store(false, std::memory_order_release);
    loopWake.notify_all();
}

// Holds controlMutex; no loop runs. Raises running before the launch, so that a stop between the
// launch and the thread's first act is never lost (the loop does not raise it again). A failed
// launch leaves the driver stopped, and says so.
bool devFinder::launchLocked()
{
    {
        std::lock_guard<std::mutex> lock(loopMutex);
        stopAsked = false;
        restartAsked = false;
        loopDone = false;
        running.store(true, std::memory_order_release);
    }
    try {
        finderThread = new std::thread(&devFinder::findDevices, this);
    } catch (...) {
        std::lock_guard<std::mutex> lock(loopMutex);
        running.store(false, std::memory_order_release);
        loopDone = true;
        throw;
    }
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
        {
            std::lock_guard<std::mutex> lock(loopMutex);
            stopAsked = true;
            restartAsked = false;
            running.store(false, std::memory_order_release);
        }
        loopWake.notify_all();
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
        std::lock_guard<std::mutex> lock(loopMutex);
        stopAsked = true;
        restartAsked = false;
        running.store(false, std::memory_order_release);
    }
    loopWake.notify_all();
    const platform::Teardown teardown = platform::teardown();
    if (finderThread) {
        if (teardown == platform::Teardown::None) {
            finderThread->join();
        } else {
            // Under the loader lock: wait for the loop to finish its work, not for the thread to
            // end (which needs the lock). At process exit the thread is already gone.
            if (teardown == platform::Teardown::Unload) {
                std::unique_lock<std::mutex> lock(loopMutex);
                loopWake.wait(lock, [this] { return loopDone; });
            }
            finderThread->detach();
        }
        delete finderThread;
        finderThread = nullptr;
    }
    // At process exit the runtime sees the process go; a thread ended mid-call may even hold its
    // locks, so the session is left alone.
    if (teardown != platform::Teardown::ProcessExit)
        closeSession();
}

// Called on the discovery thread, from a handler: the thread cannot wait for itself.
void devFinder::requestFromLoop(bool restart)
{
    {
        std::lock_guard<std::mutex> lock(loopMutex);
        restartAsked = restart && !stopAsked && callerStops == 0;
        running.store(false, std::memory_order_release);
    }
    loopWake.notify_all();
}

// Leaves the shared session; the owner shuts it down when this was its last user, once the
// uses in flight are over.
void devFinder::closeSession()
{
    sessionOwner::instance().leave(*this);
}

void devFinder::loseSession()
{
    {
        std::lock_guard<std::mutex> lock(loopMutex);
        sessionLost.store(true, std::memory_order_release);
    }
    loopWake.notify_all();
}

vr::IVRSystem* devFinder::openSession(_DeviceError& result)
{
    vr::EVRInitError error = vr::VRInitError_None;
    vr::IVRSystem* system = vr::VR_Init(&error, vr::VRApplication_Background);
    result = mapInitError(error);
    lastInitCode.store(static_cast<int32_t>(error), std::memory_order_relaxed);
    if (error != vr::VRInitError_None)
        return nullptr;
    if (system == nullptr)
        vr::VR_Shutdown(); // opened but no interface: close it again rather than leak the session
    return system;
}

void devFinder::waitFor(std::chrono::milliseconds period)
{
    std::unique_lock<std::mutex> lock(loopMutex);
    loopWake.wait_for(lock, period, [this] {
        return !running.load(std::memory_order_acquire) || sessionLost.load(std::memory_order_acquire);
    });
}

// Raises one event; false when a stop has been asked for, so that the loop winds up. The event
// is delivered even then, because its table change is already made: dropping it would lose it.
bool devFinder::raise(int count, _DeviceEvent event, const _DeviceEventArg& arg)
{
    if (onDeviceEvent)
        onDeviceEvent(count, event, arg);
    return running.load(std::memory_order_acquire);
}

// One pass's use of the runtime: the session's health and events, then the scan. Returns the
// devices found, or -1 when there was no scan (a stop, or the session is going). The comparison
// and its events come after, outside the use, so that a handler never holds up a shutdown.
int devFinder::scanPass(DeviceSlot (&scanned)[kMaxDevices])
{
    sessionOwner& owner = sessionOwner::instance();
    const std::function<bool()> keepGoing = [this, &owner] {
        return running.load(std::memory_order_acquire) && !owner.closing();
    };
    vr::IVRSystem* system = nullptr;
    sessionOwner::Health health = sessionOwner::Health::Alive;
    int found = -1;
    {
        sessionUse use(owner);
        system = vrSystem.load(std::memory_order_acquire);
        if (system == nullptr)
            return -1;
        health = owner.check(system, keepGoing);
        if (health == sessionOwner::Health::Alive)
            found = scanDevices(system, scanned, keepGoing);
    }
    if (health != sessionOwner::Health::Alive) {
        // A quit session is shut down at once (the runtime kills clients that linger); a session
        // someone else ended is dead already and is only let go.
        owner.drop(system, health == sessionOwner::Health::Quit);
        return -1;
    }
    return found;
}

// The session ended under this driver: its devices are reported gone, as a scan that finds
// nothing reports them, then DeviceEvent_SessionClosed. False when a stop cut it short.
bool devFinder::reportSessionClosed(DeviceSlot (&scanned)[kMaxDevices])
{
    if (!compareAndReport(scanned, 0))
        return false;
    return raise(0, DeviceEvent_SessionClosed, makeEventArg("", 0, 0));
}

// Delivers what an earlier comparison left waiting; false when a stop cut it short again.
bool devFinder::deliverPending()
{
    return deliverEvents(pending, [this](int count, _DeviceEvent event, const _DeviceEventArg& arg) {
        return raise(count, event, arg);
    });
}

// Brings the table up to date with a scan of `found` devices and reports the differences, after
// anything an earlier comparison left waiting. False when a stop cut the reporting short.
bool devFinder::compareAndReport(const DeviceSlot* scanned, int found)
{
    if (!deliverPending())
        return false;
    deviceCount = found;
    reconcileScan(devices.data(), scanned, found, pending);
    return deliverPending();
}

// One run: join the session (retrying), then scan and compare until stopped. When the session
// ends under the run, its devices are reported gone and the run goes back to opening.
void devFinder::runOnce(DeviceSlot (&scanned)[kMaxDevices])
{
    std::memset(scanned, 0, sizeof scanned);
    bool joined = false;
    while (running.load(std::memory_order_acquire)) {
        if (joined && vrSystem.load(std::memory_order_acquire) == nullptr) {
            joined = false;
            if (!reportSessionClosed(scanned))
                break;
            continue;
        }
        if (!joined) {
            sessionLost.store(false, std::memory_order_release);
            if (sessionOwner::instance().join(*this, lastInitError) == nullptr) {
                waitFor(openRetryPeriod);
                continue;
            }
            joined = true;
            if (!raise(deviceCount, DeviceEvent_SessionOpened, makeEventArg("", 0, 0)))
                break;
        }
        const int found = scanPass(scanned);
        if (found < 0)
            continue; // stopped, or the session is going: the loop's next turn sees which
        if (!compareAndReport(scanned, found))
            break;
        waitFor(scanPeriod);
    }
}

void devFinder::findDevices()
{
    loopOwner = this;
    DeviceSlot scanned[kMaxDevices];
    for (;;) {
        runOnce(scanned);
        // During an unload the unloading thread, which holds the loader lock, shuts the session
        // down after this loop is done: a runtime's shutdown may unload modules, which needs that
        // lock.
        if (platform::teardown() != platform::Teardown::Unload)
            closeSession();
        std::lock_guard<std::mutex> lock(loopMutex);
        if (!restartAsked || stopAsked || callerStops > 0) {
            // Decided and marked under one lock, so that a restart asked from another driver's
            // handler either comes before this and is taken, or sees the loop done.
            loopOwner = nullptr;
            loopDone = true;
            // Notified under the lock: a stop waiting for loopDone may destroy the driver as soon
            // as it has the lock again, and this thread touches nothing of it after the unlock.
            loopWake.notify_all();
            break;
        }
        restartAsked = false;
        running.store(true, std::memory_order_release);
    }
    platform::leaveIfUnloading();
}

} // namespace ViveSystem
