// Timed relative moves: the axes one after another, their drive times, the
// short-move reduction, the speed compensation, step counts, suspension, and
// the refusals that keep a wrapped or endless drive from ever reaching the
// camera. Every expectation is the exact call sequence the host receives.
#include <stdint.h>
#include <stdio.h>

#include <limits>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_host.h"
#include "motion_lines.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Matcher;
using ::testing::MatchesRegex;

namespace {

using namespace motion_lines;

const std::string PAN_ON = status(3, 0, 0, 0, 0);
const std::string TILT_ON = status(0, 3, 0, 0, 0);
const std::string ZOOM_ON = status(0, 0, 3, 0, 0);
const std::string FOCUS_ON = status(0, 0, 0, 0, 3);
const std::string IRIS_ON = status(0, 0, 0, 3, 0);

std::string sleep_ms(uint32_t ms) { return "sleep " + std::to_string(static_cast<uint64_t>(ms) * 1000u); }

// Calls of one pan or tilt step: report, drive, sleep, stop, report.
std::vector<std::string> pan_step(const std::string &frame, uint32_t ms) {
    return {PAN_ON, frame, sleep_ms(ms), PT_STOP, IDLE};
}
std::vector<std::string> tilt_step(const std::string &frame, uint32_t ms) {
    return {TILT_ON, frame, sleep_ms(ms), PT_STOP, IDLE};
}
std::vector<std::string> zoom_step(const std::string &frame, uint32_t ms) {
    return {ZOOM_ON, frame, sleep_ms(ms), ZOOM_STOP, IDLE};
}
std::vector<std::string> focus_step(const std::string &frame, uint32_t ms) {
    return {FOCUS_ON, frame, sleep_ms(ms), FOCUS_STOP, IDLE};
}
std::vector<std::string> iris_step(int steps) {
    std::vector<std::string> out{IRIS_ON, AE_BRIGHT, SETTLE};
    for (int i = 0; i < (steps < 0 ? -steps : steps); ++i) {
        out.push_back(steps > 0 ? BRIGHT_UP : BRIGHT_DOWN);
        out.push_back(STEP);
    }
    out.push_back(IDLE);
    return out;
}

// "started", the given axis calls in order, "completed".
std::vector<std::string> action(std::initializer_list<std::vector<std::string>> axes, int camera = 1) {
    std::vector<std::string> out{"started " + std::to_string(camera)};
    for (const auto &p : axes) {
        out.insert(out.end(), p.begin(), p.end());
    }
    out.push_back("completed " + std::to_string(camera) + " 2");
    return out;
}

Matcher<std::string> refusal(const std::string &axis, const std::string &reason_pattern = ".+") {
    return MatchesRegex("syslog 3 Error: tavrinode\\[[0-9]+\\]driver_move_rel\\(\\): Refused " + axis + ", " +
                        reason_pattern + "!");
}

class MoveRelTest : public DriverTest {
protected:
    // Runs one request; every path ends in exactly one completion, the last call.
    std::vector<std::string> run(const move_request &r, int want_result, int camera = 1) {
        fake::clear_log();
        EXPECT_EQ(driver_move_rel(&r), want_result);
        const std::vector<std::string> got = fake::calls();
        int completions = 0;
        for (const std::string &line : got) {
            completions += line.rfind("completed ", 0) == 0 ? 1 : 0;
        }
        EXPECT_EQ(completions, 1);
        if (!got.empty()) {
            EXPECT_EQ(got.back(), "completed " + std::to_string(camera) + " 2");
        }
        return got;
    }
    void configure(const std::string &key, int value) {
        fake::set_param(1, key, value);
        ASSERT_EQ(driver_param_changed(), 1);
    }
};

// ---- the worked examples with the default configuration ----

TEST_F(MoveRelTest, WorkedTableWithTheDefaults) {
    struct Row {
        const char *name;
        move_request r;
        std::vector<std::string> calls;
    };
    const Row rows[] = {
        {"pan 10", req(10.0f), pan_step(pan_frame(0x12, false), 690)},
        {"pan -10", req(-10.0f), pan_step(pan_frame(0x12, true), 690)},
        // 69 ms: speed 46, corrected by -21 to 25 (byte 05).
        {"pan 1", req(1.0f), pan_step(pan_frame(0x05, false), 69)},
        // 68 ms: speed 45, corrected by -10 to 35 (byte 05).
        {"tilt 1", req(A, 1.0f), tilt_step(tilt_frame(0x05, false), 68)},
        {"tilt -1", req(A, -1.0f), tilt_step(tilt_frame(0x05, true), 68)},
        {"pan 0.1", req(0.1f), pan_step(pan_frame(0x01, false), 6)},
        // p = 100: speed 1, stopped at once.
        {"pan 0.02", req(0.02f), pan_step(pan_frame(0x01, false), 0)},
        {"pan 0.01", req(0.01f), {}},
        {"zoom 1000", req(A, A, 1000.0f), zoom_step("write 81 01 04 07 27 FF", 525)},
        {"zoom -1000", req(A, A, -1000.0f), zoom_step("write 81 01 04 07 37 FF", 525)},
        // Positive focus drives near (3p).
        {"focus 1000", req(A, A, A, 1000.0f), focus_step("write 81 01 04 08 37 FF", 75)},
        {"focus -1000", req(A, A, A, -1000.0f), focus_step("write 81 01 04 08 27 FF", 75)},
        {"iris 1300", req(A, A, A, A, 1300.0f), iris_step(2)},
        {"iris -1300", req(A, A, A, A, -1300.0f), iris_step(-2)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(run(row.r, 1), action({row.calls}));
    }
}

TEST_F(MoveRelTest, MoveSpeedFifty) {
    configure("MoveSpeed", 50);
    // 1380 ms at speed 50, corrected by -22 to 28 (byte 05).
    EXPECT_EQ(run(req(10.0f), 1), action({pan_step(pan_frame(0x05, false), 1380)}));
    // 138 ms: p = 6900, speed 46, corrected to 25.
    EXPECT_EQ(run(req(1.0f), 1), action({pan_step(pan_frame(0x05, false), 138)}));
    // Tilt: 1360 ms, 50 corrected by -11 to 39 (byte 05).
    EXPECT_EQ(run(req(A, -10.0f), 1), action({tilt_step(tilt_frame(0x05, true), 1360)}));
}

TEST_F(MoveRelTest, WholePanAndZoomSequence) {
    EXPECT_EQ(run(req(10.0f, A, 1000.0f, 0.0f, A), 1),
              action({pan_step(pan_frame(0x12, false), 690), zoom_step("write 81 01 04 07 27 FF", 525)}));
}

TEST_F(MoveRelTest, AllFiveAxesRunOneAfterAnother) {
    EXPECT_EQ(run(req(-10.0f, 1.0f, -1000.0f, 1000.0f, 624.0f), 1),
              action({pan_step(pan_frame(0x12, true), 690), tilt_step(tilt_frame(0x05, false), 68),
                      zoom_step("write 81 01 04 07 37 FF", 525), focus_step("write 81 01 04 08 37 FF", 75),
                      iris_step(1)}));
}

// ---- presence ----

TEST_F(MoveRelTest, NothingPresentOrNonzeroOnlyCompletes) {
    const move_request none[] = {
        req(A, A, A, A, A),
        req(0.0f, 0.0f, 0.0f, 0.0f, 0.0f),
        req(-0.0f, -0.0f, -0.0f, -0.0f, -0.0f),
        req(NaN, Inf, 1e6f, 0.0f, -0.0f),
    };
    for (const move_request &r : none) {
        EXPECT_EQ(run(r, 1), std::vector<std::string>{"completed 1 2"});
    }
}

TEST_F(MoveRelTest, PresenceLimit) {
    // 32764 is present: 690 × 32764 / 10 ms.
    EXPECT_EQ(run(req(32764.0f), 1), action({pan_step(pan_frame(0x12, false), 2260716)}));
    EXPECT_EQ(run(req(32765.0f, 32764.0f), 1), action({tilt_step(tilt_frame(0x0E, false), 2227952)}));
}

TEST_F(MoveRelTest, TinyMembersArePresent) {
    // A pan whose time truncates to 0 is skipped, but the action is still made.
    EXPECT_EQ(run(req(0.001f), 1), action({}));
    EXPECT_EQ(run(req(-0.01f, 0.01f), 1), action({}));
}

TEST_F(MoveRelTest, OnlyTheIrisLeavesARunningContinuousPanAlone) {
    move_request pan = req(50.0f);
    ASSERT_EQ(driver_move_cont(&pan), 1);
    EXPECT_EQ(run(req(A, A, A, A, 624.0f), 1),
              action({{status(3, 0, 0, 3, 0), AE_BRIGHT, SETTLE, BRIGHT_UP, STEP, PAN_ON}}));
}

TEST_F(MoveRelTest, RelativeTiltStopsARunningContinuousZoomToo) {
    move_request zoom = req(A, A, 20.0f);
    ASSERT_EQ(driver_move_cont(&zoom), 1);
    EXPECT_EQ(run(req(A, 1.0f), 1),
              action({{status(0, 3, 3, 0, 0), tilt_frame(0x05, false), sleep_ms(68), PT_STOP, ZOOM_STOP, IDLE}}));
}

// ---- short-move reduction ----

TEST_F(MoveRelTest, ShortMoveBoundaries) {
    struct Row {
        const char *name;
        int per_degree;
        float speed;  // set through driver_set_speed
        float pan;
        std::vector<std::string> calls;
    };
    const Row rows[] = {
        // 149 ms is reduced: p = 14900, speed 99 (no correction from 98 on).
        {"149 ms", 1490, 100.0f, 1.0f, pan_step(pan_frame(0x11, false), 149)},
        {"150 ms", 1500, 100.0f, 1.0f, pan_step(pan_frame(0x12, false), 150)},
        // t × speed = 149: speed 1 and no time at all.
        {"1 ms x 149", 15, 149.0f, 1.0f, pan_step(pan_frame(0x01, false), 0)},
        {"149 ms x 1", 60, 1.0f, 0.2490234375f, pan_step(pan_frame(0x01, false), 0)},
        // t × speed = 150: speed 1, time unchanged.
        {"1 ms x 150", 15, 150.0f, -1.0f, pan_step(pan_frame(0x01, true), 1)},
        // p ≤ 15149 with a speed above 100: q = 46, corrected to 25, time kept.
        {"46 ms x 150", 690, 150.0f, 1.0f, pan_step(pan_frame(0x05, false), 46)},
        // p > 15149 (speed 102 or more): speed 100 and the time worked out again.
        {"149 ms x 102", 1520, 102.0f, 1.0f, pan_step(pan_frame(0x12, false), 151)},
        {"100 ms x 200", 2000, 200.0f, -1.0f, pan_step(pan_frame(0x12, true), 199)},
        {"69 ms x 1000", 69000, 1000.0f, 0.1f, pan_step(pan_frame(0x12, false), 690)},
        {"101 ms x 150", 1515, 150.0f, 1.0f, pan_step(pan_frame(0x12, false), 151)},
        // p = 15149 keeps the time, p = 15150 is worked out again.
        {"1 ms x 15149", 1515, 15149.0f, 1.0f, pan_step(pan_frame(0x12, false), 1)},
        {"1 ms x 15150", 1515, 15150.0f, 1.0f, pan_step(pan_frame(0x12, false), 151)},
        // Not reduced at speed 150: byte 1A, no correction.
        {"460 ms x 150", 690, 150.0f, 10.0f, pan_step(pan_frame(0x1A, false), 460)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        configure("PanMoveTimePerDegree", row.per_degree);
        ASSERT_EQ(driver_set_speed(row.speed), 1);
        EXPECT_EQ(run(req(row.pan), 1), action({row.calls}));
    }
}

TEST_F(MoveRelTest, DivisorIsFormedAsMoveSpeedOverHundredTimesTen) {
    // (7 / 100.0) × 10.0 lies just above 0.7, so 4830 / it truncates to 6899;
    // speed 7 is corrected by -2 to 5 (byte 01).
    configure("MoveSpeed", 7);
    EXPECT_EQ(run(req(7.0f), 1), action({pan_step(pan_frame(0x01, false), 6899)}));
}

// ---- zoom and focus ----

TEST_F(MoveRelTest, ZoomAndFocusStepCountsRoundHalfWayAwayFromZero) {
    // With a calibration of 19998 ms the drive time is the step count in ms.
    configure("ZoomTime", 19998);
    configure("FocusTime", 19998);
    struct Row {
        float member;
        uint32_t ms;
    };
    const Row rows[] = {{2.5f, 3}, {-2.5f, 3}, {2.49f, 2}, {-2.49f, 2}, {1.5f, 2}, {-1.5f, 2},
                        {1.0f, 1}, {3.7f, 4},  {1000.0f, 1000}, {-19998.0f, 19998}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.member);
        const bool neg = row.member < 0;
        EXPECT_EQ(run(req(A, A, row.member), 1),
                  action({zoom_step(neg ? "write 81 01 04 07 37 FF" : "write 81 01 04 07 27 FF", row.ms)}));
        EXPECT_EQ(run(req(A, A, A, row.member), 1),
                  action({focus_step(neg ? "write 81 01 04 08 27 FF" : "write 81 01 04 08 37 FF", row.ms)}));
    }
}

TEST_F(MoveRelTest, ZoomDivisorIsTruncatedAndSpeedSetsTheNibble) {
    // ZoomSpeed 33: divisor 6599 (not 6599.34), so 19998 steps take 31819 ms; nibble 2.
    configure("ZoomSpeed", 33);
    EXPECT_EQ(run(req(A, A, 19998.0f), 1), action({zoom_step("write 81 01 04 07 22 FF", 31819)}));
    // ZoomSpeed 50: divisor 9999, 1000 steps take 1050 ms; nibble 3.
    configure("ZoomSpeed", 50);
    EXPECT_EQ(run(req(A, A, -1000.0f), 1), action({zoom_step("write 81 01 04 07 33 FF", 1050)}));
    // FocusSpeed 16: divisor 3199, 1000 steps take 468 ms; nibble 1.
    configure("FocusSpeed", 16);
    EXPECT_EQ(run(req(A, A, A, 1000.0f), 1), action({focus_step("write 81 01 04 08 31 FF", 468)}));
}

TEST_F(MoveRelTest, FocusSwitchesToManualAfterReportingAutomatic) {
    ASSERT_EQ(driver_autofocus(1), 1);
    EXPECT_EQ(run(req(A, A, A, 1000.0f), 1),
              action({{status(0, 0, 0, 0, 3, 2, 1), FOCUS_MANUAL, "write 81 01 04 08 37 FF", sleep_ms(75),
                       FOCUS_STOP, IDLE}}));
}

// ---- iris ----

TEST_F(MoveRelTest, IrisStepsOf624) {
    struct Row {
        float iris;
        int steps;
    };
    const Row rows[] = {{623.9f, 0}, {-623.9f, 0}, {0.001f, 0}, {624.0f, 1},  {-624.0f, -1},
                        {1247.9f, 1}, {1248.0f, 2}, {-1300.0f, -2}, {9999.0f, 16}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.iris);
        EXPECT_EQ(run(req(A, A, A, A, row.iris), 1), action({iris_step(row.steps)}));
    }
}

TEST_F(MoveRelTest, IrisReportsAutomaticExposureThenManual) {
    ASSERT_EQ(driver_autoiris(1), 1);
    EXPECT_EQ(run(req(A, A, A, A, -624.0f), 1),
              action({{status(0, 0, 0, 3, 0, 1, 2), AE_BRIGHT, SETTLE, BRIGHT_DOWN, STEP, IDLE}}));
}

// ---- suspension ----

TEST_F(MoveRelTest, SuspendedAfterThePanSleepLeavesLaterAxesUntouched) {
    fake::suspend_at_sleep(1);
    EXPECT_EQ(run(req(10.0f, A, 1000.0f), 0), action({pan_step(pan_frame(0x12, false), 690)}));
}

TEST_F(MoveRelTest, SuspendedAfterTheTiltOrZoomSleep) {
    fake::suspend_at_sleep(2);
    EXPECT_EQ(run(req(10.0f, -1.0f, 1000.0f, A, 1300.0f), 0),
              action({pan_step(pan_frame(0x12, false), 690), tilt_step(tilt_frame(0x05, true), 68)}));
    suspended = 0;
    fake::suspend_at_sleep(1);
    EXPECT_EQ(run(req(A, A, 1000.0f, 1000.0f), 0), action({zoom_step("write 81 01 04 07 27 FF", 525)}));
}

TEST_F(MoveRelTest, SuspendedAfterAFocusSleepOfAMemberBelowOne) {
    // The focus is recorded as not moving, yet it gets its stop frame.
    fake::suspend_at_sleep(1);
    EXPECT_EQ(run(req(A, A, A, 0.7f, 624.0f), 0), action({focus_step("write 81 01 04 08 37 FF", 0)}));
}

TEST_F(MoveRelTest, SuspendedDuringIrisSteps) {
    fake::suspend_at_sleep(2);  // the first step's sleep
    EXPECT_EQ(run(req(A, A, A, A, 1300.0f), 0),
              action({{IRIS_ON, AE_BRIGHT, SETTLE, BRIGHT_UP, STEP, SUSPENDED, IDLE}}));
    // During the last step: all steps were made, still 0.
    suspended = 0;
    fake::suspend_at_sleep(3);
    EXPECT_EQ(run(req(A, A, A, A, -1300.0f), 0),
              action({{IRIS_ON, AE_BRIGHT, SETTLE, BRIGHT_DOWN, STEP, BRIGHT_DOWN, STEP, SUSPENDED, IDLE}}));
}

TEST_F(MoveRelTest, SuspendedAlreadyAtTheStart) {
    // Not tested at the start: the first drive is still made and slept.
    suspended = 1;
    EXPECT_EQ(run(req(10.0f, A, 1000.0f), 0), action({pan_step(pan_frame(0x12, false), 690)}));
    EXPECT_EQ(run(req(A, A, 1000.0f, 1000.0f), 0), action({zoom_step("write 81 01 04 07 27 FF", 525)}));
    EXPECT_EQ(run(req(A, A, A, A, 1300.0f), 0),
              action({{IRIS_ON, AE_BRIGHT, SETTLE, BRIGHT_UP, STEP, SUSPENDED, IDLE}}));
    // Nothing driven: nothing to suspend.
    EXPECT_EQ(run(req(0.01f), 1), action({}));
}

TEST_F(MoveRelTest, ShortenedSleepWithoutSuspensionGoesOn) {
    // Only `suspended` abandons the move; the sleep's result is not looked at.
    fake::SleepPlan cut;
    cut.result = 0;
    cut.advance_us = 1;
    fake::host().sleep_plans[fake::host().sleeps + 1] = cut;
    EXPECT_EQ(run(req(10.0f, A, 1000.0f), 1),
              action({pan_step(pan_frame(0x12, false), 690), zoom_step("write 81 01 04 07 27 FF", 525)}));
}

// ---- robustness ----

TEST_F(MoveRelTest, LensTimeIsExactUpToTheLongestCalibration) {
    // 19998 × 150000 leaves 32 bits.
    configure("ZoomTime", 150000);
    configure("FocusTime", 150000);
    EXPECT_EQ(run(req(A, A, 19998.0f), 1), action({zoom_step("write 81 01 04 07 27 FF", 150000)}));
    EXPECT_EQ(run(req(A, A, A, -19998.0f), 1), action({focus_step("write 81 01 04 08 27 FF", 150000)}));
    // The first calibration whose product overflows 32 bits.
    configure("ZoomTime", 107385);
    EXPECT_EQ(run(req(A, A, -19998.0f), 1), action({zoom_step("write 81 01 04 07 37 FF", 107385)}));
    // At half speed the time doubles.
    configure("ZoomSpeed", 50);
    configure("ZoomTime", 150000);
    EXPECT_EQ(run(req(A, A, 19998.0f), 1), action({zoom_step("write 81 01 04 07 23 FF", 300000)}));
}

TEST_F(MoveRelTest, NonPositiveMoveSpeedRefusesPanAndTiltOnly) {
    ASSERT_EQ(driver_set_speed(0.4f), 1);  // stores 0
    EXPECT_THAT(run(req(10.0f, 1.0f, 1000.0f), 0),
                ElementsAre("started 1", refusal("pan", ".*MoveSpeed.*"), refusal("tilt", ".*MoveSpeed.*"),
                            ZOOM_ON, "write 81 01 04 07 27 FF", sleep_ms(525), ZOOM_STOP, IDLE,
                            "completed 1 2"));
    configure("MoveSpeed", -5);
    EXPECT_THAT(run(req(A, -1.0f), 0), ElementsAre("started 1", refusal("tilt"), "completed 1 2"));
}

TEST_F(MoveRelTest, NonPositiveLensSpeedRefusesThatAxis) {
    configure("ZoomSpeed", 0);
    configure("FocusSpeed", -1);
    // The iris still steps, yet the result reports the refusal.
    EXPECT_THAT(run(req(10.0f, A, 1000.0f, 1000.0f, 624.0f), 0),
                ElementsAre("started 1", PAN_ON, pan_frame(0x12, false), sleep_ms(690), PT_STOP, IDLE,
                            refusal("zoom", ".*ZoomSpeed.*"), refusal("focus", ".*FocusSpeed.*"), IRIS_ON,
                            AE_BRIGHT, SETTLE, BRIGHT_UP, STEP, IDLE, "completed 1 2"));
}

TEST_F(MoveRelTest, DriveTimesWhoseMicrosecondsExceed32BitsAreRefused) {
    // 4294967 ms is the longest sleep that fits.
    configure("PanMoveTimePerDegree", 42949672);
    EXPECT_EQ(run(req(1.0f), 1), action({pan_step(pan_frame(0x12, false), 4294967)}));
    configure("PanMoveTimePerDegree", 42949680);
    EXPECT_THAT(run(req(1.0f, A, 1000.0f), 0),
                ElementsAre("started 1", refusal("pan"), ZOOM_ON, "write 81 01 04 07 27 FF", sleep_ms(525),
                            ZOOM_STOP, IDLE, "completed 1 2"));
    configure("TiltMoveTimePerDegree", 50000);
    EXPECT_THAT(run(req(A, -1000.0f), 0), ElementsAre("started 1", refusal("tilt"), "completed 1 2"));

    configure("ZoomTime", 4294967);
    EXPECT_EQ(run(req(A, A, 19998.0f), 1), action({zoom_step("write 81 01 04 07 27 FF", 4294967)}));
    configure("ZoomTime", 4294968);
    EXPECT_THAT(run(req(A, A, 19998.0f), 0), ElementsAre("started 1", refusal("zoom"), "completed 1 2"));
    // Slowest lens speed: 150000 × 19998 / 199 ms.
    configure("FocusSpeed", 1);
    configure("FocusTime", 150000);
    EXPECT_THAT(run(req(A, A, A, 19998.0f), 0), ElementsAre("started 1", refusal("focus"), "completed 1 2"));
}

TEST_F(MoveRelTest, MembersTooLargeToConvertAreRefused) {
    // -inf is below the presence limit: it is present and must be refused.
    for (float big : {-Inf, -1e30f}) {
        SCOPED_TRACE(big);
        // Nothing sleeps here; a runaway iris loop would end at its first step.
        fake::suspend_at_sleep(1);
        EXPECT_THAT(run(req(big, big, big, big, big), 0),
                    ElementsAre("started 1", refusal("pan"), refusal("tilt"), refusal("zoom"), refusal("focus"),
                                refusal("iris"), "completed 1 2"));
    }
    // Finite, but 345000000 and 340000000 ms.
    EXPECT_THAT(run(req(-5e6f, -5e6f), 0),
                ElementsAre("started 1", refusal("pan"), refusal("tilt"), "completed 1 2"));
}

TEST_F(MoveRelTest, HugeIrisMemberIsRefusedAndTheOthersGoOn) {
    for (float iris : {-Inf, -1e30f, -2e12f}) {
        SCOPED_TRACE(iris);
        // Only the pan sleeps; a runaway iris loop would end at its first step.
        fake::host().sleep_plans.clear();
        fake::suspend_at_sleep(2);
        EXPECT_THAT(run(req(-10.0f, A, A, A, iris), 0),
                    ElementsAre("started 1", PAN_ON, pan_frame(0x12, true), sleep_ms(690), PT_STOP, IDLE,
                                refusal("iris"), "completed 1 2"));
    }
}

TEST_F(MoveRelTest, LensStepCountOutsideIntIsRefused) {
    EXPECT_THAT(run(req(A, A, -3e9f, 1000.0f), 0),
                ElementsAre("started 1", refusal("zoom"), FOCUS_ON, "write 81 01 04 08 37 FF", sleep_ms(75),
                            FOCUS_STOP, IDLE, "completed 1 2"));
    // Fits the count, but not the sleep.
    EXPECT_THAT(run(req(A, A, A, -2e9f), 0), ElementsAre("started 1", refusal("focus"), "completed 1 2"));
}

TEST_F(MoveRelTest, NegativeLensTimesAreRefusedNegativePanCalibrationIsNot) {
    configure("ZoomTime", -10500);
    configure("FocusTime", -1);
    EXPECT_THAT(run(req(A, A, 1000.0f, 19998.0f), 0),
                ElementsAre("started 1", refusal("zoom"), refusal("focus"), "completed 1 2"));
    // The pan time is taken as an absolute value; the direction follows the member.
    configure("PanMoveTimePerDegree", -690);
    EXPECT_EQ(run(req(10.0f), 1), action({pan_step(pan_frame(0x12, false), 690)}));
}

TEST_F(MoveRelTest, LensMembersBelowOneGetTheirStopFrameBeforeTheMoveGoesOn) {
    // zoom 0.4: 0 steps; focus -0.7: 1 step, 0 ms. Neither counts as moving.
    EXPECT_EQ(run(req(A, A, 0.4f, -0.7f, 624.0f), 1),
              action({zoom_step("write 81 01 04 07 27 FF", 0), focus_step("write 81 01 04 08 27 FF", 0),
                      iris_step(1)}));
    EXPECT_EQ(run(req(A, A, -0.5f, 1000.0f), 1),
              action({zoom_step("write 81 01 04 07 37 FF", 0), focus_step("write 81 01 04 08 37 FF", 75)}));
    // With a calibration long enough for a drive time, the stop still follows.
    configure("ZoomTime", 39996);
    EXPECT_EQ(run(req(A, A, 0.5f), 1), action({zoom_step("write 81 01 04 07 27 FF", 2)}));
}

TEST_F(MoveRelTest, PanOrTiltDrivenAtAnOutOfRangeSpeedIsStopped) {
    // MoveSpeed 40000: 172 ms, no reduction, no correction; the speed byte
    // is capped and the recorded speed does not count as moving.
    configure("PanMoveTimePerDegree", 690000);
    configure("TiltMoveTimePerDegree", 680000);
    ASSERT_EQ(driver_set_speed(40000.0f), 1);
    EXPECT_EQ(run(req(1.0f), 1), action({pan_step(pan_frame(0x7F, false), 172)}));
    EXPECT_EQ(run(req(A, 1.0f), 1), action({tilt_step(tilt_frame(0x7F, false), 170)}));
    // Negative speeds do count as moving: still exactly one stop frame.
    EXPECT_EQ(run(req(-1.0f, -1.0f), 1),
              action({pan_step(pan_frame(0x7F, true), 172), tilt_step(tilt_frame(0x7F, true), 170)}));
}

TEST_F(MoveRelTest, NullRequestIsRefused) {
    fake::clear_log();
    EXPECT_EQ(driver_move_rel(nullptr), 0);
    EXPECT_THAT(fake::calls(),
                ElementsAre(MatchesRegex("syslog 3 Error: tavrinode\\[[0-9]+\\]driver_move_rel\\(\\): Refused, .+!")));
}

TEST_F(MoveRelTest, SecondCameraUsesItsOwnNumberAndRecord) {
    fake::reset(2);
    fake::set_param(2, "MoveSpeed", 50);
    ASSERT_EQ(driver_setup(), 1);
    camindex = 1;
    EXPECT_EQ(run(req(10.0f), 1, 2), action({pan_step(pan_frame(0x05, false), 1380)}, 2));
    camindex = 0;
    EXPECT_EQ(run(req(10.0f), 1, 1), action({pan_step(pan_frame(0x12, false), 690)}, 1));
}

// ---- sweep of pan and tilt angles against MoveSpeed ----

// The documented speed byte breakpoints for magnitudes 1..100: each listed
// magnitude starts the next byte value above 0x01.
const int pan_breaks[] = {7, 13, 19, 25, 31, 36, 42, 48, 54, 60, 66, 71, 77, 83, 89, 95, 100};
const int tilt_breaks[] = {9, 17, 24, 32, 40, 47, 55, 62, 70, 78, 85, 93, 100};

int speed_byte(bool pan, int32_t v) {
    const int32_t m = v < 0 ? -v : v;
    if (m <= 100) {
        const int *breaks = pan ? pan_breaks : tilt_breaks;
        const size_t count = pan ? sizeof pan_breaks / sizeof pan_breaks[0]
                                 : sizeof tilt_breaks / sizeof tilt_breaks[0];
        int byte = 1;
        for (size_t i = 0; i < count; ++i) {
            byte += m >= breaks[i] ? 1 : 0;
        }
        return byte;
    }
    // Above 100 the mapping runs on: (m - 1) × 17 (13 for tilt) in double,
    // narrowed, / 99 and + 1 in single precision, truncated; capped at 0x7F.
    const float x = static_cast<float>((static_cast<double>(m) - 1.0) * (pan ? 17.0 : 13.0));
    const float y = x / 99.0f + 1.0f;
    return y >= 127.0f ? 0x7F : static_cast<int>(y);
}

struct Planned {
    enum Kind { SKIPPED, UNREDUCED, TO_SPEED_ONE, SLOWED, RETIMED } kind;
    uint32_t ms;
    int32_t drive;  // signed speed handed to the drive
};

// The relative pan/tilt arithmetic, step by step as documented.
Planned plan(int32_t per_degree, int32_t move_speed, int32_t comp, float degrees) {
    const float product = static_cast<float>(per_degree) * degrees;  // single precision
    const double divisor = (static_cast<double>(move_speed) / 100.0) * 10.0;
    double exact = static_cast<double>(product) / divisor;
    if (exact < 0) {
        exact = -exact;
    }
    uint32_t t = static_cast<uint32_t>(exact);
    if (t == 0) {
        return {Planned::SKIPPED, 0, 0};
    }
    Planned::Kind kind = Planned::UNREDUCED;
    int32_t s = move_speed;
    if (t <= 149) {
        const uint32_t p = t * static_cast<uint32_t>(s);
        const uint32_t q = p / 150;
        if (p <= 149) {
            kind = Planned::TO_SPEED_ONE;
            s = 1;
            t = 0;
        } else if (p <= 15149) {
            kind = Planned::SLOWED;
            s = q < 100 ? static_cast<int32_t>(q) : 100;
        } else {
            kind = Planned::RETIMED;
            s = q < 100 ? static_cast<int32_t>(q) : 100;
            t = (q * 150) / static_cast<uint32_t>(s);
        }
    }
    int32_t correction = 0;
    if (s > 4 && move_speed > 4 && s < 98) {
        const int32_t c = ((s - 4) * comp) * (98 - s) / 5000;
        int32_t corrected = s + c;
        if (corrected >= 98) {
            corrected = 98;
        }
        correction = corrected >= 4 ? corrected - s : 4 - s;
    }
    const int32_t v = s + correction;
    return {kind, t, degrees > 0 ? v : -v};
}

class MoveRelSweep : public MoveRelTest {};

TEST_F(MoveRelSweep, PanAndTiltDegreesAgainstMoveSpeed) {
    const float magnitudes[] = {0.01f, 0.02f, 0.05f, 0.1f, 0.25f, 0.5f, 1.0f,  2.0f,
                                3.3f,  5.0f,  7.0f,  10.0f, 45.0f, 90.0f, 180.0f};
    const int32_t speeds[] = {1, 4, 5, 7, 10, 33, 50, 51, 97, 98, 100, 102, 149, 150, 200, 1000};
    int seen[5] = {};
    for (bool pan : {true, false}) {
        const char *cal_key = pan ? "PanMoveTimePerDegree" : "TiltMoveTimePerDegree";
        const char *comp_key = pan ? "PanSpeedCompensation" : "TiltSpeedCompensation";
        for (int32_t per_degree : {pan ? 690 : 680, 1234}) {
            for (int32_t comp : {pan ? -50 : -25, -100, 100, 0}) {
                fake::set_param(1, cal_key, per_degree);
                fake::set_param(1, comp_key, comp);
                for (int32_t speed : speeds) {
                    // Configured speeds stay in the offered range; higher
                    // ones come from driver_set_speed.
                    fake::set_param(1, "MoveSpeed", speed <= 100 ? speed : 100);
                    ASSERT_EQ(driver_param_changed(), 1);
                    if (speed > 100) {
                        ASSERT_EQ(driver_set_speed(static_cast<float>(speed)), 1);
                    }
                    for (float mag : magnitudes) {
                        for (float degrees : {mag, -mag}) {
                            SCOPED_TRACE(std::string(pan ? "pan " : "tilt ") + std::to_string(degrees) +
                                         " per degree " + std::to_string(per_degree) + " comp " +
                                         std::to_string(comp) + " MoveSpeed " + std::to_string(speed));
                            const Planned p = plan(per_degree, speed, comp, degrees);
                            ++seen[p.kind];
                            std::vector<std::string> want{"started 1"};
                            if (p.kind != Planned::SKIPPED) {
                                ASSERT_LE(p.ms, 4294967u);
                                const int byte = speed_byte(pan, p.drive);
                                const std::vector<std::string> step =
                                    pan ? pan_step(pan_frame(byte, p.drive < 0), p.ms)
                                        : tilt_step(tilt_frame(byte, p.drive < 0), p.ms);
                                want.insert(want.end(), step.begin(), step.end());
                            }
                            want.push_back("completed 1 2");
                            const move_request r = pan ? req(degrees) : req(A, degrees);
                            EXPECT_EQ(run(r, 1), want);
                        }
                    }
                }
            }
        }
    }
    // Every branch of the reduction was reached.
    for (int kind = 0; kind < 5; ++kind) {
        EXPECT_GT(seen[kind], 0) << "kind " << kind;
    }
}

}  // namespace
