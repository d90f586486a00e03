// Who owns what when a host copies, releases and destroys factories and helpers in legal but
// unusual orders, also from several threads. Run with an allocator that reuses freed memory at
// once (see CMakeLists.txt), so that a driver's address is soon another driver's.
#include "support.h"

#include <legacy/status.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace ViveSystem;
using namespace testing_support;

namespace {

class Ownership : public ::testing::Test {
protected:
    Ownership() { vrsim_reset(); }
    ~Ownership() override { vrsim_reset(); }
};

// The status a status object writes, or -1 when it is unbound (and so writes nothing).
int statusOf(orvane::istat* stat)
{
    _DeviceError e = static_cast<_DeviceError>(-1);
    stat->read(&e);
    return static_cast<int>(e);
}

} // namespace

TEST_F(Ownership, ObjectsLeftAliveByADestroyedCopyAreUnboundWhenTheDriverGoes)
{
    auto* a = new Tavrin;
    a->create_dev("", "");
    auto* b = new Tavrin(*a);
    orvane::idata* data = b->create_data("");
    orvane::istat* stat = b->create_stat("");
    delete b; // no release: its objects stay alive, the host's from now on
    a->release();
    delete a;

    EXPECT_EQ(statusOf(stat), -1);
    EXPECT_EQ(lastError(), DeviceError_NotBound);
    setLastError(DeviceError_None);
    _TrackedDevicePose poses[16] = {};
    data->read(poses);
    EXPECT_EQ(lastError(), DeviceError_NotBound);
    delete data;
    delete stat;
}

TEST_F(Ownership, FactoriesOnTwoThreadsNeverUnbindEachOthersObjects)
{
    std::atomic<int> unbound{0};
    auto churn = [&] {
        for (int n = 0; n < 20000; ++n) {
            Tavrin f;
            f.create_dev("", "");
            orvane::istat* stat = f.create_stat("");
            orvane::icmd* cmd = f.create_cmd("");
            if (stat == nullptr || cmd == nullptr || statusOf(stat) != DeviceError_NoSession)
                ++unbound;
            f.release();
        }
    };
    std::thread a(churn), b(churn);
    a.join();
    b.join();
    EXPECT_EQ(unbound.load(), 0);
}

TEST_F(Ownership, AFactoryCopiedOrAssignedFromAHelperDoesNotKeepItsDriverAlive)
{
    typicalRig();
    auto* helper = new TavrinHelper;
    _DeviceError err = DeviceError_Unknown;
    ASSERT_TRUE(helper->start(err));
    ASSERT_TRUE(waitUntil([] { return counters().open_sessions == 1; }));
    {
        Tavrin copied(*helper);
        Tavrin assigned;
        assigned = *helper;
        delete helper; // the last helper: stops and frees its driver
        copied.release();
        assigned.release();
    }
    EXPECT_EQ(counters().open_sessions, 0u);
    EXPECT_EQ(counters().shutdown_calls, 1u);
}
