// The calibration's line fit and its configuration-file update.
#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "builtin_link.h"
#include "choose.h"
#include "drift.h"
#include "ini_record.h"
#include "driver_probe.h"
#include "fit.h"
#include "landing.h"
#include "ini_update.h"
#include "line.h"
#include "measure.h"
#include "plan.h"
#include "reply_box.h"
#include "report.h"
#include "session.h"
#include "short_moves.h"
#include "table.h"
#include "time_left.h"
#include "time_step.h"
#include "twin.h"
#include "verify_summary.h"

namespace {

TEST(CalibrateFit, RecoversRateAndOffset) {
    struct Case {
        const char *name;
        std::vector<calibrate::Sample> samples;
        double rate, offset, rms;
        // The line through the two shortest drive times (0: two times only).
        double near_rate, near_offset, near_until;
    };
    const Case cases[] = {
        // 14.5 deg/s with 0.1 deg lost to start latency beyond the coast.
        {"exact", {{0.2, 2.8}, {0.6, 8.6}, {1.0, 14.4}}, 14.5, -0.1, 0, 14.5, -0.1, 0.6},
        // Residuals +0.1, -0.2, +0.1 around 2t + 1; near: through (1, 3.1) and (2, 4.8).
        {"noisy", {{1, 3.1}, {2, 4.8}, {3, 7.1}}, 2.0, 1.0, 0.141421, 1.7, 1.4, 2},
        {"repeated times", {{0.5, 1.0}, {0.5, 1.2}, {1.5, 3.0}, {1.5, 3.2}}, 2.0, 0.1, 0.1, 0, 0, 0},
        // A start that bends the curve: short drives lose 0.5 more than the
        // line over all says; times 1 ms apart are one time.
        {"bent start", {{0.1, 0.5}, {0.1005, 0.5}, {0.2, 1.5}, {1.0, 10.0}, {2.0, 20.0}}, 10.2995, -0.5047, 0.1055, 10.0249,
         -0.5050, 0.2},
    };
    for (const Case &c : cases) {
        const auto line = calibrate::fit_line(c.samples);
        ASSERT_TRUE(line) << c.name;
        EXPECT_NEAR(line->rate, c.rate, 1e-4) << c.name;
        EXPECT_NEAR(line->offset, c.offset, 1e-4) << c.name;
        EXPECT_NEAR(line->rms, c.rms, 1e-4) << c.name;
        EXPECT_EQ(line->samples, static_cast<int>(c.samples.size())) << c.name;
        EXPECT_NEAR(line->near_rate, c.near_rate, 1e-2) << c.name;
        EXPECT_NEAR(line->near_offset, c.near_offset, 1e-3) << c.name;
        EXPECT_NEAR(line->near_until, c.near_until, 1e-9) << c.name;
        // At and below the shortest drive the near line; from the second
        // shortest on, the line over all; sliding between.
        const calibrate::Line &l = *line;
        const double all_at = l.rate * l.near_until + l.offset;
        const double near_at_shortest = l.near_rate * l.shortest + l.near_offset;
        if (c.near_until > 0) {
            EXPECT_NEAR(l.at(l.shortest / 2), l.near_rate * l.shortest / 2 + l.near_offset, 1e-9) << c.name;
            EXPECT_NEAR(l.at(l.shortest), near_at_shortest, 1e-9) << c.name;
            EXPECT_NEAR(l.at(l.near_until), all_at, 1e-9) << c.name;
            const double q = l.shortest + (l.near_until - l.shortest) / 4;
            EXPECT_NEAR(l.at(q), 0.75 * (l.near_rate * q + l.near_offset) + 0.25 * (l.rate * q + l.offset), 1e-9) << c.name;
        }
        EXPECT_NEAR(l.at(5), l.rate * 5 + l.offset, 1e-9) << c.name;
    }
}

TEST(CalibrateFit, NeedsTwoDriveTimesAndFiniteSamples) {
    const double nan = std::nan(""), inf = HUGE_VAL;
    const std::vector<std::vector<calibrate::Sample>> cases = {
        {},
        {{0.5, 3}},
        {{0.5, 3}, {0.5, 3.2}},
        {{0.3, 1}, {0.8, nan}},
        {{nan, 1}, {0.8, 2}, {0.3, 1}},
        {{0.3, 1}, {inf, 2}},
    };
    for (size_t i = 0; i < cases.size(); ++i) EXPECT_FALSE(calibrate::fit_line(cases[i])) << "case " << i;
}

TEST(CalibrateIni, SetsKeysAndKeepsEverythingElse) {
    const ini::Settings set = {{"PanMoveTimePerDegree", 612}, {"PanSpeedCompensation", -7}};
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
         "[camera10]\nPanSpeedCompensation = 1\n[camera1] ; site\npanmovetimeperdegree: 5\n"
         "PanMoveTimePerDegree = 6;no comment\nPanSpeedCompensationX = 2\nPanSpeedCompensation=\t3 ; # kept\n",
         "[camera10]\nPanSpeedCompensation = 1\n[camera1] ; site\npanmovetimeperdegree: 612\n"
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
        {"a comment after a tab",
         1,
         "[camera1]\nPanMoveTimePerDegree = 5\t; measured\n",
         "[camera1]\nPanMoveTimePerDegree = 612\t; measured\nPanSpeedCompensation = -7\n"},
        {"read as the INI library reads: '[ camera1 ]' is another section, an indented line continues "
         "a value (dropped with it), a BOM starts the first line, ';' after a space starts a comment",
         1,
         "\xEF\xBB\xBF[camera1]\nPanSpeedCompensation = 3\n; note\n  4 5\nA = 1\n  PanMoveTimePerDegree = 2\n"
         "[ camera1 ]\nPanMoveTimePerDegree = 9\n[camera1]\nPanMoveTimePerDegree = ;x\n",
         "\xEF\xBB\xBF[camera1]\nPanSpeedCompensation = -7\n; note\nA = 1\n  PanMoveTimePerDegree = 2\n"
         "[ camera1 ]\nPanMoveTimePerDegree = 9\n[camera1]\nPanMoveTimePerDegree = 612 ;x\n"},
        {"keys to add before an indented section header (read as more of their value) go to a section of "
         "their own; a CR ending the text is no line end",
         1,
         "A = 0\n[camera1]\n  [camera2]\nPanMoveTimePerDegree = 1\r",
         "A = 0\n[camera1]\n  [camera2]\nPanMoveTimePerDegree = 1\r\n\n[camera1]\nPanMoveTimePerDegree = 612\n"
         "PanSpeedCompensation = -7\n"},
        {"[Camera01] is camera 1: set there, no second section", 1, "[Camera01]\nPanMoveTimePerDegree = 5\n",
         "[Camera01]\nPanMoveTimePerDegree = 612\nPanSpeedCompensation = -7\n"},
        {"CRLF line ends and an empty value",
         1,
         "[Camera1]\r\nPanMoveTimePerDegree =\r\n# keep\r\n",
         "[Camera1]\r\nPanMoveTimePerDegree =612\r\nPanSpeedCompensation = -7\r\n# keep\r\n"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ini::update_ini_text(c.before, c.camera, set), c.after) << c.name;
    }
}

// The record lives in its own camera's section only, beside the user's comments.
TEST(CalibrateIni, RecordReplacedInItsSectionAndReadBack) {
    const std::string text = "[camera1]\n; calibrated old\n; my note\nA = 1\n[Camera02]\n  ; calibrated 2\nB = 2\n";
    const std::string set = ini::set_record(text, 1, {"calibrated new", "calibrated pan: x"});
    EXPECT_EQ(set, "[camera1]\n; calibrated new\n; calibrated pan: x\n; my note\nA = 1\n[Camera02]\n  ; calibrated 2\n"
                   "B = 2\n");
    EXPECT_EQ(ini::read_record(set, 1), (std::vector<std::string>{"calibrated new", "calibrated pan: x"}));
    EXPECT_EQ(ini::read_record(set, 2), (std::vector<std::string>{"calibrated 2"}));
    EXPECT_TRUE(ini::read_record(set, 3).empty());
    EXPECT_EQ(ini::set_record(text, 3, {"calibrated z"}), text);  // no section: the values' update adds it
}

// What a calibration records reads back, and the check's verdict per axis.
TEST(CalibrateDrift, RecordReadsBackAndTheVerdictPerAxis) {
    std::optional<calibrate::AxisFigures> axes[4];
    axes[calibrate::Pan] = calibrate::AxisFigures{0.003, 0.004, 0.012};
    axes[calibrate::Focus] = calibrate::AxisFigures{0.05, 0.045, 0.07};  // a floor above the lens goal
    ini::Settings values;
    for (int k = 0; k < 9; ++k) values.emplace_back("Key" + std::to_string(k), 100 * k - 50);
    const std::vector<std::string> lines = calibrate::record_lines("2026-12-10 16:58 UTC", values, axes);
    EXPECT_EQ(lines.size(), 1u + 3u + 2u);  // the date, values four a line, two axes
    for (const std::string &l : lines) EXPECT_LT(l.size(), 120u) << l;
    const auto r = calibrate::parse_record(lines);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->date, "2026-12-10 16:58 UTC");
    ASSERT_TRUE(r->axes[calibrate::Pan] && r->axes[calibrate::Focus]);
    EXPECT_FALSE(r->axes[calibrate::Tilt] || r->axes[calibrate::Zoom]);
    EXPECT_NEAR(r->axes[calibrate::Pan]->median, 0.004, 1e-9);
    EXPECT_NEAR(r->axes[calibrate::Focus]->worst, 0.07, 1e-9);
    EXPECT_FALSE(calibrate::parse_record({"calibrated values: A=1"}));
    const struct {
        int axis;
        double median;
        bool recorded, drifted;
    } cases[] = {
        {calibrate::Pan, 0.024, true, false},  {calibrate::Pan, 0.0245, true, true},  // recorded 0.4 % + 2 points
        {calibrate::Pan, 0.010, false, false}, {calibrate::Pan, 0.011, false, true},  // the goal, 1 %
        {calibrate::Zoom, 0.030, false, false}, {calibrate::Zoom, 0.031, false, true},
        {calibrate::Focus, 0.060, true, false},  // above the goal, within its own floor
        {calibrate::Focus, 0.066, true, true},
    };
    for (const auto &c : cases) {
        const std::optional<calibrate::AxisFigures> was = c.recorded ? r->axes[c.axis] : std::nullopt;
        EXPECT_EQ(calibrate::drifted(c.axis, c.median, was), c.drifted) << c.axis << " " << c.median;
    }
}

// A move that looks off lands again with its pair; each keeps the better
// landing, and the median follows.
TEST(CalibrateDrift, MovesThatLookOffLandAgainKeepingTheBetter) {
    calibrate::LandingResult r;
    for (const auto &[requested, reached] : std::vector<std::pair<double, double>>{
             {4, 4.02}, {-4, -4.02}, {12, 12.6}, {-12, -12.1}, {40, 40.1}, {-40, -42.4}}) {
        r.moves.push_back(calibrate::Landed{requested, reached, 0});
    }
    calibrate::summarise(&r);
    EXPECT_NEAR(r.median, 0.0066667, 1e-6);
    EXPECT_NEAR(r.worst, 0.06, 1e-9);
    EXPECT_EQ(calibrate::pairs_off(r, 0.04), (std::vector<double>{12, -12, 40, -40}));
    EXPECT_EQ(calibrate::pairs_off(r, 0.06), std::vector<double>{});
    calibrate::LandingResult again;
    for (const auto &[requested, reached] :
         std::vector<std::pair<double, double>>{{12, 12.06}, {-12, -12.2}, {40, 40.2}, {-40, -40.2}}) {
        again.moves.push_back(calibrate::Landed{requested, reached, 0});
    }
    EXPECT_EQ(calibrate::keep_better(&r, again), 2);
    EXPECT_EQ(r.moves[2].reached, 12.06);
    EXPECT_EQ(r.moves[3].reached, -12.1);  // kept: the second landing was worse
    EXPECT_EQ(r.moves[4].reached, 40.1);
    EXPECT_EQ(r.moves[5].reached, -40.2);
    EXPECT_NEAR(r.worst, 0.0083333, 1e-6);
    EXPECT_NEAR(r.median, 0.005, 1e-9);
}

