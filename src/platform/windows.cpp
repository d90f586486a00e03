#include "platform.h"

#ifndef NOMINMAX
#  define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#  define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace ViveSystem::platform {

int64_t steadyNanoseconds()
{
    static const int64_t f = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency); // fixed at boot
        return frequency.QuadPart;
    }();
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    const int64_t counts = value.QuadPart;
    return (counts / f) * 1000000000 + (counts % f) * 1000000000 / f;
}

// FILETIME counts 100-ns ticks since 1601-01-01; the precise clock is Windows 8 and later.
int64_t wallNanoseconds()
{
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    const int64_t ticks = (static_cast<int64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    constexpr int64_t kTicksFrom1601To1970 = 116444736000000000;
    return (ticks - kTicksFrom1601To1970) * 100;
}

// SetThreadDescription is Windows 10 1607 and later: looked up, and skipped where it is missing.
void nameThisThread(const char* name)
{
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    static const auto setDescription = reinterpret_cast<SetDescription>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
    if (setDescription == nullptr)
        return;
    wchar_t wide[64] = {};
    for (int i = 0; i < 63 && name[i] != '\0'; ++i)
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(name[i]));
    setDescription(GetCurrentThread(), wide);
}

// Sleep and sleep_for wake on the system timer tick (up to ~15.6 ms late by default), and the
// library must not change the system's timer resolution. A high-resolution waitable timer
// (Windows 10 1803 and later) wakes close to its due time; where it cannot be made, the plain
// sleep is the fallback.
namespace {

HANDLE highResolutionTimer()
{
    return CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                  TIMER_MODIFY_STATE | SYNCHRONIZE);
}

// False when the timer could not be set.
bool waitOn(HANDLE timer, int64_t microseconds)
{
    LARGE_INTEGER due;
    due.QuadPart = -microseconds * 10; // relative, in 100-ns units
    if (!SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE))
        return false;
    WaitForSingleObject(timer, INFINITE);
    return true;
}

} // namespace

void sleepMicros(int64_t microseconds)
{
    if (microseconds <= 0)
        return;
    if (HANDLE timer = highResolutionTimer()) {
        const bool waited = waitOn(timer, microseconds);
        CloseHandle(timer);
        if (waited)
            return;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
}

preciseSleeper::~preciseSleeper()
{
    if (timer != nullptr)
        CloseHandle(static_cast<HANDLE>(timer));
}

// Waitable timers take absolute times on the wall clock only: the deadline on the performance
// counter becomes a relative wait, measured just before it begins.
void preciseSleeper::sleepUntil(int64_t deadlineNs)
{
    if (timer == nullptr && !noTimer) {
        timer = highResolutionTimer();
        noTimer = timer == nullptr;
    }
    for (;;) {
        const int64_t left = deadlineNs - steadyNanoseconds();
        if (left <= 0)
            return;
        const int64_t us = (left + 999) / 1000;
        if (noTimer || !waitOn(static_cast<HANDLE>(timer), us))
            std::this_thread::sleep_for(std::chrono::microseconds(us));
    }
}

namespace {
std::atomic<Teardown> teardownState{Teardown::None};
} // namespace

Teardown teardown()
{
    return teardownState.load(std::memory_order_acquire);
}

void setTeardown(Teardown state)
{
    teardownState.store(state, std::memory_order_release);
}

void leaveIfUnloading()
{
    if (teardown() == Teardown::Unload)
        ExitThread(0); // blocks on the loader lock until the library is gone, then ends
}

bool replaceFile(const std::string& path, const std::string& content, std::string& why)
{
    const std::string temp = path + ".partial";
    HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        why = "cannot create " + temp + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
              written == content.size() && FlushFileBuffers(h);
    const DWORD writeError = GetLastError();
    ok = CloseHandle(h) && ok;
    if (ok && MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    why = "error " + std::to_string(ok ? GetLastError() : writeError);
    DeleteFileA(temp.c_str());
    return false;
}

} // namespace ViveSystem::platform
