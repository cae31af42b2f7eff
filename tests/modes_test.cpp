// Focus and exposure modes (remembered per camera, published in the status),
// backlight compensation and the IR-cut filter (sent on every request).
#include <limits.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_host.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

// Idle status with the iris mode (position 13) and focus mode (position 14):
// 1 automatic, 2 not.
std::string idle_status(int iris_mode, int focus_mode) {
    return "status 0 0 0 0 0 0 0 0 0 0 0 2 " + std::to_string(iris_mode) + " " + std::to_string(focus_mode);
}

// The two remembered modes behave alike; only frames and status position differ.
struct RememberedMode {
    const char *name;
    int (*entry)(int);
    const char *auto_frame;
    const char *manual_frame;
    bool focus;  // false: exposure (iris)

    // Status with this mode's flag as given and the other mode off.
    std::string status(bool on, const char *axes = "0 0 0 0 0 0 0 0 0 0 0") const {
        const int mode = on ? 1 : 2;
        return std::string("status ") + axes + " 2 " + (focus ? "2 " + std::to_string(mode)
                                                              : std::to_string(mode) + " 2");
    }
};

const RememberedMode remembered_modes[] = {
    {"autofocus", driver_autofocus, "write 81 01 04 38 02 FF", "write 81 01 04 38 03 FF", true},
    {"autoiris", driver_autoiris, "write 81 01 04 39 00 FF", "write 81 01 04 39 0D FF", false},
};

class ModeTest : public DriverTest {
protected:
    static void start_pan() {
        move_request req = absent();
        req.pan = 40.0f;
        ASSERT_EQ(driver_move_cont(&req), 1);
        fake::clear_log();
    }
};

TEST_F(ModeTest, ManualRightAfterSetupSendsNothingButReportsAndCompletes) {
    for (const RememberedMode &m : remembered_modes) {
        fake::clear_log();
        EXPECT_EQ(m.entry(0), 1) << m.name;
        // Completed without a preceding start: all axes are idle.
        EXPECT_THAT(fake::calls(), ElementsAre(m.status(false), "completed 1 2")) << m.name;
    }
}

TEST_F(ModeTest, AutomaticIsSentOnceThenRemembered) {
    for (const RememberedMode &m : remembered_modes) {
        fake::clear_log();
        fake::host().write_result = 5;  // passed back unchanged
        EXPECT_EQ(m.entry(1), 5) << m.name;
        EXPECT_THAT(fake::calls(), ElementsAre("started 1", m.auto_frame, m.status(true), "completed 1 2"))
            << m.name;

        fake::clear_log();
        EXPECT_EQ(m.entry(1), 1) << m.name;
        EXPECT_THAT(fake::calls(), ElementsAre(m.status(true), "completed 1 2")) << m.name;

        fake::clear_log();
        EXPECT_EQ(m.entry(0), 5) << m.name;
        EXPECT_THAT(fake::calls(), ElementsAre("started 1", m.manual_frame, m.status(false), "completed 1 2"))
            << m.name;

        fake::clear_log();
        EXPECT_EQ(m.entry(0), 1) << m.name;
        EXPECT_THAT(fake::calls(), ElementsAre(m.status(false), "completed 1 2")) << m.name;
        fake::host().write_result = 1;
    }
}

TEST_F(ModeTest, ValuesOtherThanZeroAndOneAskForNothing) {
    for (const RememberedMode &m : remembered_modes) {
        for (bool on : {false, true}) {
            if (on) {
                ASSERT_EQ(m.entry(1), 1);
            }
            for (int value : {2, -1, 3, INT_MIN, INT_MAX}) {
                fake::clear_log();
                EXPECT_EQ(m.entry(value), 1) << m.name << " " << value;
                EXPECT_THAT(fake::calls(), ElementsAre(m.status(on), "completed 1 2")) << m.name << " " << value;
            }
        }
        ASSERT_EQ(m.entry(0), 1);
    }
}