TEST(CalibrateIni, FileReplacedWholeAndMissingFileCreated) {
    const std::string path = testing::TempDir() + "calibrate_ini_" + std::to_string(getpid()) + ".ini";
    std::remove(path.c_str());
    std::string error;
    // The calibration record: written once, replaced (never piled up) by the next.
    ASSERT_TRUE(ini::update_ini_file(path, 4, {{"ZoomTime", 9000}}, &error, {}, {"calibrated A", "calibrated x"}))
        << error;
    ASSERT_TRUE(ini::update_ini_file(path, 4, {{"ZoomTime", 9100}, {"FocusTime", 1400}}, &error, {},
                                     {"calibrated B"}))
        << error;
    // A stop asked for by the time of the rename: the file stays, no new file is left behind.
    bool asked = false;
    EXPECT_FALSE(ini::update_ini_file(path, 4, {{"ZoomTime", 1}}, &error, [&asked] { return !(asked = true); }));
    EXPECT_TRUE(asked);
    EXPECT_EQ(error.rfind("interrupted", 0), 0u) << error;
    const std::string folder = path.substr(0, path.find_last_of('/')), temp = "." + path.substr(folder.size() + 1);
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        EXPECT_NE(entry.path().filename().string().rfind(temp, 0), 0u) << entry.path();
    }
    FILE *f = fopen(path.c_str(), "r");
    ASSERT_NE(f, nullptr);
    char buf[256] = {};
    const size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    EXPECT_EQ(std::string(buf, n), "[camera4]\n; calibrated B\nZoomTime = 9100\nFocusTime = 1400\n");
    std::remove(path.c_str());
    EXPECT_FALSE(ini::update_ini_file("/nonexistent-folder/x.ini", 1, {{"ZoomTime", 1}}, &error));
    EXPECT_NE(error.find("/nonexistent-folder/x.ini"), std::string::npos);
}

}  // namespace

// ---- choosing the values with the driver's own arithmetic ----

namespace {

calibrate::Curves same_both_ways(int axis, std::initializer_list<std::pair<int, calibrate::Line>> lines) {
    calibrate::Curves curves;
    for (const auto &[speed, line] : lines) {
        curves[calibrate::CurveKey{axis, 1, speed}] = line;
        curves[calibrate::CurveKey{axis, -1, speed}] = line;
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
        calibrate::Line line;
        const char *key;
        long expected;
    };
    const Case cases[] = {
        {calibrate::Pan, 0x12, {20.0, 0, 0, 2}, "PanMoveTimePerDegree", 500},
        {calibrate::Tilt, 0x0E, {25.0, 0, 0, 2}, "TiltMoveTimePerDegree", 400},
        {calibrate::Zoom, 7, {19998.0 / 4, 0, 0, 2}, "ZoomTime", 4000},
    };
    for (const Case &c : cases) {
        calibrate::DriverProbe probe(calibrate::driver_defaults());
        const auto curves = same_both_ways(c.axis, {{c.speed, c.line}});
        const auto moves = calibrate::plan_moves(c.axis, std::nullopt, true);
        calibrate::choose_axis(probe, curves, c.axis, moves, false);
        EXPECT_EQ(probe.config().at(c.key), c.expected) << c.key;
        // Only the whole milliseconds of the driver's drive times are left.
        EXPECT_LT(calibrate::plan_cost(probe, curves, c.axis, moves), 0.002) << c.key;
    }
}

TEST(CalibrateChoose, PredictsFromTheDriversBytesAndTimes) {
    calibrate::DriverProbe probe(calibrate::driver_defaults());
    // With the defaults a 1 degree pan is a short move: 69 ms at a lowered byte.
    const calibrate::Prediction p0 = calibrate::predict(probe, {}, calibrate::Pan, 1.0);
    ASSERT_EQ(p0.drives.size(), 1u);
    EXPECT_FALSE(p0.known);
    EXPECT_DOUBLE_EQ(p0.drives[0].seconds, 0.069);
    EXPECT_LT(p0.drives[0].speed, 0x12);
    const int byte = p0.drives[0].speed;
    const calibrate::Prediction p = calibrate::predict(probe, same_both_ways(calibrate::Pan, {{byte, {4.0, 0.1, 0, 2}}}), calibrate::Pan, -1.0);
    EXPECT_TRUE(p.known);
    EXPECT_NEAR(p.reached, -(4.0 * 0.069 + 0.1), 1e-12);
    EXPECT_EQ(p.drives[0].dir, -1);
    EXPECT_EQ(calibrate::predict(probe, {}, calibrate::Pan, 1.0).drives[0].dir, 1);
    // Moves under 5 degrees weigh a quarter in the cost; 5 degrees is long.
    calibrate::Curves curves;
    for (int b = 1; b <= 0x18; ++b) {
        curves[calibrate::CurveKey{calibrate::Pan, 1, b}] = curves[calibrate::CurveKey{calibrate::Pan, -1, b}] = {0.8 * b, 0.1, 0, 2};
    }
    const calibrate::Prediction p1 = calibrate::predict(probe, curves, calibrate::Pan, -1.0);
    const calibrate::Prediction p4 = calibrate::predict(probe, curves, calibrate::Pan, 4.99);
    const calibrate::Prediction p5 = calibrate::predict(probe, curves, calibrate::Pan, 5.0);
    ASSERT_TRUE(p1.known && p4.known && p5.known);
    ASSERT_GT(p4.error() * p5.error(), 0.0);
    EXPECT_DOUBLE_EQ(calibrate::plan_cost(probe, curves, calibrate::Pan, {-1.0, 4.99}), 0.25 * (p1.error() + p4.error()));
    EXPECT_DOUBLE_EQ(calibrate::plan_cost(probe, curves, calibrate::Pan, {5.0}), p5.error());
    // A drive shorter than the start latency moves nothing, never backwards.
    const calibrate::Prediction late = calibrate::predict(probe, same_both_ways(calibrate::Pan, {{byte, {4.0, -0.5, 0, 2}}}), calibrate::Pan, 1.0);
    EXPECT_EQ(late.reached, 0.0);
    EXPECT_EQ(late.error(), 1.0);
    // On a camera acting every 100 ms a 1000 step zoom (525 ms, 5.25 steps)
    // lasts 5 steps three times in four, 6 the fourth: 952.4 or 1142.9
    // steps around the mean of 1000. Its worst looks a quarter step either
    // way: at half a step, 904.8 or 1095.2; at none, the lower one only.
    const calibrate::Prediction z =
        calibrate::predict(probe, same_both_ways(calibrate::Zoom, {{7, {1000 / 0.525, 0, 0, 2}}}), calibrate::Zoom, 1000, 0.1);
    EXPECT_NEAR(z.reached, 1000, 1e-9);
    EXPECT_NEAR(z.stair, 190.476, 1e-3);
    EXPECT_NEAR(z.expected, (0.75 * 47.619 + 0.25 * 142.857) / 1000, 1e-5);
    EXPECT_NEAR(z.worst, 0.142857, 1e-5);
    // Lines drawn between measured bytes, each direction apart, none beyond.
    calibrate::Curves measured;
    measured[calibrate::CurveKey{calibrate::Pan, 1, 2}] = {4.0, 0.1, 0, 2};
    measured[calibrate::CurveKey{calibrate::Pan, 1, 5}] = {10.0, 0.4, 0, 2};
    measured[calibrate::CurveKey{calibrate::Pan, -1, 6}] = {12.0, 0.4, 0, 2};
    measured[calibrate::CurveKey{calibrate::Zoom, 1, 0}] = measured[calibrate::CurveKey{calibrate::Zoom, 1, 3}] = {500, 0, 0, 2};
    const calibrate::Curves drawn = calibrate::with_between(measured);
    EXPECT_EQ(drawn.size(), measured.size() + 2);
    EXPECT_NEAR(drawn.at(calibrate::CurveKey{calibrate::Pan, 1, 3}).rate, 6.0, 1e-12);
    EXPECT_NEAR(drawn.at(calibrate::CurveKey{calibrate::Pan, 1, 4}).offset, 0.3, 1e-12);
}

TEST(CalibrateChoose, MoveSpeedKeepsOneVideoFrameUnderAThirdOfADegree) {
    // Speed byte b turns b deg/s: at 33.4 ms per frame bytes up to 8 fit.
    calibrate::Curves curves;
    for (int b = 1; b <= 0x12; ++b) {
        for (int axis : {calibrate::Pan, calibrate::Tilt}) {
            curves[calibrate::CurveKey{axis, 1, b}] = curves[calibrate::CurveKey{axis, -1, b}] = {double(b), 0, 0, 2};
        }
    }
    calibrate::DriverProbe probe(calibrate::driver_defaults());
    EXPECT_EQ(calibrate::choose_move_speed(probe, curves, true, true, 0), 100);
    const long s = calibrate::choose_move_speed(probe, curves, true, true, 33.4);
    EXPECT_EQ(probe.config().at("MoveSpeed"), 100);  // the probe is left as it was
    auto top_byte = [&](long move_speed) {
        probe.set("MoveSpeed", move_speed);
        int top = 0;
        for (int axis : {calibrate::Pan, calibrate::Tilt}) top = std::max(top, probe.move(axis, 90).at(0).speed);
        return top;
    };
    EXPECT_LE(top_byte(s), 8);
    EXPECT_GT(top_byte(s + 5), 8);
}

// A camera whose every speed byte b turns 5 b deg/s and whose start loses
// `loss` seconds of each drive (its coast giving none back).
calibrate::Curves losing_start(double loss) {
    calibrate::Curves curves;
    for (int axis : {calibrate::Pan, calibrate::Tilt}) {
        for (int b = 1; b <= 0x18; ++b) {
            const calibrate::Line l{5.0 * b, -5.0 * b * loss, 0, 2};
            curves[calibrate::CurveKey{axis, 1, b}] = curves[calibrate::CurveKey{axis, -1, b}] = l;
        }
    }
    return curves;
}

TEST(CalibrateChoose, MoveSpeedForShortMovesIsTheFastestWithinTheGoalAndTheTime) {
    const std::vector<int> axes{calibrate::Pan, calibrate::Tilt};
    calibrate::Plan plan, landing;
    for (int axis : axes) {
        plan[axis] = calibrate::plan_moves(axis, std::nullopt, false);
        landing[axis] = {4, -4, 12, -12, 40, -40};
    }
    // The figures at a MoveSpeed with the values chosen for it.
    const calibrate::Config defaults = calibrate::driver_defaults();
    auto figures_at = [&](calibrate::DriverProbe &probe, const calibrate::Curves &curves, long speed) {
        for (const auto &[k, v] : defaults) probe.set(k, v);
        probe.set("MoveSpeed", speed);
        for (int axis : axes) calibrate::choose_axis(probe, curves, axis, plan[axis], false);
        return calibrate::pan_tilt_figures(probe, curves, plan, axes, 0);
    };
    struct Case {
        double loss;            // seconds
        long fastest;
        double extra_landing;   // seconds of landing drives allowed beyond the fastest's
        bool slower;            // a slower MoveSpeed chosen
        bool time_bound;
        bool by_margin;         // within the goal less the margin
        double skew = 0;        // bytes the fastest's long moves do not drive turn this much slower one way
        bool in_use = false;    // the fastest is the MoveSpeed in use
    };
    const Case cases[] = {
        {0.0, 40, 1e9, false, false, true},    // the fastest meets the goal
        {0.01, 30, 1e9, true, false, true},    // within the goal by less than the margin
        {0.0, 100, 1e9, true, false, true},    // the bytes of the driver's lowered speeds do not
        {0.02, 40, 1e9, true, false, true},    // a slower one makes the loss a small share
        {0.04, 40, 1e9, true, false, false},   // none by the margin: the best within the goal
        {0.04, 40, 0.5, false, true, false},   // but not one whose landing check takes too long
        {0.4, 20, 1e9, false, false, false},   // no MoveSpeed lands them: the best is said
        {0.02, 40, 1e9, false, false, false, 0.08},  // not one whose long moves miss goals the fastest meets
        {0.01, 30, 1e9, false, false, false, 0, true},  // the one in use, within the goal, kept
        {0.015, 25, -14, false, true, false},  // within the goal, a slower one too but not by the margin: kept
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.loss);
        SCOPED_TRACE(c.fastest);
        SCOPED_TRACE(c.extra_landing);
        calibrate::DriverProbe probe(calibrate::driver_defaults());
        if (c.in_use) probe.set("MoveSpeed", c.fastest);
        calibrate::Curves curves = losing_start(c.loss);
        const calibrate::Config before = probe.config();
        probe.set("MoveSpeed", c.fastest);
        if (c.skew > 0) {
            std::set<std::pair<int, int>> driven;
            for (int axis : axes) {
                for (double m : plan[axis]) {
                    if (fabs(m) < 5) continue;
                    for (const calibrate::Drive &d : probe.move(axis, m)) driven.insert({d.axis, d.speed});
                }
            }
            for (auto &[key, line] : curves) {
                const auto [axis, dir, speed] = key;
                if (dir < 0 && !driven.count({axis, speed})) line.rate *= 1 - c.skew;
            }
        }
        const double fastest_landing = calibrate::together_seconds(probe, landing, axes);
        probe.set("MoveSpeed", before.at("MoveSpeed"));
        const calibrate::ShortMoveSpeed r = calibrate::move_speed_for_short(
            probe, curves, plan, axes, c.fastest, false, 0, landing, fastest_landing + c.extra_landing);
        EXPECT_EQ(probe.config(), before);  // left as it was
        EXPECT_EQ(r.time_bound, c.time_bound);
        EXPECT_EQ(r.move_speed > 0 && r.move_speed < c.fastest, c.slower) << r.move_speed;
        if (r.move_speed > 0) {
            // The fastest that meets the goal by the margin, else the best
            // within it.
            const double median = figures_at(probe, curves, r.move_speed).short_median;
            const bool by_margin = median <= verify::goal_short_median - calibrate::short_margin;
            EXPECT_EQ(by_margin, c.by_margin) << median;
            EXPECT_LE(median, verify::goal_short_median);
            if (r.move_speed < c.fastest && by_margin) {
                EXPECT_GT(figures_at(probe, curves, r.move_speed + 5).short_median,
                          verify::goal_short_median - calibrate::short_margin);
            }
            if (r.move_speed < c.fastest && !by_margin) {
                EXPECT_EQ(r.move_speed, r.best_speed);
            }
        } else {
            ASSERT_GT(r.best_speed, 0);
            EXPECT_GT(r.best_short, verify::goal_short_median);
            EXPECT_NEAR(figures_at(probe, curves, r.best_speed).short_median, r.best_short, 1e-12);
        }
    }
    // The sizes spread over 1 to 5 degrees, none of the plan's or the held-out ones.
    EXPECT_EQ(calibrate::short_sizes(), (std::vector<double>{1.25, 1.75, 2.25, 2.75, 3.25, 3.75, 4.25, 4.75}));
    // The loss is the fitted offset over the rate: 40 ms.
    calibrate::DriverProbe probe(calibrate::driver_defaults());
    const auto loss = calibrate::start_loss(probe, losing_start(0.04), plan, axes);
    ASSERT_TRUE(loss.has_value());
    EXPECT_NEAR(loss->seconds, 0.04, 1e-12);
    EXPECT_FALSE(calibrate::start_loss(probe, losing_start(0), plan, axes).has_value());
    // The landing check's k-th moves land at once: it takes the longer of each pair.
    const calibrate::Plan crossed{{calibrate::Pan, {4, 40}}, {calibrate::Tilt, {40, 4}}};
    EXPECT_NEAR(calibrate::together_seconds(probe, crossed, axes),
                calibrate::together_seconds(probe, {{calibrate::Pan, {40}}}, axes) +
                    calibrate::together_seconds(probe, {{calibrate::Tilt, {40}}}, axes),
                1e-12);
}

