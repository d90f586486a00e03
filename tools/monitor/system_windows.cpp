#include "system.h"

#ifndef NOMINMAX
#  define NOMINMAX
#endif
#include <windows.h>

#include <io.h>
#include <stdio.h>

namespace monitor::sys {

namespace {
std::atomic<bool>* interruptFlag = nullptr;
BOOL WINAPI onConsoleEvent(DWORD)
{
    if (interruptFlag)
        interruptFlag->store(true);
    return TRUE;
}
} // namespace

bool stdoutIsTerminal()
{
    return _isatty(_fileno(stdout)) != 0;
}

int terminalColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}

int terminalRows()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return info.srWindow.Bottom - info.srWindow.Top + 1;
    return 24;
}

void enableTerminalEscapes()
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode))
        SetConsoleMode(out, mode | 0x0004 /* ENABLE_VIRTUAL_TERMINAL_PROCESSING */);
    SetConsoleOutputCP(CP_UTF8);
}

void watchInterrupt(std::atomic<bool>* flag)
{
    interruptFlag = flag;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

double threadCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user))
        return 0.0;
    auto secs = [](const FILETIME& ft) {
        return static_cast<double>((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) * 1e-7;
    };
    return secs(kernel) + secs(user);
}

void* runtimeSymbol(const char* name)
{
    HMODULE runtime = GetModuleHandleA("openvr_api.dll");
    return runtime ? reinterpret_cast<void*>(GetProcAddress(runtime, name)) : nullptr;
}

} // namespace monitor::sys