TEST_F(ModeTest, FlagChangesBeforeTheWriteAndStaysAfterAFailedWrite) {
    for (const RememberedMode &m : remembered_modes) {
        fake::clear_log();
        fake::fail_write(1);
        EXPECT_EQ(m.entry(1), 0) << m.name;
        // The status already publishes the new mode.
        EXPECT_THAT(fake::calls(), ElementsAre("started 1", m.auto_frame, m.status(true), "completed 1 2"))
            << m.name;
        fake::clear_log();
        EXPECT_EQ(m.entry(1), 1) << m.name;
        EXPECT_THAT(fake::calls(), ElementsAre(m.status(true), "completed 1 2")) << m.name;

        fake::clear_log();
        fake::fail_write(1);
        EXPECT_EQ(m.entry(0), 0) << m.name;
        EXPECT_THAT(fake::calls(), ElementsAre("started 1", m.manual_frame, m.status(false), "completed 1 2"))
            << m.name;
        fake::clear_log();
        EXPECT_EQ(m.entry(0), 1) << m.name;
        EXPECT_THAT(fake::calls(), ElementsAre(m.status(false), "completed 1 2")) << m.name;
    }
}

TEST_F(ModeTest, NoCompletionWhileAnAxisMoves) {
    for (const RememberedMode &m : remembered_modes) {
        start_pan();
        EXPECT_EQ(m.entry(1), 1) << m.name;
        EXPECT_THAT(fake::calls(),
                    ElementsAre("started 1", m.auto_frame, m.status(true, "3 0 0 0 0 0 1 0 0 0 0")))
            << m.name;
        fake::clear_log();
        EXPECT_EQ(m.entry(1), 1) << m.name;
        EXPECT_THAT(fake::calls(), ElementsAre(m.status(true, "3 0 0 0 0 0 1 0 0 0 0"))) << m.name;
        driver_stop();
        ASSERT_EQ(m.entry(0), 1);
    }
}

TEST_F(ModeTest, FocusDriveTakesTheCameraOutOfAutomaticFocus) {
    ASSERT_EQ(driver_autofocus(1), 1);
    move_request req = absent();
    req.focus = 20.0f;
    ASSERT_EQ(driver_move_cont(&req), 1);
    driver_stop();
    fake::clear_log();
    // Manual is now believed: asking for it sends nothing, automatic is sent again.
    EXPECT_EQ(driver_autofocus(0), 1);
    EXPECT_THAT(fake::frames(), IsEmpty());
    EXPECT_EQ(driver_autofocus(1), 1);
    EXPECT_THAT(fake::frames(), ElementsAre("write 81 01 04 38 02 FF"));
}

TEST_F(ModeTest, IrisStepTakesTheCameraOutOfFullAutomaticExposure) {
    ASSERT_EQ(driver_autoiris(1), 1);
    move_request req = absent();
    req.iris = 12.0f;
    ASSERT_EQ(driver_move_cont(&req), 1);
    fake::clear_log();
    EXPECT_EQ(driver_autoiris(0), 1);
    EXPECT_THAT(fake::frames(), IsEmpty());
    EXPECT_EQ(driver_autoiris(1), 1);
    EXPECT_THAT(fake::frames(), ElementsAre("write 81 01 04 39 00 FF"));
}

TEST_F(ModeTest, FocusAndExposureFlagsAreIndependent) {
    ASSERT_EQ(driver_autofocus(1), 1);
    fake::clear_log();
    EXPECT_EQ(driver_autoiris(1), 1);
    EXPECT_THAT(fake::calls(), ElementsAre("started 1", "write 81 01 04 39 00 FF", idle_status(1, 1),
                                           "completed 1 2"));
    fake::clear_log();
    EXPECT_EQ(driver_autofocus(0), 1);
    EXPECT_THAT(fake::calls(), ElementsAre("started 1", "write 81 01 04 38 03 FF", idle_status(1, 2),
                                           "completed 1 2"));
}

TEST_F(ModeTest, BacklightCompletesBeforeItWritesAndIsNeverRemembered) {
    struct Case {
        int on;
        const char *frame;
    };
    const Case cases[] = {{5, "write 81 01 04 33 02 FF"}, {5, "write 81 01 04 33 02 FF"},
                          {1, "write 81 01 04 33 02 FF"}, {0, "write 81 01 04 33 03 FF"},
                          {0, "write 81 01 04 33 03 FF"}, {-1, "write 81 01 04 33 02 FF"},
                          {INT_MIN, "write 81 01 04 33 02 FF"}};
    for (const Case &c : cases) {
        fake::clear_log();
        EXPECT_EQ(driver_backlight(c.on), 1) << c.on;
        EXPECT_THAT(fake::calls(), ElementsAre("started 1", "completed 1 2", c.frame)) << c.on;
    }
}