TEST(CalibrateChoose, PlanFitsTheTravel) {
    EXPECT_EQ(calibrate::plan_moves(calibrate::Tilt, 50.0, true), (std::vector<double>{5, -5, 10, -10, 20, -20, 45, -45}));
    EXPECT_EQ(calibrate::plan_moves(calibrate::Pan, std::nullopt, false).size(), 14u);
    EXPECT_EQ(calibrate::plan_moves(calibrate::Focus, 4096.0, false), (std::vector<double>{200, -200, 500, -500, 1000, -1000, 2000, -2000}));
}

}  // namespace

// ---- measuring a built-in virtual camera (simulated time) ----

namespace {

struct Measured {
    calibrate::Curves curves;
    calibrate::AxisGeometry geometry;
    double start = 0, end = 0;
    bool ok = false;
    std::string error;
};

Measured measure_builtin(const std::string &profile_name, int axis, std::vector<int> speeds, int sign,
                         const volatile int *stop = nullptr) {
    Measured m;
    camera::Profile profile;
    EXPECT_TRUE(camera::load_profile(profile_name, &profile, &m.error)) << m.error;
    auto link = calibrate::builtin_link(profile);
    if (axis <= calibrate::Tilt) {
        const camera::PanTiltAxis &a = axis == calibrate::Pan ? profile.pan : profile.tilt;
        m.geometry.units_per_unit = a.units_per_degree;
        m.geometry.sign = sign;
    } else {
        const camera::LensAxis &a = axis == calibrate::Zoom ? profile.zoom : profile.focus;
        m.geometry.min = a.min;
        m.geometry.max = a.max;
    }
    calibrate::Measurer measurer(*link, stop, nullptr);
    std::map<calibrate::CurveKey, std::vector<calibrate::Sample>> samples;
    m.start = measurer.position(axis, &m.error).value_or(-1e9);
    m.ok = measurer.measure(axis, m.geometry, speeds, calibrate::MeasureOptions(), &m.curves, &samples, &m.error);
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
        {"proportional", calibrate::Pan, 0x12, 1, 1000.0 / 69, 0.01},
        {"proportional", calibrate::Tilt, 0x07, 0, 1000.0 / 68 / 2, 0.01},
        // The counter runs the other way: found from the first drive.
        {"geometric", calibrate::Pan, 0x08, 0, 9.1, 0.05},
        {"stepped", calibrate::Tilt, 0x03, 1, 2.2, 0.05},
        // The zoom rests at wide: it first moves inwards.
        {"linear", calibrate::Zoom, 7, 0, 16384 / 4.6, 0.05},
    };
    for (const Case &c : cases) {
        const Measured m = measure_builtin(c.profile, c.axis, {c.speed}, c.sign);
        ASSERT_TRUE(m.ok) << c.profile << ": " << m.error;
        for (int dir : {1, -1}) {
            const auto it = m.curves.find(calibrate::CurveKey{c.axis, dir, c.speed});
            ASSERT_NE(it, m.curves.end()) << c.profile;
            EXPECT_NEAR(it->second.rate, c.rate, c.rate * c.tolerance) << c.profile << " dir " << dir;
        }
        EXPECT_NE(m.geometry.sign, 0) << c.profile;
    }
    EXPECT_EQ(measure_builtin("geometric", calibrate::Pan, {0x08}, 0).geometry.sign, -1);
}

TEST(CalibrateMeasure, StaysAroundTheStartAndStopsWhenAsked) {
    const Measured m = measure_builtin("proportional", calibrate::Pan, {0x06, 0x12}, 1);
    ASSERT_TRUE(m.ok) << m.error;
    // Each drive is followed by one the other way: the pan ends within a degree.
    EXPECT_NEAR(m.end / 14.4, m.start / 14.4, 1.0);
    const volatile int stop = 1;
    const Measured stopped = measure_builtin("proportional", calibrate::Pan, {0x12}, 1, &stop);
    EXPECT_FALSE(stopped.ok);
    EXPECT_TRUE(stopped.curves.empty());
}

}  // namespace

// ---- the driver's drives, hand-worked from its arithmetic ----

namespace {

TEST(CalibrateProbe, RecordsTheDriversDrivesAsWorkedByHand) {
    struct Case {
        const char *what;
        long move_speed;
        int axis;
        double amount;
        int dir, speed;  // speed byte or nibble
        double seconds;
    };
    const Case cases[] = {
        {"pan 10 at full speed", 100, calibrate::Pan, 10, 1, 0x12, 0.690},
        {"pan -10", 100, calibrate::Pan, -10, -1, 0x12, 0.690},
        {"pan 1: speed 46, compensated to 25", 100, calibrate::Pan, 1, 1, 0x05, 0.069},
        {"tilt -1: speed 45, compensated to 35", 100, calibrate::Tilt, -1, -1, 0x05, 0.068},
        {"pan 0.02: speed 1, no sleep", 100, calibrate::Pan, 0.02, 1, 0x01, 0},
        {"zoom 1000", 100, calibrate::Zoom, 1000, 1, 7, 0.525},
        {"zoom -1000", 100, calibrate::Zoom, -1000, -1, 7, 0.525},
        {"focus 1000 (near)", 100, calibrate::Focus, 1000, 1, 7, 0.075},
        {"focus -2.5: three steps far", 100, calibrate::Focus, -2.5, -1, 7, 0},
        {"pan 10 at MoveSpeed 50: 28 after compensation", 50, calibrate::Pan, 10, 1, 0x05, 1.380},
        {"pan -1 at MoveSpeed 50: 138 ms, speed 46 -> 25", 50, calibrate::Pan, -1, -1, 0x05, 0.138},
    };
    calibrate::DriverProbe probe(calibrate::driver_defaults());
    for (const Case &c : cases) {
        probe.set("MoveSpeed", c.move_speed);
        const std::vector<calibrate::Drive> drives = probe.move(c.axis, c.amount);
        ASSERT_EQ(drives.size(), 1u) << c.what;
        EXPECT_EQ(drives[0].axis, c.axis) << c.what;
        EXPECT_EQ(drives[0].dir, c.dir) << c.what;
        EXPECT_EQ(drives[0].speed, c.speed) << c.what;
        EXPECT_DOUBLE_EQ(drives[0].seconds, c.seconds) << c.what;
    }
    // 0.01 degree truncates to 0 ms: the driver sends nothing at all.
    probe.set("MoveSpeed", 100);
    EXPECT_TRUE(probe.move(calibrate::Pan, 0.01).empty());
    EXPECT_TRUE(probe.move(calibrate::Tilt, 0).empty());
}

TEST(CalibratePlan, EverySizeBothWaysWithinTheTravel) {
    struct Case {
        int axis;
        std::optional<double> travel;
        bool long_only;
        size_t sizes;
    };
    const Case cases[] = {
        {calibrate::Pan, std::nullopt, true, 5},   {calibrate::Pan, 340.0, false, 7},  {calibrate::Tilt, 100.0, false, 7},
        {calibrate::Tilt, 50.0, false, 6},         {calibrate::Tilt, 3.0, false, 2},   {calibrate::Pan, 1.0, false, 0},
        {calibrate::Zoom, 16384.0, true, 6},       {calibrate::Zoom, 1000.0, false, 2}, {calibrate::Focus, 100.0, false, 0},
    };
    for (const Case &c : cases) {
        const std::vector<double> moves = calibrate::plan_moves(c.axis, c.travel, c.long_only);
        const std::string what = std::string(calibrate::axis_label(c.axis)) + " travel " +
                                 std::to_string(c.travel.value_or(-1)) + (c.long_only ? " long" : "");
        ASSERT_EQ(moves.size(), 2 * c.sizes) << what;
        for (size_t i = 0; i < moves.size(); i += 2) {
            EXPECT_GT(moves[i], 0) << what;
            EXPECT_EQ(moves[i + 1], -moves[i]) << what;  // out and back: the axis ends where it began
            EXPECT_LE(moves[i], 0.9 * c.travel.value_or(1e9)) << what;
            EXPECT_GE(moves[i], c.long_only && c.axis <= calibrate::Tilt ? 5 : 1) << what;
        }
    }
}

TEST(CalibratePlan, SpeedsUsedCoverTheSearchAndLeaveTheConfiguration) {
    calibrate::DriverProbe probe(calibrate::driver_defaults());
    const calibrate::Config before = probe.config();
    // Long moves at full speed: the time per degree changes nothing of the byte.
    EXPECT_EQ(calibrate::speeds_used(probe, calibrate::Pan, {10, -10, 90}, 0.5, 2, false), (std::set<int>{0x12}));
    // A 1 degree pan with the configured compensation (-50): 25 at 69 ms (byte 5).
    const std::set<int> one = calibrate::speeds_used(probe, calibrate::Pan, {1}, 1, 1, false);
    EXPECT_EQ(one, (std::set<int>{0x05}));
    // Any compensation: 46 + (42 c 52) / 5000 runs from 3 (raised to 4) to 89, bytes 1 to 0x10.
    const std::set<int> all = calibrate::speeds_used(probe, calibrate::Pan, {1}, 1, 1, true);
    EXPECT_EQ(*all.begin(), 0x01);
    EXPECT_EQ(*all.rbegin(), 0x10);
    EXPECT_EQ(calibrate::speeds_used(probe, calibrate::Zoom, {200, -10000}, 0.2, 5, true), (std::set<int>{7}));
    EXPECT_EQ(probe.config(), before);
    // The probe drives as before the search.
    EXPECT_EQ(probe.move(calibrate::Pan, 1).at(0).speed, 0x05);
}

}  // namespace

// ---- position replies, as the calibration and the verification read them ----

