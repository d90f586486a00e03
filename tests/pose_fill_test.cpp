// The pose read: which devices get a record, what each field holds, and the no-session case.
#include "sim_session.h"
#include "support.h"

#include <legacy/legacy_records.h>
#include <legacy/status.h>
#include <legacy/vr_driver.h>

#include <openvr.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <string>

using namespace ViveSystem;
using namespace testing_support;

namespace {

constexpr unsigned char kMarker = 0x5A;

struct Poses {
    _TrackedDevicePose r[16];
    Poses() { std::memset(r, kMarker, sizeof r); }
    bool untouched(int i) const
    {
        const auto* p = reinterpret_cast<const unsigned char*>(&r[i]);
        for (size_t b = 0; b < sizeof(_TrackedDevicePose); ++b)
            if (p[b] != kMarker)
                return false;
        return true;
    }
    bool rowEndsUntouched(int i) const
    {
        for (int row = 0; row < 3; ++row) {
            unsigned char bytes[4];
            std::memcpy(bytes, &r[i].rotation[row][3], 4);
            for (unsigned char b : bytes)
                if (b != kMarker)
                    return false;
        }
        return true;
    }
};

vr::TrackedDevicePose_t rawPose(float x, float y, float z, float vx, float vy, float vz, int32_t result)
{
    vr::TrackedDevicePose_t p{};
    const float yaw = 0.5f;
    const float m[3][4] = {{std::cos(yaw), 0, std::sin(yaw), x}, {0, 1, 0, y}, {-std::sin(yaw), 0, std::cos(yaw), z}};
    std::memcpy(p.mDeviceToAbsoluteTracking.m, m, sizeof m);
    p.vVelocity.v[0] = vx;
    p.vVelocity.v[1] = vy;
    p.vVelocity.v[2] = vz;
    p.vAngularVelocity.v[0] = 0.25f;
    p.vAngularVelocity.v[1] = -0.5f;
    p.vAngularVelocity.v[2] = 0.75f;
    p.eTrackingResult = static_cast<vr::ETrackingResult>(result);
    return p;
}

class Fill : public SimSession {
protected:
    Fill()
    {
        std::memset(raw, 0, sizeof raw);
        std::memset(known, 0, sizeof known);
    }
    // The legacy read's labelling of the query, then its fill.
    int fill(float stamp, _TrackedDevicePose* out)
    {
        labelIndices(sys, raw, 16, known, kLegacyLabels);
        sampleFrame frame{};
        frame.count = 16;
        for (uint32_t i = 0; i < 16; ++i)
            sampleIndex(raw[i], known[i], frame.devices[i]);
        return fillPoseRecords(frame, stamp, out);
    }
    vr::TrackedDevicePose_t raw[16];
    KnownDevice known[16];
};

} // namespace

TEST_F(Fill, QualifyingDevicesArePackedFromTheFront)
{
    ASSERT_NE(sys, nullptr);
    vrsim_set_device(0, 1, "HMD-0", 1);
    vrsim_set_device(3, 2, "CTRL-3", 1);
    vrsim_set_device(7, 3, "TRK-7", 0);
    raw[0] = rawPose(0.1f, 1.7f, -0.2f, 0.0f, 0.0f, 0.01f, 200);
    raw[3] = rawPose(0.3f, 1.0f, 0.4f, 1.0f, 0.0f, 0.0f, 200);
    raw[7] = rawPose(-0.5f, 0.9f, 0.0f, 0.0f, 0.2f, 0.0f, 201); // running, out of range

    Poses out;
    ASSERT_EQ(fill(123.5f, out.r), 3);
    const int indices[] = {0, 3, 7};
    const int classes[] = {1, 2, 3};
    const char* serials[] = {"HMD-0", "CTRL-3", "TRK-7"};
    for (int n = 0; n < 3; ++n) {
        const _TrackedDevicePose& rec = out.r[n];
        const vr::TrackedDevicePose_t& src = raw[indices[n]];
        EXPECT_EQ(rec.index, indices[n]);
        EXPECT_EQ(rec.deviceClass, classes[n]);
        EXPECT_STREQ(rec.serial, serials[n]);
        for (size_t b = std::strlen(serials[n]); b < sizeof rec.serial; ++b)
            ASSERT_EQ(rec.serial[b], 0) << "serial field is cleared past its text";
        EXPECT_EQ(rec.timestampMs, 123.5f);
        for (int row = 0; row < 3; ++row) {
            EXPECT_EQ(rec.position[row], src.mDeviceToAbsoluteTracking.m[row][3]);
            for (int col = 0; col < 3; ++col)
                EXPECT_EQ(rec.rotation[row][col], src.mDeviceToAbsoluteTracking.m[row][col]);
            EXPECT_EQ(rec.velocity[row], src.vVelocity.v[row]);
            EXPECT_EQ(rec.angularVelocity[row], src.vAngularVelocity.v[row]);
        }
        // Rotation by 0.5 rad about y.
        EXPECT_NEAR(rec.quaternion[0], std::cos(0.25f), 1e-6f);
        EXPECT_NEAR(rec.quaternion[1], 0.0f, 1e-6f);
        EXPECT_NEAR(rec.quaternion[2], std::sin(0.25f), 1e-6f);
        EXPECT_NEAR(rec.quaternion[3], 0.0f, 1e-6f);
        EXPECT_TRUE(out.rowEndsUntouched(n)) << "the fourth float of each row is never written";
    }
    EXPECT_EQ(out.r[0].trackingOk, 1);
    EXPECT_EQ(out.r[2].trackingOk, 0) << "tracking result 201 is not OK";
    for (int i = 3; i < 16; ++i)
        EXPECT_TRUE(out.untouched(i)) << i;
}

