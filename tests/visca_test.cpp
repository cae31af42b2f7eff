// VISCA command layer: drive frames and their bookkeeping, stop-all, iris
// stepping, the status published to the host and the completion of idle
// actions.
#include <math.h>
#include <string.h>

#include <limits>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/core.h"
#include "fake_host.h"
#include "visca/visca.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

const float inf = std::numeric_limits<float>::infinity();
const float nan_f = std::numeric_limits<float>::quiet_NaN();

const char pt_stop[] = "write 81 01 06 01 00 00 03 03 FF";
const char zoom_stop[] = "write 81 01 04 07 00 FF";
const char focus_stop[] = "write 81 01 04 08 00 FF";
const char idle_status[] = "status 0 0 0 0 0 0 0 0 0 0 0 2 2 2";

// Same bits, so that -0.0 and NaN are told apart from 0.0.
bool same_bits(float a, float b) { return memcmp(&a, &b, sizeof a) == 0; }

class ViscaTest : public DriverTest {
protected:
    camera_params &cam() { return cam_params[0]; }
};

// ---- drive senders ----

enum Sender { PAN, TILT, ZOOM, FOCUS };

int send(Sender s, int slot, float speed) {
    switch (s) {
    case PAN:
        return send_pan_drive(slot, speed);
    case TILT:
        return send_tilt_drive(slot, speed);
    case ZOOM:
        return send_zoom_drive(slot, speed);
    case FOCUS:
        return send_focus_drive(slot, speed);
    }
    return -1;
}

struct DriveCase {
    Sender sender;
    float speed;
    int lens_speed;  // zoom_speed or focus_speed of the record
    const char *frame;
};

const DriveCase drive_cases[] = {
    {PAN, -1.0f, 100, "81 01 06 01 01 00 01 03 FF"},
    {PAN, 100.0f, 100, "81 01 06 01 12 00 02 03 FF"},
    {PAN, 50.0f, 100, "81 01 06 01 09 00 02 03 FF"},
    {PAN, -50.0f, 100, "81 01 06 01 09 00 01 03 FF"},
    {PAN, 150.0f, 100, "81 01 06 01 1A 00 02 03 FF"},
    {PAN, -0.0f, 100, "81 01 06 01 00 00 02 03 FF"},
    {PAN, -0.5f, 100, "81 01 06 01 00 00 01 03 FF"},
    {PAN, 1000.0f, 100, "81 01 06 01 7F 00 02 03 FF"},
    {PAN, -inf, 100, "81 01 06 01 7F 00 01 03 FF"},
    {PAN, nan_f, 100, "81 01 06 01 00 00 02 03 FF"},
    {TILT, -50.0f, 100, "81 01 06 01 00 07 03 02 FF"},
    {TILT, 100.0f, 100, "81 01 06 01 00 0E 03 01 FF"},
    {TILT, 1.0f, 100, "81 01 06 01 00 01 03 01 FF"},
    {TILT, -0.0f, 100, "81 01 06 01 00 00 03 01 FF"},
    {TILT, 1e30f, 100, "81 01 06 01 00 7F 03 01 FF"},
    {TILT, -1e30f, 100, "81 01 06 01 00 7F 03 02 FF"},
    {ZOOM, 5.0f, 100, "81 01 04 07 27 FF"},
    {ZOOM, -0.5f, 100, "81 01 04 07 37 FF"},
    {ZOOM, -0.0f, 100, "81 01 04 07 27 FF"},
    {ZOOM, 5.0f, 1, "81 01 04 07 20 FF"},
    {ZOOM, -5.0f, 1, "81 01 04 07 30 FF"},
    {ZOOM, 80.0f, 50, "81 01 04 07 23 FF"},
    {ZOOM, -80.0f, 58, "81 01 04 07 34 FF"},
    // Configured speeds out of range keep the nibble in 0..7.
    {ZOOM, 5.0f, 228, "81 01 04 07 27 FF"},
    {ZOOM, -5.0f, 2147483647, "81 01 04 07 37 FF"},
    {ZOOM, 5.0f, -5, "81 01 04 07 20 FF"},
    {ZOOM, -5.0f, 0, "81 01 04 07 30 FF"},
    // Focus: positive drives near (3p), negative far (2p).
    {FOCUS, 10.0f, 100, "81 01 04 08 37 FF"},
    {FOCUS, -10.0f, 100, "81 01 04 08 27 FF"},
    {FOCUS, -0.0f, 100, "81 01 04 08 37 FF"},
    {FOCUS, 1.0f, 16, "81 01 04 08 31 FF"},
    {FOCUS, -1.0f, 30, "81 01 04 08 22 FF"},
    {FOCUS, 10.0f, 1000, "81 01 04 08 37 FF"},
    {FOCUS, -10.0f, -2147483647 - 1, "81 01 04 08 20 FF"},
};

