// The runtime's clock on POSIX systems: CLOCK_MONOTONIC in ns, as tavrin_now_ns() reads it.
#include "rig.h"

#include <time.h>

namespace vrsim {

int64_t nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

} // namespace vrsim