TEST_F(Fill, SkipRules)
{
    ASSERT_NE(sys, nullptr);
    vrsim_set_device(0, 1, "NO-RESULT", 1);
    raw[0] = rawPose(0, 0, 0, 1, 0, 0, 0);
    vrsim_set_device(1, 2, "STILL", 1);
    raw[1] = rawPose(0, 0, 0, 0.0f, -0.0f, 0.0f, 200);
    vrsim_set_device(2, 4, "BASE", 1);
    raw[2] = rawPose(0, 0, 0, 1, 0, 0, 200);
    vrsim_set_device(3, 0, nullptr, 0); // class 0
    raw[3] = rawPose(0, 0, 0, 1, 0, 0, 200);
    vrsim_set_device(4, 5, "DISPLAY", 1);
    raw[4] = rawPose(0, 0, 0, 1, 0, 0, 200);
    vrsim_set_device(5, 2, "NAN-VELOCITY", 1); // NaN never compares equal to zero: not skipped
    raw[5] = rawPose(0, 0, 0, std::numeric_limits<float>::quiet_NaN(), 0, 0, 200);
    vrsim_set_device(6, 3, "SLOW", 1); // tiny but non-zero velocity counts
    raw[6] = rawPose(0, 0, 0, 0, 0, 1e-20f, 101);

    Poses out;
    ASSERT_EQ(fill(0.0f, out.r), 2);
    EXPECT_STREQ(out.r[0].serial, "NAN-VELOCITY");
    EXPECT_STREQ(out.r[1].serial, "SLOW");
    EXPECT_EQ(out.r[1].trackingOk, 0);
    EXPECT_TRUE(out.untouched(2));
}

TEST_F(Fill, SerialsInRecordsMatchThoseOfEvents)
{
    ASSERT_NE(sys, nullptr);
    const std::string longSerial(80, 'Q');
    vrsim_set_device(0, 2, longSerial.c_str(), 1);
    vrsim_set_device(1, 2, "FAILS", 1);
    vrsim_set_serial_error(1, vr::TrackedProp_CouldNotContactServer);
    raw[0] = rawPose(0, 0, 0, 1, 0, 0, 200);
    raw[1] = rawPose(0, 0, 0, 1, 0, 0, 200);
    Poses out;
    ASSERT_EQ(fill(0.0f, out.r), 2);
    EXPECT_EQ(std::string(out.r[0].serial), longSerial.substr(0, 63));
    EXPECT_EQ(out.r[0].serial[63], 0);
    // A failed query still gives a record, with an empty serial.
    EXPECT_EQ(out.r[1].serial[0], 0);
    EXPECT_EQ(out.r[1].index, 1);
}

