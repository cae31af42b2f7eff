// Queries and the run-time move speed: none of them talks to the camera or to
// the host's bookkeeping.
#include <math.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_host.h"

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

class QueryTest : public DriverTest {
protected:
    static void reconfigure(const std::string &key, int value) {
        fake::set_param(1, key, value);
        ASSERT_EQ(driver_param_changed(), 1);
        fake::clear_log();
    }
};

// Half-way values go away from zero, then the sign is dropped.
struct Rounding {
    float speed;
    float stored;
};
const Rounding roundings[] = {
    {49.5f, 50.0f},  {49.49f, 49.0f}, {-30.6f, 31.0f}, {-0.0f, 0.0f},   {0.0f, 0.0f},
    {0.4f, 0.0f},    {0.5f, 1.0f},    {-0.49f, 0.0f},  {-0.5f, 1.0f},   {-49.5f, 50.0f},
    {150.7f, 151.0f}, {73.2f, 73.0f}, {1.0f, 1.0f},    {-100.0f, 100.0f},
    // The largest floats whose rounding still fits 32 bits.
    {2147483520.0f, 2147483520.0f}, {-2147483520.0f, 2147483520.0f},
};

TEST_F(QueryTest, SetSpeedRoundsHalfWayAwayFromZeroAndDropsTheSign) {
    for (const Rounding &r : roundings) {
        ASSERT_EQ(driver_set_speed(7.0f), 1);
        EXPECT_EQ(driver_set_speed(r.speed), 1) << r.speed;
        EXPECT_EQ(driver_get_speed(), r.stored) << r.speed;
    }
    EXPECT_THAT(fake::calls(), IsEmpty());
}

TEST_F(QueryTest, GetSpeedGivesTheConfiguredSpeedUntilSetAndAgainAfterReload) {
    EXPECT_EQ(driver_get_speed(), 100.0f);
    ASSERT_EQ(driver_set_speed(73.2f), 1);
    EXPECT_EQ(driver_get_speed(), 73.0f);
    reconfigure("MoveSpeed", 64);
    EXPECT_EQ(driver_get_speed(), 64.0f);
}

TEST_F(QueryTest, SetSpeedGovernsTheNextRelativeMove) {
    // 10 degrees at speed 50: 690 x 10 / ((50 / 100.0) x 10.0) = 1380 ms.
    ASSERT_EQ(driver_set_speed(49.5f), 1);
    move_request req = absent();
    req.pan = 10.0f;
    ASSERT_EQ(driver_move_rel(&req), 1);
    EXPECT_THAT(fake::calls(), Contains("sleep 1380000"));
}

// A NaN or a value whose rounding leaves 32 bits cannot be converted; the
// speed is refused and the old one kept.
TEST_F(QueryTest, SetSpeedRefusesValuesThatCannotBeConverted) {
    ASSERT_EQ(driver_set_speed(42.0f), 1);
    const float refused[] = {NAN, -NAN, INFINITY, -INFINITY, 3e9f, -3e9f, 2147483648.0f, -2147483648.0f, 1e38f};
    for (float speed : refused) {
        fake::clear_log();
        EXPECT_EQ(driver_set_speed(speed), 0) << speed;
        EXPECT_EQ(driver_get_speed(), 42.0f) << speed;
        EXPECT_THAT(fake::without_syslog(), IsEmpty());
        ASSERT_EQ(fake::syslogs().size(), 1u) << speed;
        EXPECT_THAT(fake::syslogs()[0], HasSubstr("syslog 3 Error: tavrinode["));
        EXPECT_THAT(fake::syslogs()[0], HasSubstr("]driver_set_speed(): Refused"));
    }
}