TEST_F(ViscaTest, DriveSendersWriteOneFrameAndRecordTheSpeed) {
    for (const DriveCase &c : drive_cases) {
        cam().zoom_speed = c.lens_speed;
        cam().focus_speed = c.lens_speed;
        fake::clear_log();
        EXPECT_EQ(send(c.sender, 0, c.speed), 1) << c.frame;
        EXPECT_THAT(fake::calls(), ElementsAre(std::string("write ") + c.frame)) << c.speed;
        EXPECT_TRUE(same_bits(cam().axis_speed[c.sender], c.speed)) << c.frame;
        // No sender touches the states or the iris entry.
        for (int a = 0; a < 5; ++a) {
            EXPECT_EQ(cam().axis_state[a], 0) << c.frame;
        }
        EXPECT_EQ(cam().axis_speed[AXIS_IRIS], 0.0f);
    }
}

TEST_F(ViscaTest, FailedWriteIsReturnedAndTheSpeedStillRecorded) {
    for (Sender s : {PAN, TILT, ZOOM, FOCUS}) {
        fake::fail_write(1);
        EXPECT_EQ(send(s, 0, -42.0f), 0) << s;
        EXPECT_EQ(cam().axis_speed[s], -42.0f) << s;
    }
    EXPECT_EQ(fake::frames().size(), 4u);  // never retried
}

TEST_F(ViscaTest, SendersActOnTheSlotTheyAreGiven) {
    fake::reset(3);
    fake::set_param(3, "ZoomSpeed", 1);
    fake::set_param(3, "FocusSpeed", 44);
    ASSERT_EQ(driver_setup(), 1);
    camindex = 0;
    fake::clear_log();
    send_zoom_drive(2, 5.0f);
    send_focus_drive(2, -5.0f);
    send_pan_drive(2, 30.0f);
    send_tilt_drive(2, -20.0f);
    EXPECT_THAT(fake::frames(), ElementsAre("write 81 01 04 07 20 FF", "write 81 01 04 08 23 FF",
                                            "write 81 01 06 01 05 00 02 03 FF",
                                            "write 81 01 06 01 00 03 03 02 FF"));
    EXPECT_THAT(cam_params[2].axis_speed, ElementsAre(30.0f, -20.0f, 5.0f, -5.0f, 0.0f));
    EXPECT_THAT(cam_params[0].axis_speed, ElementsAre(0.0f, 0.0f, 0.0f, 0.0f, 0.0f));
    EXPECT_THAT(cam_params[1].axis_speed, ElementsAre(0.0f, 0.0f, 0.0f, 0.0f, 0.0f));
}

TEST_F(ViscaTest, FocusDriveSwitchesToManualFocusOnlyWhenAutofocusWasOn) {
    cam().autofocus_on = 1;
    EXPECT_EQ(send_focus_drive(0, 10.0f), 1);
    EXPECT_THAT(fake::frames(), ElementsAre("write 81 01 04 38 03 FF", "write 81 01 04 08 37 FF"));
    EXPECT_EQ(cam().autofocus_on, 0);
    fake::clear_log();
    EXPECT_EQ(send_focus_drive(0, 10.0f), 1);
    EXPECT_THAT(fake::frames(), ElementsAre("write 81 01 04 08 37 FF"));
}

