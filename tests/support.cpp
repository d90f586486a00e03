#include "support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace testing_support {

void EventLog::add(int count, ViveSystem::_DeviceEvent event, const ViveSystem::_DeviceEventArg& arg)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(Event{count, event, arg});
    }
    changed_.notify_all();
}

std::vector<Event> EventLog::snapshot() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

size_t EventLog::size() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return events_.size();
}

void EventLog::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
}

bool EventLog::waitFor(const std::function<bool(const std::vector<Event>&)>& pred,
                       std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return pred(events_); });
}

bool EventLog::waitForCount(size_t n, std::chrono::milliseconds timeout) const
{
    return waitFor([n](const std::vector<Event>& e) { return e.size() >= n; }, timeout);
}

EventLog& globalLog()
{
    static EventLog log;
    return log;
}

void recordEvent(int count, ViveSystem::_DeviceEvent event, ViveSystem::_DeviceEventArg arg)
{
    globalLog().add(count, event, arg);
}

bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

vrsim_counters counters()
{
    vrsim_counters c{};
    vrsim_get_counters(&c);
    return c;
}

void setPose(uint32_t index, float x, float y, float z, float yaw, float vx, float vy, float vz, int32_t result)
{
    const float c = std::cos(yaw), s = std::sin(yaw);
    const float m[12] = {c, 0, s, x, 0, 1, 0, y, -s, 0, c, z};
    const float v[3] = {vx, vy, vz};
    const float w[3] = {0.0f, 5.0f * std::sqrt(vx * vx + vy * vy + vz * vz), 0.0f};
    vrsim_set_pose(index, m, v, w, result);
}

void typicalRig()
{
    vrsim_set_device(0, 1, "LHR-HMD00001", 1);
    vrsim_set_device(1, 2, "LHR-CTRL0001", 1);
    vrsim_set_device(2, 2, "LHR-CTRL0002", 1);
    setPose(0, 0.0f, 1.7f, 0.0f);
    setPose(1, -0.3f, 1.0f, -0.2f);
    setPose(2, 0.3f, 1.0f, -0.2f);
}

bool argIs(const ViveSystem::_DeviceEventArg& arg, const char* serial, int a, int b)
{
    const size_t n = std::strlen(serial);
    if (n > 63 || std::memcmp(arg.serial, serial, n) != 0)
        return false;
    for (size_t i = n; i < sizeof arg.serial; ++i)
        if (arg.serial[i] != 0)
            return false;
    return arg.index == a && arg.index2 == b;
}

void expectTypicalFirstEvents(const std::vector<Event>& e)
{
    using namespace ViveSystem;
    ASSERT_GE(e.size(), 4u);
    EXPECT_EQ(e[0].count, 0);
    EXPECT_EQ(e[0].event, DeviceEvent_SessionOpened);
    EXPECT_TRUE(argIs(e[0].arg, "", 0, 0));
    EXPECT_EQ(e[1].event, DeviceEvent_HmdConnected);
    EXPECT_TRUE(argIs(e[1].arg, "LHR-HMD00001", 0, 0));
    EXPECT_EQ(e[2].event, DeviceEvent_ControllerConnected);
    EXPECT_TRUE(argIs(e[2].arg, "LHR-CTRL0001", 1, 1));
    EXPECT_EQ(e[3].event, DeviceEvent_ControllerConnected);
    EXPECT_TRUE(argIs(e[3].arg, "LHR-CTRL0002", 2, 2));
    for (size_t i = 1; i < 4; ++i)
        EXPECT_EQ(e[i].count, 3);
}

} // namespace testing_support
