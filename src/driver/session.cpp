#include "session.h"

#include "dev_finder.h"

#include <openvr.h>

#include <algorithm>
#include <new>

namespace ViveSystem {

namespace {
// Events drained per pass at most: a runtime flooding events cannot hold the pass.
constexpr int kEventDrainLimit = 64;
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

vr::IVRSystem* sessionOwner::join(devFinder& driver, _DeviceError& result)
{
    std::lock_guard<std::mutex> lock(ownerMutex);
    if (system != nullptr) {
        uint32_t now = 0;
        {
            std::lock_guard<std::mutex> loader(loaderMutex);
            now = vr::VR_GetInitToken();
        }
        if (now == token.load(std::memory_order_relaxed)) {
            if (std::find(users.begin(), users.end(), &driver) == users.end())
                users.push_back(&driver);
            driver.vrSystem.store(system, std::memory_order_release);
            driver.lastInitCode.store(0, std::memory_order_relaxed);
            result = DeviceError_None;
            return system;
        }
        // Someone else in the process ended the client: every interface we hold is dead.
        closeLocked(false);
    }
    vr::IVRSystem* opened = nullptr;
    {
        std::lock_guard<std::mutex> loader(loaderMutex);
        opened = driver.openSession(result);
        if (opened != nullptr)
            token.store(vr::VR_GetInitToken(), std::memory_order_relaxed);
    }
    openError.store(driver.lastInitCode.load(std::memory_order_relaxed), std::memory_order_relaxed);
    if (opened == nullptr)
        return nullptr;
    system = opened;
    quitAcknowledged.store(false, std::memory_order_relaxed);
    users.push_back(&driver);
    driver.vrSystem.store(opened, std::memory_order_release);
    return opened;
}

void sessionOwner::leave(devFinder& driver)
{
    std::lock_guard<std::mutex> lock(ownerMutex);
    const auto it = std::find(users.begin(), users.end(), &driver);
    if (it == users.end())
        return;
    users.erase(it);
    driver.vrSystem.store(nullptr, std::memory_order_release);
    if (users.empty() && system != nullptr)
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

bool sessionOwner::tokenCurrent()
{
    std::lock_guard<std::mutex> loader(loaderMutex);
    return vr::VR_GetInitToken() == token.load(std::memory_order_relaxed);
}

sessionOwner::Health sessionOwner::check(vr::IVRSystem* current, const std::function<bool()>& keepGoing)
{
    if (!tokenCurrent())
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

void sessionOwner::drop(vr::IVRSystem* lost, bool shutdown)
{
    std::lock_guard<std::mutex> lock(ownerMutex);
    if (system == nullptr || system != lost)
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
    for (devFinder* user : users) {
        user->vrSystem.store(nullptr, std::memory_order_release);
        user->loseSession();
    }
    std::vector<devFinder*>().swap(users);
    if (shutdown) {
        std::lock_guard<std::mutex> loader(loaderMutex);
        vr::VR_Shutdown();
    }
    system = nullptr;
    token.store(0, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> gate(gateMutex);
        closingFlag.store(false, std::memory_order_release);
    }
    gateChanged.notify_all();
}

} // namespace ViveSystem
