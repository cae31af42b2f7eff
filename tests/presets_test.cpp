// Device presets: store and recall with the camera's memory commands, and the
// range of preset numbers reported to the host.
#include <limits.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_host.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

class PresetTest : public DriverTest {
protected:
    static void reconfigure(const std::string &key, int value) {
        fake::set_param(1, key, value);
        ASSERT_EQ(driver_param_changed(), 1);
        fake::clear_log();
    }
    // Continuous pan and zoom, left running.
    static void start_pan_and_zoom() {
        move_request req = absent();
        req.pan = 40.0f;
        req.zoom = 50.0f;
        ASSERT_EQ(driver_move_cont(&req), 1);
        fake::clear_log();
    }
};

// Host preset numbers count from 1, camera memory numbers from 0.
struct MemoryByte {
    int preset;
    const char *byte;
};
const MemoryByte memory_bytes[] = {{1, "00"}, {2, "01"}, {6, "05"}, {16, "0F"}, {128, "7F"}, {255, "FE"}};

TEST_F(PresetTest, StoreWritesTheMemorySetFrameAndNothingElse) {
    for (const MemoryByte &m : memory_bytes) {
        fake::clear_log();
        EXPECT_EQ(driver_set_device_preset(m.preset), 1) << m.preset;
        EXPECT_THAT(fake::calls(), ElementsAre(std::string("write 81 01 04 3F 01 ") + m.byte + " FF"))
            << m.preset;
    }
    EXPECT_STREQ(drivermsg, fake::drivermsg_marker);
}

TEST_F(PresetTest, StoreReportsSuccessEvenWhenTheWriteFails) {
    fake::fail_all_writes();
    EXPECT_EQ(driver_set_device_preset(3), 1);
    EXPECT_THAT(fake::calls(), ElementsAre("write 81 01 04 3F 01 02 FF"));
}

TEST_F(PresetTest, StoreDuringAMoveLeavesTheMoveRunning) {
    start_pan_and_zoom();
    EXPECT_EQ(driver_set_device_preset(4), 1);
    EXPECT_THAT(fake::calls(), ElementsAre("write 81 01 04 3F 01 03 FF"));
    // Pan and zoom are still recorded as moving: a stop sends both stop frames.
    fake::clear_log();
    driver_stop();
    EXPECT_THAT(fake::frames(), ElementsAre("write 81 01 06 01 00 00 03 03 FF", "write 81 01 04 07 00 FF"));
}

TEST_F(PresetTest, RecallStartsWritesAndCompletesWithTheConfiguredDelay) {
    for (const MemoryByte &m : memory_bytes) {
        fake::clear_log();
        EXPECT_EQ(driver_goto_device_preset(m.preset), 1) << m.preset;
        // Idle camera: no stop frame, no status report.
        EXPECT_THAT(fake::calls(), ElementsAre("started 1", std::string("write 81 01 04 3F 02 ") + m.byte + " FF",
                                               "completed 1 5"))
            << m.preset;
    }
}

TEST_F(PresetTest, RecallStopsMovingAxesBeforeTheRecallFrame) {
    start_pan_and_zoom();
    EXPECT_EQ(driver_goto_device_preset(2), 1);
    EXPECT_THAT(fake::calls(), ElementsAre("started 1", "write 81 01 06 01 00 00 03 03 FF", "write 81 01 04 07 00 FF",
                                           "write 81 01 04 3F 02 01 FF", "completed 1 5"));
    // The stop cleared the speeds: a following stop has nothing to send.
    fake::clear_log();
    driver_stop();
    EXPECT_THAT(fake::frames(), IsEmpty());
}

TEST_F(PresetTest, RecallStopsARunningTiltAndFocus) {
    move_request req = absent();
    req.tilt = -30.0f;
    req.focus = 20.0f;
    ASSERT_EQ(driver_move_cont(&req), 1);
    fake::clear_log();
    EXPECT_EQ(driver_goto_device_preset(1), 1);
    EXPECT_THAT(fake::calls(), ElementsAre("started 1", "write 81 01 06 01 00 00 03 03 FF", "write 81 01 04 08 00 FF",
                                           "write 81 01 04 3F 02 00 FF", "completed 1 5"));
}

TEST_F(PresetTest, RecallPassesTheDelayThroughIncludingZero) {
    for (int delay : {0, 1, 60}) {
        reconfigure("GoToPresetDelay", delay);
        EXPECT_EQ(driver_goto_device_preset(6), 1);
        EXPECT_THAT(fake::calls(), ElementsAre("started 1", "write 81 01 04 3F 02 05 FF",
                                               "completed 1 " + std::to_string(delay)));
    }
}

