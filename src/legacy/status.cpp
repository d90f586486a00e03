#include "status.h"

namespace ViveSystem {

std::atomic<int32_t> lastDeviceError{0};

} // namespace ViveSystem