namespace {

// A line that answers every inquiry with the data bytes it was given.
class ScriptedLink : public calibrate::CameraLink {
public:
    explicit ScriptedLink(visca::Bytes data) : data_(std::move(data)) {}
    bool command(const visca::Bytes &, std::string *) override { return true; }
    bool command_done(const visca::Bytes &, double, std::string *) override { return true; }
    std::optional<visca::Bytes> inquire(const visca::Bytes &frame, std::string *) override {
        asked.push_back(frame);
        return data_;
    }
    void wait(double) override {}
    double now() override { return 0; }
    std::string describe() const override { return "scripted"; }
    std::vector<visca::Bytes> asked;

private:
    visca::Bytes data_;
};

TEST(CalibratePositions, DecodesSignedCountersAndUnsignedLensSteps) {
    struct Case {
        visca::Bytes data;
        int pan, tilt;
    };
    const Case cases[] = {
        {{0, 0, 0, 0, 0, 0, 0, 0}, 0, 0},
        {{0, 0, 0, 1, 0x0F, 0x0F, 0x0F, 0x0F}, 1, -1},
        {{0, 7, 0x0F, 0x0F, 0x08, 0, 0, 0}, 0x7FF, -0x8000},
        {{0x07, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x03, 0x0F}, 0x7FFF, -0xC1},
        // Only the low nibble of each byte counts.
        {{0xF0, 0xA0, 0x31, 0x02, 0x1F, 0x2F, 0x3F, 0x4E}, 0x12, -2},
    };
    for (const Case &c : cases) {
        const std::string what = visca::hex(c.data);
        ScriptedLink link(c.data);
        std::string error;
        const auto pt = calibrate::read_pan_tilt(link, &error);
        ASSERT_TRUE(pt) << what << ": " << error;
        EXPECT_EQ(pt->pan, c.pan) << what;
        EXPECT_EQ(pt->tilt, c.tilt) << what;
        EXPECT_EQ(link.asked.at(0), (visca::Bytes{0x81, 0x09, 0x06, 0x12, 0xFF}));
        // The verification: 14.4 units per degree, a counter that runs the other way.
        EXPECT_DOUBLE_EQ(*verify::decode_position(0, c.data, 14.4, -1), -c.pan / 14.4) << what;
        EXPECT_DOUBLE_EQ(*verify::decode_position(1, c.data, 2.0, 1), c.tilt / 2.0) << what;
        // Lens steps are 0..0xFFFF, never negative.
        const visca::Bytes lens(c.data.begin(), c.data.begin() + 4);
        const int steps = (lens[0] & 15) << 12 | (lens[1] & 15) << 8 | (lens[2] & 15) << 4 | (lens[3] & 15);
        ScriptedLink lens_link(lens);
        EXPECT_EQ(calibrate::read_lens(lens_link, false, &error), steps) << what;
        EXPECT_EQ(lens_link.asked.at(0), (visca::Bytes{0x81, 0x09, 0x04, 0x48, 0xFF}));
        EXPECT_EQ(verify::decode_position(2, lens, 14.4, -1), steps) << what;
    }
    // A reply of the wrong size is refused, with the bytes in the message.
    ScriptedLink short_reply({1, 2, 3, 4});
    std::string error;
    EXPECT_FALSE(calibrate::read_pan_tilt(short_reply, &error));
    EXPECT_NE(error.find("90 50 01 02 03 04 FF"), std::string::npos) << error;
    EXPECT_FALSE(calibrate::read_lens(*std::make_unique<ScriptedLink>(visca::Bytes{1, 2, 3, 4, 5}), true, &error));
    EXPECT_FALSE(verify::decode_position(0, {1, 2, 3, 4}, 1, 1));
    EXPECT_FALSE(verify::decode_position(3, {1, 2, 3, 4, 5, 6, 7, 8}, 1, 1));
}

}  // namespace

// ---- the reply box of the host's lines ----

namespace {

TEST(VerifyReplyBox, AnswersTheFirstInquiryOrErrorReplyAndTimesOut) {
    struct Case {
        const char *what;
        std::vector<visca::Bytes> messages;
        std::optional<visca::Bytes> answer;
    };
    const Case cases[] = {
        {"acknowledge and completion passed over",
         {{0x90, 0x41, 0xFF}, {0x90, 0x51, 0xFF}, {0x90, 0x50, 0x01, 0x02, 0xFF}, {0x90, 0x50, 0x09, 0xFF}},
         visca::Bytes{0x90, 0x50, 0x01, 0x02, 0xFF}},
        {"an error reply ends the wait", {{0x90, 0x42, 0xFF}, {0x90, 0x61, 0x41, 0xFF}}, visca::Bytes{0x90, 0x61, 0x41, 0xFF}},
        {"a reply from another address is passed over", {{0xA0, 0x50, 0x01, 0xFF}, {0x90, 0x50, 0x02, 0xFF}},
         visca::Bytes{0x90, 0x50, 0x02, 0xFF}},
        {"commands and short scraps are no answer", {{0x81, 0x50, 0xFF}, {0x90, 0x50}}, std::nullopt},
        {"nothing", {}, std::nullopt},
    };
    for (const Case &c : cases) {
        host::ReplyBox box;
        for (const visca::Bytes &m : c.messages) box.push(m);
        EXPECT_EQ(box.wait_answer(0.05), c.answer) << c.what;
    }
    host::ReplyBox box;
    box.push({0x90, 0x50, 0x01, 0xFF});
    box.clear();
    EXPECT_FALSE(box.wait_answer(0.01));
    // A reply that arrives while the host waits wakes it long before the timeout.
    std::thread reader([&] {
        usleep(50000);
        box.push({0x90, 0x51, 0xFF});
        usleep(50000);
        box.push({0x90, 0x50, 0x07, 0xFF});
    });
    const double began = line::monotonic_seconds();
    EXPECT_EQ(box.wait_answer(20), (visca::Bytes{0x90, 0x50, 0x07, 0xFF}));
    EXPECT_LT(line::monotonic_seconds() - began, 10);
    reader.join();
    const double again = line::monotonic_seconds();
    EXPECT_FALSE(box.wait_answer(0.2));
    EXPECT_GE(line::monotonic_seconds() - again, 0.19);
}

}  // namespace

// ---- the verification's summary ----

namespace {

TEST(VerifySummary, MedianAndWorstPerBucket) {
    struct Case {
        const char *what;
        std::vector<verify::VerifiedMove> moves;
        std::string summary;
    };
    const Case cases[] = {
        {"nothing", {}, "verify summary: 5-90 deg no moves; 1-5 deg no moves; zoom/focus no moves; 0 moves"},
        // Errors 10 % (1), 50 % (-2), 2 % (5), 4 % (-10), 1 % (90): 5 counts in both buckets.
        {"pan and tilt",
         {{0, 1, 1.1}, {1, -2, -1}, {0, 5, 5.1}, {1, -10, -9.6}, {0, 90, 90.9}},
         "verify summary: 5-90 deg median 2.0% worst 4.0%; 1-5 deg median 10.0% worst 50.0%; "
         "zoom/focus no moves; 5 moves"},
        // Lens moves stay out of the degree buckets, whatever their size.
        {"lens",
         {{2, 200, 210}, {3, -1000, -1030}, {2, 5, 0}, {3, 10000, 10100}, {0, -45, -45}},
         "verify summary: 5-90 deg median 0.0% worst 0.0%; 1-5 deg no moves; "
         "zoom/focus median 4.0% worst 100.0%; 5 moves"},
        {"overshoot past twice the move", {{0, -20, 30}}, "verify summary: 5-90 deg median 250.0% worst 250.0%; "
                                                          "1-5 deg no moves; zoom/focus no moves; 1 moves"},
        // Held-out moves are summed up apart, on their own line.
        {"held out apart",
         {{0, 5, 5.1}, {0, 7, 7.7, true}, {2, 300, 330, true}},
         "verify summary: 5-90 deg median 2.0% worst 2.0%; 1-5 deg median 2.0% worst 2.0%; "
         "zoom/focus no moves; 1 moves|verify held-out: 5-90 deg median 10.0% worst 10.0%; "
         "1-5 deg no moves; zoom/focus median 10.0% worst 10.0%; 2 moves"},
    };
    for (const Case &c : cases) {
        std::string both = verify::verify_summary(c.moves);
        if (c.summary.find('|') != std::string::npos) both += "|" + verify::verify_held_out_summary(c.moves);
        EXPECT_EQ(both, c.summary) << c.what;
    }
    EXPECT_EQ(verify::plan_sizes(false, true), (std::vector<double>{3, 7, 15, 30, 60, 75}));
    EXPECT_EQ(verify::plan_sizes(true, true), (std::vector<double>{300, 700, 1500, 3500, 7000}));
}

}  // namespace

// ---- the report of the predicted landings ----

namespace {

std::string captured(const std::function<void(FILE *)> &print) {
    char *text = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&text, &size);
    print(out);
    fclose(out);
    std::string s(text, size);
    free(text);
    return s;
}

TEST(CalibrateReport, PrintsEachMoveTheSummaryAndTheLimit) {
    calibrate::DriverProbe probe(calibrate::driver_defaults());
    // 0x12 turns 1000/69 deg/s: every long pan lands exactly.
    calibrate::Curves curves = same_both_ways(calibrate::Pan, {{0x12, {1000.0 / 69, 0, 0, 2}}});
    EXPECT_EQ(captured([&](FILE *f) { calibrate::print_predictions(f, probe, curves, calibrate::Pan, {10, -20}); }),
              "     +10.0 deg: byte 0x12 for 690 ms           ->    +10.00 deg, error   0.0 %\n"
              "     -20.0 deg: byte 0x12 for 1380 ms          ->    -20.00 deg, error   0.0 %\n"
              "  predicted median error 0.0 %, worst 0.0 %\n");
    // The 1 degree pan at byte 5 for 69 ms goes 5 deg/s * 0.069 = 0.345 deg.
    // Any compensation: byte 0x0E (speed 77..82) for 69 ms is the nearest, 14 * 0.069 = 0.966 deg.
    for (int b = 1; b <= 0x11; ++b) curves[calibrate::CurveKey{calibrate::Pan, 1, b}] = {double(b), 0, 0, 2};
    const std::string limited =
        captured([&](FILE *f) { calibrate::print_predictions(f, probe, curves, calibrate::Pan, {1, -2}); });
    EXPECT_NE(limited.find("      +1.0 deg: byte 0x05 for 69 ms            ->     +0.35 deg, error  65.5 %\n"),
              std::string::npos)
        << limited;
    EXPECT_NE(limited.find("      -2 deg: byte 0x0F for 138 ms, not measured\n"), std::string::npos) << limited;
    EXPECT_NE(limited.find("  limit +1 deg: a drive under 150 ms keeps its time and lowers the speed byte; the best "
                           "any PanSpeedCompensation gives is 3.4 % (+0.97 deg)\n"),
              std::string::npos)
        << limited;
    EXPECT_EQ(probe.config().at("PanSpeedCompensation"), -50);  // left as chosen
    // A time per degree so small that the driver sends nothing.
    probe.set("PanMoveTimePerDegree", 1);
    EXPECT_EQ(captured([&](FILE *f) { calibrate::print_predictions(f, probe, curves, calibrate::Pan, {1}); }),
              "      +1.0 deg: no drive (the driver's time rounds to 0 ms) ->     +0.00 deg, error 100.0 %\n"
              "  predicted median error 100.0 %, worst 100.0 %\n");
}