TEST_F(PresetTest, RecallReturnsWhatTheRecallWriteReturned) {
    // A failed recall still completes the action.
    fake::fail_write(1);
    EXPECT_EQ(driver_goto_device_preset(1), 0);
    EXPECT_THAT(fake::calls(), ElementsAre("started 1", "write 81 01 04 3F 02 00 FF", "completed 1 5"));

    fake::clear_log();
    fake::host().write_result = 7;
    EXPECT_EQ(driver_goto_device_preset(1), 7);
}

TEST_F(PresetTest, RecallResultIsTheRecallFrameNotTheStopFrames) {
    start_pan_and_zoom();
    // Stop frames succeed, the recall frame (third write) fails.
    fake::fail_write(3);
    EXPECT_EQ(driver_goto_device_preset(5), 0);
    EXPECT_THAT(fake::calls(), ElementsAre("started 1", "write 81 01 06 01 00 00 03 03 FF", "write 81 01 04 07 00 FF",
                                           "write 81 01 04 3F 02 04 FF", "completed 1 5"));

    start_pan_and_zoom();
    // Failing stop frames do not make the recall fail.
    fake::fail_write(1);
    fake::fail_write(2);
    EXPECT_EQ(driver_goto_device_preset(5), 1);
}

TEST_F(PresetTest, RangeIsOneToTheConfiguredMaximum) {
    int low = -1, high = -1;
    driver_device_preset_range(&low, &high);
    EXPECT_EQ(low, 1);
    EXPECT_EQ(high, 6);
    reconfigure("MaxDevicePresetnbr", 255);
    driver_device_preset_range(&low, &high);
    EXPECT_EQ(low, 1);
    EXPECT_EQ(high, 255);
    EXPECT_THAT(fake::calls(), IsEmpty());
}

TEST_F(PresetTest, RangeSkipsANullOutputAndStillFillsTheOther) {
    reconfigure("MaxDevicePresetnbr", 12);
    int low = -1, high = -1;
    driver_device_preset_range(nullptr, &high);
    EXPECT_EQ(high, 12);
    driver_device_preset_range(&low, nullptr);
    EXPECT_EQ(low, 1);
    driver_device_preset_range(nullptr, nullptr);
    EXPECT_THAT(fake::calls(), IsEmpty());
}

TEST_F(PresetTest, SecondSlotUsesItsOwnCameraNumberAndConfiguration) {
    driver_teardown();
    fake::reset(2);
    fake::set_param(2, "GoToPresetDelay", 9);
    fake::set_param(2, "MaxDevicePresetnbr", 40);
    ASSERT_EQ(driver_setup(), 1);
    camindex = 1;
    fake::clear_log();
    EXPECT_EQ(driver_goto_device_preset(3), 1);
    EXPECT_THAT(fake::calls(), ElementsAre("started 2", "write 81 01 04 3F 02 02 FF", "completed 2 9"));
    int low = 0, high = 0;
    driver_device_preset_range(&low, &high);
    EXPECT_EQ(high, 40);
    camindex = 0;
    driver_device_preset_range(&low, &high);
    EXPECT_EQ(high, 6);
}

// Preset 0 would put the terminator FF inside the frame and numbers above 255
// would wrap onto other presets: both are refused before anything reaches the
// host, with one error line naming the entry point.
TEST_F(PresetTest, NumbersOutsideOneTo255AreRefused) {
    start_pan_and_zoom();
    for (int preset : {0, 256, 257, -1, -255, INT_MIN, INT_MAX}) {
        fake::clear_log();
        EXPECT_EQ(driver_set_device_preset(preset), 0) << preset;
        EXPECT_THAT(fake::without_syslog(), IsEmpty()) << preset;
        ASSERT_EQ(fake::syslogs().size(), 1u) << preset;
        EXPECT_THAT(fake::syslogs()[0], HasSubstr("syslog 3 Error: tavrinode["));
        EXPECT_THAT(fake::syslogs()[0], HasSubstr("]driver_set_device_preset(): Refused"));

        fake::clear_log();
        EXPECT_EQ(driver_goto_device_preset(preset), 0) << preset;
        // No action, no stop of the running move, no frame.
        EXPECT_THAT(fake::without_syslog(), IsEmpty()) << preset;
        ASSERT_EQ(fake::syslogs().size(), 1u) << preset;
        EXPECT_THAT(fake::syslogs()[0], HasSubstr("syslog 3 Error: tavrinode["));
        EXPECT_THAT(fake::syslogs()[0], HasSubstr("]driver_goto_device_preset(): Refused"));
    }
    // The move is still running and the driver still knows it.
    fake::clear_log();
    EXPECT_EQ(driver_goto_device_preset(255), 1);
    EXPECT_THAT(fake::calls(), ElementsAre("started 1", "write 81 01 06 01 00 00 03 03 FF", "write 81 01 04 07 00 FF",
                                           "write 81 01 04 3F 02 FE FF", "completed 1 5"));
    EXPECT_STREQ(drivermsg, fake::drivermsg_marker);
}

}  // namespace