TEST_F(QueryTest, BarRangesAreTheConfiguredValuesAsFloats) {
    float pan = -1, tilt = -1;
    driver_bar_ranges(&pan, &tilt);
    EXPECT_EQ(pan, 48.0f);
    EXPECT_EQ(tilt, 78.0f);
    reconfigure("PanBarRange", 720);
    reconfigure("TiltBarRange", 1);
    driver_bar_ranges(&pan, &tilt);
    EXPECT_EQ(pan, 720.0f);
    EXPECT_EQ(tilt, 1.0f);
    EXPECT_THAT(fake::calls(), IsEmpty());
}

TEST_F(QueryTest, BarRangesSkipANullOutputAndStillFillTheOther) {
    float pan = -1, tilt = -1;
    driver_bar_ranges(nullptr, &tilt);
    EXPECT_EQ(tilt, 78.0f);
    driver_bar_ranges(&pan, nullptr);
    EXPECT_EQ(pan, 48.0f);
    driver_bar_ranges(nullptr, nullptr);
    EXPECT_THAT(fake::calls(), IsEmpty());
}

// Tenths of a degree to degrees, divided in double and narrowed to float.
struct Angle {
    int tenths;
    float degrees;
};
const Angle angles[] = {{450, 45.0f}, {455, 45.5f}, {1, 0.1f}, {7, 0.7f}, {1800, 180.0f}, {1234, 123.4f}};

TEST_F(QueryTest, FieldAngleIsTenthsOfADegree) {
    for (const Angle &a : angles) {
        reconfigure("CurrentFieldAngle", a.tenths);
        float angle = -1;
        driver_current_field_angle(&angle);
        EXPECT_EQ(angle, a.degrees) << a.tenths;
    }
    driver_current_field_angle(nullptr);
    EXPECT_THAT(fake::calls(), IsEmpty());
}

TEST_F(QueryTest, FlipsAreReportedAsStoredEachFromItsOwnKey) {
    EXPECT_EQ(driver_pan_flipped(), 0);
    EXPECT_EQ(driver_tilt_flipped(), 0);
    reconfigure("FlipPan", 1);
    EXPECT_EQ(driver_pan_flipped(), 1);
    EXPECT_EQ(driver_tilt_flipped(), 0);
    reconfigure("FlipPan", 0);
    reconfigure("FlipTilt", 1);
    EXPECT_EQ(driver_pan_flipped(), 0);
    EXPECT_EQ(driver_tilt_flipped(), 1);
    reconfigure("FlipTilt", 3);
    EXPECT_EQ(driver_tilt_flipped(), 3);
}

TEST_F(QueryTest, ZoomCompensationIsAlwaysZero) {
    EXPECT_EQ(driver_zoom_compensation(), 0);
    reconfigure("ZoomSpeed", 1);
    reconfigure("ZoomTime", 150000);
    reconfigure("CurrentFieldAngle", 1800);
    EXPECT_EQ(driver_zoom_compensation(), 0);
    EXPECT_THAT(fake::calls(), IsEmpty());
}

TEST_F(QueryTest, EachSlotAnswersFromItsOwnRecord) {
    driver_teardown();
    fake::reset(2);
    fake::set_param(2, "PanBarRange", 90);
    fake::set_param(2, "CurrentFieldAngle", 300);
    fake::set_param(2, "FlipTilt", 1);
    ASSERT_EQ(driver_setup(), 1);
    camindex = 1;
    ASSERT_EQ(driver_set_speed(12.0f), 1);
    float pan = 0, tilt = 0, angle = 0;
    driver_bar_ranges(&pan, &tilt);
    driver_current_field_angle(&angle);
    EXPECT_EQ(pan, 90.0f);
    EXPECT_EQ(angle, 30.0f);
    EXPECT_EQ(driver_tilt_flipped(), 1);
    EXPECT_EQ(driver_get_speed(), 12.0f);
    camindex = 0;
    driver_bar_ranges(&pan, &tilt);
    driver_current_field_angle(&angle);
    EXPECT_EQ(pan, 48.0f);
    EXPECT_EQ(angle, 45.0f);
    EXPECT_EQ(driver_tilt_flipped(), 0);
    EXPECT_EQ(driver_get_speed(), 100.0f);
}

}  // namespace
