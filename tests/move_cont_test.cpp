// Continuous (joystick) moves and stop: member classes, the start rule, the
// change check, which axis wins a pair, iris stepping, completion and the
// final status, all seen as the exact call sequence the host receives.
#include <math.h>

#include <limits>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_host.h"
#include "motion_lines.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;

namespace {

using namespace motion_lines;

class MoveContTest : public DriverTest {
protected:
    // Runs one request and returns what the host saw.
    std::vector<std::string> run(const move_request &r) {
        fake::clear_log();
        EXPECT_EQ(driver_move_cont(&r), 1);
        return fake::calls();
    }
    // Sets up a motion without looking at its calls.
    void prepare(const move_request &r) {
        ASSERT_EQ(driver_move_cont(&r), 1);
        fake::clear_log();
    }
};

// ---- start rule and member classes ----

TEST_F(MoveContTest, AllAbsentStartsNothingSendsNothingAndCompletesTheIdleCamera) {
    for (float a : {A, 40000.0f, NaN, Inf}) {
        SCOPED_TRACE(a);
        EXPECT_THAT(run(req(a, a, a, a, a)), ElementsAre("completed 1 2"));
    }
}

TEST_F(MoveContTest, AllAbsentLeavesARunningMotionAlone) {
    prepare(req(50.0f));
    EXPECT_THAT(run(req(A)), IsEmpty());
}

TEST_F(MoveContTest, PanFromIdle) {
    EXPECT_THAT(run(req(50.0f)),
                ElementsAre("started 1", pan_frame(0x09, false), status(3, 0, 0, 0, 0)));
}

TEST_F(MoveContTest, MemberClassesAtTheDeadBandAndPresenceLimits) {
    struct Case {
        float pan;
        bool driving;
        bool present;
        int byte;
        bool left;
    };
    const Case cases[] = {
        {-1.0f, true, true, 0x01, true},    {1.0f, true, true, 0x01, false},
        {-0.99f, false, true, 0, false},    {0.99f, false, true, 0, false},
        {0.0f, false, true, 0, false},      {-0.0f, false, true, 0, false},
        {100.0f, true, true, 0x12, false},  {-100.0f, true, true, 0x12, true},
        // Far out of range: the speed byte stays a valid one.
        {32764.0f, true, true, 0x7F, false}, {-Inf, true, true, 0x7F, true},
        {A, false, false, 0, false},         {NaN, false, false, 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pan);
        const std::vector<std::string> got = run(req(c.pan));
        if (c.driving) {
            EXPECT_THAT(got, ElementsAre("started 1", pan_frame(c.byte, c.left), status(3, 0, 0, 0, 0)));
        } else if (c.present) {
            EXPECT_THAT(got, ElementsAre("completed 1 2", IDLE));
        } else {
            EXPECT_THAT(got, ElementsAre("completed 1 2"));
        }
        driver_stop();
    }
}

TEST_F(MoveContTest, ADrivingIrisAloneStartsAnAction) {
    // 5.9 drives but is too small for a step: started, then completed, and
    // the iris alone does not cause the final report.
    EXPECT_THAT(run(req(A, A, A, A, 5.9f)), ElementsAre("started 1", "completed 1 2"));
    EXPECT_THAT(run(req(A, A, A, A, -5.9f)), ElementsAre("started 1", "completed 1 2"));
    EXPECT_THAT(run(req(A, A, A, A, 1.0f)), ElementsAre("started 1", "completed 1 2"));
    EXPECT_THAT(run(req(A, A, A, A, 0.5f)), ElementsAre("completed 1 2"));
}

// ---- change check ----

TEST_F(MoveContTest, ZeroPanWhilePanMovesStopsAndCompletes) {
    prepare(req(50.0f));
    EXPECT_THAT(run(req(0.0f)), ElementsAre(PT_STOP, "completed 1 2", IDLE));
}

TEST_F(MoveContTest, ZeroPanStopsZoomAndFocusTooInFrameOrder) {
    prepare(req(50.0f));
    prepare(req(A, A, 20.0f));
    prepare(req(A, A, A, 10.0f));
    EXPECT_THAT(run(req(0.5f)), ElementsAre(PT_STOP, ZOOM_STOP, FOCUS_STOP, "completed 1 2", IDLE));
}

TEST_F(MoveContTest, ZerosForEveryMovingAxisStopEachAxisOnce) {
    // Pan, tilt, zoom and focus all zero while all four move: one stop-all.
    prepare(req(50.0f));
    prepare(req(A, 40.0f));
    prepare(req(A, A, 20.0f));
    prepare(req(A, A, A, -10.0f));
    EXPECT_THAT(run(req(0.0f, -0.5f, 0.9f, 0.0f, 0.0f)),
                ElementsAre(PT_STOP, ZOOM_STOP, FOCUS_STOP, "completed 1 2", IDLE));
}

TEST_F(MoveContTest, ZeroMemberOfALaterMovingAxisStopsEverything) {
    // Zoom zero while zoom and pan move: the pan is stopped as well.
    prepare(req(50.0f));
    prepare(req(A, A, 20.0f));
    EXPECT_THAT(run(req(A, A, -0.5f)), ElementsAre(PT_STOP, ZOOM_STOP, "completed 1 2", IDLE));
    // Tilt zero while the tilt moves.
    prepare(req(A, -40.0f));
    EXPECT_THAT(run(req(A, 0.0f)), ElementsAre(PT_STOP, "completed 1 2", IDLE));
    // Focus zero while the focus moves.
    prepare(req(A, A, A, 30.0f));
    EXPECT_THAT(run(req(A, A, A, 0.0f)), ElementsAre(FOCUS_STOP, "completed 1 2", IDLE));
}

TEST_F(MoveContTest, ZeroMemberOfAnIdleAxisStopsNothing) {
    prepare(req(A, 40.0f));
    EXPECT_THAT(run(req(0.0f)), ElementsAre(status(0, 3, 0, 0, 0)));
    // A zero iris never triggers: its recorded speed is always 0.
    EXPECT_THAT(run(req(A, A, A, A, 0.0f)), IsEmpty());
}

TEST_F(MoveContTest, AbsentMemberOfAMovingAxisNeverTriggers) {
    prepare(req(A, A, 20.0f));
    EXPECT_THAT(run(req(50.0f)),
                ElementsAre("started 1", pan_frame(0x09, false), status(3, 0, 3, 0, 0)));
}

TEST_F(MoveContTest, ZeroPanAndDrivingZoomStopThenDriveTheZoomAgain) {
    prepare(req(50.0f));
    prepare(req(A, A, 20.0f));
    EXPECT_THAT(run(req(0.0f, A, 20.0f)),
                ElementsAre("started 1", PT_STOP, ZOOM_STOP, "write 81 01 04 07 27 FF",
                            status(0, 0, 3, 0, 0)));
}

TEST_F(MoveContTest, ReversingAMovingPanSendsNoStop) {
    prepare(req(-30.0f));
    EXPECT_THAT(run(req(50.0f)),
                ElementsAre("started 1", pan_frame(0x09, false), status(3, 0, 0, 0, 0)));
    EXPECT_THAT(run(req(-50.0f)), ElementsAre("started 1", pan_frame(0x09, true), status(3, 0, 0, 0, 0)));
}

// ---- pan/tilt and zoom/focus/iris choices ----

TEST_F(MoveContTest, LargerOfPanAndTiltIsDrivenTiesToPan) {
    struct Case {
        float pan, tilt;
        std::string frame;
        std::string report;
    };
    const Case cases[] = {
        {30.0f, -30.0f, pan_frame(0x05, false), status(3, 0, 0, 0, 0)},
        {-30.0f, 30.0f, pan_frame(0x05, true), status(3, 0, 0, 0, 0)},
        {20.0f, -40.0f, tilt_frame(0x06, true), status(0, 3, 0, 0, 0)},
        {-40.0f, 39.0f, pan_frame(0x07, true), status(3, 0, 0, 0, 0)},
        {1.0f, -1.5f, tilt_frame(0x01, true), status(0, 3, 0, 0, 0)},
        {100.0f, 100.0f, pan_frame(0x12, false), status(3, 0, 0, 0, 0)},
        // Tilt alone, or with a zero pan, drives the tilt; up is 01.
        {A, 100.0f, tilt_frame(0x0E, false), status(0, 3, 0, 0, 0)},
        {0.0f, 50.0f, tilt_frame(0x07, false), status(0, 3, 0, 0, 0)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.pan) + " / " + std::to_string(c.tilt));
        EXPECT_THAT(run(req(c.pan, c.tilt)), ElementsAre("started 1", c.frame, c.report));
        driver_stop();
    }
}

