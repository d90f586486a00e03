// The public records and codes as compiled callers see them.
#include <tavrin.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <type_traits>

using namespace ViveSystem;

TEST(Records, CodesHaveTheirPublishedValues)
{
    EXPECT_EQ(DeviceError_None, 0);
    EXPECT_EQ(DeviceError_NoSession, 100);
    EXPECT_EQ(DeviceError_NotBound, 102);
    EXPECT_EQ(DeviceError_HmdInUse, 104);
    EXPECT_EQ(DeviceError_HmdNotFound, 201);
    EXPECT_EQ(DeviceError_Unknown, 0x0FFFFFFF);

    EXPECT_EQ(DeviceEvent_SessionOpened, 2);
    const _DeviceEvent connect[] = {DeviceEvent_HmdConnected, DeviceEvent_ControllerConnected,
                                    DeviceEvent_TrackerConnected};
    const _DeviceEvent disconnect[] = {DeviceEvent_HmdDisconnected, DeviceEvent_ControllerDisconnected,
                                       DeviceEvent_TrackerDisconnected};
    for (int c = 1; c <= 3; ++c) {
        EXPECT_EQ(connect[c - 1], 2 * c + 1);
        EXPECT_EQ(disconnect[c - 1], 2 * c + 2);
    }
    EXPECT_EQ(DeviceEvent_IndexChanged, 9);
}

TEST(Records, EnumerationsAre32BitAndCarryForeignValues)
{
    static_assert(std::is_same_v<std::underlying_type_t<_DeviceError>, std::int32_t>);
    static_assert(std::is_same_v<std::underlying_type_t<_DeviceEvent>, std::int32_t>);
    static_assert(std::is_same_v<std::underlying_type_t<_TrackingMod>, std::int32_t>);
    // A value outside the tables round-trips unchanged.
    const auto mode = static_cast<_TrackingMod>(-7);
    EXPECT_EQ(static_cast<int32_t>(mode), -7);
}

TEST(Records, ExtendedLayoutMapsTheSameFields)
{
    // The fields the extended layout shares with the base layout sit at the same offsets.
    EXPECT_EQ(offsetof(_TrackedDevicePoseEx, serial), offsetof(_TrackedDevicePose, serial));
    EXPECT_EQ(offsetof(_TrackedDevicePoseEx, index), offsetof(_TrackedDevicePose, index));
    EXPECT_EQ(offsetof(_TrackedDevicePoseEx, deviceClass), offsetof(_TrackedDevicePose, deviceClass));
    EXPECT_EQ(offsetof(_TrackedDevicePoseEx, trackingOk), offsetof(_TrackedDevicePose, trackingOk));
    EXPECT_EQ(offsetof(_TrackedDevicePoseEx, timestampMs), offsetof(_TrackedDevicePose, timestampMs));
    EXPECT_EQ(sizeof(_TrackedDevicePose::rotation), 48u);
    EXPECT_EQ(sizeof(_TrackedDevicePoseEx::rotation), 48u);
    EXPECT_TRUE(std::is_trivially_copyable_v<_TrackedDevicePose>);
    EXPECT_TRUE(std::is_trivially_copyable_v<_TrackedDevicePoseEx>);
    EXPECT_TRUE(std::is_trivially_copyable_v<_DeviceEventArg>);
}
