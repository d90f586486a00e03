// The frame source's event queue: a full queue loses its oldest events, and the next event
// delivered says how many went just before it.
#include <discovery/event_queue.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

using ViveSystem::eventQueue;

namespace {
tavrin_event numbered(uint32_t n)
{
    tavrin_event e;
    std::memset(&e, 0, sizeof e);
    e.kind = TAVRIN_EVENT_DEVICE_ARRIVED;
    e.index = n;
    return e;
}
} // namespace

TEST(EventQueue, AFullQueueDropsTheOldestAndCountsThem)
{
    static eventQueue q; // large: not on the stack
    const uint32_t extra = 10;
    for (uint32_t n = 0; n < eventQueue::kCapacity + extra; ++n)
        q.push(numbered(n));
    tavrin_event e;
    ASSERT_EQ(q.pop(&e, 0), 1);
    EXPECT_EQ(e.index, extra) << "the oldest went";
    EXPECT_EQ(e.dropped, extra);
    ASSERT_EQ(q.pop(&e, 0), 1);
    EXPECT_EQ(e.dropped, 0u);
    for (uint32_t n = 2; n < eventQueue::kCapacity; ++n)
        ASSERT_EQ(q.pop(&e, 0), 1);
    EXPECT_EQ(e.index, eventQueue::kCapacity + extra - 1);
    EXPECT_EQ(q.pop(&e, 0), 0);

    // A waiter for ever is woken by close.
    std::thread waiter([&] {
        tavrin_event w;
        EXPECT_EQ(q.pop(&w, -1), 0);
    });
    q.close();
    waiter.join();
}
