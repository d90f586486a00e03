// The instants a paced frame source reads at: t0 + round(k x 1e9 / rate) ns, k = 0, 1, 2, ..., each
// computed from t0 (no drift from adding rounded periods). Plain arithmetic: the reading thread
// owns one and asks it which instant comes next.
#pragma once

#include <cstdint>

namespace ViveSystem {

class frameGrid {
public:
    bool started() const { return rate > 0.0; }
    // A new grid: instant 0 at t0, numbered firstNumber (the numbers go on across grids).
    void start(int64_t t0, double rateHz, uint64_t firstNumber);
    // Instant k, ns.
    int64_t instant(uint64_t k) const;
    // The instant after the latest taken, or when that is more than `reach` before now, the first
    // that is not (the ones between are skipped).
    uint64_t next(int64_t now, int64_t reach) const;
    // Takes instant k: the next is after it.
    void take(uint64_t k) { latest = k; }
    uint64_t number(uint64_t k) const { return firstNumber + k; }

private:
    int64_t t0 = 0;
    double rate = 0.0; // 0: not started
    uint64_t latest = 0;
    uint64_t firstNumber = 1;
};

} // namespace ViveSystem