TEST_F(ModeTest, BacklightReturnsTheWriteResult) {
    fake::host().write_result = 7;
    EXPECT_EQ(driver_backlight(1), 7);
    fake::fail_write(1);
    EXPECT_EQ(driver_backlight(1), 0);
    fake::host().write_result = 1;
    fake::fail_write(1);
    EXPECT_EQ(driver_backlight(0), 0);
}

TEST_F(ModeTest, BacklightWhileAnAxisMovesDoesNotComplete) {
    start_pan();
    EXPECT_EQ(driver_backlight(1), 1);
    EXPECT_THAT(fake::calls(), ElementsAre("started 1", "write 81 01 04 33 02 FF"));
}

struct IrCut {
    int mode;
    std::vector<std::string> frames;
};
const std::vector<std::string> night = {"write 81 01 04 51 03 FF", "write 81 01 04 01 02 FF"};
const std::vector<std::string> day = {"write 81 01 04 51 03 FF", "write 81 01 04 01 03 FF"};
const std::vector<std::string> automatic = {"write 81 01 04 51 02 FF"};
const std::vector<std::string> removed = {"write 81 01 04 01 02 FF"};

TEST_F(ModeTest, IrCutFramesByMode) {
    const IrCut cases[] = {{0, night},       {1, day},           {2, automatic},      {3, removed},
                           {7, removed},     {-1, removed},      {INT_MIN, removed},  {INT_MAX, removed},
                           {2, automatic},   {0, night}};
    for (const IrCut &c : cases) {
        fake::clear_log();
        EXPECT_EQ(driver_ircutfilter(c.mode), 1) << c.mode;
        std::vector<std::string> expected = {"started 1"};
        expected.insert(expected.end(), c.frames.begin(), c.frames.end());
        expected.push_back("completed 1 2");
        EXPECT_THAT(fake::calls(), ElementsAreArray(expected)) << c.mode;
    }
}

TEST_F(ModeTest, IrCutReturnsTheLastWriteResult) {
    for (int mode : {0, 1}) {
        // First frame failed, second written: success.
        fake::clear_log();
        fake::fail_write(1);
        EXPECT_EQ(driver_ircutfilter(mode), 1) << mode;
        EXPECT_EQ(fake::frames().size(), 2u);
        // First written, second failed: failure.
        fake::fail_write(2);
        EXPECT_EQ(driver_ircutfilter(mode), 0) << mode;
        // The second result is passed back unchanged.
        fake::host().write_results[fake::host().writes + 2] = 9;
        EXPECT_EQ(driver_ircutfilter(mode), 9) << mode;
    }
    for (int mode : {2, 7, -1}) {
        fake::fail_write(1);
        EXPECT_EQ(driver_ircutfilter(mode), 0) << mode;
        fake::host().write_results[fake::host().writes + 1] = 4;
        EXPECT_EQ(driver_ircutfilter(mode), 4) << mode;
    }
}

TEST_F(ModeTest, IrCutWhileAnAxisMovesDoesNotComplete) {
    start_pan();
    EXPECT_EQ(driver_ircutfilter(1), 1);
    EXPECT_THAT(fake::calls(), ElementsAre("started 1", "write 81 01 04 51 03 FF", "write 81 01 04 01 03 FF"));
}

TEST_F(ModeTest, EachSlotRemembersItsOwnModes) {
    driver_teardown();
    fake::reset(2);
    ASSERT_EQ(driver_setup(), 1);
    camindex = 1;
    fake::clear_log();
    EXPECT_EQ(driver_autofocus(1), 1);
    EXPECT_THAT(fake::calls(), ElementsAre("started 2", "write 81 01 04 38 02 FF", idle_status(2, 1),
                                           "completed 2 2"));
    fake::clear_log();
    EXPECT_EQ(driver_backlight(1), 1);
    EXPECT_EQ(driver_ircutfilter(2), 1);
    EXPECT_THAT(fake::calls(), ElementsAre("started 2", "completed 2 2", "write 81 01 04 33 02 FF", "started 2",
                                           "write 81 01 04 51 02 FF", "completed 2 2"));
    // Slot 0 still believes in manual focus.
    camindex = 0;
    fake::clear_log();
    EXPECT_EQ(driver_autofocus(1), 1);
    EXPECT_THAT(fake::calls(), ElementsAre("started 1", "write 81 01 04 38 02 FF", idle_status(2, 1),
                                           "completed 1 2"));
}

}  // namespace
