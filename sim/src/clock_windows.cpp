// The runtime's clock on Windows: the performance counter in ns, as tavrin_now_ns() reads it.
#include "rig.h"

#include <windows.h>

namespace vrsim {

int64_t nowNs()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    const int64_t c = count.QuadPart, f = frequency.QuadPart;
    return (c / f) * 1000000000 + (c % f) * 1000000000 / f;
}

} // namespace vrsim