TEST_F(ViscaTest, FocusDriveResultIsTheDriveFramesNotTheModeFrames) {
    cam().autofocus_on = 1;
    fake::fail_write(1);  // the mode frame
    EXPECT_EQ(send_focus_drive(0, -3.0f), 1);
    EXPECT_EQ(cam().autofocus_on, 0);  // stays off although the write failed
    cam().autofocus_on = 1;
    fake::fail_write(2);  // the drive frame
    EXPECT_EQ(send_focus_drive(0, -3.0f), 0);
    EXPECT_EQ(cam().autofocus_on, 0);
    EXPECT_EQ(cam().axis_speed[AXIS_FOCUS], -3.0f);
    EXPECT_EQ(fake::frames().size(), 4u);
}

TEST_F(ViscaTest, FocusDriveThroughTheEntryPointsAfterAutofocus) {
    ASSERT_EQ(driver_autofocus(1), 1);
    move_request req = absent();
    req.focus = 50.0f;
    fake::clear_log();
    ASSERT_EQ(driver_move_cont(&req), 1);
    EXPECT_THAT(fake::frames(), ElementsAre("write 81 01 04 38 03 FF", "write 81 01 04 08 37 FF"));
    // Focus driving, manual focus now reported (mode 2).
    EXPECT_THAT(fake::calls(), ::testing::Contains("status 0 0 0 0 3 0 0 0 0 0 1 2 2 2"));
    req.focus = -50.0f;
    fake::clear_log();
    ASSERT_EQ(driver_move_cont(&req), 1);
    EXPECT_THAT(fake::frames(), ElementsAre("write 81 01 04 08 27 FF"));
    EXPECT_EQ(cam().axis_speed[AXIS_FOCUS], -50.0f);
}

// A pan drive carries the tilt stop code; the tilt keeps its recorded speed,
// and one pan/tilt stop later serves both.
TEST_F(ViscaTest, AxisSpeedBookkeepingThroughContinuousMoves) {
    move_request req = absent();
    req.pan = 40.0f;
    ASSERT_EQ(driver_move_cont(&req), 1);
    EXPECT_EQ(cam().axis_speed[AXIS_PAN], 40.0f);
    req = absent();
    req.tilt = -30.0f;
    ASSERT_EQ(driver_move_cont(&req), 1);
    EXPECT_EQ(cam().axis_speed[AXIS_TILT], -30.0f);
    EXPECT_EQ(cam().axis_speed[AXIS_PAN], 40.0f);
    req = absent();
    req.zoom = -7.0f;
    ASSERT_EQ(driver_move_cont(&req), 1);
    EXPECT_THAT(cam().axis_speed, ElementsAre(40.0f, -30.0f, -7.0f, 0.0f, 0.0f));
    fake::clear_log();
    stop_all_axes(0);
    EXPECT_THAT(fake::calls(), ElementsAre(pt_stop, zoom_stop));
    EXPECT_THAT(cam().axis_speed, ElementsAre(0.0f, 0.0f, 0.0f, 0.0f, 0.0f));
    EXPECT_THAT(cam().axis_state, ElementsAre(0, 0, 0, 0, 0));
}

// ---- stop_all_axes ----

struct StopCase {
    float pan, tilt, zoom, focus;
    std::vector<std::string> frames;
};

