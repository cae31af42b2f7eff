// The camera's on-screen menu: open and close send one frame each, navigation
// and unknown codes are refused with an explanation in drivermsg.
#include <limits.h>
#include <string.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_host.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

typedef std::vector<std::string> Lines;

const char OPEN[] = "write 81 01 04 15 02 FF";
const char CLOSE[] = "write 81 01 04 15 03 FF";
const char UNKNOWN[] = "Not supported or implemented OSD command!";

class MenuTest : public DriverTest {
protected:
    // Fills drivermsg with a long text so that a copy without its terminator
    // would show.
    static void scribble_drivermsg() {
        memset(drivermsg, 'X', 100);
        drivermsg[100] = '\0';
    }
};

TEST_F(MenuTest, OpenAndCloseWriteTheirFrameAndLeaveDrivermsgAlone) {
    EXPECT_EQ(driver_osdmenu(1), 1);
    EXPECT_THAT(fake::calls(), ElementsAre(OPEN));
    fake::clear_log();
    EXPECT_EQ(driver_osdmenu(0), 1);
    EXPECT_THAT(fake::calls(), ElementsAre(CLOSE));
    EXPECT_STREQ(drivermsg, fake::drivermsg_marker);
}

TEST_F(MenuTest, NoMenuStateIsKept) {
    EXPECT_EQ(driver_osdmenu(0), 1);
    EXPECT_EQ(driver_osdmenu(0), 1);
    EXPECT_EQ(driver_osdmenu(1), 1);
    EXPECT_EQ(driver_osdmenu(1), 1);
    EXPECT_THAT(fake::calls(), ElementsAre(CLOSE, CLOSE, OPEN, OPEN));
}

TEST_F(MenuTest, SuccessIsExactlyOneWhateverTheWriteReturned) {
    for (int written : {7, 2, -1, INT_MIN}) {
        fake::host().write_result = written;
        EXPECT_EQ(driver_osdmenu(1), 1) << written;
        EXPECT_EQ(driver_osdmenu(0), 1) << written;
    }
    fake::host().write_result = 1;
    fake::host().write_results[fake::host().writes + 1] = 42;
    EXPECT_EQ(driver_osdmenu(0), 1);
    EXPECT_STREQ(drivermsg, fake::drivermsg_marker);
}

TEST_F(MenuTest, FailedFrameIsAWarningAndFailedInDrivermsg) {
    struct Case {
        int code;
        const char *frame;
        const char *logged;
    };
    const Case cases[] = {{0, CLOSE, "syslog 4 Command OSD-CLOSE failed!"},
                          {1, OPEN, "syslog 4 Command OSD-OPEN failed!"}};
    for (const Case &c : cases) {
        fake::clear_log();
        scribble_drivermsg();
        fake::fail_write(1);
        EXPECT_EQ(driver_osdmenu(c.code), 0) << c.code;
        // Logged after the write, then explained to the host.
        EXPECT_THAT(fake::calls(), ElementsAre(c.frame, c.logged)) << c.code;
        EXPECT_STREQ(drivermsg, "failed") << c.code;
    }
    // A later success leaves the explanation as it was.
    EXPECT_EQ(driver_osdmenu(1), 1);
    EXPECT_STREQ(drivermsg, "failed");
}

struct Refusal {
    int code;
    int priority;
    const char *logged;
    const char *message;
};

const Refusal refusals[] = {
    {2, 6, "OSD-UP! Not supported OSD command!", "OSD-UP command not supported"},
    {3, 6, "OSD-DOWN! Not supported OSD command!", "OSD-DOWN command not supported"},
    {4, 6, "OSD-LEFT! Not supported OSD command!", "OSD-LEFT command not supported"},
    {5, 6, "OSD-RIGHT! Not supported OSD command!", "OSD-RIGHT command not supported"},
    {6, 6, "OSD-SELECT! Not supported OSD command!", "OSD-SELECT command not supported"},
    {7, 6, "OSD-BACK! Not supported OSD command!", "OSD-BACK command not supported"},
    // Codes are taken as unsigned: negative ones are large.
    {8, 4, UNKNOWN, UNKNOWN},
    {9, 4, UNKNOWN, UNKNOWN},
    {1000, 4, UNKNOWN, UNKNOWN},
    {INT_MAX, 4, UNKNOWN, UNKNOWN},
    {-1, 4, UNKNOWN, UNKNOWN},
    {-2, 4, UNKNOWN, UNKNOWN},
    {-6, 4, UNKNOWN, UNKNOWN},
    {INT_MIN, 4, UNKNOWN, UNKNOWN},
};

TEST_F(MenuTest, RefusedCodesLogExplainAndSendNothing) {
    for (const Refusal &r : refusals) {
        fake::clear_log();
        scribble_drivermsg();
        EXPECT_EQ(driver_osdmenu(r.code), 0) << r.code;
        EXPECT_THAT(fake::calls(),
                    ElementsAre("syslog " + std::to_string(r.priority) + " " + r.logged))
            << r.code;
        // Copied whole, terminator included.
        EXPECT_STREQ(drivermsg, r.message) << r.code;
    }
}

TEST_F(MenuTest, RefusalsDoNotDependOnTheWrite) {
    fake::fail_all_writes();
    for (const Refusal &r : refusals) {
        EXPECT_EQ(driver_osdmenu(r.code), 0) << r.code;
        EXPECT_STREQ(drivermsg, r.message) << r.code;
    }
    EXPECT_THAT(fake::frames(), IsEmpty());
}

TEST_F(MenuTest, NothingOfTheBookkeepingOrTheCameraStateIsTouched) {
    move_request req = absent();
    req.pan = 40.0f;
    ASSERT_EQ(driver_move_cont(&req), 1);
    fake::clear_log();
    EXPECT_EQ(driver_osdmenu(1), 1);
    EXPECT_EQ(driver_osdmenu(4), 0);
    EXPECT_EQ(driver_osdmenu(0), 1);
    EXPECT_THAT(fake::without_syslog(), ElementsAre(OPEN, CLOSE));
    // The pan is still recorded as moving.
    fake::clear_log();
    driver_stop();
    EXPECT_THAT(fake::frames(), ElementsAre("write 81 01 06 01 00 00 03 03 FF"));
}

TEST_F(MenuTest, EveryCameraGetsTheSameFrame) {
    driver_teardown();
    fake::reset(3);
    ASSERT_EQ(driver_setup(), 1);
    fake::clear_log();
    for (int index : {0, 1, 2}) {
        camindex = index;
        EXPECT_EQ(driver_osdmenu(1), 1) << index;
    }
    EXPECT_THAT(fake::calls(), ElementsAreArray(Lines{OPEN, OPEN, OPEN}));
}

}  // namespace