TEST_F(MoveContTest, LargerOfZoomAndFocusIsDrivenTiesToZoom) {
    // Zoom tele 2p / wide 3p; focus near 3p / far 2p; the configured speed 100 gives p = 7.
    EXPECT_THAT(run(req(A, A, 10.0f, -10.0f)),
                ElementsAre("started 1", "write 81 01 04 07 27 FF", status(0, 0, 3, 0, 0)));
    EXPECT_THAT(run(req(A, A, -10.0f, 10.0f)),
                ElementsAre("started 1", "write 81 01 04 07 37 FF", status(0, 0, 3, 0, 0)));
    EXPECT_THAT(run(req(A, A, 5.0f, -20.0f)),
                ElementsAre("started 1", "write 81 01 04 08 27 FF", status(0, 0, 3, 0, 3)));
    // A zero zoom while the zoom moves stops the focus too before driving it.
    EXPECT_THAT(run(req(A, A, 0.0f, 20.0f)),
                ElementsAre("started 1", ZOOM_STOP, FOCUS_STOP, "write 81 01 04 08 37 FF",
                            status(0, 0, 0, 0, 3)));
}

TEST_F(MoveContTest, ZoomWinningLeavesAutofocusAlone) {
    ASSERT_EQ(driver_autofocus(1), 1);
    fake::clear_log();
    EXPECT_THAT(run(req(A, A, 10.0f, -10.0f)),
                ElementsAre("started 1", "write 81 01 04 07 27 FF", status(0, 0, 3, 0, 0, 2, 1)));
    // A focus drive switches to manual focus first, once.
    EXPECT_THAT(run(req(A, A, A, -10.0f)),
                ElementsAre("started 1", FOCUS_MANUAL, "write 81 01 04 08 27 FF",
                            status(0, 0, 3, 0, 3)));
    EXPECT_THAT(run(req(A, A, A, 10.0f)),
                ElementsAre("started 1", "write 81 01 04 08 37 FF", status(0, 0, 3, 0, 3)));
}