namespace {

class Read : public ::testing::Test {
protected:
    Read()
    {
        vrsim_reset();
        driver = std::make_unique<vrDriver>();
        driver->discovery().setLoopPeriods(10ms, 10ms);
        driver->setFramePeriodMs(1.0);
    }
    ~Read() override
    {
        driver.reset();
        vrsim_reset();
    }
    std::unique_ptr<vrDriver> driver;
};

} // namespace

TEST_F(Read, WithoutASessionReportsNoSessionAndLeavesTheArray)
{
    setLastError(DeviceError_None);
    Poses out;
    const int64_t before = driver->lastWaitEndNs();
    driver->readPoses(out.r);
    EXPECT_EQ(lastError(), DeviceError_NoSession);
    for (int i = 0; i < 16; ++i)
        EXPECT_TRUE(out.untouched(i));
    EXPECT_GT(driver->lastWaitEndNs(), before) << "the wait happened all the same";
    EXPECT_EQ(counters().pose_queries, 0u);
}

TEST_F(Read, OneQueryInTheStandingUniverseAndOneTimeStampPerRead)
{
    typicalRig();
    driver->start();
    ASSERT_TRUE(waitUntil([&] { return driver->hasSession(); }));
    setLastError(DeviceError_None);
    Poses out;
    const uint32_t queries = counters().pose_queries;
    driver->readPoses(out.r);
    EXPECT_EQ(lastError(), DeviceError_None) << "a successful read leaves the word alone";
    EXPECT_EQ(counters().pose_queries, queries + 1);
    EXPECT_EQ(counters().last_pose_origin, vr::TrackingUniverseStanding);
    EXPECT_EQ(counters().last_pose_prediction, 0.0f);
    ASSERT_EQ(out.r[2].index, 2);
    EXPECT_TRUE(out.untouched(3));
    EXPECT_EQ(out.r[0].timestampMs, out.r[1].timestampMs);
    EXPECT_EQ(out.r[1].timestampMs, out.r[2].timestampMs);
    EXPECT_GT(out.r[0].timestampMs, 0.0f);

    // Stamps are milliseconds since construction and move forward with reads.
    driver->setFramePeriodMs(20.0);
    driver->readPoses(out.r);
    const float first = out.r[0].timestampMs;
    driver->readPoses(out.r);
    EXPECT_GE(out.r[0].timestampMs - first, 19.0f) << "stamps are in milliseconds";
}

// Serials and classes come from discovery: a steady read asks the runtime once. A controller
// that moves to a new index while a tracker takes its old one (between two passes) is found at
// its new index in that very read, and its old index asked again, so no serial labels two records.
TEST_F(Read, ASteadyReadAsksOnceAndALabelNeverLies)
{
    typicalRig();
    driver->discovery().setLoopPeriods(500ms, 500ms);
    globalLog().clear();
    driver->setHandler(recordEvent);
    driver->start();
    ASSERT_TRUE(globalLog().waitForCount(4)); // opened, and the three devices: the table is complete
    Poses out;
    driver->readPoses(out.r);
    bool measured = false;
    for (int attempt = 0; attempt < 5 && !measured; ++attempt) {
        const vrsim_counters before = counters();
        for (int n = 0; n < 20; ++n)
            driver->readPoses(out.r);
        const vrsim_counters after = counters();
        if (after.event_polls != before.event_polls)
            continue; // a discovery pass came between: count again
        measured = true;
        EXPECT_EQ(after.pose_queries - before.pose_queries, 20u);
        EXPECT_EQ(after.class_queries + after.serial_queries + after.connected_queries,
                  before.class_queries + before.serial_queries + before.connected_queries);
    }
    ASSERT_TRUE(measured);

    vrsim_set_device(9, 2, "LHR-CTRL0002", 1);
    setPose(9, 0.5f, 1.0f, 0.0f);
    vrsim_set_device(2, 3, "LHR-TRACKER9", 1);
    Poses moved;
    driver->readPoses(moved.r);
    std::map<std::string, int> labels;
    for (const _TrackedDevicePose& p : moved.r) {
        if (p.deviceClass == 0 || p.deviceClass == 0x5A5A5A5A)
            break;
        EXPECT_TRUE(labels.emplace(p.serial, p.index).second) << p.serial << " twice";
    }
    EXPECT_EQ(labels["LHR-CTRL0002"], 9);
    EXPECT_EQ(labels["LHR-TRACKER9"], 2);
}