TEST_F(ViscaTest, StopAllSendsOneStopPerMovingGroupInOrder) {
    const float big = 32765.0f;
    const StopCase cases[] = {
        {0, 0, 0, 0, {}},
        {50, 0, 0, 0, {pt_stop}},
        {0, -1, 0, 0, {pt_stop}},
        {1, 0, 0, 0, {pt_stop}},
        {50, -50, 0, 0, {pt_stop}},
        {0, 0, 5, 0, {zoom_stop}},
        {0, 0, 0, -5, {focus_stop}},
        {0, 0, 5, -5, {zoom_stop, focus_stop}},
        {-100, 3, -1, 1, {pt_stop, zoom_stop, focus_stop}},
        // Dead band (-1, 1): not moving.
        {0.999f, -0.999f, 0.5f, -0.5f, {}},
        {-0.0f, -0.0f, -0.0f, -0.0f, {}},
        // 32765 and above never count as moving; just below does.
        {big, big, big, big, {}},
        {40000, inf, 1e30f, big, {}},
        {32764.0f, 0, 32764.0f, 0, {pt_stop, zoom_stop}},
        {0, big, 0, 32764.0f, {focus_stop}},
        // Large negative values are moving.
        {-40000, 0, -inf, 0, {pt_stop, zoom_stop}},
        {nan_f, nan_f, nan_f, nan_f, {}},
    };
    for (const StopCase &c : cases) {
        cam().axis_speed[AXIS_PAN] = c.pan;
        cam().axis_speed[AXIS_TILT] = c.tilt;
        cam().axis_speed[AXIS_ZOOM] = c.zoom;
        cam().axis_speed[AXIS_FOCUS] = c.focus;
        cam().axis_speed[AXIS_IRIS] = 9.0f;
        for (uint8_t &s : cam().axis_state) {
            s = 3;
        }
        fake::clear_log();
        stop_all_axes(0);
        EXPECT_EQ(fake::calls(), c.frames) << c.pan << " " << c.tilt << " " << c.zoom << " " << c.focus;
        // Cleared whatever was sent; the iris entries are left alone.
        EXPECT_THAT(cam().axis_speed, ElementsAre(0.0f, 0.0f, 0.0f, 0.0f, 9.0f));
        EXPECT_THAT(cam().axis_state, ElementsAre(0, 0, 0, 0, 3));
    }
}

TEST_F(ViscaTest, StopAllIgnoresFailedWritesAndNeverRetries) {
    cam().axis_speed[AXIS_PAN] = 20.0f;
    cam().axis_speed[AXIS_FOCUS] = 20.0f;
    cam().axis_state[AXIS_PAN] = 3;
    fake::fail_all_writes();
    stop_all_axes(0);
    EXPECT_THAT(fake::calls(), ElementsAre(pt_stop, focus_stop));
    EXPECT_THAT(cam().axis_speed, ElementsAre(0.0f, 0.0f, 0.0f, 0.0f, 0.0f));
    EXPECT_EQ(cam().axis_state[AXIS_PAN], 0);
}

TEST_F(ViscaTest, StopAllWorksOnTheSlotItIsGiven) {
    fake::reset(2);
    ASSERT_EQ(driver_setup(), 1);
    cam_params[0].axis_speed[AXIS_ZOOM] = 50.0f;
    cam_params[1].axis_speed[AXIS_PAN] = 50.0f;
    camindex = 0;
    fake::clear_log();
    stop_all_axes(1);
    EXPECT_THAT(fake::calls(), ElementsAre(pt_stop));
    EXPECT_EQ(cam_params[0].axis_speed[AXIS_ZOOM], 50.0f);
    EXPECT_EQ(cam_params[1].axis_speed[AXIS_PAN], 0.0f);
}

// ---- step_iris ----

TEST_F(ViscaTest, StepIrisZeroSwitchesModeAndSettles) {
    const int64_t start = fake::host().clock_ns;
    EXPECT_EQ(step_iris(0, 0), 1);
    EXPECT_THAT(fake::calls(), ElementsAre("write 81 01 04 39 0D FF", "sleep 50000"));
    EXPECT_EQ(fake::host().clock_ns - start, 50000LL * 1000);
}

