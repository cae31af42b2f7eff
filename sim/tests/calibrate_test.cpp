// The calibration's line fit and its configuration-file update.
#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "builtin_link.h"
#include "choose.h"
#include "driver_probe.h"
#include "fit.h"
#include "ini_update.h"
#include "measure.h"
#include "plan.h"
#include "reply_box.h"
#include "report.h"
#include "verify_summary.h"

namespace {

TEST(CalibrateFit, RecoversRateAndOffset) {
    struct Case {
        const char *name;
        std::vector<calib::Sample> samples;
        double rate, offset, rms;
    };
    const Case cases[] = {
        // 14.5 deg/s with 0.1 deg lost to start latency beyond the coast.
        {"exact", {{0.2, 2.8}, {0.6, 8.6}, {1.0, 14.4}}, 14.5, -0.1, 0},
        // Residuals +0.1, -0.2, +0.1 around 2t + 1.
        {"noisy", {{1, 3.1}, {2, 4.8}, {3, 7.1}}, 2.0, 1.0, 0.141421},
        {"repeated times", {{0.5, 1.0}, {0.5, 1.2}, {1.5, 3.0}, {1.5, 3.2}}, 2.0, 0.1, 0.1},
    };
    for (const Case &c : cases) {
        const auto line = calib::fit_line(c.samples);
        ASSERT_TRUE(line) << c.name;
        EXPECT_NEAR(line->rate, c.rate, 1e-9) << c.name;
        EXPECT_NEAR(line->offset, c.offset, 1e-9) << c.name;
        EXPECT_NEAR(line->rms, c.rms, 1e-6) << c.name;
        EXPECT_EQ(line->samples, static_cast<int>(c.samples.size())) << c.name;
    }
}

TEST(CalibrateFit, NeedsTwoDriveTimesAndFiniteSamples) {
    const double nan = std::nan(""), inf = HUGE_VAL;
    const std::vector<std::vector<calib::Sample>> cases = {
        {},
        {{0.5, 3}},
        {{0.5, 3}, {0.5, 3.2}},
        {{0.3, 1}, {0.8, nan}},
        {{nan, 1}, {0.8, 2}, {0.3, 1}},
        {{0.3, 1}, {inf, 2}},
    };
    for (size_t i = 0; i < cases.size(); ++i) EXPECT_FALSE(calib::fit_line(cases[i])) << "case " << i;
}

TEST(CalibrateIni, SetsKeysAndKeepsEverythingElse) {
    const calib::Settings set = {{"PanMoveTimePerDegree", 612}, {"PanSpeedCompensation", -7}};
    struct Case {
        const char *name;
        int camera;
        std::string before, after;
    };
    const Case cases[] = {
        {"value replaced, comment and spacing kept, other sections untouched",
         1,
         "; site cameras\n[host]\ncameras = 2\n[camera1]\nMoveSpeed = 80\n"
         "PanMoveTimePerDegree   =  690   ; from the datasheet\npanspeedcompensation=-50\n\n[camera2]\n"
         "PanMoveTimePerDegree = 1\n",
         "; site cameras\n[host]\ncameras = 2\n[camera1]\nMoveSpeed = 80\n"
         "PanMoveTimePerDegree   =  612   ; from the datasheet\npanspeedcompensation=-7\n\n[camera2]\n"
         "PanMoveTimePerDegree = 1\n"},
        {"missing key added after the section's last setting",
         2,
         "[camera2]\nMoveSpeed = 50\n; tilt next\n\n[camera3]\nPanSpeedCompensation = 3\n",
         "[camera2]\nMoveSpeed = 50\nPanMoveTimePerDegree = 612\nPanSpeedCompensation = -7\n; tilt next\n\n"
         "[camera3]\nPanSpeedCompensation = 3\n"},
        {"missing section added at the end, last line without a line end",
         3,
         "[camera1]\nMoveSpeed = 50",
         "[camera1]\nMoveSpeed = 50\n\n[camera3]\nPanMoveTimePerDegree = 612\nPanSpeedCompensation = -7\n"},
        {"empty file", 1, "", "[camera1]\nPanMoveTimePerDegree = 612\nPanSpeedCompensation = -7\n"},
        {"key repeated: every line set; camera10 and a longer key name left alone",
         1,
         "[camera10]\nPanSpeedCompensation = 1\n[ camera1 ]\npanmovetimeperdegree: 5\n"
         "PanMoveTimePerDegree = 6;no comment\nPanSpeedCompensationX = 2\nPanSpeedCompensation=\t3 ; # kept\n",
         "[camera10]\nPanSpeedCompensation = 1\n[ camera1 ]\npanmovetimeperdegree: 612\n"
         "PanMoveTimePerDegree = 612\nPanSpeedCompensationX = 2\nPanSpeedCompensation=\t-7 ; # kept\n"},
        {"section repeated: missing key added to the last one",
         1,
         "[camera1]\nPanMoveTimePerDegree = 5\n[camera2]\nA = 1\n[CAMERA1]\nB = 2\n\n",
         "[camera1]\nPanMoveTimePerDegree = 612\n[camera2]\nA = 1\n[CAMERA1]\nB = 2\n"
         "PanSpeedCompensation = -7\n\n"},
        {"CRLF file gets a CRLF section; a comment-only file keeps its comment",
         2,
         "; only a note\r\n",
         "; only a note\r\n\r\n[camera2]\r\nPanMoveTimePerDegree = 612\r\nPanSpeedCompensation = -7\r\n"},
        {"keys outside any section and in a commented-out section untouched",
         1,
         "PanMoveTimePerDegree = 1\n;[camera1]\n[camera1]\n",
         "PanMoveTimePerDegree = 1\n;[camera1]\n[camera1]\nPanMoveTimePerDegree = 612\n"
         "PanSpeedCompensation = -7\n"},
        {"CRLF line ends and an empty value",
         1,
         "[Camera1]\r\nPanMoveTimePerDegree =\r\n# keep\r\n",
         "[Camera1]\r\nPanMoveTimePerDegree =612\r\nPanSpeedCompensation = -7\r\n# keep\r\n"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(calib::update_ini_text(c.before, c.camera, set), c.after) << c.name;
    }
}

TEST(CalibrateIni, FileReplacedWholeAndMissingFileCreated) {
    const std::string path = testing::TempDir() + "calibrate_ini_" + std::to_string(getpid()) + ".ini";
    std::remove(path.c_str());
    std::string error;
    ASSERT_TRUE(calib::update_ini_file(path, 4, {{"ZoomTime", 9000}}, &error)) << error;
    ASSERT_TRUE(calib::update_ini_file(path, 4, {{"ZoomTime", 9100}, {"FocusTime", 1400}}, &error)) << error;
    FILE *f = fopen(path.c_str(), "r");
    ASSERT_NE(f, nullptr);
    char buf[256] = {};
    const size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    EXPECT_EQ(std::string(buf, n), "[camera4]\nZoomTime = 9100\nFocusTime = 1400\n");
    std::remove(path.c_str());
    EXPECT_FALSE(calib::update_ini_file("/nonexistent-folder/x.ini", 1, {{"ZoomTime", 1}}, &error));
    EXPECT_NE(error.find("/nonexistent-folder/x.ini"), std::string::npos);
}

}  // namespace

// ---- choosing the values with the driver's own arithmetic ----

namespace {

calib::Curves same_both_ways(int axis, std::initializer_list<std::pair<int, calib::Line>> lines) {
    calib::Curves curves;
    for (const auto &[speed, line] : lines) {
        curves[calib::CurveKey{axis, 1, speed}] = line;
        curves[calib::CurveKey{axis, -1, speed}] = line;
    }
    return curves;
}

TEST(CalibrateChoose, FindsTheTimeThatLandsLongMovesExactly) {
    // A camera turning 20 deg/s at the full-speed byte lands every move of
    // 5 degrees and more exactly at 50 ms per degree, i.e. 500 in the
    // driver's tenths; likewise for tilt and for a zoom of 19998 steps in 4 s.
    struct Case {
        int axis;
        int speed;
        calib::Line line;
        const char *key;
        long expected;
    };
    const Case cases[] = {
        {calib::Pan, 0x12, {20.0, 0, 0, 2}, "PanMoveTimePerDegree", 500},
        {calib::Tilt, 0x0E, {25.0, 0, 0, 2}, "TiltMoveTimePerDegree", 400},
        {calib::Zoom, 7, {19998.0 / 4, 0, 0, 2}, "ZoomTime", 4000},
    };
    for (const Case &c : cases) {
        calib::DriverProbe probe(calib::driver_defaults());
        const auto curves = same_both_ways(c.axis, {{c.speed, c.line}});
        const auto moves = calib::plan_moves(c.axis, std::nullopt, true);
        calib::choose_axis(probe, curves, c.axis, moves, false);
        EXPECT_EQ(probe.config().at(c.key), c.expected) << c.key;
        // Only the whole milliseconds of the driver's drive times are left.
        EXPECT_LT(calib::plan_cost(probe, curves, c.axis, moves), 0.002) << c.key;
    }
}

TEST(CalibrateChoose, PredictsFromTheDriversBytesAndTimes) {
    calib::DriverProbe probe(calib::driver_defaults());
    // With the defaults a 1 degree pan is a short move: 69 ms at a lowered byte.
    const calib::Prediction p0 = calib::predict(probe, {}, calib::Pan, 1.0);
    ASSERT_EQ(p0.drives.size(), 1u);
    EXPECT_FALSE(p0.known);
    EXPECT_DOUBLE_EQ(p0.drives[0].seconds, 0.069);
    EXPECT_LT(p0.drives[0].speed, 0x12);
    const int byte = p0.drives[0].speed;
    const calib::Prediction p = calib::predict(probe, same_both_ways(calib::Pan, {{byte, {4.0, 0.1, 0, 2}}}), calib::Pan, -1.0);
    EXPECT_TRUE(p.known);
    EXPECT_NEAR(p.reached, -(4.0 * 0.069 + 0.1), 1e-12);
    // A drive shorter than the start latency moves nothing, never backwards.
    const calib::Prediction late = calib::predict(probe, same_both_ways(calib::Pan, {{byte, {4.0, -0.5, 0, 2}}}), calib::Pan, 1.0);
    EXPECT_EQ(late.reached, 0.0);
    EXPECT_EQ(late.error(), 1.0);
}

TEST(CalibrateChoose, MoveSpeedKeepsOneVideoFrameUnderAThirdOfADegree) {
    // Speed byte b turns b deg/s: at 33.4 ms per frame bytes up to 8 fit.
    calib::Curves curves;
    for (int b = 1; b <= 0x12; ++b) {
        for (int axis : {calib::Pan, calib::Tilt}) {
            curves[calib::CurveKey{axis, 1, b}] = curves[calib::CurveKey{axis, -1, b}] = {double(b), 0, 0, 2};
        }
    }
    calib::DriverProbe probe(calib::driver_defaults());
    EXPECT_EQ(calib::choose_move_speed(probe, curves, true, true, 0), 100);
    const long s = calib::choose_move_speed(probe, curves, true, true, 33.4);
    EXPECT_EQ(probe.config().at("MoveSpeed"), 100);  // the probe is left as it was
    auto top_byte = [&](long move_speed) {
        probe.set("MoveSpeed", move_speed);
        int top = 0;
        for (int axis : {calib::Pan, calib::Tilt}) top = std::max(top, probe.move(axis, 90).at(0).speed);
        return top;
    };
    EXPECT_LE(top_byte(s), 8);
    EXPECT_GT(top_byte(s + 5), 8);
}

TEST(CalibrateChoose, PlanFitsTheTravel) {
    EXPECT_EQ(calib::plan_moves(calib::Tilt, 50.0, true), (std::vector<double>{5, -5, 10, -10, 20, -20, 45, -45}));
    EXPECT_EQ(calib::plan_moves(calib::Pan, std::nullopt, false).size(), 14u);
    EXPECT_EQ(calib::plan_moves(calib::Focus, 4096.0, false), (std::vector<double>{200, -200, 500, -500, 1000, -1000, 2000, -2000}));
}

}  // namespace

// ---- measuring a built-in virtual camera (simulated time) ----

namespace {

struct Measured {
    calib::Curves curves;
    calib::AxisGeometry geometry;
    double start = 0, end = 0;
    bool ok = false;
    std::string error;
};

Measured measure_builtin(const std::string &profile_name, int axis, std::vector<int> speeds, int sign,
                         const volatile int *stop = nullptr) {
    Measured m;
    sim::Profile profile;
    EXPECT_TRUE(sim::load_profile(profile_name, &profile, &m.error)) << m.error;
    auto link = calib::builtin_link(profile);
    if (axis <= calib::Tilt) {
        const sim::PanTiltAxis &a = axis == calib::Pan ? profile.pan : profile.tilt;
        m.geometry.units_per_unit = a.units_per_degree;
        m.geometry.sign = sign;
    } else {
        const sim::LensAxis &a = axis == calib::Zoom ? profile.zoom : profile.focus;
        m.geometry.min = a.min;
        m.geometry.max = a.max;
    }
    calib::Measurer measurer(*link, stop, nullptr);
    std::map<calib::CurveKey, std::vector<calib::Sample>> samples;
    m.start = measurer.position(axis, &m.error).value_or(-1e9);
    m.ok = measurer.measure(axis, m.geometry, speeds, 0, calib::MeasureOptions(), &m.curves, &samples, &m.error);
    if (m.ok) m.end = measurer.position(axis, &m.error).value_or(1e9);
    return m;
}

TEST(CalibrateMeasure, FitsTheSpeedsTheProfileGives) {
    struct Case {
        const char *profile;
        int axis, speed, sign;
        double rate;       // the profile's speed, degrees or steps per second
        double tolerance;  // relative: video frames make the camera's drive times steps
    };
    const Case cases[] = {
        {"proportional", calib::Pan, 0x12, 1, 1000.0 / 69, 0.01},
        {"proportional", calib::Tilt, 0x07, 0, 1000.0 / 68 / 2, 0.01},
        // The counter runs the other way: found from the first drive.
        {"geometric", calib::Pan, 0x08, 0, 9.1, 0.05},
        {"stepped", calib::Tilt, 0x03, 1, 2.2, 0.05},
        // The zoom rests at wide: it first moves inwards.
        {"linear", calib::Zoom, 7, 0, 16384 / 4.6, 0.05},
    };
    for (const Case &c : cases) {
        const Measured m = measure_builtin(c.profile, c.axis, {c.speed}, c.sign);
        ASSERT_TRUE(m.ok) << c.profile << ": " << m.error;
        for (int dir : {1, -1}) {
            const auto it = m.curves.find(calib::CurveKey{c.axis, dir, c.speed});
            ASSERT_NE(it, m.curves.end()) << c.profile;
            EXPECT_NEAR(it->second.rate, c.rate, c.rate * c.tolerance) << c.profile << " dir " << dir;
        }
        EXPECT_NE(m.geometry.sign, 0) << c.profile;
    }
    EXPECT_EQ(measure_builtin("geometric", calib::Pan, {0x08}, 0).geometry.sign, -1);
}

TEST(CalibrateMeasure, StaysAroundTheStartAndStopsWhenAsked) {
    const Measured m = measure_builtin("proportional", calib::Pan, {0x06, 0x12}, 1);
    ASSERT_TRUE(m.ok) << m.error;
    // Each drive is followed by one the other way: the pan ends within a degree.
    EXPECT_NEAR(m.end / 14.4, m.start / 14.4, 1.0);
    const volatile int stop = 1;
    const Measured stopped = measure_builtin("proportional", calib::Pan, {0x12}, 1, &stop);
    EXPECT_FALSE(stopped.ok);
    EXPECT_TRUE(stopped.curves.empty());
}

}  // namespace
