// devFinder: one driver's use of the process's OpenVR session, its discovery thread and its
// device table.
//
// The session itself belongs to the process-wide sessionOwner: a driver joins it when its loop
// starts and leaves it when its run ends; the last driver to leave shuts it down. Every use of
// the runtime (a discovery pass, a pose read) passes the owner's gate, so a shutdown never
// overlaps one.
//
// Locks: driverMutex serialises this driver's pose reads. controlMutex serialises start and stop.
// loopMutex guards the loop's stop and restart requests and its waits. No lock is held while the
// loop calls the handler, and stop holds no lock that a handler could need while it waits for the
// thread.
#pragma once

#include "device_table.h"

#include <tavrin.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vr {
class IVRSystem;
}

namespace ViveSystem {

// The EVRInitError of a failed open, as the driver records it.
_DeviceError mapInitError(int32_t evrInitError);

class devFinder {
public:
    using EventFunction = std::function<void(int, _DeviceEvent, _DeviceEventArg)>;

    devFinder();
    ~devFinder();
    devFinder(const devFinder&) = delete;
    devFinder& operator=(const devFinder&) = delete;

    // Stops completely, then launches the discovery thread; returns true. Called from this
    // driver's own handler it cannot wait for the thread: the loop then begins a new run (new
    // session) once the handler returns, unless a stop from another thread comes first.
    bool start();
    // Ends the discovery thread and leaves the session; harmless when stopped. Called from any
    // driver's handler it only asks the loop to end (once the handler returns, for its own) and
    // does not wait, since the loop it would wait for may be waiting on the caller.
    void stop();
    // Opens a session as a background application; the outcome goes to `result`.
    vr::IVRSystem* openSession(_DeviceError& result);
    // The body of the discovery thread.
    void findDevices();

    // Called by the session owner when the session ends under this driver (the runtime quit, or
    // someone else shut the client down): vrSystem is already null; the loop reports the loss.
    void loseSession();

    // Test seam: the waits between open attempts and between passes (1 s and 500 ms).
    void setLoopPeriods(std::chrono::milliseconds openRetry, std::chrono::milliseconds scanPass);

    std::mutex driverMutex;
    std::atomic<vr::IVRSystem*> vrSystem{nullptr};
    std::thread* finderThread = nullptr;
    std::atomic<bool> running{false};
    _DeviceError lastInitError = DeviceError_Unknown; // the discovery thread's while it runs
    // The runtime's own EVRInitError of the latest open attempt, 0 once a session is open.
    std::atomic<int32_t> lastInitCode{0};
    EventFunction onDeviceEvent;
    std::vector<DeviceSlot> devices;
    int32_t deviceCount = 0; // the discovery thread's while it runs

private:
    class CallerStop;

    void stopLocked();
    bool launchLocked();
    bool startFromHandler();
    void askRestartLocked();
    void requestFromLoop(bool restart);
    void runOnce(DeviceSlot (&scanned)[kMaxDevices]);
    int scanPass(DeviceSlot (&scanned)[kMaxDevices]);
    bool reportSessionClosed(DeviceSlot (&scanned)[kMaxDevices]);
    bool compareAndReport(const DeviceSlot* scanned, int found);
    bool deliverPending();
    void waitFor(std::chrono::milliseconds period);
    bool raise(int count, _DeviceEvent event, const _DeviceEventArg& arg);
    void closeSession();
    bool onOwnThread() const;

    std::mutex controlMutex;
    std::mutex loopMutex;
    std::condition_variable loopWake;
    bool stopAsked = false;    // a stop from outside the loop; beats a handler's restart
    bool restartAsked = false; // a start from this driver's own handler
    bool loopDone = true;      // no loop runs: it has ended its last run and left its session
    int callerStops = 0;       // stops from callers' threads under way; they beat handlers' restarts
    uint64_t stopGeneration = 0; // counts callers' stops, so a start can tell that one came meanwhile
    std::atomic<bool> sessionLost{false}; // wakes the loop's wait when the session ends under it
    PendingEvents pending; // events of a comparison that a stop cut short, for the next run
    std::chrono::milliseconds openRetryPeriod{1000};
    std::chrono::milliseconds scanPeriod{500};
};

} // namespace ViveSystem