TEST_F(ViscaTest, StepIrisUpAndDown) {
    const int64_t start = fake::host().clock_ns;
    EXPECT_EQ(step_iris(0, 3), 1);
    EXPECT_THAT(fake::calls(),
                ElementsAre("write 81 01 04 39 0D FF", "sleep 50000", "write 81 01 04 0D 02 FF",
                            "sleep 200000", "write 81 01 04 0D 02 FF", "sleep 200000",
                            "write 81 01 04 0D 02 FF", "sleep 200000"));
    EXPECT_EQ(fake::host().clock_ns - start, 650000LL * 1000);
    fake::clear_log();
    EXPECT_EQ(step_iris(0, -2), 1);
    EXPECT_THAT(fake::calls(), ElementsAre("write 81 01 04 39 0D FF", "sleep 50000", "write 81 01 04 0D 03 FF",
                                           "sleep 200000", "write 81 01 04 0D 03 FF", "sleep 200000"));
}

TEST_F(ViscaTest, StepIrisTurnsAutoIrisOffAndLeavesTheIrisBookkeeping) {
    cam().autoiris_on = 1;
    cam().axis_state[AXIS_IRIS] = 3;
    EXPECT_EQ(step_iris(0, 1), 1);
    EXPECT_EQ(cam().autoiris_on, 0);
    EXPECT_EQ(cam().axis_state[AXIS_IRIS], 3);  // the callers set and clear it
    EXPECT_EQ(cam().axis_speed[AXIS_IRIS], 0.0f);
    // Visible to the host as iris mode manual.
    fake::clear_log();
    report_status(0);
    EXPECT_THAT(fake::calls(), ElementsAre("status 0 0 0 3 0 0 0 0 0 1 0 2 2 2"));
}

TEST_F(ViscaTest, StepIrisIgnoresFailedWrites) {
    fake::fail_all_writes();
    EXPECT_EQ(step_iris(0, 2), 1);
    EXPECT_EQ(fake::frames().size(), 3u);
}

TEST_F(ViscaTest, StepIrisSuspendedDuringAStepGivesUp) {
    cam().autoiris_on = 1;
    fake::suspend_at_sleep(2);  // the first 200 ms sleep
    EXPECT_EQ(step_iris(0, -2), 0);
    EXPECT_THAT(fake::calls(), ElementsAre("write 81 01 04 39 0D FF", "sleep 50000", "write 81 01 04 0D 03 FF",
                                           "sleep 200000", "syslog 4 Suspended!"));
    EXPECT_EQ(cam().autoiris_on, 0);  // also when abandoned
}

TEST_F(ViscaTest, StepIrisSuspendedDuringTheSettleIsNoticedAfterTheFirstStep) {
    fake::suspend_at_sleep(1);  // the 50 ms settle
    EXPECT_EQ(step_iris(0, 4), 0);
    EXPECT_THAT(fake::calls(), ElementsAre("write 81 01 04 39 0D FF", "sleep 50000", "write 81 01 04 0D 02 FF",
                                           "sleep 200000", "syslog 4 Suspended!"));
}

TEST_F(ViscaTest, StepIrisSuspendedDuringTheLastStepStillGivesZero) {
    fake::suspend_at_sleep(4);
    EXPECT_EQ(step_iris(0, 3), 0);
    EXPECT_EQ(fake::frames().size(), 4u);  // mode frame and all three steps
    EXPECT_THAT(fake::syslogs(), ElementsAre("syslog 4 Suspended!"));
    EXPECT_EQ(fake::calls().back(), "syslog 4 Suspended!");
}

TEST_F(ViscaTest, StepIrisZeroStepsNeverLooksAtSuspension) {
    suspended = 1;
    EXPECT_EQ(step_iris(0, 0), 1);
    EXPECT_THAT(fake::syslogs(), IsEmpty());
    // Already suspended: the first step still goes out.
    fake::clear_log();
    EXPECT_EQ(step_iris(0, -5), 0);
    EXPECT_THAT(fake::frames(), ElementsAre("write 81 01 04 39 0D FF", "write 81 01 04 0D 03 FF"));
}

