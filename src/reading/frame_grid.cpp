#include "frame_grid.h"

#include <cmath>

namespace ViveSystem {

void frameGrid::start(int64_t start, double rateHz, uint64_t first)
{
    t0 = start;
    rate = rateHz;
    latest = 0;
    firstNumber = first;
}

int64_t frameGrid::instant(uint64_t k) const
{
    // Long double: k x 1e9 stays exact to the nanosecond for years of instants where it is wider
    // than double.
    return t0 + static_cast<int64_t>(std::llround(static_cast<long double>(k) * 1e9L / static_cast<long double>(rate)));
}

uint64_t frameGrid::next(int64_t now, int64_t reach) const
{
    uint64_t k = latest + 1;
    const int64_t oldest = now - reach;
    if (instant(k) >= oldest)
        return k;
    // Fallen behind by more than the reach: the first instant within it.
    const long double guess = std::ceil(static_cast<long double>(oldest - t0) * static_cast<long double>(rate) / 1e9L);
    if (guess > static_cast<long double>(k))
        k = static_cast<uint64_t>(guess);
    while (k > latest + 1 && instant(k - 1) >= oldest)
        --k;
    while (instant(k) < oldest)
        ++k;
    return k;
}

} // namespace ViveSystem
