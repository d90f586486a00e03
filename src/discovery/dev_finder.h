// devFinder: one discovery loop. On a thread of its own it joins the process's OpenVR session
// (retrying once a second), then scans the device indices of its scope every 500 ms, brings its
// device table up to date and delivers each change to its sink, in order. Both faces (the legacy
// driver and the frame source) run one; a loop never waits for another's sink.
//
// Locks: controlMutex serialises start and stop. The worker's lock guards the loop's stop and
// restart requests and its waits. No lock is held while the loop delivers to its sink, and stop
// holds no lock that a sink could need while it waits for the thread.
#pragma once

#include "device_table.h"
#include "worker.h"

#include "../session/session.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

namespace ViveSystem {

// Where a discovery loop's findings go. Called on the discovery thread, in order, with no lock
// held; each call returns before the loop goes on.
class discoverySink {
public:
    // A session was opened; countBefore is the table's count before this run's first scan.
    virtual void sessionOpened(int32_t countBefore) = 0;
    // The session ended under the loop; its devices have just been reported gone.
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
    devFinder(const ScanScope& scope, discoverySink& sink);
    ~devFinder();
    devFinder(const devFinder&) = delete;
    devFinder& operator=(const devFinder&) = delete;

    // Stops completely, then launches the discovery thread; returns true, or throws when no
    // thread can be made (the loop then stays stopped). Called from this loop's own sink it
    // cannot wait for the thread: the loop then begins a new run (new session) once the sink
    // returns, unless a stop from another thread comes first. From another loop's sink it never
    // waits for a loop that still runs.
    bool start();
    // Ends the discovery thread and leaves the session; harmless when stopped. Called from any
    // loop's sink it only asks the loop to end (once the sink returns, for its own) and does not
    // wait, since the loop it would wait for may be waiting on the caller. From any other thread
    // it waits, and wins over every restart a sink asks for meanwhile.
    void stop();
    // Stopped loops only: empties the table silently, as if no device had been seen.
    void forgetDevices();

    // The session this loop holds while it runs; reads use it.
    const sessionTicket& session() const { return ticket; }
    bool hasSession() const { return ticket.held(); }
    // The loop is asked to go on (a run is under way or about to begin).
    bool running() const { return finder.keepGoing.load(std::memory_order_acquire); }
    // A discovery thread exists that a stop has still to join.
    bool hasThread() { return finder.handle() != nullptr; }
    // The table and the count of the latest scan: the loop's own while it runs.
    const DeviceSlot* table() const { return devices; }
    int tableSize() const { return scope.indices; }
    int32_t deviceCount() const { return count; }

    // Test seam: the waits between open attempts and between passes (1 s and 500 ms).
    void setLoopPeriods(std::chrono::milliseconds openRetry, std::chrono::milliseconds scanPass);

private:
    class CallerStop;

    void stopLocked();
    bool launchLocked();
    bool startFromHandler();
    void askRestartLocked();
    void requestFromLoop(bool restart);
    void findDevices();
    void runOnce();
    bool joinSession();
    int scanPass();
    bool reportSessionClosed();
    bool compareAndReport(int found);
    bool deliverPending();
    void loseSession();
    bool onOwnThread() const;

    const ScanScope scope;
    discoverySink& sink;
    workerThread finder{"tavrin-discovery"};
    sessionTicket ticket{[this] { loseSession(); }};
    std::mutex controlMutex;
    // Under the worker's lock:
    bool stopAsked = false;      // a stop from outside the loop; beats a handler's restart
    bool restartAsked = false;   // a start from this loop's own sink
    int callerStops = 0;         // stops from callers' threads under way; they beat sinks' restarts
    uint64_t stopGeneration = 0; // counts callers' stops, so a start can tell that one came meanwhile
    std::chrono::milliseconds openRetryPeriod{1000};
    std::chrono::milliseconds scanPeriod{500};
    std::atomic<bool> sessionLost{false}; // wakes the loop's wait when the session ends under it
    // The loop's own while it runs; a stopped loop's for whoever stopped it:
    DeviceSlot devices[kSourceDevices]; // the table, scope.indices slots used
    DeviceSlot scanned[kSourceDevices]; // the scan of the current pass
    int32_t count = 0;                  // devices the latest scan took
    PendingEvents pending; // changes of a comparison that a stop cut short, for the next run
};

} // namespace ViveSystem