TEST_F(ViscaTest, StepIrisIsStoppedOnlyBySuspensionNotByAShortSleep) {
    // A sleep cut short without `suspended` does not end the stepping.
    fake::SleepPlan short_sleep;
    short_sleep.result = 0;
    short_sleep.advance_us = 10;
    fake::host().sleep_plans[fake::host().sleeps + 2] = short_sleep;
    EXPECT_EQ(step_iris(0, 2), 1);
    EXPECT_EQ(fake::frames().size(), 3u);
    EXPECT_THAT(fake::syslogs(), IsEmpty());
}

TEST_F(ViscaTest, StepIrisMostNegativeCountStepsDownUntilSuspended) {
    fake::suspend_at_sleep(3);
    EXPECT_EQ(step_iris(0, -2147483647 - 1), 0);
    EXPECT_THAT(fake::frames(), ElementsAre("write 81 01 04 39 0D FF", "write 81 01 04 0D 03 FF",
                                            "write 81 01 04 0D 03 FF"));
}

// ---- report_status ----

struct StatusCase {
    uint8_t state[5];  // pan, tilt, zoom, focus, iris
    int autoiris, autofocus;
    const char *status;
};

TEST_F(ViscaTest, ReportStatusTuples) {
    const StatusCase cases[] = {
        {{0, 0, 0, 0, 0}, 0, 0, "status 0 0 0 0 0 0 0 0 0 0 0 2 2 2"},
        {{3, 0, 0, 0, 0}, 0, 1, "status 3 0 0 0 0 0 1 0 0 0 0 2 2 1"},
        {{0, 3, 0, 0, 0}, 1, 0, "status 0 3 0 0 0 0 0 1 0 0 0 2 1 2"},
        {{0, 0, 3, 0, 0}, 1, 1, "status 0 0 3 0 0 0 0 0 1 0 0 2 1 1"},
        // Focus goes in positions 5 and 11, iris in 4 and 10.
        {{0, 0, 0, 3, 0}, 0, 0, "status 0 0 0 0 3 0 0 0 0 0 1 2 2 2"},
        {{0, 0, 0, 0, 3}, 0, 0, "status 0 0 0 3 0 0 0 0 0 1 0 2 2 2"},
        {{0, 0, 0, 1, 3}, 0, 0, "status 0 0 0 3 1 0 0 0 0 1 1 2 2 2"},
        {{1, 1, 1, 1, 1}, 0, 0, "status 1 1 1 1 1 0 1 1 1 1 1 2 2 2"},
        {{3, 1, 3, 1, 3}, 1, 0, "status 3 1 3 3 1 0 1 1 1 1 1 2 1 2"},
        // Bytes other than 1 and 3 are idle.
        {{2, 4, 2, 4, 255}, 0, 0, "status 0 0 0 0 0 0 0 0 0 0 0 2 2 2"},
        {{4, 2, 0, 2, 4}, 0, 0, "status 0 0 0 0 0 0 0 0 0 0 0 2 2 2"},
        // Any nonzero flag is automatic.
        {{0, 0, 0, 0, 0}, -1, 7, "status 0 0 0 0 0 0 0 0 0 0 0 2 1 1"},
    };
    for (const StatusCase &c : cases) {
        memcpy(cam().axis_state, c.state, sizeof c.state);
        cam().autoiris_on = c.autoiris;
        cam().autofocus_on = c.autofocus;
        fake::clear_log();
        EXPECT_EQ(report_status(0), 1);
        EXPECT_THAT(fake::calls(), ElementsAre(c.status));
        // Only read.
        EXPECT_EQ(0, memcmp(cam().axis_state, c.state, sizeof c.state));
        EXPECT_EQ(cam().autoiris_on, c.autoiris);
        EXPECT_EQ(cam().autofocus_on, c.autofocus);
    }
}

TEST_F(ViscaTest, ReportStatusPublishesTheSlotItIsGiven) {
    fake::reset(3);
    ASSERT_EQ(driver_setup(), 1);
    cam_params[2].axis_state[AXIS_ZOOM] = 3;
    cam_params[2].autofocus_on = 1;
    cam_params[0].axis_state[AXIS_PAN] = 3;
    camindex = 1;
    fake::clear_log();
    report_status(2);
    report_status(0);
    EXPECT_THAT(fake::calls(), ElementsAre("status 0 0 3 0 0 0 0 0 1 0 0 2 2 1",
                                           "status 3 0 0 0 0 0 1 0 0 0 0 2 2 2"));
}

