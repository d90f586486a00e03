#include "session.h"

#include "openvr_init.h"
#include "runtime_values.h"

#include <openvr.h>

#include <algorithm>
#include <new>

namespace ViveSystem {

namespace {
// Events drained per pass at most: a runtime flooding events cannot hold the pass.
constexpr int kEventDrainLimit = 64;

// The IVRSystem of a session, fetched under the loader's current token; null with the runtime's
// reason in `code` (InterfaceNotFound when it gives none).
vr::IVRSystem* fetchSystem(int32_t& code)
{
    vr::EVRInitError raw;
    clearRuntimeValue(raw);
    void* fetched = vr::VR_GetGenericInterface(vr::IVRSystem_Version, &raw);
    code = runtimeValue(raw);
    if (fetched != nullptr && code == vr::VRInitError_None)
        return static_cast<vr::IVRSystem*>(fetched);
    if (code == vr::VRInitError_None)
        code = vr::VRInitError_Init_InterfaceNotFound;
    return nullptr;
}

// Opens the process's client as a background application, as the SDK's VR_Init does (init, the
// version check, the interface), reading every error as the integer the runtime wrote. A client
// that opens without serving the interface is shut again rather than leaked.
vr::IVRSystem* openClient(int32_t& code)
{
    vr::EVRInitError raw;
    clearRuntimeValue(raw);
    openvrInit(&raw);
    code = runtimeValue(raw);
    if (code != vr::VRInitError_None)
        return nullptr;
    vr::IVRSystem* system = nullptr;
    if (vr::VR_IsInterfaceVersionValid(vr::IVRSystem_Version))
        system = fetchSystem(code);
    else
        code = vr::VRInitError_Init_InterfaceNotFound;
    if (system == nullptr)
        vr::VR_ShutdownInternal();
    return system;
}
} // namespace

sessionOwner& sessionOwner::instance()
{
    // Never destroyed, so that a driver still running at process exit can leave it; and kept in
    // the library's own storage, not the heap, so that unloading the library leaves nothing behind
    // (the users list gives its memory back whenever it empties).
    alignas(sessionOwner) static unsigned char storage[sizeof(sessionOwner)];
    static sessionOwner* owner = new (storage) sessionOwner;
    return *owner;
}

bool sessionOwner::join(sessionTicket& ticket, int32_t& initError)
{
    std::lock_guard<std::mutex> lock(ownerMutex);
    if (system.load(std::memory_order_relaxed) != nullptr) {
        bool live = false;
        {
            std::lock_guard<std::mutex> loader(loaderMutex);
            live = refreshLocked();
        }
        if (live) {
            if (std::find(users.begin(), users.end(), &ticket) == users.end())
                users.push_back(&ticket);
            ticket.session.store(opened.load(std::memory_order_relaxed), std::memory_order_release);
            initError = 0;
            return true;
        }
        // Someone else in the process shut the client down: every interface we hold is dead.
        closeLocked(false);
    }
    vr::IVRSystem* fresh = nullptr;
    {
        std::lock_guard<std::mutex> loader(loaderMutex);
        fresh = openClient(initError);
        if (fresh != nullptr)
            token.store(vr::VR_GetInitToken(), std::memory_order_relaxed);
    }
    openError.store(initError, std::memory_order_relaxed);
    if (fresh == nullptr)
        return false;
    system.store(fresh, std::memory_order_release);
    const uint64_t number = opened.fetch_add(1, std::memory_order_acq_rel) + 1;
    quitAcknowledged.store(false, std::memory_order_relaxed);
    users.push_back(&ticket);
    ticket.session.store(number, std::memory_order_release);
    return true;
}

void sessionOwner::leave(sessionTicket& ticket)
{
    std::lock_guard<std::mutex> lock(ownerMutex);
    const auto it = std::find(users.begin(), users.end(), &ticket);
    if (it == users.end())
        return;
    users.erase(it);
    ticket.session.store(0, std::memory_order_release);
    if (users.empty() && system.load(std::memory_order_relaxed) != nullptr)
        closeLocked(true);
}

void sessionOwner::enter()
{
    std::unique_lock<std::mutex> lock(gateMutex);
    gateChanged.wait(lock, [this] { return !closingFlag; });
    ++inUse;
}

void sessionOwner::exit()
{
    std::lock_guard<std::mutex> lock(gateMutex);
    if (--inUse == 0 && closingFlag)
        gateChanged.notify_all();
}

// Holds loaderMutex, with a session open.
bool sessionOwner::refreshLocked()
{
    const uint32_t now = vr::VR_GetInitToken();
    if (now == token.load(std::memory_order_relaxed))
        return true;
    int32_t code = 0;
    vr::IVRSystem* fetched = fetchSystem(code);
    if (fetched == nullptr)
        return false;
    system.store(fetched, std::memory_order_release);
    token.store(now, std::memory_order_relaxed);
    return true;
}

vr::IVRSystem* sessionOwner::liveSystem()
{
    std::lock_guard<std::mutex> loader(loaderMutex);
    if (system.load(std::memory_order_relaxed) == nullptr || !refreshLocked())
        return nullptr;
    return system.load(std::memory_order_relaxed);
}

sessionOwner::Health sessionOwner::check(const std::function<bool()>& keepGoing, vr::IVRSystem*& live)
{
    vr::IVRSystem* current = live = liveSystem();
    if (current == nullptr)
        return Health::Lost;
    for (int n = 0; n < kEventDrainLimit && keepGoing(); ++n) {
        vr::VREvent_t event{};
        if (!current->PollNextEvent(&event, sizeof(vr::VREvent_t)))
            break;
        if (event.eventType == vr::VREvent_Quit) {
            // The runtime kills a client that is still loaded a few seconds after its quit.
            if (!quitAcknowledged.exchange(true, std::memory_order_acq_rel))
                current->AcknowledgeQuit_Exiting();
            return Health::Quit;
        }
    }
    return Health::Alive;
}

void sessionOwner::drop(uint64_t number, bool shutdown)
{
    std::lock_guard<std::mutex> lock(ownerMutex);
    if (system.load(std::memory_order_relaxed) == nullptr || opened.load(std::memory_order_relaxed) != number)
        return;
    closeLocked(shutdown);
}

void sessionOwner::closeLocked(bool shutdown)
{
    {
        std::unique_lock<std::mutex> gate(gateMutex);
        closingFlag.store(true, std::memory_order_release);
        gateChanged.wait(gate, [this] { return inUse == 0; });
    }
    // No use is in flight and none can start: nobody holds the interface from here on.
    for (sessionTicket* user : users) {
        user->session.store(0, std::memory_order_release);
        if (user->lost)
            user->lost();
    }
    std::vector<sessionTicket*>().swap(users);
    if (shutdown) {
        std::lock_guard<std::mutex> loader(loaderMutex);
        vr::VR_Shutdown();
    }
    system.store(nullptr, std::memory_order_release);
    token.store(0, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> gate(gateMutex);
        closingFlag.store(false, std::memory_order_release);
    }
    gateChanged.notify_all();
}

} // namespace ViveSystem
