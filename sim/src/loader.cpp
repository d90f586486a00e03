// The OpenVR loader's entry points, as the real openvr_api exports them: one client per process,
// no lock of its own (two threads inside at once are counted), a token that changes with every
// init and shutdown.
#include "loader.h"
#include "rig.h"
#include "system.h"

#include <openvr.h>

#include <cstring>

namespace vrsim {
namespace {

// One loader entry point's call: marks the thread inside for the whole call, delay included (the
// real loader has no lock: a second thread entering while one is inside is a race, and is
// counted), then holds the rig's lock with any kill that has fallen due carried out.
class LoaderCall {
public:
    // Runtime: an entry point that asks the runtime (delayed, under the rig lock). Counter: one
    // that only reads the loader's own state.
    enum class Kind { Runtime, Counter };

    explicit LoaderCall(Kind kind = Kind::Runtime)
    {
        if (rig().inLoader.fetch_add(1, std::memory_order_acq_rel) > 0) {
            std::lock_guard<std::mutex> counting(rig().mutex);
            ++rig().counters.concurrent_loader_calls;
        }
        if (kind == Kind::Counter) {
            if (rig().killArmed.load()) {
                std::lock_guard<std::mutex> reaping(rig().mutex);
                rig().reapLocked();
            }
            return;
        }
        callDelay();
        lock = std::unique_lock<std::mutex>(rig().mutex);
        rig().reapLocked();
    }
    ~LoaderCall()
    {
        if (lock.owns_lock())
            lock.unlock();
        rig().inLoader.fetch_sub(1, std::memory_order_acq_rel);
    }
    LoaderCall(const LoaderCall&) = delete;
    LoaderCall& operator=(const LoaderCall&) = delete;

private:
    std::unique_lock<std::mutex> lock;
};

} // namespace

uint32_t initClient(vr::EVRInitError* peError, vr::EVRApplicationType)
{
    LoaderCall call;
    Rig& r = rig();
    ++r.counters.init_calls;
    // Any 32-bit value may be scripted, also one the SDK does not name: kept as an integer and
    // written byte for byte, as a runtime newer than the SDK would write it.
    int32_t error = vr::VRInitError_None;
    if (!r.runtimeRunning)
        error = vr::VRInitError_Init_NoServerForBackgroundApp;
    else if (r.initError != vr::VRInitError_None)
        error = r.initError;
    if (error != vr::VRInitError_None) {
        if (peError)
            std::memcpy(peError, &error, sizeof error);
        return 0;
    }
    // One client per process: an init while it is open initialises the same client again.
    if (!r.clientOpen) {
        r.sessions.push_back(newSystem());
        r.current = r.sessions.back();
        r.clientOpen = true;
        r.events.clear();
    }
    const uint32_t token = r.nextToken++;
    r.token.store(token);
    r.counters.open_sessions = 1;
    if (peError)
        *peError = vr::VRInitError_None;
    return token;
}

} // namespace vrsim

using vrsim::rig;

// ---- loader entry points -----------------------------------------------------------------------
// Declared in namespace vr with C linkage, as the SDK declares them: the exported names are the
// plain ones.

namespace vr {

VR_INTERFACE uint32_t VR_CALLTYPE VR_InitInternal(vr::EVRInitError* peError, vr::EVRApplicationType type)
{
    return vrsim::initClient(peError, type);
}

VR_INTERFACE void VR_CALLTYPE VR_ShutdownInternal()
{
    vrsim::LoaderCall call;
    vrsim::Rig& r = rig();
    ++r.counters.shutdown_calls;
    // Counts nothing: any shutdown ends the client for the whole process.
    if (r.clientOpen)
        r.endSessionLocked();
}

VR_INTERFACE bool VR_CALLTYPE VR_IsInterfaceVersionValid(const char* version)
{
    vrsim::LoaderCall call;
    const vrsim::Rig& r = rig();
    return r.clientOpen && r.interfaceValid && version && std::strcmp(version, vr::IVRSystem_Version) == 0;
}

// The real loader answers from a counter of its own, without asking the runtime: no delay and no
// lock, but a kill that has fallen due is carried out first, as the runtime would have done it.
VR_INTERFACE uint32_t VR_CALLTYPE VR_GetInitToken()
{
    vrsim::LoaderCall call(vrsim::LoaderCall::Kind::Counter);
    return rig().token.load();
}

VR_INTERFACE void* VR_CALLTYPE VR_GetGenericInterface(const char* version, vr::EVRInitError* peError)
{
    vrsim::LoaderCall call;
    const vrsim::Rig& r = rig();
    vr::EVRInitError error = vr::VRInitError_None;
    void* result = nullptr;
    if (!r.clientOpen)
        error = vr::VRInitError_Init_NotInitialized;
    else if (!r.interfaceValid || !version || std::strcmp(version, vr::IVRSystem_Version) != 0)
        error = vr::VRInitError_Init_InterfaceNotFound;
    else
        result = static_cast<vr::IVRSystem*>(r.current);
    if (peError)
        *peError = error;
    return result;
}

} // namespace vr