TEST(CalibrateReport, CurveTableAndTheLensLimit) {
    calibrate::Curves curves = same_both_ways(calibrate::Zoom, {{7, {3000, -40, 1.5, 4}}});
    curves[calibrate::CurveKey{calibrate::Pan, 1, 0x12}] = {14.5, -0.1, 0.02, 3};
    EXPECT_EQ(captured([&](FILE *f) { calibrate::print_curves(f, curves, calibrate::Zoom); }),
              "zoom: distance = rate x time + offset\n"
              "  nibble 7       wide   rate   3000.000 steps/s  offset   -40.000 steps  (rms 1.500, 4 drives)\n"
              "  nibble 7       tele   rate   3000.000 steps/s  offset   -40.000 steps  (rms 1.500, 4 drives)\n");
    calibrate::DriverProbe probe(calibrate::driver_defaults());
    const std::string text =
        captured([&](FILE *f) { calibrate::print_predictions(f, probe, curves, calibrate::Zoom, {1000}); });
    // 1000 steps: 525 ms at 3000 steps/s less 40 = 1535 steps.
    EXPECT_NE(text.find("   +1000.0 steps: nibble 7 for 525 ms            ->  +1535.00 steps, error  53.5 %"), std::string::npos)
        << text;
    EXPECT_NE(text.find("limit: ZoomTime is a pure scale; the camera's start and stop cost 40 steps per move, 4 % of "
                        "a 1000 step move"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("floor:"), std::string::npos) << text;  // no time step given
    // A 33.4 ms step moves 100 steps at 3000 steps/s: 15 % of a 667 step
    // move is within the goal's worst, 16 % of a 625 step move is not.
    for (const double smallest : {667.0, 625.0}) {
        const std::string stepped = captured(
            [&](FILE *f) { calibrate::print_predictions(f, probe, curves, calibrate::Zoom, {smallest, -5000}, 0.03334); });
        EXPECT_EQ(stepped.find("floor:") != std::string::npos, smallest == 625.0) << stepped;
        if (smallest == 625.0) {
            EXPECT_NE(stepped.find("floor: at nibble 7 one time step (33.3 ms) moves 100 steps: a 625 step move can "
                                   "land up to 16 % off by that alone"),
                      std::string::npos)
                << stepped;
        }
    }
    // A stair of 64 steps is 16 % of a 400 step move, but on the true curve
    // the stairs it meets land within 11.3 %: no floor.
    const calibrate::Curves exact = same_both_ways(calibrate::Zoom, {{7, {19998 / 10.5, 0, 0, 4}}});
    const std::string fine = captured(
        [&](FILE *f) { calibrate::print_predictions(f, probe, exact, calibrate::Zoom, {400, -5000}, 0.0334); });
    EXPECT_EQ(fine.find("floor:"), std::string::npos) << fine;
    // Moves of 1 to 5 degrees: a floor line only where the chosen values
    // miss the goal; the best MoveSpeed and what takes it said.
    calibrate::PanTiltFigures chosen;
    chosen.known = true;
    const calibrate::ShortMoveSpeed best{0, 50, 0.064, false, {}}, bound{0, 50, 0.064, true, {}}, none{};
    const calibrate::StartLoss loss{0.053, 0.42, calibrate::Pan, 0x07};
    struct Row {
        double median;
        const calibrate::ShortMoveSpeed *best;
        bool loss;
        const char *line;
    };
    const Row rows[] = {
        {0.06, &best, true, ""},
        {0.118, &best, true,
         "  floor: moves of 1 to 5 degrees are predicted to land with a median error of 11.8 % (goal 6 %), at best 6.4 % "
         "(MoveSpeed 50): the camera's start costs each drive 53 ms more than its coast gives back (0.42 deg at pan "
         "byte 0x07)\n"},
        {0.118, &bound, false,
         "  floor: moves of 1 to 5 degrees are predicted to land with a median error of 11.8 % (goal 6 %), at best 6.4 % "
         "(MoveSpeed 50, a slower one would take the landing check beyond the camera time): not the camera's start "
         "(its fitted lines lose no time)\n"},
        {0.062, &bound, false,  // no MoveSpeed better than the chosen one
         "  floor: moves of 1 to 5 degrees are predicted to land with a median error of 6.2 % (goal 6 %): not the "
         "camera's start (its fitted lines lose no time)\n"},
        {0.07, &none, false,
         "  floor: moves of 1 to 5 degrees are predicted to land with a median error of 7.0 % (goal 6 %): not the "
         "camera's start (its fitted lines lose no time)\n"},
    };
    for (const Row &r : rows) {
        chosen.short_median = r.median;
        EXPECT_EQ(captured([&](FILE *f) {
                      calibrate::print_short_floor(f, chosen, *r.best,
                                                   r.loss ? std::optional<calibrate::StartLoss>(loss) : std::nullopt);
                  }),
                  r.line);
    }
}

}  // namespace

// ---- the measurement's drives against a camera on a clock of our own ----

namespace {

// One axis that runs `rate_per_speed` x speed units per second once its
// start latency has passed, stops dead and is held at the ends of its range.
// Records every drive's length and whether an end was ever hit.
class ClockedCamera : public calibrate::CameraLink {
public:
    struct Drive {
        int dir, speed;
        double seconds;
    };
    ClockedCamera(int axis, double position, double counts_per_unit, int counter_sign, double low, double high)
        : axis_(axis), pos_(position), counts_(counts_per_unit), sign_(counter_sign), low_(low), high_(high) {
        rate_per_speed = axis >= calibrate::Zoom ? 500 : 2;
    }

    bool command(const visca::Bytes &frame, std::string *) override {
        advance();
        const visca::Message m = visca::decode(frame);
        const bool lens = axis_ >= calibrate::Zoom;
        const int dir = lens ? m.lens_dir : axis_ == calibrate::Pan ? m.pan_dir : m.tilt_dir;
        const int speed = lens ? m.lens_speed + 1 : axis_ == calibrate::Pan ? m.pan_speed : m.tilt_speed;
        if (dir_ != 0) drives.push_back({dir_, speed_, clock_ - began_});
        dir_ = dir;
        speed_ = speed;
        began_ = clock_;
        return true;
    }
    std::optional<visca::Bytes> inquire(const visca::Bytes &, std::string *) override {
        clock_ += 0.01;
        advance();
        const int counter = static_cast<int>(lround(pos_ * counts_ * sign_)) & 0xFFFF;
        visca::Bytes data;
        for (int shift = 12; shift >= 0; shift -= 4) data.push_back(static_cast<uint8_t>(counter >> shift & 15));
        if (axis_ <= calibrate::Tilt) data.insert(axis_ == calibrate::Pan ? data.end() : data.begin(), 4, 0);
        return data;
    }
    bool command_done(const visca::Bytes &frame, double, std::string *error) override {
        return command(frame, error);
    }
    void wait(double seconds) override { clock_ += seconds; }
    double now() override { return clock_; }
    std::string describe() const override { return "clocked"; }

    static constexpr double latency = 0.05;
    double rate_per_speed;  // units per second per speed byte (lens: per nibble + 1)
    std::vector<Drive> drives;
    bool hit_end = false;
    double position() const { return pos_; }

private:
    void advance() {
        if (dir_ != 0) {
            const double from = std::max(last_, began_ + latency);
            if (clock_ > from) pos_ += dir_ * rate_per_speed * speed_ * (clock_ - from);
            if (pos_ < low_ || pos_ > high_) hit_end = true;
            pos_ = std::clamp(pos_, low_, high_);
        }
        last_ = clock_;
    }

    int axis_;
    double pos_, counts_;
    int sign_;
    double low_, high_;
    int dir_ = 0, speed_ = 0;
    double began_ = 0, last_ = 0, clock_ = 0;
};

TEST(CalibrateMeasure, DriveTimesDirectionsAndFitsOnAKnownCamera) {
    struct Case {
        const char *what;
        int axis;
        double start, counts_per_unit;
        int counter_sign;
        std::optional<double> min, max;
        std::vector<int> speeds;
        // Drive lengths per speed, worked out from the measurement's targets.
        std::vector<double> seconds;
        calibrate::MeasureOptions options = calibrate::MeasureOptions();
    };
    // As the calibration measures every lens nibble: the first short drive
    // 0.1 s; the next nibble's for 200 steps at twice the rate before.
    calibrate::MeasureOptions lens;
    lens.short_target = 0.8;
    lens.min_short = 0.03;
    lens.first_short = 0.1;
    lens.rate_growth = 2;
    lens.long_target = 6;
    lens.max_drive = 0.6;
    const Case cases[] = {
        // 1 degree at 8 deg/s: 0.3 s first, then 4 degrees, but at least 0.3 s more: 0.6 s.
        // At 0x12 (36 deg/s) the estimate of 8 deg/s gives 0.125 s, then at
        // least 0.3 s more: 0.425 s. The counter crosses 0 and runs the
        // other way.
        {"pan", calibrate::Pan, 0, 14.4, -1, std::nullopt, std::nullopt, {4, 0x12}, {0.3, 0.3, 0.6, 0.6, 0.125, 0.125, 0.425, 0.425}},
        {"tilt", calibrate::Tilt, -3, 10, 1, std::nullopt, std::nullopt, {0x0E}, {0.3, 0.3, 0.6, 0.6}},
        // A zoom at wide first moves to 30 % of its travel; at 4000 steps/s
        // 0.3 s, then 1000 steps at once: at least 0.3 s more.
        {"zoom at an end", calibrate::Zoom, 0, 1, 1, 0.0, 16384.0, {7}, {0.3, 0.3, 0.6, 0.6}},
        // Nibble 0 (500 steps/s): 0.3 s, then 1000 steps: the most, 0.8 s.
        // Nibble 7 (4000 steps/s): 250 steps at the estimate of 500 take
        // 0.5 s; 0.8 s would run 3000 steps into the end 2900 steps away:
        // the long drive stays within 80 % of the room at the crude
        // 1800 / 0.5 steps/s, 2320 / 3600 s.
        {"focus, room for a short drive only", calibrate::Focus, 2900, 1, 1, 0.0, 5800.0, {0, 7},
         {0.3, 0.3, 0.8, 0.8, 0.5, 0.5, 2320.0 / 3600, 2320.0 / 3600}},
        // Nibble 0 (500 steps/s) moves 25 steps in 0.1 s: 0.4 s more at
        // least, 0.6 s at most. Nibble 1: 200 / (2 x 500) = 0.2 s, then 0.6 s.
        {"every lens nibble", calibrate::Zoom, 8000, 1, 1, 0.0, 16384.0, {0, 1},
         {0.1, 0.1, 0.6, 0.6, 0.2, 0.2, 0.6, 0.6}, lens},
    };
    for (const Case &c : cases) {
        ClockedCamera cam(c.axis, c.start, c.counts_per_unit, c.counter_sign, c.min.value_or(-1e6), c.max.value_or(1e6));
        calibrate::AxisGeometry g;
        g.units_per_unit = c.counts_per_unit;
        g.min = c.min;
        g.max = c.max;
        calibrate::Measurer measurer(cam, nullptr, nullptr);
        calibrate::Curves curves;
        std::map<calibrate::CurveKey, std::vector<calibrate::Sample>> samples;
        std::string error;
        ASSERT_TRUE(measurer.measure(c.axis, g, c.speeds, c.options, &curves, &samples, &error))
            << c.what << ": " << error;
        EXPECT_EQ(g.sign, c.counter_sign) << c.what;
        EXPECT_FALSE(cam.hit_end) << c.what;
        // The inward move of the zoom comes first: only the timed drives count.
        const std::vector<ClockedCamera::Drive> timed(cam.drives.end() - static_cast<long>(c.seconds.size()),
                                                      cam.drives.end());
        for (size_t i = 0; i < timed.size(); ++i) {
            // (after the first speed the time rests on a fitted rate)
            EXPECT_NEAR(timed[i].seconds, c.seconds[i], 0.005) << c.what << " drive " << i;
            // Out and back in turn: the axis stays near its start.
            EXPECT_EQ(timed[i].dir, i % 2 == 1 ? -timed[i - 1].dir : timed[i].dir) << c.what << " drive " << i;
        }
        for (int speed : c.speeds) {
            const int nominal = c.axis >= calibrate::Zoom ? speed + 1 : speed;
            for (int dir : {1, -1}) {
                const auto it = curves.find(calibrate::CurveKey{c.axis, dir, speed});
                ASSERT_NE(it, curves.end()) << c.what;
                const double rate = cam.rate_per_speed * nominal, offset = -rate * ClockedCamera::latency;
                EXPECT_NEAR(it->second.rate, rate, 0.03 * rate) << c.what << " speed " << speed << " dir " << dir;
                EXPECT_NEAR(it->second.offset, offset, 0.15 + 0.03 * fabs(offset)) << c.what << " speed " << speed;
            }
        }
    }
}

TEST(CalibrateLanding, LandsThePlanAndTellsAMissFromItsPrediction) {
    struct Plan {
        int axis;
        double at;
        std::optional<double> min, max;
        std::vector<double> moves;
    };
    const Plan plans[] = {
        {calibrate::Pan, 0, std::nullopt, std::nullopt, {4, -4, 12, -12, 40, -40}},
        {calibrate::Tilt, 20, -20.0, 25.0, {-4, 4, -12, 12}},  // 40 does not fit; towards the more room first
        {calibrate::Zoom, 0, 0.0, 16384.0, {400, -400, 2500, -2500}},
        {calibrate::Focus, 16000, 0.0, 16384.0, {-400, 400, -2500, 2500}},
        {calibrate::Focus, 200, 0.0, 1000.0, {400, -400}},
    };
    for (const Plan &p : plans) {
        calibrate::AxisGeometry g;
        g.min = p.min;
        g.max = p.max;
        EXPECT_EQ(calibrate::landing_moves(p.axis, g, p.at), p.moves) << calibrate::axis_label(p.axis) << " at " << p.at;
    }
    // The camera runs 2 deg/s per speed byte after 50 ms. Values chosen
    // on its true curves land as predicted; values chosen on curves 15 %
    // too fast land some 15 % short of what they predict.
    for (const double believed : {1.0, 1.15}) {
        ClockedCamera cam(calibrate::Pan, 0, 14.4, 1, -1e6, 1e6);
        calibrate::Curves curves;
        for (int speed = 1; speed <= 0x18; ++speed) {
            const double rate = cam.rate_per_speed * speed;
            for (int dir : {1, -1}) curves[calibrate::CurveKey{calibrate::Pan, dir, speed}] = {believed * rate, -rate * 0.05};
        }
        calibrate::DriverProbe probe(calibrate::driver_defaults());
        calibrate::choose_axis(probe, curves, calibrate::Pan, calibrate::plan_moves(calibrate::Pan, std::nullopt, true), false);
        calibrate::AxisGeometry g;
        g.units_per_unit = 14.4;
        g.sign = 1;
        calibrate::Measurer measurer(cam, nullptr, nullptr);
        calibrate::LandingResult r;
        std::string error;
        ASSERT_TRUE(calibrate::land_plan(measurer, probe, curves, calibrate::Pan, g, 0, &r, &error)) << error;
        ASSERT_EQ(r.moves.size(), 6u);
        if (believed == 1.0) {
            EXPECT_NEAR(r.median, r.predicted_median, 0.01);
        }
        EXPECT_EQ(calibrate::landed_as_predicted(r), believed == 1.0) << believed << ": median " << r.median;
        EXPECT_NEAR(cam.position(), 0, 0.5);  // out and back
    }
    // With a time step, a landing within a stair of the mean is no miss
    // (the medians of the moves' errors, predictions and allowances).
    struct Verdict {
        double median, predicted, allowed;
        bool as_predicted;
    };
    for (const Verdict &v : {Verdict{0.060, 0.010, 0.045, true}, Verdict{0.060, 0.010, 0.035, false},
                             Verdict{0.060, 0.045, 0.010, true}, Verdict{0.029, 0.010, 0.010, true}}) {
        calibrate::LandingResult r;
        for (const double k : {0.5, 1.0, 1.0, 3.0}) r.moves.push_back({10, 10 + 10 * k * v.median, k * v.predicted, k * v.allowed});
        calibrate::summarise(&r);
        EXPECT_NEAR(r.median, v.median, 1e-12);
        EXPECT_NEAR(r.worst, 3 * v.median, 1e-12);
        EXPECT_EQ(calibrate::landed_as_predicted(r), v.as_predicted) << v.median << " " << v.allowed;
    }
}

TEST(CalibrateMeasure, RefusesARangeTooSmallToMeasure) {
    ClockedCamera cam(calibrate::Focus, 100, 1, 1, 0, 200);
    calibrate::AxisGeometry g;
    g.min = 0.0;
    g.max = 200.0;
    calibrate::Measurer measurer(cam, nullptr, nullptr);
    calibrate::Curves curves;
    std::map<calibrate::CurveKey, std::vector<calibrate::Sample>> samples;
    std::string error;
    EXPECT_FALSE(measurer.measure(calibrate::Focus, g, {7}, calibrate::MeasureOptions(), &curves, &samples, &error));
    EXPECT_NE(error.find("focus: the start position is too close to an end"), std::string::npos) << error;
    EXPECT_TRUE(cam.drives.empty());
}

}  // namespace

