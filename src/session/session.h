// The process's one OpenVR session, shared by every user (legacy drivers, frame sources).
//
// The OpenVR loader keeps one client per process and counts nothing: any shutdown ends the session
// for everyone and kills every interface handed out before it. So no user opens or shuts sessions
// itself: each holds a ticket, joins this owner's session with it and leaves it, and the last one
// to leave shuts the session down.
//
// Locks, in the order they may be taken:
//  - ownerMutex serialises join, leave and closing a session;
//  - the gate: every use of the runtime (a pose read, a discovery pass) passes it shared; closing
//    the session takes it alone. While a close is waiting, new users wait for it to finish, so
//    the close waits only for the uses already in flight;
//  - loaderMutex serialises every loader call (the real loader has no lock of its own).
// A ticket's lost() runs under ownerMutex with no use in flight; it must only wake its user.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace vr {
class IVRSystem;
}

namespace ViveSystem {

class sessionOwner;

// One user's hold on the session. The user owns it; the owner marks it while the user is joined.
class sessionTicket {
public:
    // `lost` is called when the session ends under the user (the runtime quit, someone else shut
    // the client down), the ticket already released.
    explicit sessionTicket(std::function<void()> lost) : lost(std::move(lost)) {}
    sessionTicket(const sessionTicket&) = delete;
    sessionTicket& operator=(const sessionTicket&) = delete;

    // Whether the user has joined the session now open.
    bool held() const { return session.load(std::memory_order_acquire) != 0; }

private:
    friend class sessionOwner;
    std::atomic<uint64_t> session{0}; // the number of the session joined; 0: none
    std::function<void()> lost;
};

class sessionOwner {
public:
    static sessionOwner& instance();

    // Joins the open session, or opens one as a background application. False when none could be
    // opened; `initError` is the runtime's EVRInitError of the attempt, as the integer it wrote
    // (0 on success).
    bool join(sessionTicket& ticket, int32_t& initError);
    // The user stops using the session; the last user shuts it down. Harmless for a ticket that
    // is not held.
    void leave(sessionTicket& ticket);

    // The runtime's EVRInitError of the latest attempt to open the session, by any user, as the
    // integer the runtime wrote; 0 once one succeeded, and before any attempt.
    int32_t lastOpenError() const { return openError.load(std::memory_order_relaxed); }

    // Shared use of the runtime; waits while a close is under way.
    void enter();
    void exit();
    // A close is waiting for the uses in flight: a long use should end early.
    bool closing() const { return closingFlag.load(std::memory_order_acquire); }

    // Inside a use: the open session's interface, or null when there is none or the runtime no
    // longer serves it. When the loader's token has changed (another module in the process
    // initialised the client again, or shut it down), every interface pointer must be fetched
    // again, as the SDK's own helpers do: a fetch that succeeds keeps the session going under
    // the new token; one that fails means the client was shut down and nothing we hold may be
    // called. Cheap while the token holds: the token is a plain counter in the loader.
    vr::IVRSystem* liveSystem();
    // Inside a use: which session is open (changes with every open), for drop().
    uint64_t sessionNumber() const { return opened.load(std::memory_order_acquire); }

    // A read's use of the session a ticket holds: inside the gate, and under `serialise` when
    // given, calls use(system) and returns true when the ticket is held and the client still
    // alive. Otherwise returns false; a session found dead (someone else shut the client down) is
    // never called, and is dropped for every user, as a pass would drop it, once the gate and
    // `serialise` are let go.
    template <class Use>
    bool useSession(const sessionTicket& ticket, std::mutex* serialise, Use&& use);

    enum class Health { Alive, Quit, Lost };
    // Inside a use: checks the client (liveSystem; the interface to use goes to `live`), then
    // drains the session's events. A quit is acknowledged once. keepGoing() false stops the drain
    // early (the session is then taken as alive).
    Health check(const std::function<bool()>& keepGoing, vr::IVRSystem*& live);
    // After a use that found session `number` quit or lost (outside the use): every user loses
    // the session, and a quit session is shut down. Nothing happens if that session is no longer
    // the open one.
    void drop(uint64_t number, bool shutdown);

private:
    sessionOwner() = default;
    void closeLocked(bool shutdown); // holds ownerMutex
    bool refreshLocked();            // holds loaderMutex

    std::mutex ownerMutex;
    std::mutex loaderMutex;

    std::mutex gateMutex;
    std::condition_variable gateChanged;
    int inUse = 0;
    std::atomic<bool> closingFlag{false}; // written under gateMutex, read without it by closing()

    // Written under ownerMutex and loaderMutex (a fetch under a new token), read under either.
    std::atomic<vr::IVRSystem*> system{nullptr};
    std::atomic<uint32_t> token{0};  // the loader's token the interface was fetched under
    std::atomic<uint64_t> opened{0}; // counts the sessions opened; changes only with no use in flight
    std::atomic<bool> quitAcknowledged{false};
    std::atomic<int32_t> openError{0};
    std::vector<sessionTicket*> users; // under ownerMutex
};

// One use of the runtime, for the length of a scope.
class sessionUse {
public:
    explicit sessionUse(sessionOwner& owner) : owner(owner) { owner.enter(); }
    ~sessionUse() { owner.exit(); }
    sessionUse(const sessionUse&) = delete;
    sessionUse& operator=(const sessionUse&) = delete;

private:
    sessionOwner& owner;
};

template <class Use>
bool sessionOwner::useSession(const sessionTicket& ticket, std::mutex* serialise, Use&& use)
{
    uint64_t dead = 0;
    {
        std::unique_lock<std::mutex> serialised;
        if (serialise != nullptr)
            serialised = std::unique_lock<std::mutex>(*serialise);
        // The use keeps the session open: a shutdown waits for it, and a use that comes while a
        // shutdown is under way waits for that and then finds no session.
        sessionUse inUse(*this);
        if (!ticket.held())
            return false;
        if (vr::IVRSystem* live = liveSystem()) {
            use(live);
            return true;
        }
        dead = sessionNumber();
    }
    drop(dead, false);
    return false;
}

} // namespace ViveSystem
