// devFinder: one driver's use of the process's OpenVR session, its discovery thread and its
// device table.
//
// The session itself belongs to the process-wide sessionOwner: a driver joins it when its loop
// starts and leaves it when its run ends; the last driver to leave shuts it down. Every use of
// the runtime (a discovery pass, a pose read) passes the owner's gate, so a shutdown never
// overlaps one.
//
// What the loop finds goes to a discovery sink: by default the legacy relay, which turns each
// change into the _DeviceEvent codes and raises them through onDeviceEvent; a frame source gives
// a sink of its own. The scope says which indices and classes are scanned (0..15 and classes 1-3
// for the legacy drivers).
//
// Locks: driverMutex serialises this driver's pose reads. controlMutex serialises start and stop.
// The worker's lock guards the loop's stop and restart requests and its waits. No lock is held
// while the loop delivers to its sink, and stop holds no lock that a handler could need while it
// waits for the thread.
#pragma once

#include "device_table.h"
#include "worker.h"

#include <tavrin.h>

#include <atomic>
#include <chrono>
#include <cstdint>
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

// Where a discovery loop's findings go. Called on the discovery thread, in order, with no lock
// held; each call returns before the loop goes on.
class discoverySink {
public:
    // A session was opened; countBefore is the table's count before this run's first scan.
    virtual void sessionOpened(int32_t countBefore) = 0;
    // The session ended under the driver; its devices have just been reported gone.
    virtual void sessionClosed() = 0;
    virtual void deviceChanged(const DeviceChange& change) = 0;
    // The table was brought up to date by a comparison (before its changes are delivered), or
    // emptied.
    virtual void tableChanged(const DeviceSlot* table, int size) = 0;

protected:
    ~discoverySink() = default;
};

class devFinder {
public:
    using EventFunction = std::function<void(int, _DeviceEvent, _DeviceEventArg)>;

    explicit devFinder(const ScanScope& scope = kLegacyScope, discoverySink* sink = nullptr);
    ~devFinder();
    devFinder(const devFinder&) = delete;
    devFinder& operator=(const devFinder&) = delete;

    // Stops completely, then launches the discovery thread; returns true, or throws when no
    // thread can be made (the driver then stays stopped). Called from this driver's own handler
    // it cannot wait for the thread: the loop then begins a new run (new session) once the
    // handler returns, unless a stop from another thread comes first. From another driver's
    // handler it never waits for a loop that still runs.
    bool start();
    // Ends the discovery thread and leaves the session; harmless when stopped. Called from any
    // driver's handler it only asks the loop to end (once the handler returns, for its own) and
    // does not wait, since the loop it would wait for may be waiting on the caller. From any other
    // thread it waits, and wins over every restart a handler asks for meanwhile.
    void stop();
    // The body of the discovery thread.
    void findDevices();

    // Called by the session owner when the session ends under this driver (the runtime quit, or
    // someone else shut the client down): vrSystem is already null; the loop reports the loss.
    void loseSession();

    // Stopped drivers only: empties the table silently, as if no device had been seen.
    void forgetDevices();

    // Test seam: the waits between open attempts and between passes (1 s and 500 ms).
    void setLoopPeriods(std::chrono::milliseconds openRetry, std::chrono::milliseconds scanPass);

    std::mutex driverMutex;
    std::atomic<vr::IVRSystem*> vrSystem{nullptr};

private:
    workerThread finder{"tavrin-discovery"};

public:
    std::thread* finderThread = nullptr; // the discovery thread while there is one to join
    std::atomic<bool>& running = finder.keepGoing;
    _DeviceError lastInitError = DeviceError_Unknown; // the discovery thread's while it runs
    EventFunction onDeviceEvent;
    std::vector<DeviceSlot> devices;
    int32_t deviceCount = 0; // the discovery thread's while it runs

private:
    class CallerStop;
    // The default sink: _DeviceEvent codes through onDeviceEvent.
    class legacyRelay final : public discoverySink {
    public:
        explicit legacyRelay(devFinder& owner) : owner(owner) {}
        void sessionOpened(int32_t countBefore) override;
        void sessionClosed() override;
        void deviceChanged(const DeviceChange& change) override;
        void tableChanged(const DeviceSlot*, int) override {}

    private:
        devFinder& owner;
    };

    void stopLocked();
    bool launchLocked();
    bool startFromHandler();
    void askRestartLocked();
    void requestFromLoop(bool restart);
    void runOnce();
    int scanPass();
    bool reportSessionClosed();
    bool compareAndReport(int found);
    bool deliverPending();
    void closeSession();
    bool onOwnThread() const;

    const ScanScope scope;
    legacyRelay relay{*this};
    discoverySink& sink;
    std::mutex controlMutex;
    // Under the worker's lock:
    bool stopAsked = false;    // a stop from outside the loop; beats a handler's restart
    bool restartAsked = false; // a start from this driver's own handler
    int callerStops = 0;       // stops from callers' threads under way; they beat handlers' restarts
    uint64_t stopGeneration = 0; // counts callers' stops, so a start can tell that one came meanwhile
    std::atomic<bool> sessionLost{false}; // wakes the loop's wait when the session ends under it
    std::vector<DeviceSlot> scanned;      // the scan of the current pass
    PendingEvents pending; // changes of a comparison that a stop cut short, for the next run
    std::chrono::milliseconds openRetryPeriod{1000};
    std::chrono::milliseconds scanPeriod{500};
};

} // namespace ViveSystem
