// What the monitor needs from the operating system; one implementation file per system.
#pragma once

#include <atomic>

namespace monitor::sys {

bool stdoutIsTerminal();
// The terminal's width in columns (80 when it cannot be told) and height in rows (24).
int terminalColumns();
int terminalRows();
// Lets the terminal interpret the escape sequences of the live table.
void enableTerminalEscapes();
// Ctrl-C (or a termination request) sets *flag instead of ending the process.
void watchInterrupt(std::atomic<bool>* flag);
// CPU time of the calling thread.
double threadCpuSeconds();
// A function exported by the OpenVR runtime library that tavrin loaded, or null.
void* runtimeSymbol(const char* name);

} // namespace monitor::sys