TEST_F(MoveContTest, TheLoserOfThePanTiltPairStaysRecordedAsMoving) {
    prepare(req(50.0f));
    // Only the tilt frame; the camera stops the pan, the record still shows it.
    EXPECT_THAT(run(req(A, 40.0f)),
                ElementsAre("started 1", tilt_frame(0x06, false), status(3, 3, 0, 0, 0)));
    // So a stop still sends one pan/tilt stop frame.
    fake::clear_log();
    EXPECT_EQ(driver_stop(), 1);
    EXPECT_THAT(fake::calls(), ElementsAre(PT_STOP, IDLE, "completed 1 2"));
}

TEST_F(MoveContTest, ZoomAndFocusFramesDoNotAffectEachOther) {
    prepare(req(A, A, 20.0f));
    EXPECT_THAT(run(req(A, A, A, 10.0f)),
                ElementsAre("started 1", "write 81 01 04 08 37 FF", status(0, 0, 3, 0, 3)));
    fake::clear_log();
    EXPECT_EQ(driver_stop(), 1);
    EXPECT_THAT(fake::calls(), ElementsAre(ZOOM_STOP, FOCUS_STOP, IDLE, "completed 1 2"));
}

TEST_F(MoveContTest, ZoomUsesTheConfiguredSpeedNotTheRequestedOne) {
    fake::set_param(1, "ZoomSpeed", 50);  // nibble 3
    fake::set_param(1, "FocusSpeed", 16);  // nibble 1
    ASSERT_EQ(driver_param_changed(), 1);
    EXPECT_THAT(run(req(A, A, 99.0f)),
                ElementsAre("started 1", "write 81 01 04 07 23 FF", status(0, 0, 3, 0, 0)));
    EXPECT_THAT(run(req(A, A, A, -2.0f)),
                ElementsAre("started 1", "write 81 01 04 08 21 FF", status(0, 0, 3, 0, 3)));
}

// ---- iris ----

std::vector<std::string> iris_steps(int steps) {
    std::vector<std::string> out{AE_BRIGHT, SETTLE};
    for (int i = 0; i < (steps < 0 ? -steps : steps); ++i) {
        out.push_back(steps > 0 ? BRIGHT_UP : BRIGHT_DOWN);
        out.push_back(STEP);
    }
    return out;
}

