// The library entry. The process-wide helper is built and destroyed by the DLL's static
// initialisation and destruction, which the C runtime runs around this function.
#ifndef NOMINMAX
#  define NOMINMAX
#endif
#include <windows.h>

#include "platform.h"

#include <chrono>

// The C runtime calls this before it runs the static destructors on detach, so the driver's stop
// knows that it runs under the loader lock and must not join its thread.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    using ViveSystem::platform::Teardown;
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        // Per-thread notifications are of no use to the library. The call can fail for a DLL with
        // a thread-local-storage directory; the notifications are then harmless, so the result is
        // not checked.
        DisableThreadLibraryCalls(instance);
        // The first reading of the system clock makes the thread library look up the precise
        // clock function, which takes the loader lock. Done here, under the lock already held,
        // no discovery thread ever needs the lock in its waits, so an unload cannot stall on one.
        (void)std::chrono::system_clock::now();
        break;
    case DLL_PROCESS_DETACH:
        // reserved is null for FreeLibrary and non-null when the process is exiting.
        ViveSystem::platform::setTeardown(reserved == nullptr ? Teardown::Unload : Teardown::ProcessExit);
        break;
    default:
        break;
    }
    return TRUE;
}
