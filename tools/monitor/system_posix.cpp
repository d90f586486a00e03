#include "system.h"

#include <dlfcn.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <ctime>

namespace monitor::sys {

namespace {
std::atomic<bool>* interruptFlag = nullptr;
extern "C" void onSignal(int)
{
    if (interruptFlag)
        interruptFlag->store(true);
}
} // namespace

bool stdoutIsTerminal()
{
    return isatty(STDOUT_FILENO) != 0;
}

int terminalColumns()
{
    winsize ws{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
        return ws.ws_col;
    return 80;
}

int terminalRows()
{
    winsize ws{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0)
        return ws.ws_row;
    return 24;
}

void enableTerminalEscapes() {}

void watchInterrupt(std::atomic<bool>* flag)
{
    interruptFlag = flag;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void* runtimeSymbol(const char* name)
{
    return dlsym(RTLD_DEFAULT, name);
}

} // namespace monitor::sys