TEST_F(MoveContTest, IrisSixUnitsPerStepTruncated) {
    struct Case {
        float iris;
        int steps;
    };
    for (const Case &c : {Case{12.0f, 2}, Case{-13.0f, -2}, Case{6.0f, 1}, Case{-6.0f, -1},
                          Case{11.99f, 1}, Case{23.9f, 3}, Case{-35.99f, -5}, Case{60.0f, 10}}) {
        SCOPED_TRACE(c.iris);
        std::vector<std::string> want{"started 1", status(0, 0, 0, 3, 0)};
        for (const std::string &s : iris_steps(c.steps)) {
            want.push_back(s);
        }
        want.push_back(IDLE);
        want.push_back("completed 1 2");  // and no final report for the iris alone
        EXPECT_EQ(run(req(A, A, A, A, c.iris)), want);
    }
}

TEST_F(MoveContTest, IrisClearsAutoIrisAndReportsTheModeChange) {
    ASSERT_EQ(driver_autoiris(1), 1);
    fake::clear_log();
    std::vector<std::string> want{"started 1", status(0, 0, 0, 3, 0, 1, 2)};
    for (const std::string &s : iris_steps(-1)) {
        want.push_back(s);
    }
    want.push_back(IDLE);
    want.push_back("completed 1 2");
    EXPECT_EQ(run(req(A, A, A, A, -6.5f)), want);
}

TEST_F(MoveContTest, IrisIsIgnoredWhenZoomOrFocusDrives) {
    EXPECT_THAT(run(req(A, A, 5.0f, A, 12.0f)),
                ElementsAre("started 1", "write 81 01 04 07 27 FF", status(0, 0, 3, 0, 0)));
    prepare(req(A, A, 0.0f));  // stop the zoom
    EXPECT_THAT(run(req(A, A, A, -3.0f, -60.0f)),
                ElementsAre("started 1", "write 81 01 04 08 27 FF", status(0, 0, 0, 0, 3)));
}

TEST_F(MoveContTest, IrisStepsBesideAPanAndLeaveItOpen) {
    std::vector<std::string> want{"started 1", pan_frame(0x09, false), status(3, 0, 0, 3, 0)};
    for (const std::string &s : iris_steps(1)) {
        want.push_back(s);
    }
    want.push_back(status(3, 0, 0, 0, 0));  // after the steps
    want.push_back(status(3, 0, 0, 0, 0));  // final report: the pan is present
    EXPECT_EQ(run(req(50.0f, A, A, A, 6.0f)), want);
}

TEST_F(MoveContTest, IrisWithZeroMembersCompletesAndReports) {
    // A zero zoom is present, so the final report follows the completion.
    std::vector<std::string> want{"started 1", status(0, 0, 0, 3, 0)};
    for (const std::string &s : iris_steps(2)) {
        want.push_back(s);
    }
    want.push_back(IDLE);
    want.push_back("completed 1 2");
    want.push_back(IDLE);
    EXPECT_EQ(run(req(A, A, 0.0f, A, 17.0f)), want);
}

TEST_F(MoveContTest, SuspensionDuringIrisStepsEndsThemButTheMoveFinishes) {
    fake::suspend_at_sleep(2);  // the first step's sleep
    EXPECT_THAT(run(req(A, A, A, A, 18.0f)),
                ElementsAre("started 1", status(0, 0, 0, 3, 0), AE_BRIGHT, SETTLE, BRIGHT_UP, STEP,
                            "syslog 4 Suspended!", IDLE, "completed 1 2"));
}

TEST_F(MoveContTest, SuspensionDuringTheSettleSleepIsSeenAfterTheFirstStep) {
    fake::suspend_at_sleep(1);
    EXPECT_THAT(run(req(A, A, A, A, -18.0f)),
                ElementsAre("started 1", status(0, 0, 0, 3, 0), AE_BRIGHT, SETTLE, BRIGHT_DOWN, STEP,
                            "syslog 4 Suspended!", IDLE, "completed 1 2"));
}