TEST_F(ViscaTest, ReportStatusThroughContinuousMoveAndStop) {
    move_request req = absent();
    req.pan = -60.0f;
    ASSERT_EQ(driver_move_cont(&req), 1);
    EXPECT_THAT(fake::calls(), ElementsAre("started 1", "write 81 01 06 01 0B 00 01 03 FF",
                                           "status 3 0 0 0 0 0 1 0 0 0 0 2 2 2"));
    fake::clear_log();
    ASSERT_EQ(driver_stop(), 1);
    EXPECT_THAT(fake::calls(), ElementsAre(pt_stop, idle_status, "completed 1 2"));
}

// ---- complete_if_idle ----

struct IdleCase {
    float speed[5];  // pan, tilt, zoom, focus, iris
    bool completes;
};

TEST_F(ViscaTest, CompleteIfIdleDeadBand) {
    const IdleCase cases[] = {
        {{0, 0, 0, 0, 0}, true},
        {{0.99f, -0.99f, 0, 0, 0}, true},
        {{-0.0f, 0.5f, -0.5f, 0.999f, -0.999f}, true},
        {{0, -1, 0, 0, 0}, false},
        {{1, 0, 0, 0, 0}, false},
        {{0, 0, -1, 0, 0}, false},
        {{0, 0, 0, 1, 0}, false},
        {{0, 0, 0, 0, -1}, false},  // the iris entry counts too
        {{0, 0, 0, 0, 0.5f}, true},
        // No 32765 limit here: a value the stop test ignores still blocks.
        {{32765.0f, 0, 0, 0, 0}, false},
        {{0, 0, 40000.0f, 0, 0}, false},
        {{0, inf, 0, 0, 0}, false},
        {{0, 0, 0, -inf, 0}, false},
        {{nan_f, 0, 0, 0, 0}, false},
    };
    for (const IdleCase &c : cases) {
        memcpy(cam().axis_speed, c.speed, sizeof c.speed);
        fake::clear_log();
        complete_if_idle(0);
        if (c.completes) {
            EXPECT_THAT(fake::calls(), ElementsAre("completed 1 2"))
                << c.speed[0] << " " << c.speed[1] << " " << c.speed[2] << " " << c.speed[3] << " " << c.speed[4];
        } else {
            EXPECT_THAT(fake::calls(), IsEmpty())
                << c.speed[0] << " " << c.speed[1] << " " << c.speed[2] << " " << c.speed[3] << " " << c.speed[4];
        }
    }
}

TEST_F(ViscaTest, CompleteIfIdleNamesTheCameraOfTheSlot) {
    fake::reset(3);
    ASSERT_EQ(driver_setup(), 1);
    cam_params[1].axis_speed[AXIS_PAN] = 10.0f;
    fake::clear_log();
    complete_if_idle(2);
    complete_if_idle(1);
    complete_if_idle(0);
    EXPECT_THAT(fake::calls(), ElementsAre("completed 3 2", "completed 1 2"));
}

TEST_F(ViscaTest, ContinuousMoveCompletesOnlyOnceEveryAxisIsIdle) {
    move_request req = absent();
    req.zoom = 0.5f;  // inside the dead band: nothing driven, action already idle
    ASSERT_EQ(driver_move_cont(&req), 1);
    EXPECT_THAT(fake::calls(), ElementsAre("completed 1 2", idle_status));
    req = absent();
    req.tilt = 1.0f;
    fake::clear_log();
    ASSERT_EQ(driver_move_cont(&req), 1);
    EXPECT_THAT(fake::calls(), ElementsAre("started 1", "write 81 01 06 01 00 01 03 01 FF",
                                           "status 0 3 0 0 0 0 0 1 0 0 0 2 2 2"));
}

}  // namespace
