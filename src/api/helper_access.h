// The library's own way to the process-wide helper's driver, for diagnostics.
#pragma once

#include "../driver/vr_driver.h"

#include <tavrin.h>

namespace ViveSystem {

struct TavrinHelperAccess {
    static vrDriver* driver(const TavrinHelper& helper)
    {
        return helper.helperDev ? vrDriver::fromHandle(helper.helperDev->handle()) : nullptr;
    }
};

} // namespace ViveSystem
