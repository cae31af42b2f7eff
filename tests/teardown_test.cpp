// Teardown: every configured slot is stopped and reported by its own index,
// then one poll is requested and the records are released.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/core.h"
#include "fake_host.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const char pt_stop[] = "write 81 01 06 01 00 00 03 03 FF";
const char zoom_stop[] = "write 81 01 04 07 00 FF";
const char focus_stop[] = "write 81 01 04 08 00 FF";
const char idle_status[] = "status 0 0 0 0 0 0 0 0 0 0 0 2 2 2";

class TeardownTest : public ::testing::Test {
protected:
    void TearDown() override { driver_teardown(); }

    static move_request absent() {
        return move_request{32765.0f, 32765.0f, 32765.0f, 32765.0f, 32765.0f};
    }

    // Puts slot `index` into motion through the entry points.
    static void drive(int index, move_request req) {
        camindex = index;
        ASSERT_EQ(driver_move_cont(&req), 1);
    }

    // The records are gone: an entry point on the current camera is refused.
    static void expect_released() {
        camindex = 0;
        fake::clear_log();
        EXPECT_EQ(driver_stop(), 0);
        EXPECT_THAT(fake::without_syslog(), IsEmpty());
        EXPECT_EQ(cam_params, nullptr);
    }
};

// Slots 0 and 2 configured with different states, slot 1 not; the order is
// the same whatever camindex holds, and camindex is left as it was.
TEST_F(TeardownTest, StopsAndReportsEachConfiguredSlotThenPollsOnce) {
    for (int index : {0, 1, 2, -5, 7}) {
        fake::reset(3, {1, 0, 1});
        ASSERT_EQ(driver_setup(), 1);
        move_request pan = absent();
        pan.pan = 50.0f;
        drive(0, pan);
        move_request lens = absent();
        lens.zoom = -20.0f;
        drive(2, lens);
        lens = absent();
        lens.focus = 20.0f;  // zoom keeps running, focus joins it
        drive(2, lens);
        camindex = 2;
        ASSERT_EQ(driver_autoiris(1), 1);
        cam_params[2].axis_state[AXIS_IRIS] = 3;  // stop-all leaves the iris entry
        camindex = index;
        fake::clear_log();

        driver_teardown();
        EXPECT_THAT(fake::calls(), ElementsAre(pt_stop, idle_status, zoom_stop, focus_stop,
                                               "status 0 0 0 3 0 0 0 0 0 1 0 2 1 2", "poll 0"))
            << index;
        EXPECT_EQ(camindex, index);
        EXPECT_EQ(fake::host().polls, 1);
        expect_released();
    }
}

TEST_F(TeardownTest, IdleConfiguredSlotsAreReportedWithoutFrames) {
    fake::reset(3, {0, 1, 1});
    ASSERT_EQ(driver_setup(), 1);
    camindex = 1;
    ASSERT_EQ(driver_autofocus(1), 1);
    fake::clear_log();
    driver_teardown();
    EXPECT_THAT(fake::calls(), ElementsAre("status 0 0 0 0 0 0 0 0 0 0 0 2 2 1", idle_status, "poll 0"));
}

TEST_F(TeardownTest, DrivingAxisIsStoppedBeforeItsSlotIsReported) {
    fake::reset(1);
    ASSERT_EQ(driver_setup(), 1);
    move_request req = absent();
    req.tilt = -1.0f;
    drive(0, req);
    fake::clear_log();
    driver_teardown();
    EXPECT_THAT(fake::calls(), ElementsAre(pt_stop, idle_status, "poll 0"));
}

TEST_F(TeardownTest, NoSlotsLeftOnlyPolls) {
    fake::reset(2);
    ASSERT_EQ(driver_setup(), 1);
    move_request req = absent();
    req.pan = 30.0f;
    drive(0, req);
    cameras = 0;
    fake::clear_log();
    driver_teardown();
    EXPECT_THAT(fake::calls(), ElementsAre("poll 0"));
    expect_released();
}

TEST_F(TeardownTest, LoweredSlotCountIsFollowed) {
    fake::reset(3);
    ASSERT_EQ(driver_setup(), 1);
    move_request req = absent();
    req.zoom = 10.0f;
    drive(1, req);
    cameras = 1;
    fake::clear_log();
    driver_teardown();
    EXPECT_THAT(fake::calls(), ElementsAre(idle_status, "poll 0"));  // slot 1 not reached
}

TEST_F(TeardownTest, WithoutSetupOrTwiceDoesNothing) {
    fake::reset(2);
    driver_teardown();
    EXPECT_THAT(fake::calls(), IsEmpty());
    ASSERT_EQ(driver_setup(), 1);
    driver_teardown();
    fake::clear_log();
    driver_teardown();
    EXPECT_THAT(fake::calls(), IsEmpty());
    EXPECT_EQ(fake::host().polls, 1);
}

TEST_F(TeardownTest, AfterFailedAllocationCallsNothing) {
    fake::reset(1);
    cameras = 0xFFFFFFFFu;
    ASSERT_EQ(driver_setup(), 0);
    cameras = 1;
    fake::clear_log();
    driver_teardown();
    EXPECT_THAT(fake::calls(), IsEmpty());
}

TEST_F(TeardownTest, AfterFailedLoadStillStopsReportsAndPolls) {
    fake::reset(2);
    fake::fail_param("ZoomTime", 2);
    ASSERT_EQ(driver_setup(), 0);
    move_request req = absent();
    req.focus = -5.0f;
    drive(0, req);
    req = absent();
    req.pan = -100.0f;
    drive(1, req);
    fake::clear_log();
    driver_teardown();
    EXPECT_THAT(fake::calls(), ElementsAre(focus_stop, idle_status, pt_stop, idle_status, "poll 0"));
    expect_released();
}

TEST_F(TeardownTest, FailingHostCallsDoNotChangeTheSequence) {
    fake::reset(2);
    ASSERT_EQ(driver_setup(), 1);
    move_request req = absent();
    req.pan = 10.0f;
    drive(0, req);
    drive(1, req);
    fake::fail_all_writes();
    fake::clear_log();
    driver_teardown();
    EXPECT_THAT(fake::calls(), ElementsAre(pt_stop, idle_status, pt_stop, idle_status, "poll 0"));
    expect_released();
}

TEST_F(TeardownTest, RelaysThatAreOnStayOn) {
    fake::reset(1);
    ASSERT_EQ(driver_setup(), 1);
    camindex = 0;
    ASSERT_NE(driver_auxiliary("relay3:on"), 0);
    fake::clear_log();
    driver_teardown();
    EXPECT_THAT(fake::calls(), ElementsAre(idle_status, "poll 0"));
}

TEST_F(TeardownTest, SetupAfterTeardownStartsFresh) {
    fake::reset(1);
    ASSERT_EQ(driver_setup(), 1);
    move_request req = absent();
    req.zoom = 50.0f;
    drive(0, req);
    driver_teardown();
    ASSERT_EQ(driver_setup(), 1);
    fake::clear_log();
    driver_teardown();
    EXPECT_THAT(fake::calls(), ElementsAre(idle_status, "poll 0"));
}

}  // namespace
