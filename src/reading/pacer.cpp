#include "pacer.h"

#include <algorithm>

namespace ViveSystem {

int64_t spinMargin::percentile() const
{
    int64_t sorted[kHistory];
    std::copy(recent, recent + count, sorted);
    // The 90th: the sleeps that overshoot more are the rare ones; a miss grows the margin anyway.
    const int k = std::min(count - 1, (count * 9) / 10);
    std::nth_element(sorted, sorted + k, sorted + count);
    return sorted[k];
}

void spinMargin::note(int64_t oversleepNs, bool missed)
{
    recent[next] = std::max<int64_t>(oversleepNs, 0);
    next = (next + 1) % kHistory;
    count = std::min(count + 1, kHistory);
    const int64_t target = std::clamp(percentile() + kPadNs, kMinNs, kMaxNs);
    if (missed) // at once, by half again: one preempted sleep should not make every later read spin long
        margin = std::max(margin + margin / 2, target);
    else if (target > margin)
        margin = target; // at once
    else
        margin -= (margin - target) / 64; // slowly
    margin = std::clamp(margin, kMinNs, kMaxNs);
}

} // namespace ViveSystem
