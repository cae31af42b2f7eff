// The calibration's line fit and its configuration-file update.
#include <gtest/gtest.h>

#include "fit.h"
#include "ini_update.h"

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

TEST(CalibrateFit, NeedsTwoDriveTimes) {
    EXPECT_FALSE(calib::fit_line({}));
    EXPECT_FALSE(calib::fit_line({{0.5, 3}}));
    EXPECT_FALSE(calib::fit_line({{0.5, 3}, {0.5, 3.2}}));
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