TEST_F(MoveContTest, IrisWhoseStepCountOverflowsIsRefused) {
    for (float iris : {-Inf, -1e30f, -2e10f}) {
        SCOPED_TRACE(iris);
        // Nothing sleeps here; a runaway step loop would end at its first step.
        fake::suspend_at_sleep(1);
        const std::vector<std::string> got = run(req(A, A, A, A, iris));
        EXPECT_THAT(got, ElementsAre("started 1",
                                     MatchesRegex("syslog 3 Error: tavrinode\\[[0-9]+\\]driver_move_cont\\(\\): "
                                                  "Refused iris, .+!"),
                                     "completed 1 2"));
    }
}

// ---- completion and final report ----

TEST_F(MoveContTest, ZeroMembersOnAnIdleCameraCompleteAndReport) {
    EXPECT_THAT(run(req(A, A, A, 0.5f)), ElementsAre("completed 1 2", IDLE));
    EXPECT_THAT(run(req(A, -0.2f)), ElementsAre("completed 1 2", IDLE));
}

TEST_F(MoveContTest, NoCompletionWhileAnyAxisMoves) {
    prepare(req(A, A, A, 25.0f));
    EXPECT_THAT(run(req(A, A, 0.0f)), ElementsAre(status(0, 0, 0, 0, 3)));
}

TEST_F(MoveContTest, StatesOfEarlierMovesArePublished) {
    prepare(req(A, A, 20.0f));
    EXPECT_THAT(run(req(-1.0f)), ElementsAre("started 1", pan_frame(0x01, true), status(3, 0, 3, 0, 0)));
}

// ---- stop ----

TEST_F(MoveContTest, StopOnAnIdleCamera) {
    fake::clear_log();
    EXPECT_EQ(driver_stop(), 1);
    EXPECT_THAT(fake::calls(), ElementsAre(IDLE, "completed 1 2"));
}

TEST_F(MoveContTest, StopWhileZoomAndTiltMove) {
    prepare(req(A, 40.0f));
    prepare(req(A, A, -20.0f));
    EXPECT_EQ(driver_stop(), 1);
    EXPECT_THAT(fake::calls(), ElementsAre(PT_STOP, ZOOM_STOP, IDLE, "completed 1 2"));
    // Everything is cleared: a second stop sends nothing.
    fake::clear_log();
    EXPECT_EQ(driver_stop(), 1);
    EXPECT_THAT(fake::calls(), ElementsAre(IDLE, "completed 1 2"));
}

TEST_F(MoveContTest, StopKeepsTheFocusModeItFound) {
    ASSERT_EQ(driver_autofocus(1), 1);
    prepare(req(A, A, 30.0f));
    EXPECT_EQ(driver_stop(), 1);
    EXPECT_THAT(fake::calls(), ElementsAre(ZOOM_STOP, status(0, 0, 0, 0, 0, 2, 1), "completed 1 2"));
}

// ---- camera numbers and refusals ----

TEST_F(MoveContTest, SecondCameraUsesItsOwnNumberAndRecord) {
    fake::reset(2);
    fake::set_param(2, "ZoomSpeed", 1);  // nibble 0
    ASSERT_EQ(driver_setup(), 1);
    camindex = 1;
    EXPECT_THAT(run(req(A, A, -5.0f)),
                ElementsAre("started 2", "write 81 01 04 07 30 FF", status(0, 0, 3, 0, 0)));
    // The first camera is idle and stays so.
    camindex = 0;
    EXPECT_THAT(run(req(A, A, 0.0f)), ElementsAre("completed 1 2", IDLE));
    camindex = 1;
    fake::clear_log();
    EXPECT_EQ(driver_stop(), 1);
    EXPECT_THAT(fake::calls(), ElementsAre(ZOOM_STOP, IDLE, "completed 2 2"));
}

TEST_F(MoveContTest, NullRequestIsRefused) {
    prepare(req(50.0f));
    EXPECT_EQ(driver_move_cont(nullptr), 0);
    EXPECT_THAT(fake::calls(),
                ElementsAre(MatchesRegex("syslog 3 Error: tavrinode\\[[0-9]+\\]driver_move_cont\\(\\): "
                                         "Refused, .+!")));
    // The running pan is untouched.
    fake::clear_log();
    EXPECT_EQ(driver_stop(), 1);
    EXPECT_THAT(fake::calls(), ElementsAre(PT_STOP, IDLE, "completed 1 2"));
}

}  // namespace