// ---- the camera's time step, lens speeds, refusals and the stop ----

namespace {

TEST(CalibrateTimeStep, StaircaseOnCamerasWithAKnownFrame) {
    struct Case {
        const char *profile;
        int speed;
        double frame_ms;  // 0: acts on arrival
    };
    const Case cases[] = {{"geometric", 0x12, 16.683}, {"linear", 0x10, 33.367}, {"stepped", 0x12, 40},
                          {"proportional", 0x12, 0},
                          // A frame under twice the spacing of one way's drives (8.8 ms): most of them rise.
                          {"geometric", 0x11, 16.683}};
    for (const Case &c : cases) {
        camera::Profile profile;
        std::string error;
        ASSERT_TRUE(camera::load_profile(c.profile, &profile, &error)) << error;
        auto link = calibrate::builtin_link(profile);
        calibrate::Measurer measurer(*link, nullptr, nullptr);
        calibrate::AxisGeometry g;
        g.units_per_unit = profile.pan.units_per_degree;
        g.sign = profile.pan.sign;
        // The rate from long drives, as the calibration has it by then.
        calibrate::Curves curves;
        std::map<calibrate::CurveKey, std::vector<calibrate::Sample>> samples;
        calibrate::MeasureOptions long_drives;
        long_drives.times = 4;
        long_drives.max_drive = 2;
        long_drives.long_target = 20;
        ASSERT_TRUE(measurer.measure(calibrate::Pan, g, {c.speed}, long_drives, &curves, &samples, &error)) << error;
        const double rate = curves.at(calibrate::CurveKey{calibrate::Pan, 1, c.speed}).rate;
        const double spacing = std::max(0.002, 2.5 / g.units_per_unit / rate);
        std::map<calibrate::CurveKey, std::vector<calibrate::Sample>> stairs;
        ASSERT_TRUE(measurer.staircase(calibrate::Pan, g, c.speed, calibrate::staircase_times(0.1, spacing, 40), &stairs,
                                       &error))
            << error;
        std::vector<calibrate::Staircase> runs;
        for (const auto &[key, v] : stairs) runs.push_back({v, 1 / g.units_per_unit, curves.at(key).rate});
        const auto step = calibrate::estimate_time_step(runs);
        ASSERT_TRUE(step) << c.profile;
        EXPECT_NEAR(*step * 1000, c.frame_ms, 0.03 * c.frame_ms + 1e-9) << c.profile;
    }
    // Too few drives, or none that moved, cannot tell.
    EXPECT_FALSE(calibrate::estimate_time_step({{{{0.1, 1}, {0.2, 2}}, 0.1, 10}}));
    EXPECT_FALSE(calibrate::estimate_time_step({{{{0.1, 1}, {0.2, 2}, {0.3, 3}}, 0.1, 0}}));
}

// Nibble n turns 1000 (n + 1) steps/s with no offset; on a 33.4 ms grid the
// fastest nibble's stair is 267 steps, more than a 200 step move.
calibrate::Curves lens_curves() {
    calibrate::Curves curves;
    for (int n = 0; n <= 7; ++n) {
        for (int dir : {1, -1}) curves[calibrate::CurveKey{calibrate::Zoom, dir, n}] = {1000.0 * (n + 1), 0, 0, 3};
    }
    return curves;
}

TEST(CalibrateLensSpeed, FastestNibbleThatLandsSmallMovesWhenAuto) {
    calibrate::DriverProbe probe(calibrate::driver_defaults());
    const auto moves = calibrate::plan_moves(calibrate::Zoom, std::nullopt, false);
    const calibrate::LensTable t = calibrate::lens_table(probe, lens_curves(), calibrate::Zoom, moves, 0.0334, 19998);
    ASSERT_EQ(t.rows.size(), 8u);
    EXPECT_EQ(probe.config().at("ZoomSpeed"), 100);  // left as it was
    ASSERT_GE(t.in_use, 0);
    const calibrate::LensRow &fastest = t.rows[static_cast<size_t>(t.in_use)];
    EXPECT_EQ(fastest.nibble, 7);
    EXPECT_NEAR(fastest.full_travel, 19998 / 8000.0, 1e-9);
    EXPECT_GT(fastest.small, calibrate::lens_goal_worst);  // small moves miss by a stair
    const int chosen = calibrate::choose_lens_row(t, calibrate::LensSpeedChoice::Auto, 0);
    ASSERT_GE(chosen, 0);
    const calibrate::LensRow &r = t.rows[static_cast<size_t>(chosen)];
    EXPECT_LE(r.median, calibrate::lens_goal_median);
    EXPECT_LE(r.worst, calibrate::lens_goal_worst);
    EXPECT_LT(r.nibble, 7);
    // Every faster nibble misses the goal. The worst is a single move's:
    // a 200 step move meets stairs a whole stair apart, so one of them at
    // least half a stair off.
    for (const calibrate::LensRow &o : t.rows) {
        EXPECT_GE(o.worst, 0.5 * 1000.0 * (o.nibble + 1) * 0.0334 / 200 - 1e-9) << o.nibble;
        if (o.nibble > r.nibble) {
            EXPECT_TRUE(o.median > calibrate::lens_goal_median || o.worst > calibrate::lens_goal_worst) << o.nibble;
        }
    }
    EXPECT_EQ(calibrate::choose_lens_row(t, calibrate::LensSpeedChoice::Keep, 0), t.in_use);
    EXPECT_EQ(t.rows[static_cast<size_t>(calibrate::choose_lens_row(t, calibrate::LensSpeedChoice::Nibble, 3))].nibble, 3);
    // Without --lens-speed: the row in use while it is sound (within the
    // bound a calibration must meet, not the goal), else auto's, said in a line.
    calibrate::LensTable u = calibrate::lens_table(probe, lens_curves(), calibrate::Zoom, moves, 0.1, 19998);
    for (const calibrate::LensRow &o : u.rows) EXPECT_EQ(o.sound, o.median <= calibrate::sound_lens_median) << o.nibble;
    const auto chosen_and_line = [&](double median, bool sound) {
        u.rows[7].median = median;  // the row in use, nibble 7
        u.rows[7].sound = sound;
        u.chosen = calibrate::choose_lens_row(u, calibrate::LensSpeedChoice::KeepWithinBounds, 0);
        return std::to_string(u.chosen) + captured([&](FILE *f) {
                   calibrate::print_lens_fallback(f, u, calibrate::LensSpeedChoice::KeepWithinBounds, 100);
               });
    };
    const std::string instead = ": ZoomSpeed 15 (nibble 0) chosen instead, as --lens-speed auto chooses\n";
    EXPECT_EQ(chosen_and_line(0.2, true), "7");
    EXPECT_EQ(chosen_and_line(0.2, false),
              "0  ZoomSpeed 100 in use is predicted to land zoom moves 20.0 % off (median, at most 10 %)" + instead);
    EXPECT_EQ(chosen_and_line(0.05, false), "0  ZoomSpeed 100 in use cannot predict every zoom move of the plan" + instead);
    u.in_use = -1;
    EXPECT_EQ(chosen_and_line(0.05, true), "0  ZoomSpeed 100 in use was not measured" + instead);
}

TEST(CalibrateCheck, RefusesWhatIsUnsound) {
    struct Case {
        const char *what;
        std::function<void(calibrate::Session &)> spoil;
        const char *message;
    };
    const Case cases[] = {
        {"sound", [](calibrate::Session &) {}, ""},
        {"did not move",
         [](calibrate::Session &s) {
             for (auto &[key, v] : s.samples) {
                 for (calibrate::Sample &x : v) x.distance = 0.5 / 14.4;
             }
         },
         "pan did not move"},
        {"poor fit", [](calibrate::Session &s) { for (auto &[k, l] : s.curves) l.rms = 0.11 * 20; }, "too poor"},
        {"fit just good enough", [](calibrate::Session &s) { for (auto &[k, l] : s.curves) l.rms = 0.09 * 20; }, ""},
        {"out of range", [](calibrate::Session &s) { s.chosen = {{"PanMoveTimePerDegree", 50001}}; },
         "outside the driver's range 1..50000"},
        {"at the ends of the ranges",
         [](calibrate::Session &s) { s.chosen = {{"PanSpeedCompensation", -100}, {"PanMoveTimePerDegree", 50000}}; }, ""},
        {"a move of the plan not measured", [](calibrate::Session &s) { s.curves.erase(s.curves.begin()); },
         "which was not measured"},
        {"predicted beyond the bound", [](calibrate::Session &s) { for (auto &[k, l] : s.curves) l.rate *= 1.06; },
         "predicted to land 5-90 degree moves"},
        {"predicted within the bound", [](calibrate::Session &s) { for (auto &[k, l] : s.curves) l.rate *= 1.04; }, ""},
        {"camera beyond the file's cameras", [](calibrate::Session &s) { s.file_cameras = 1; }, "beyond [host] cameras = 1"},
        {"camera within", [](calibrate::Session &s) { s.file_cameras = 2; }, ""},
    };
    for (const Case &c : cases) {
        calibrate::Options o;
        o.camera = 2;
        o.axes[calibrate::Tilt] = o.axes[calibrate::Zoom] = o.axes[calibrate::Focus] = false;
        calibrate::Session s(o, nullptr);
        s.probe = std::make_unique<calibrate::DriverProbe>(calibrate::driver_defaults());
        s.geometry[calibrate::Pan].units_per_unit = 14.4;
        s.plan[calibrate::Pan] = calibrate::plan_moves(calibrate::Pan, std::nullopt, false);
        for (double m : s.plan[calibrate::Pan]) {
            for (const calibrate::Drive &d : s.probe->move(calibrate::Pan, m)) {
                const calibrate::CurveKey key{calibrate::Pan, d.dir, d.speed};
                s.curves[key] = {14.5, 0, 0.01, 2};
                s.samples[key] = {{0.1, 1.45}, {1.38, 20}};
            }
        }
        s.chosen = {{"PanMoveTimePerDegree", 690}};
        c.spoil(s);
        EXPECT_EQ(calibrate::check(s), *c.message == '\0') << c.what;
        EXPECT_NE(s.error.find(c.message), std::string::npos) << c.what << ": " << s.error;
    }
}

// Focus is measured with automatic focus off; a camera whose focus was
// automatic gets it back after the run, one in manual focus stays so.
TEST(CalibrateSteps, AutomaticFocusOnAgainWhenItWasOn) {
    for (const bool was_auto : {true, false}) {
        calibrate::Options o;
        o.profile = "proportional";
        o.quick = true;
        o.axes[calibrate::Pan] = o.axes[calibrate::Tilt] = o.axes[calibrate::Zoom] = false;
        calibrate::Session s(o, nullptr);
        ASSERT_TRUE(calibrate::check_inputs(s) && calibrate::open_camera(s)) << s.error;
        ASSERT_TRUE(s.link->command(calibrate::focus_mode(was_auto), &s.error)) << s.error;
        ASSERT_TRUE(calibrate::identify(s) && calibrate::measure(s) && calibrate::measure_time_step(s) &&
                    calibrate::measure_long_drives(s) && calibrate::measure_lens_long_drives(s) &&
                    calibrate::return_to_start(s))
            << s.error;
        EXPECT_EQ(s.focus_was_auto, std::optional<bool>(was_auto));
        EXPECT_EQ(calibrate::read_focus_auto(*s.link), std::optional<bool>(was_auto));
        EXPECT_EQ(s.restored.find("; automatic focus on again") != std::string::npos, was_auto) << s.restored;
    }
}

// Counts the commands that reach a built-in camera.
class CountingLink : public calibrate::CameraLink {
public:
    explicit CountingLink(std::unique_ptr<calibrate::CameraLink> inner) : inner_(std::move(inner)) {}
    bool command(const visca::Bytes &f, std::string *e) override {
        sent.emplace_back(inner_->now(), visca::decode(f).kind);
        return ++commands, inner_->command(f, e);
    }
    bool command_done(const visca::Bytes &f, double s, std::string *e) override {
        return ++commands, inner_->command_done(f, s, e);
    }
    std::optional<visca::Bytes> inquire(const visca::Bytes &f, std::string *e) override { return inner_->inquire(f, e); }
    void wait(double s) override { inner_->wait(s); }
    double now() override { return inner_->now(); }
    std::string describe() const override { return inner_->describe(); }
    int commands = 0;
    std::vector<std::pair<double, visca::Kind>> sent;  // when each command left, and what it was

private:
    std::unique_ptr<calibrate::CameraLink> inner_;
};

// The check lands every axis's k-th move at the same time: each lands
// exactly as it does alone (time step, start latency and coast included),
// in much less camera time, and frames of different axes keep the gap. The
// calibration's landing check (2) lands so too.
TEST(CalibrateLanding, TogetherLandsAsEachAlone) {
    for (const char *name : {"linear", "stepped"}) {
        calibrate::LandingResult r[2][4];
        std::optional<calibrate::AxisFigures> checked[4];
        double took[3];
        for (const int together : {1, 0, 2}) {
            calibrate::Options o;
            o.profile = name;
            calibrate::Session s(o, nullptr);
            ASSERT_TRUE(calibrate::check_inputs(s) && calibrate::open_camera(s)) << s.error;
            auto counting = std::make_unique<CountingLink>(std::move(s.link));
            CountingLink &link = *counting;
            s.link = std::move(counting);
            s.measurer = std::make_unique<calibrate::Measurer>(link, nullptr, nullptr);
            ASSERT_TRUE(calibrate::identify(s) && link.command(calibrate::focus_mode(false), &s.error)) << s.error;
            link.sent.clear();
            const double began = link.now();
            if (together == 2) {
                ASSERT_TRUE(calibrate::land_check(s)) << s.error;
                std::copy(std::begin(s.landing), std::end(s.landing), checked);
            } else if (together) {
                ASSERT_TRUE(calibrate::land_plans(*s.measurer, *s.probe, o.axes, s.geometry, s.step_or_frame(), r[1],
                                                  &s.error)) << s.error;
            }
            for (int axis = 0; axis < 4 && !together; ++axis) {
                ASSERT_TRUE(calibrate::land_plan(*s.measurer, *s.probe, {}, axis, s.geometry[axis], 0, &r[0][axis],
                                                 &s.error)) << s.error;
            }
            took[together] = link.now() - began;
            for (size_t i = 1; i < link.sent.size() && together == 1; ++i) {
                const bool same_lens = link.sent[i].second == link.sent[i - 1].second &&
                                       link.sent[i].second != visca::Kind::PanTiltDrive;
                EXPECT_TRUE(same_lens || link.sent[i].first - link.sent[i - 1].first > calibrate::together_gap / 2)
                    << name << " frame " << i << " at " << link.sent[i].first << " after " << link.sent[i - 1].first;
            }
        }
        for (int axis = 0; axis < 4; ++axis) {
            calibrate::summarise(&r[0][axis]);
            ASSERT_TRUE(checked[axis]) << name << " " << axis;
            EXPECT_EQ(checked[axis]->median, r[0][axis].median) << name << " " << axis;
            EXPECT_EQ(checked[axis]->worst, r[0][axis].worst) << name << " " << axis;
            ASSERT_EQ(r[1][axis].moves.size(), r[0][axis].moves.size()) << name << " " << axis;
            ASSERT_FALSE(r[1][axis].moves.empty());
            for (size_t k = 0; k < r[0][axis].moves.size(); ++k) {
                const calibrate::Landed &l = r[1][axis].moves[k];
                EXPECT_EQ(l.reached, r[0][axis].moves[k].reached) << name << " " << axis << " " << k;
                EXPECT_GE(l.reached * l.requested, 0) << name << " " << axis << " " << l.requested << " -> " << l.reached;
            }
        }
        EXPECT_LT(took[1], 0.75 * took[0]) << name;
        EXPECT_LT(took[2], 0.75 * took[0]) << name;
    }
}

TEST(CalibrateStop, PacedOnATwoSlotCameraLosingNoFrame) {
    camera::Profile profile;
    std::string error;
    ASSERT_TRUE(camera::load_profile("stepped", &profile, &error)) << error;
    ASSERT_EQ(profile.slots, 2);
    CountingLink link(calibrate::builtin_link(profile));
    // Pan, zoom and focus all driving; the lens away from its ends.
    ASSERT_TRUE(link.command(calibrate::lens_drive(true, 1, 2), &error));
    ASSERT_TRUE(link.command(calibrate::lens_drive(false, 1, 2), &error));
    link.wait(0.5);
    ASSERT_TRUE(link.command(calibrate::pan_tilt_drive(calibrate::Pan, 1, 5), &error));
    link.wait(0.2);
    calibrate::Measurer measurer(link, nullptr, nullptr);
    const int before = link.commands;
    measurer.stop_all(0.04);
    // Three stops, none dropped: no second round was needed.
    EXPECT_EQ(link.commands - before, 3);
    double at[4];
    for (int axis = 0; axis < 4; ++axis) at[axis] = measurer.position(axis, &error).value_or(-1);
    link.wait(1.0);
    for (int axis = 0; axis < 4; ++axis) EXPECT_EQ(measurer.position(axis, &error).value_or(-2), at[axis]) << axis;

    // go_to's corrections too short to move (a fitted offset above the
    // gap): its last ends with a stop frame. The next axis's drive, its
    // start reading kept from before, must not be the third command in one
    // execution time: the camera would drop it and the move stay at 0.
    calibrate::AxisGeometry g[2];
    for (int axis : {calibrate::Pan, calibrate::Tilt}) {
        g[axis].units_per_unit = 204.8;
        g[axis].sign = 1;
    }
    calibrate::Curves curves;
    for (int dir : {1, -1}) curves[calibrate::CurveKey{calibrate::Pan, dir, 1}] = {100, 1};
    ASSERT_TRUE(measurer.settled(calibrate::Tilt, g[calibrate::Tilt], &error)) << error;
    const double pan_at = *measurer.settled(calibrate::Pan, g[calibrate::Pan], &error);
    ASSERT_TRUE(measurer.go_to(calibrate::Pan, g[calibrate::Pan], pan_at + 3.5, curves, &error)) << error;
    const calibrate::Drive up{calibrate::Tilt, 1, 10, 0.5};
    // Byte 10 is 15 deg/s, after 80 ms of start latency, coasting 120 ms.
    const double moved = measurer.land(calibrate::Tilt, g[calibrate::Tilt], {up}, &error).value_or(0);
    EXPECT_NEAR(moved, 15 * (0.5 - 0.08) + 15 * 0.12 / 2, 0.6) << error;
}

}  // namespace

