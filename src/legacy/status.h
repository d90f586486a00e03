// The process-wide status word: the outcome of the latest operation on any object, as a
// _DeviceError. Several threads write and read it with no lock, so it is an atomic; relaxed
// ordering is enough because it carries no other data with it.
#pragma once

#include <tavrin.h>

#include <atomic>
#include <cstdint>

namespace ViveSystem {

extern std::atomic<int32_t> lastDeviceError;

inline void setLastError(_DeviceError code)
{
    lastDeviceError.store(static_cast<int32_t>(code), std::memory_order_relaxed);
}

inline _DeviceError lastError()
{
    return static_cast<_DeviceError>(lastDeviceError.load(std::memory_order_relaxed));
}

} // namespace ViveSystem
