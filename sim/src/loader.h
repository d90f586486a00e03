// The loader's init, shared by the entry points of each SDK's header.
#pragma once

#include <openvr.h>

#include <cstdint>

namespace vrsim {

// Opens the process's one client (or initialises it again); a token, or 0 with the error written.
uint32_t initClient(vr::EVRInitError* peError, vr::EVRApplicationType type);

} // namespace vrsim