namespace {

// TEXT with every run of line ends and blanks made one blank.
std::string joined(const std::string &text) {
    std::string out;
    for (char c : text) {
        const bool blank = c == ' ' || c == '\n';
        if (!blank || (!out.empty() && out.back() != ' ')) out += blank ? ' ' : c;
    }
    return out;
}

}  // namespace

TEST(CalibrateSite, TableFitsEightyColumnsAndKeepsEveryValue) {
    site::Outcome good;
    good.ok = true;
    good.camera_time = 181.5;
    good.errors =
        "pan 0.6 % (worst 2.1 %), tilt 0.8 % (worst 3.0 %), zoom 1.9 % (worst 9.7 %), focus 2.2 % (worst 11.3 %)";
    good.values = {{"PanMoveTimePerDegree", 690}, {"PanSpeedCompensation", -50}, {"TiltMoveTimePerDegree", 1010},
                   {"TiltSpeedCompensation", -30}, {"MoveSpeed", 100}, {"ZoomTime", 9000}, {"ZoomSpeed", 2},
                   {"FocusTime", 7000}, {"FocusSpeed", 3}};
    site::Outcome bad;
    bad.why = "no answer to the inquiry 81 09 00 02 FF on udp:192.168.100.200:52381: Connection refused";
    // Line names of every length up to one longer than a line, and other
    // widths, move the result column and with it every wrapping point.
    for (size_t width = 60; width <= 100; ++width) {
        for (size_t n = 0; n < width; n += width == 80 ? 1 : 7) {
            const std::string port = "/dev/" + std::string(n, 'x');
            const std::vector<site::Camera> cameras = {{1, port}, {12, "udp:192.168.100.200:52381"}};
            const std::string t = site::table(cameras, {good, bad}, width);
            std::istringstream lines(t);
            for (std::string l; std::getline(lines, l);) ASSERT_LE(l.size(), width) << l << "\n" << t;
            const std::string all = joined(t);
            // (a name longer than a line is cut over several)
            const size_t cut = width - 8;
            const std::string name = port.size() <= cut ? port : port.substr(0, cut) + " " + port.substr(cut);
            EXPECT_NE(all.find("1 " + name + " 181.5 s " + good.errors), std::string::npos) << t;
            for (const auto &[key, v] : good.values) {
                EXPECT_NE(all.find(key + " = " + std::to_string(v)), std::string::npos) << key << "\n" << t;
        }
        EXPECT_NE(all.find("12 udp:192.168.100.200:52381 - failed: " + bad.why), std::string::npos) << t;
        }
    }
}

// The estimate as it came, drive after drive: nothing until enough is
// known, then never a rise of more than a tenth; what the run still plans
// counts, not only what the step under way has left.
TEST(CalibrateSite, TimeLeftDoesNotJump) {
    struct Run {
        int planned;
        double seconds;        // per drive
        std::vector<int> own;  // per drive: what the step under way has left
        double last;           // the figure shown after the last
    };
    const Run runs[] = {
        // A step's own estimate at the start of a run, as it came.
        {0, 1, {198, 123, 163, 191, 240, 260, 150, 400, 400, 400, 30}, 30},
        // Steps near their end, with 100 - 11 drives of the run to go.
        {100, 2, {4, 3, 2, 1, 4, 3, 2, 1, 2, 1, 2, 1}, (100 - 11) * 2},
    };
    for (const Run &r : runs) {
        calibrate::TimeLeft left;
        left.plan(r.planned);
        std::optional<double> before;
        for (int drives = 0; drives < static_cast<int>(r.own.size()); ++drives) {
            const std::optional<double> shown = left.shown(r.seconds, drives, r.own[drives]);
            EXPECT_EQ(shown.has_value(), drives >= calibrate::TimeLeft::settle) << drives;
            if (!shown) continue;
            EXPECT_LE(*shown, std::max(r.planned - drives, r.own[drives]) * r.seconds);
            if (before) {
                EXPECT_LE(*shown, *before * 1.1 + 1e-9) << drives;
            }
            before = shown;
        }
        EXPECT_EQ(before, r.last) << r.planned;
    }
}

