#include "event_queue.h"

namespace ViveSystem {

void eventQueue::push(const tavrin_event& event)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (size == kCapacity) {
            // The oldest goes; the next one (there is one: the ring holds more than one) carries
            // the count of those lost before it.
            const uint32_t lost = ring[head].dropped + 1;
            head = (head + 1) % kCapacity;
            --size;
            ring[head].dropped += lost;
        }
        ring[(head + size) % kCapacity] = event;
        ++size;
    }
    arrived.notify_one();
}

int32_t eventQueue::pop(tavrin_event* out, int32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex);
    const auto ready = [this] { return size > 0 || closed; };
    if (timeoutMs < 0)
        arrived.wait(lock, ready);
    else if (timeoutMs > 0)
        arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    if (size == 0 || closed)
        return 0;
    *out = ring[head];
    head = (head + 1) % kCapacity;
    --size;
    return 1;
}

void eventQueue::close()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        closed = true;
    }
    arrived.notify_all();
}

} // namespace ViveSystem
