// Discovery's findings as events, waiting for whoever polls them (a frame source's user): a fixed ring of 1024, so that pushing
// (on the discovery thread) never allocates. When it is full the oldest event goes, and the event
// that is then the oldest carries the count of those lost just before it.
#pragma once

#include <tavrin.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace ViveSystem {

class eventQueue {
public:
    static constexpr uint32_t kCapacity = 1024;
    static_assert(kCapacity > 1, "a full ring keeps an event to carry the count of those lost");

    void push(const tavrin_event& event);
    // 1 with *out filled, 0 when none came within timeoutMs (0 polls, negative waits until one
    // comes or the queue is closed). Any thread.
    int32_t pop(tavrin_event* out, int32_t timeoutMs);
    // Wakes every waiter (each returns 0); pops from then on return 0 at once. Whoever frees the
    // queue waits for the callers still inside pop (see tavrin_source_destroy).
    void close();

private:
    std::mutex mutex;
    std::condition_variable arrived;
    tavrin_event ring[kCapacity];
    uint32_t head = 0;
    uint32_t size = 0;
    bool closed = false;
};

} // namespace ViveSystem
