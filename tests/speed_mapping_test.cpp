// Host speed to VISCA speed byte and nibble mappings, and the speed
// compensation of relative moves. Expected values come from the documented
// breakpoints and worked examples, not from the driver's own arithmetic.
#include <limits.h>
#include <math.h>
#include <stdint.h>

#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "core/core.h"
#include "fake_host.h"
#include "visca/visca.h"

namespace {

const float inf = std::numeric_limits<float>::infinity();
const float nan_f = std::numeric_limits<float>::quiet_NaN();

// The byte for an integer magnitude: 1 plus the number of breakpoints reached.
int byte_from_breakpoints(int magnitude, const std::vector<int> &starts) {
    int byte = 1;
    for (int s : starts) {
        if (magnitude >= s) {
            ++byte;
        }
    }
    return byte;
}

const std::vector<int> pan_starts = {7, 13, 19, 25, 31, 36, 42, 48, 54, 60, 66, 71, 77, 83, 89, 95, 100};
const std::vector<int> tilt_starts = {9, 17, 24, 32, 40, 47, 55, 62, 70, 78, 85, 93, 100};

TEST(SpeedMapping, PanByteFollowsTheBreakpointsForEveryIntegerMagnitude) {
    for (int m = 1; m <= 100; ++m) {
        const int expected = byte_from_breakpoints(m, pan_starts);
        EXPECT_EQ(pan_speed_byte(static_cast<float>(m)), expected) << m;
        EXPECT_EQ(pan_speed_byte(static_cast<float>(-m)), expected) << -m;
    }
    EXPECT_EQ(byte_from_breakpoints(100, pan_starts), 0x12);
}

TEST(SpeedMapping, TiltByteFollowsTheBreakpointsForEveryIntegerMagnitude) {
    for (int m = 1; m <= 100; ++m) {
        const int expected = byte_from_breakpoints(m, tilt_starts);
        EXPECT_EQ(tilt_speed_byte(static_cast<float>(m)), expected) << m;
        EXPECT_EQ(tilt_speed_byte(static_cast<float>(-m)), expected) << -m;
    }
    EXPECT_EQ(byte_from_breakpoints(100, tilt_starts), 0x0E);
}

TEST(SpeedMapping, DocumentedSinglePoints) {
    EXPECT_EQ(pan_speed_byte(1.0f), 0x01);
    EXPECT_EQ(pan_speed_byte(6.0f), 0x01);
    EXPECT_EQ(pan_speed_byte(7.0f), 0x02);
    EXPECT_EQ(pan_speed_byte(50.0f), 0x09);
    EXPECT_EQ(pan_speed_byte(99.0f), 0x11);
    EXPECT_EQ(pan_speed_byte(100.0f), 0x12);
    EXPECT_EQ(pan_speed_byte(150.0f), 0x1A);
    EXPECT_EQ(pan_speed_byte(-150.0f), 0x1A);
    EXPECT_EQ(pan_speed_byte(29.0f), 0x05);
    EXPECT_EQ(tilt_speed_byte(1.0f), 0x01);
    EXPECT_EQ(tilt_speed_byte(50.0f), 0x07);
    EXPECT_EQ(tilt_speed_byte(-100.0f), 0x0E);
    EXPECT_EQ(tilt_speed_byte(40.0f), 0x06);
}

TEST(SpeedMapping, MagnitudesBelowOneGiveZero) {
    for (float s : {0.5f, -0.5f, 0.0f, -0.0f, 0.999f, -0.999f, 1e-30f, 0.01f}) {
        EXPECT_EQ(pan_speed_byte(s), 0) << s;
        EXPECT_EQ(tilt_speed_byte(s), 0) << s;
    }
}

TEST(SpeedMapping, FractionalMagnitudesTruncate) {
    // (6.5 - 1) * 17 / 99 = 0.94 -> 1; (6.9 - 1) * 17 / 99 = 1.01 -> 2.
    EXPECT_EQ(pan_speed_byte(6.5f), 0x01);
    EXPECT_EQ(pan_speed_byte(6.9f), 0x02);
    // (8.5 - 1) * 13 / 99 = 0.98 -> 1; (8.7 - 1) * 13 / 99 = 1.01 -> 2.
    EXPECT_EQ(tilt_speed_byte(8.5f), 0x01);
    EXPECT_EQ(tilt_speed_byte(-8.7f), 0x02);
    EXPECT_EQ(pan_speed_byte(99.99f), 0x11);
    EXPECT_EQ(tilt_speed_byte(99.99f), 0x0D);
    // Just under a step, where only the single-precision roundings reach it:
    // (6.82352877 - 1) * 17 = 98.99998903 rounds to 98.9999924f, / 99 to
    // 0.99999994f, + 1 to 2.0f. Carried through in double, y = 1.99999989 -> 1.
    const struct {
        float speed;
        bool pan;
        int byte;
    } rounded_up[] = {
        {6.82352877f, true, 0x02},   // double: 0x01
        {-6.82352877f, true, 0x02},  // double: 0x01
        {94.1764603f, true, 0x11},   // 1583.99982 -> 1583.99988f, 15.999999f, 17.0f; double 16.99999823 -> 0x10
        {8.6153841f, false, 0x02},   // 98.99999332 -> 98.9999924f, as the first; double 1.99999993 -> 0x01
    };
    for (const auto &c : rounded_up) {
        EXPECT_EQ(c.pan ? pan_speed_byte(c.speed) : tilt_speed_byte(c.speed), c.byte) << c.speed;
    }
}

// Above 100 the mapping keeps growing unchanged until it would pass 0x7F,
// where it stops. For integer magnitudes the exact quotient is never within
// 1/99 of a whole number unless it is one, so integer division is exact.
TEST(SpeedMapping, AboveHundredGrowsUnchangedUpToTheCap) {
    for (int m = 101; m <= 2000; ++m) {
        const int pan = 1 + (m - 1) * 17 / 99;
        const int tilt = 1 + (m - 1) * 13 / 99;
        EXPECT_EQ(pan_speed_byte(static_cast<float>(m)), pan < 0x7F ? pan : 0x7F) << m;
        EXPECT_EQ(tilt_speed_byte(static_cast<float>(-m)), tilt < 0x7F ? tilt : 0x7F) << m;
    }
    // Where the cap begins: 734 still maps below it, 735 reaches it (pan);
    // 960 and 961 for tilt.
    EXPECT_EQ(pan_speed_byte(734.0f), 0x7E);
    EXPECT_EQ(pan_speed_byte(735.0f), 0x7F);
    EXPECT_EQ(tilt_speed_byte(960.0f), 0x7E);
    EXPECT_EQ(tilt_speed_byte(961.0f), 0x7F);
}

TEST(SpeedMapping, HugeInfiniteAndNaNSpeedsStayInsideTheField) {
    const float largest = std::numeric_limits<float>::max();
    for (float s : {1000.0f, 1e6f, 2147483648.0f, 4294967296.0f, 1e30f, largest, inf}) {
        EXPECT_EQ(pan_speed_byte(s), 0x7F) << s;
        EXPECT_EQ(pan_speed_byte(-s), 0x7F) << -s;
        EXPECT_EQ(tilt_speed_byte(s), 0x7F) << s;
        EXPECT_EQ(tilt_speed_byte(-s), 0x7F) << -s;
    }
    EXPECT_EQ(pan_speed_byte(nan_f), 0);
    EXPECT_EQ(tilt_speed_byte(-nan_f), 0);
}

TEST(SpeedMapping, NoPanOrTiltByteEverReachesTheTopBit) {
    // Sweep the whole float range by powers of two and their neighbours.
    for (int e = -40; e <= 128; ++e) {
        const float base = ldexpf(1.0f, e);
        for (float s : {base, nextafterf(base, 0.0f), nextafterf(base, inf)}) {
            EXPECT_LE(pan_speed_byte(s), 0x7F) << s;
            EXPECT_LE(tilt_speed_byte(-s), 0x7F) << s;
        }
    }
}

TEST(SpeedMapping, LensNibbleThresholds) {
    const int starts[] = {16, 30, 44, 58, 72, 86, 100};
    for (int c = 1; c <= 100; ++c) {
        int expected = 0;
        for (int s : starts) {
            if (c >= s) {
                ++expected;
            }
        }
        EXPECT_EQ(lens_speed_nibble(c), expected) << c;
    }
    EXPECT_EQ(lens_speed_nibble(15), 0);
    EXPECT_EQ(lens_speed_nibble(16), 1);
    EXPECT_EQ(lens_speed_nibble(100), 7);
}

// Configured speeds outside 1..100 are clamped to the nibble's 0..7, so the
// direction nibble of the parameter byte is never touched.
TEST(SpeedMapping, LensNibbleClampedForConfiguredSpeedsOutOfRange) {
    for (int32_t c : {101, 114, 115, 228, 1000, 306783380, INT_MAX}) {
        EXPECT_EQ(lens_speed_nibble(c), 7) << c;
    }
    for (int32_t c : {0, -1, -100, -306783380, INT_MIN}) {
        EXPECT_EQ(lens_speed_nibble(c), 0) << c;
    }
}

// ---- speed compensation ----

class SpeedCompensation : public DriverTest {
protected:
    void set_move_speed(int v) { cam_params[0].move_speed = v; }
};

TEST_F(SpeedCompensation, WorkedExamples) {
    struct Case {
        int32_t speed, comp, expected;
    };
    const Case cases[] = {
        {10, -100, -6},  // t = -10, s = 0 < 4: lifted to 4
        {60, 100, 38},   // t = 42, s = 102: capped at 98
        {5, -100, -1},   // t = -1, s = 4
        {51, 0, 0},
        {51, -50, -22},  // default pan compensation: 29
        {51, -25, -11},  // default tilt compensation: 40
        {51, 100, 44},
        {51, -100, -44},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(speed_compensation(0, c.speed, c.comp), c.expected) << c.speed << " " << c.comp;
    }
    // The commanded speeds of the worked example map to these bytes.
    EXPECT_EQ(pan_speed_byte(static_cast<float>(51 + speed_compensation(0, 51, -50))), 0x05);
    EXPECT_EQ(tilt_speed_byte(static_cast<float>(51 + speed_compensation(0, 51, -25))), 0x06);
}

TEST_F(SpeedCompensation, NoCorrectionAtTheEndsOfTheBand) {
    for (int32_t comp : {-100, -50, -1, 0, 1, 50, 100, INT_MIN, INT_MAX}) {
        for (int32_t speed : {INT_MIN, -100, -1, 0, 1, 4, 98, 99, 100, 1000, INT_MAX}) {
            EXPECT_EQ(speed_compensation(0, speed, comp), 0) << speed << " " << comp;
        }
    }
}

TEST_F(SpeedCompensation, NoCorrectionWhileMoveSpeedIsFourOrLess) {
    for (int move : {4, 1, 0, -1, INT_MIN}) {
        set_move_speed(move);
        for (int32_t speed : {5, 51, 97}) {
            EXPECT_EQ(speed_compensation(0, speed, -100), 0) << move << " " << speed;
            EXPECT_EQ(speed_compensation(0, speed, 100), 0) << move << " " << speed;
        }
    }
    set_move_speed(5);
    EXPECT_EQ(speed_compensation(0, 51, -50), -22);
}

TEST_F(SpeedCompensation, MoveSpeedIsReadFromTheSlotPassed) {
    fake::reset(2);
    fake::set_param(2, "MoveSpeed", 3);
    ASSERT_EQ(driver_setup(), 1);
    camindex = 0;
    EXPECT_EQ(speed_compensation(1, 51, -50), 0);
    EXPECT_EQ(speed_compensation(0, 51, -50), -22);
    camindex = 1;
    EXPECT_EQ(speed_compensation(0, 51, -50), -22);
}

// For the configured range of compensations the compensated speed stays in
// 4..98, and follows the step-by-step arithmetic written out here.
TEST_F(SpeedCompensation, CompensatedSpeedStaysInsideTheBand) {
    for (int32_t speed = 5; speed <= 97; ++speed) {
        for (int32_t comp = -100; comp <= 100; ++comp) {
            const int32_t r = speed_compensation(0, speed, comp);
            ASSERT_GE(speed + r, 4) << speed << " " << comp;
            ASSERT_LE(speed + r, 98) << speed << " " << comp;
            const int32_t t = ((speed - 4) * comp) * (98 - speed) / 5000;
            int32_t s = speed + t;
            s = s >= 98 ? 98 : s;
            ASSERT_EQ(r, s >= 4 ? s - speed : 4 - speed) << speed << " " << comp;
        }
    }
}

TEST_F(SpeedCompensation, ExtremeCompensationsDoNotOverflow) {
    // Out-of-range configurations: the product leaves 32 bits, the result
    // still pins the speed to the band's ends.
    for (int32_t speed : {5, 51, 97}) {
        EXPECT_EQ(speed + speed_compensation(0, speed, INT_MAX), 98) << speed;
        EXPECT_EQ(speed + speed_compensation(0, speed, INT_MIN), 4) << speed;
        EXPECT_EQ(speed + speed_compensation(0, speed, 1000000), 98) << speed;
        EXPECT_EQ(speed + speed_compensation(0, speed, -1000000), 4) << speed;
    }
}

}  // namespace