// ---- the twin ----

namespace {

struct TwinRun {
    camera::Profile original;
    calibrate::TwinSetup setup;
    calibrate::TwinMeasurement m;
    bool ok = false;
    std::string error;
};

// One twin measurement per profile, shared by the tests below, from a
// staircase's step `step_off` of the frame (the calibration's is 1 to 3 % off).
const TwinRun &twin_of(const std::string &name, double step_off = 1.03) {
    static std::map<std::pair<std::string, double>, TwinRun> runs;
    const auto key = std::make_pair(name, step_off);
    if (runs.count(key) != 0) return runs[key];
    TwinRun &r = runs[key];
    EXPECT_TRUE(camera::load_profile(name, &r.original, &r.error)) << r.error;
    auto link = calibrate::builtin_link(r.original);
    const camera::PanTiltAxis *pt[2] = {&r.original.pan, &r.original.tilt};
    for (int a = 0; a < 2; ++a) {
        r.setup.geometry[a].units_per_unit = pt[a]->units_per_degree;
        r.setup.geometry[a].sign = pt[a]->sign;
    }
    for (int a = 2; a < 4; ++a) r.setup.geometry[a].sign = 1;
    r.setup.time_step = step_off * r.original.frame_ms / 1000;
    r.ok = calibrate::measure_twin(*link, r.setup, nullptr, &r.m, &r.error);
    return r;
}

TEST(CalibrateTwin, ReproducesAKnownTable) {
    const TwinRun &r = twin_of("stepped");
    ASSERT_TRUE(r.ok) << r.error;
    camera::Profile t;
    std::vector<std::string> notes;
    std::string error;
    ASSERT_TRUE(calibrate::twin_profile(r.m, r.setup, &t, &notes, &error)) << error;
    const camera::Profile &o = r.original;
    const camera::PanTiltAxis *ours[2] = {&t.pan, &t.tilt}, *theirs[2] = {&o.pan, &o.tilt};
    for (int a = 0; a < 2; ++a) {
        const camera::SpeedCurve &c = ours[a]->speed, &want = theirs[a]->speed;
        ASSERT_FALSE(c.proportional);
        EXPECT_EQ(c.first_code, want.first_code) << a;
        EXPECT_EQ(c.table.size(), want.table.size()) << a;
        // Every byte: 1 % of its speed, or one unit of the reading a second.
        for (int code = 0; code <= (a == 0 ? 0x18 : 0x12); ++code) {
            const double tolerance = std::max(0.01 * want.rate(code), 1 / theirs[a]->units_per_degree);
            EXPECT_NEAR(c.rate(code), want.rate(code), tolerance) << "axis " << a << " byte " << code;
        }
        EXPECT_TRUE(ours[a]->end_stops);
        EXPECT_NEAR(ours[a]->min_degrees, theirs[a]->min_degrees, 1 / theirs[a]->units_per_degree);
        EXPECT_NEAR(ours[a]->max_degrees, theirs[a]->max_degrees, 1 / theirs[a]->units_per_degree);
    }
    const camera::LensAxis *lens[2] = {&t.zoom, &t.focus}, *want_lens[2] = {&o.zoom, &o.focus};
    for (int a = 0; a < 2; ++a) {
        EXPECT_EQ(lens[a]->min, want_lens[a]->min);
        EXPECT_EQ(lens[a]->max, want_lens[a]->max);
        for (int n = 0; n <= 7; ++n) EXPECT_NEAR(lens[a]->rate(n), want_lens[a]->rate(n), 0.01 * want_lens[a]->rate(n));
    }
    // Latency, coast and reply delay within a millisecond (drives and stops
    // timed on the step boundaries, the delay from the shortest round trip);
    // the identity as it is.
    EXPECT_NEAR(t.start_latency_ms, o.start_latency_ms, 1.0);
    EXPECT_NEAR(t.coast_ms, o.coast_ms, 1.0);
    EXPECT_NEAR(t.reply_ms, o.reply_ms, 0.5);
    EXPECT_EQ(t.vendor, o.vendor);
    EXPECT_EQ(t.model, o.model);
    EXPECT_EQ(t.rom, o.rom);
    // The video frame, finely, from a staircase's estimate 3 % off, or 13 %
    // (a camera that starts 150 ms late shows two stairs); no grid in times
    // that fall anywhere.
    for (double off : {1.03, 0.87, 1.15}) {
        const auto frame = calibrate::refine_time_step(r.m.reply_times, off * o.frame_ms / 1000);
        ASSERT_TRUE(frame) << off;
        EXPECT_NEAR(*frame * 1000, o.frame_ms, 0.001) << off;
    }
    std::vector<double> anywhere;
    for (int i = 0; i < 400; ++i) anywhere.push_back(0.05 * i + 0.0137 * ((i * 7919) % 13));
    EXPECT_FALSE(calibrate::refine_time_step(anywhere, 0.04));
}

// A camera that starts late and coasts long: its slowest bytes' rates are
// held long enough to come out as its table has them.
TEST(CalibrateTwin, SlowBytesOfACameraThatStartsLate) {
    const std::string here = __FILE__;
    // Its staircase sees two stairs after the start and says 13 % too little.
    const TwinRun &r = twin_of(here.substr(0, here.find_last_of('/') + 1) + "lagging_camera.ini", 0.87);
    ASSERT_TRUE(r.ok) << r.error;
    camera::Profile t;
    std::vector<std::string> notes;
    std::string error;
    ASSERT_TRUE(calibrate::twin_profile(r.m, r.setup, &t, &notes, &error)) << error;
    for (int code = 1; code <= 6; ++code) {
        EXPECT_NEAR(t.pan.speed.rate(code), r.original.pan.speed.rate(code), 0.01 * r.original.pan.speed.rate(code))
            << "byte " << code;
    }
}

// A camera whose pan goes left one speed byte slower than asked.
class LopsidedLink : public calibrate::CameraLink {
public:
    explicit LopsidedLink(std::unique_ptr<calibrate::CameraLink> inner) : inner_(std::move(inner)) {}
    bool command(const visca::Bytes &frame, std::string *error) override {
        visca::Bytes f = frame;
        if (f.size() == 9 && f[2] == 0x06 && f[3] == 0x01 && f[6] == 0x01 && f[4] > 1) --f[4];
        return inner_->command(f, error);
    }
    std::optional<visca::Bytes> inquire(const visca::Bytes &frame, std::string *error) override {
        return inner_->inquire(frame, error);
    }
    bool command_done(const visca::Bytes &frame, double seconds, std::string *error) override {
        return inner_->command_done(frame, seconds, error);
    }
    void wait(double seconds) override { inner_->wait(seconds); }
    double now() override { return inner_->now(); }
    std::string describe() const override { return "lopsided"; }

private:
    std::unique_ptr<calibrate::CameraLink> inner_;
};

TEST(CalibrateTwin, DrivesTheOtherWayOnlyWhereTheWaysDiffer) {
    // The same both ways: every byte one way, every sixth from the top
    // both ways.
    const TwinRun &r = twin_of("stepped");
    ASSERT_TRUE(r.ok) << r.error;
    const auto &pan = r.m.holds[calibrate::Pan];
    EXPECT_EQ(pan[0].size() + pan[1].size(), 25u + 5u);
    // Camera time: 115 s here (a lens that sought its high end first would
    // travel its range once more, 4 s for this zoom).
    EXPECT_LT(r.m.camera_seconds, 117.0);
    // Left a byte slower: every byte both ways, and the difference said.
    TwinRun lop;
    ASSERT_TRUE(camera::load_profile("linear", &lop.original, &lop.error)) << lop.error;
    LopsidedLink link(calibrate::builtin_link(lop.original));
    for (int a = 0; a < 2; ++a) lop.setup.geometry[a].units_per_unit = 14.4;
    for (int a = 0; a < 4; ++a) lop.setup.geometry[a].sign = 1;
    lop.setup.time_step = lop.original.frame_ms / 1000;
    ASSERT_TRUE(calibrate::measure_twin(link, lop.setup, nullptr, &lop.m, &lop.error)) << lop.error;
    const auto &both = lop.m.holds[calibrate::Pan];
    EXPECT_EQ(both[0].size(), 25u);  // bytes 0x00..0x18 (0x00 runs as the first)
    EXPECT_EQ(both[1].size(), 25u);
    camera::Profile t;
    std::vector<std::string> notes;
    std::string error;
    ASSERT_TRUE(calibrate::twin_profile(lop.m, lop.setup, &t, &notes, &error)) << error;
    const bool said = std::any_of(notes.begin(), notes.end(),
                                  [](const std::string &n) { return n.rfind("pan: the two ways differ", 0) == 0; });
    EXPECT_TRUE(said);
    // Byte 0x0C: the mean of 12 and 11 bytes' worth of 3.33 deg/s.
    EXPECT_NEAR(t.pan.speed.rate(0x0C), 3.3333 * 11.5, 0.01 * 3.3333 * 11.5);
}

TEST(CalibrateTwin, WrittenTwinReadsBack) {
    const TwinRun &r = twin_of("stepped");
    ASSERT_TRUE(r.ok) << r.error;
    camera::Profile t;
    std::vector<std::string> notes;
    std::string error;
    ASSERT_TRUE(calibrate::twin_profile(r.m, r.setup, &t, &notes, &error)) << error;
    const std::string path = testing::TempDir() + "twin_" + std::to_string(getpid()) + ".ini";
    FILE *f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs(calibrate::profile_text(t, {"measured on /dev/ttyS0, 2026-12-10"}).c_str(), f);
    fclose(f);
    camera::Profile back;
    ASSERT_TRUE(camera::read_profile(path, &back, &error)) << error;
    unlink(path.c_str());
    const camera::PanTiltAxis *a[2] = {&back.pan, &back.tilt}, *b[2] = {&t.pan, &t.tilt};
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(a[i]->speed.table.size(), b[i]->speed.table.size());
        for (int code = 0; code <= 0x18; ++code) {
            EXPECT_NEAR(a[i]->speed.rate(code), b[i]->speed.rate(code), 1e-4 * b[i]->speed.rate(code)) << code;
        }
        EXPECT_EQ(a[i]->sign, b[i]->sign);
        EXPECT_EQ(a[i]->units_per_degree, b[i]->units_per_degree);
        EXPECT_NEAR(a[i]->max_degrees, b[i]->max_degrees, 1e-3);
    }
    for (int n = 0; n <= 7; ++n) EXPECT_NEAR(back.zoom.rate(n), t.zoom.rate(n), 1e-3 * t.zoom.rate(n)) << n;
    EXPECT_NEAR(back.frame_ms, t.frame_ms, 1e-3);
    EXPECT_NEAR(back.coast_ms, t.coast_ms, 0.05);
    EXPECT_EQ(back.focus.start, t.focus.start);
    EXPECT_EQ(back.slots, t.slots);
    EXPECT_EQ(back.model, t.model);
    EXPECT_EQ(back.name, "twin_" + std::to_string(getpid()));  // from the file name
}

TEST(CalibrateTwin, RefusesAnAxisItCannotMeasure) {
    const TwinRun &r = twin_of("stepped");
    ASSERT_TRUE(r.ok) << r.error;
    struct Case {
        const char *axis;
        std::function<void(calibrate::TwinMeasurement &)> lose;
    };
    const Case cases[] = {
        {"tilt", [](calibrate::TwinMeasurement &m) { m.holds[calibrate::Tilt][1].clear(); }},  // never moved one way
        {"zoom", [](calibrate::TwinMeasurement &m) { for (auto &side : m.holds[calibrate::Zoom]) side.erase(3); }},  // a nibble missing
        {"focus", [](calibrate::TwinMeasurement &m) { m.max[calibrate::Focus].reset(); }},      // no end found
    };
    for (const Case &c : cases) {
        calibrate::TwinMeasurement m = r.m;
        c.lose(m);
        camera::Profile t;
        std::vector<std::string> notes;
        std::string error;
        EXPECT_FALSE(calibrate::twin_profile(m, r.setup, &t, &notes, &error)) << c.axis;
        EXPECT_EQ(error.rfind(c.axis, 0), 0u) << error;
    }
}

}  // namespace
