// The virtual camera's simulation, with explicit arrival times so every
// expected position can be worked out by hand from the speed model:
//   pan 1000/69 degrees/s at byte 0x12, tilt 1000/68 degrees/s at byte 0x0E,
//   zoom 19998 steps per 10.5 s and focus 19998 steps per 1.5 s at nibble 7,
//   proportional to the byte and to nibble + 1.
#include <stdio.h>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "camera.h"
#include "line.h"
#include "pacer.h"
#include "reply_gate.h"

namespace {

using visca::Bytes;

const Bytes pan_right_12 = {0x81, 0x01, 0x06, 0x01, 0x12, 0x00, 0x02, 0x03, 0xFF};
const Bytes pan_left_12 = {0x81, 0x01, 0x06, 0x01, 0x12, 0x00, 0x01, 0x03, 0xFF};
const Bytes pan_right_09 = {0x81, 0x01, 0x06, 0x01, 0x09, 0x00, 0x02, 0x03, 0xFF};
const Bytes tilt_down_0e = {0x81, 0x01, 0x06, 0x01, 0x00, 0x0E, 0x03, 0x02, 0xFF};
const Bytes tilt_up_0e = {0x81, 0x01, 0x06, 0x01, 0x00, 0x0E, 0x03, 0x01, 0xFF};
const Bytes pan_tilt_stop = {0x81, 0x01, 0x06, 0x01, 0x00, 0x00, 0x03, 0x03, 0xFF};
const Bytes zoom_tele_7 = {0x81, 0x01, 0x04, 0x07, 0x27, 0xFF};
const Bytes zoom_tele_3 = {0x81, 0x01, 0x04, 0x07, 0x23, 0xFF};
const Bytes zoom_wide_7 = {0x81, 0x01, 0x04, 0x07, 0x37, 0xFF};
const Bytes zoom_stop = {0x81, 0x01, 0x04, 0x07, 0x00, 0xFF};
const Bytes focus_near_7 = {0x81, 0x01, 0x04, 0x08, 0x37, 0xFF};
const Bytes focus_far_7 = {0x81, 0x01, 0x04, 0x08, 0x27, 0xFF};
const Bytes focus_stop = {0x81, 0x01, 0x04, 0x08, 0x00, 0xFF};
const Bytes focus_auto = {0x81, 0x01, 0x04, 0x38, 0x02, 0xFF};
const Bytes ae_bright = {0x81, 0x01, 0x04, 0x39, 0x0D, 0xFF};
const Bytes bright_up = {0x81, 0x01, 0x04, 0x0D, 0x02, 0xFF};
const Bytes bright_down = {0x81, 0x01, 0x04, 0x0D, 0x03, 0xFF};
const Bytes memory_set_0 = {0x81, 0x01, 0x04, 0x3F, 0x01, 0x00, 0xFF};
const Bytes memory_recall_0 = {0x81, 0x01, 0x04, 0x3F, 0x02, 0x00, 0xFF};
const Bytes memory_recall_3 = {0x81, 0x01, 0x04, 0x3F, 0x02, 0x03, 0xFF};
const Bytes relay2_on = {0x81, 0x01, 0x06, 0x00, 0xB2, 0xFF};
const Bytes menu_open = {0x81, 0x01, 0x04, 0x15, 0x02, 0xFF};

double pan(camera::VirtualCamera &c, double t) { return c.state_at(t).position.axis[0]; }
double tilt(camera::VirtualCamera &c, double t) { return c.state_at(t).position.axis[1]; }
double zoom(camera::VirtualCamera &c, double t) { return c.state_at(t).position.axis[2]; }
double focus(camera::VirtualCamera &c, double t) { return c.state_at(t).position.axis[3]; }

TEST(VirtualCamera, DefaultModelMatchesTheDefaultCalibration) {
    camera::VirtualCamera c;
    // A relative pan of 10 degrees: 690 ms at byte 0x12.
    c.receive(pan_right_12, 1.0);
    c.receive(pan_tilt_stop, 1.690);
    EXPECT_NEAR(pan(c, 5.0), 10.0, 1e-9);
    // Tilt 5 degrees down: 340 ms at byte 0x0E.
    c.receive(tilt_down_0e, 6.0);
    c.receive(pan_tilt_stop, 6.340);
    EXPECT_NEAR(tilt(c, 7.0), -5.0, 1e-9);
    // Zoom 1000 steps: 525 ms at nibble 7 covers 19998 / 10.5 * 0.525 = 999.9 steps.
    c.receive(zoom_tele_7, 8.0);
    c.receive(zoom_stop, 8.525);
    EXPECT_NEAR(zoom(c, 9.0), 999.9, 1e-6);
    // Focus 1000 steps near: 75 ms covers 19998 / 1.5 * 0.075 = 999.9 steps from the middle.
    c.receive(focus_near_7, 10.0);
    c.receive(focus_stop, 10.075);
    EXPECT_NEAR(focus(c, 11.0), 9999.0 + 999.9, 1e-6);
    EXPECT_FALSE(c.state().moving());
}

TEST(VirtualCamera, RatesFollowTheSpeedBytes) {
    camera::VirtualCamera c;
    c.receive(pan_right_09, 0.0);         // half of 0x12: 500/69 degrees per second
    EXPECT_NEAR(pan(c, 1.0), 500.0 / 69.0, 1e-9);
    c.receive(pan_left_12, 1.0);          // reversing needs no stop
    EXPECT_NEAR(pan(c, 1.5), 500.0 / 69.0 - 500.0 / 69.0, 1e-9);
    c.receive(tilt_up_0e, 1.5);           // a tilt drive carries the pan stop code
    EXPECT_NEAR(pan(c, 2.5), 0.0, 1e-9);
    EXPECT_NEAR(tilt(c, 2.5), 1000.0 / 68.0, 1e-9);
    c.receive(zoom_tele_3, 3.0);          // nibble 3: half the full rate
    EXPECT_NEAR(zoom(c, 4.0), 19998.0 / 10.5 / 2.0, 1e-6);
}

TEST(VirtualCamera, LensStopsAtItsEnds) {
    camera::VirtualCamera c;
    c.receive(zoom_wide_7, 0.0);
    EXPECT_EQ(zoom(c, 1.0), 0.0);
    EXPECT_FALSE(c.state().moving());
    c.receive(focus_near_7, 2.0);  // from the middle, 0.75 s reaches the near end
    EXPECT_EQ(focus(c, 3.0), camera::lens_span);
    c.receive(focus_far_7, 3.0);
    EXPECT_NEAR(focus(c, 3.15), camera::lens_span - 1999.8, 1e-6);
}

TEST(VirtualCamera, ModesThatGateCommands) {
    camera::VirtualCamera c;
    c.receive(focus_auto, 0.0);
    const camera::Received &r = c.receive(focus_near_7, 0.1);
    EXPECT_EQ(r.note, "ignored: focus is in auto mode");
    EXPECT_EQ(focus(c, 1.0), 9999.0);

    // Brightness steps only in the bright exposure mode.
    EXPECT_EQ(c.receive(bright_up, 1.0).note, "ignored: exposure mode is not bright");
    EXPECT_EQ(c.state().brightness, camera::brightness_start);
    c.receive(ae_bright, 1.1);
    c.receive(bright_up, 1.2);
    c.receive(bright_up, 1.3);
    c.receive(bright_up, 1.4);
    c.receive(bright_down, 1.5);
    EXPECT_EQ(c.state().brightness, camera::brightness_start + 2);
    c.receive(relay2_on, 1.6);
    c.receive(menu_open, 1.7);
    EXPECT_TRUE(c.state().relay[1]);
    EXPECT_FALSE(c.state().relay[0]);
    EXPECT_TRUE(c.state().menu_open);
    for (int i = 0; i < 20; ++i) c.receive(bright_up, 2.0 + i * 0.01);
    EXPECT_EQ(c.state().brightness, camera::brightness_max);
}

TEST(VirtualCamera, PresetRecallMovesBackOverTime) {
    camera::VirtualCamera c;
    c.receive(pan_right_12, 0.0);
    c.receive(pan_tilt_stop, 0.69);       // pan 10
    c.receive(memory_set_0, 1.0);
    c.receive(pan_right_12, 2.0);
    c.receive(pan_tilt_stop, 2.69);       // pan 20
    c.receive(memory_recall_0, 3.0);      // back at full speed: 10 degrees take 0.69 s
    EXPECT_NEAR(pan(c, 3.3), 20.0 - 0.3 * 1000.0 / 69.0, 1e-9);
    EXPECT_TRUE(c.state().moving());
    EXPECT_NEAR(pan(c, 3.7), 10.0, 1e-9);
    EXPECT_FALSE(c.state().moving());
    EXPECT_NEAR(pan(c, 9.0), 10.0, 1e-9);

    EXPECT_EQ(c.receive(memory_recall_3, 10.0).note, "memory 3 is empty");
    EXPECT_NEAR(pan(c, 11.0), 10.0, 1e-9);
}

TEST(VirtualCamera, TwoCommandsInExecutionAtMost) {
    camera::CameraModel model;
    model.buffer_limit = true;
    model.replies = true;
    model.exec_ms = 30;
    camera::VirtualCamera c(model);
    EXPECT_FALSE(c.receive(relay2_on, 1.0).dropped);
    EXPECT_FALSE(c.receive(pan_right_12, 1.0).dropped);
    const camera::Received &third = c.receive(menu_open, 1.01);
    EXPECT_TRUE(third.dropped);
    EXPECT_EQ(third.note, "buffer full, dropped");
    EXPECT_FALSE(c.state().menu_open);           // a dropped frame does nothing
    EXPECT_FALSE(c.receive(pan_tilt_stop, 1.031).dropped);  // the first two are done by then

    std::vector<std::string> replies;
    for (const camera::Reply &r : c.take_replies(2.0)) {
        char t[16];
        snprintf(t, sizeof t, "%.3f ", r.time);
        replies.push_back(t + visca::hex(r.bytes));
    }
    const std::vector<std::string> expected = {
        "1.000 90 41 FF", "1.000 90 42 FF", "1.010 90 60 03 FF", "1.030 90 51 FF",
        "1.030 90 52 FF", "1.031 90 41 FF", "1.061 90 51 FF",
    };
    EXPECT_EQ(replies, expected);
    EXPECT_LT(c.next_reply_time(), 0);
}

TEST(VirtualCamera, RecallHoldsItsSocketUntilItArrives) {
    camera::CameraModel model;
    model.buffer_limit = true;
    camera::VirtualCamera c(model);
    c.receive(pan_right_12, 0.0);
    c.receive(pan_tilt_stop, 0.69);
    c.receive(memory_set_0, 1.0);
    c.receive(pan_left_12, 2.0);
    c.receive(pan_tilt_stop, 2.69);            // back at 0
    c.receive(memory_recall_0, 3.0);           // busy until 3.69
    c.receive(relay2_on, 3.1);                 // second socket, free again at 3.13
    EXPECT_TRUE(c.receive(menu_open, 3.12).dropped);
    EXPECT_FALSE(c.receive(menu_open, 3.1 + 0.03).dropped);  // the moment it frees
    EXPECT_FALSE(c.receive(menu_open, 3.2).dropped);
    EXPECT_FALSE(c.receive(relay2_on, 3.25).dropped);
    EXPECT_TRUE(c.receive(menu_open, 3.26).dropped);   // both busy: recall and relay
    EXPECT_FALSE(c.receive(menu_open, 3.70).dropped);
}

TEST(VirtualCamera, UnknownCommandsAreReportedWithTheirBytes) {
    camera::CameraModel model;
    model.replies = true;
    camera::VirtualCamera c(model);
    const camera::Received &r = c.receive({0x81, 0x01, 0x04, 0x99, 0x02, 0xFF}, 0.5);
    EXPECT_EQ(r.note, "not understood");
    EXPECT_EQ(visca::describe(r.message), "unknown: 81 01 04 99 02 FF");
    const auto replies = c.take_replies(1.0);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].bytes, (Bytes{0x90, 0x60, 0x02, 0xFF}));
}

TEST(Timeline, OneLabelPerFrameAndDroppedOnesMarked) {
    camera::CameraModel model;
    model.buffer_limit = true;
    camera::VirtualCamera c(model);
    c.receive(pan_right_12, 0.5);
    c.receive(zoom_tele_7, 0.5);
    c.receive(menu_open, 0.5);  // dropped
    c.receive(pan_tilt_stop, 1.19);
    c.receive(zoom_stop, 1.2);
    const std::string path = ::testing::TempDir() + "timeline_test.svg";
    std::string error;
    ASSERT_TRUE(camera::write_timeline(path, model, c.history(), 2.0, &error)) << error;
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    const std::string svg = text.str();
    size_t labels = 0;
    for (size_t at = svg.find("rotate(-90)"); at != std::string::npos; at = svg.find("rotate(-90)", at + 1)) ++labels;
    EXPECT_EQ(labels, 5u);
    EXPECT_NE(svg.find("DROPPED (buffer full): menu open"), std::string::npos);
    EXPECT_NE(svg.find("0.500 s  pan-tilt drive: pan right at 0x12, tilt stop"), std::string::npos);
    EXPECT_EQ(svg.rfind("</svg>"), svg.size() - 7);
    // Tilt and focus never moved: their panels span the travel (focus) or
    // ten degrees either side (tilt, no end stops), not one unit.
    EXPECT_EQ(svg.find(">9998</text>"), std::string::npos);
    EXPECT_NE(svg.find(">20000</text>"), std::string::npos);
    EXPECT_NE(svg.find(">-10</text>"), std::string::npos);
    std::remove(path.c_str());
}

}  // namespace

namespace {

camera::Profile load(const std::string &name) {
    camera::Profile p;
    std::string error;
    EXPECT_TRUE(camera::load_profile(name, &p, &error)) << error;
    return p;
}

TEST(Profile, ProportionalFileIsTheBuiltInModel) {
    const camera::Profile file = load("proportional");
    const camera::Profile built_in = camera::Profile::proportional();
    for (int byte = 0; byte <= 0x7F; ++byte) {
        EXPECT_DOUBLE_EQ(file.pan.speed.rate(byte), built_in.pan.speed.rate(byte)) << byte;
        EXPECT_DOUBLE_EQ(file.tilt.speed.rate(byte), built_in.tilt.speed.rate(byte)) << byte;
    }
    for (int nibble = 0; nibble <= 7; ++nibble) {
        EXPECT_DOUBLE_EQ(file.zoom.rate(nibble), built_in.zoom.rate(nibble));
        EXPECT_DOUBLE_EQ(file.focus.rate(nibble), built_in.focus.rate(nibble));
    }
    EXPECT_EQ(file.frame_ms, 0);
    EXPECT_EQ(file.slots, 0);
    EXPECT_FALSE(file.pan.end_stops);
    EXPECT_EQ(file.focus.start, 9999);
}

TEST(Profile, SpeedTablesOfTheShippedShapes) {
    const struct {
        const char *profile;
        bool pan;
        int byte;
        double degrees_per_second;
    } cases[] = {
        {"linear", true, 0x00, 3.3333},  // below the table: its first entry
        {"linear", true, 0x01, 3.3333},  {"linear", true, 0x0C, 40},      {"linear", true, 0x18, 80},
        {"linear", true, 0x19, 80},      {"linear", true, 0x7F, 80},  // above: the top speed
        {"linear", false, 0x14, 50},     {"linear", false, 0x18, 50},
        {"geometric", true, 0x01, 2.0},  {"geometric", true, 0x0D, 27},   {"geometric", true, 0x18, 300},
        {"geometric", false, 0x14, 125}, {"geometric", false, 0x18, 125},
        {"stepped", true, 0x00, 0.3},    {"stepped", true, 0x05, 2.6},    {"stepped", true, 0x0D, 9},
        {"stepped", true, 0x18, 120},    {"stepped", false, 0x00, 0.3},   {"stepped", false, 0x12, 80},
    };
    for (const auto &c : cases) {
        const camera::Profile p = load(c.profile);
        const camera::SpeedCurve &curve = c.pan ? p.pan.speed : p.tilt.speed;
        EXPECT_DOUBLE_EQ(curve.rate(c.byte), c.degrees_per_second) << c.profile << (c.pan ? " pan " : " tilt ") << c.byte;
    }
    EXPECT_EQ(load("geometric").pan.sign, -1);
    EXPECT_TRUE(load("stepped").pan.end_stops);
    EXPECT_EQ(load("stepped").pan.max_degrees, 100);
}

TEST(Profile, FaultsNameTheFileAndLine) {
    const std::string base =
        "[pan]\nfull_speed = 10\n[tilt]\nfull_speed = 10\n[zoom]\nfull_travel_ms = 1000\n"
        "[focus]\nfull_travel_ms = 1000\n";
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {base + "[camera]\nslot = 2\n", ":10: unknown key 'slot' in [camera]"},
        {base + "[lens]\nspeed = 1\n", ":10: unknown section [lens]"},
        {base + "[pan]\nsign = 0\n", ":10: sign: not 1 or -1"},
        {base + "[pan]\nspeeds = 1 2 x\n", ":10: speeds: not a list of positive numbers"},
        {base + "[camera]\nvendor = 0x0180\n", ":10: vendor: not a number from 0 to 0x7F7F"},
        {base + "[camera]\nframe_ms = -1\n", ":10: frame_ms: not a time from 0 to 10000 ms"},
        {base + "[tilt]\nmin = -30\n", ": [tilt] needs both min and max"},
        {base + "[zoom]\ntravel_ms = 1 2 3 4 5 6 7\n", ": [zoom] travel_ms needs 8 times"},
        {"[pan]\nfull_byte = 0x12\n", ": [pan] needs speeds (a table) or full_speed"},
        {base + "[pan]\nspeeds = 1 2 3\n", ": [pan] has both speeds and full_speed"},
        {base + "[focus]\nmin = 10\nmax = 20\nstart = 30\n", ": [focus] start is outside min..max"},
        {"[pan]\nspeeds =\n" + base.substr(22), ": [pan] speeds: the table is empty"},
        {base + "[pan]\nspeeds =\n", ": [pan] speeds: the table is empty"},  // beside full_speed
        // The library would cut the comment after 199 characters and read its tail as a key.
        {";" + std::string(198, 'c') + "\n;" + std::string(199, 'c') + "sign = 2\n" + base,
         ":2: line longer than 199 characters"},
    };
    const std::string path = ::testing::TempDir() + "profile_test.ini";
    for (const auto &c : cases) {
        std::ofstream(path) << c.text;
        camera::Profile p;
        std::string error;
        EXPECT_FALSE(camera::read_profile(path, &p, &error)) << c.text;
        EXPECT_EQ(error.find(path + c.error), 0u) << error;
    }
    camera::Profile p;
    std::string error;
    EXPECT_FALSE(camera::load_profile("no-such-camera", &p, &error));
    EXPECT_NE(error.find("/no-such-camera.ini: cannot read the profile: No such file or directory; the shipped "
                         "profiles are geometric, linear, proportional, stepped"),
              std::string::npos)
        << error;
    std::remove(path.c_str());
}

}  // namespace

// Motion under the shipped profiles, worked by hand. A command takes effect
// at the first frame boundary after it arrives (k * frame); a drive from rest
// starts `latency` later; a stopped axis slows evenly to rest over `coast`,
// covering speed * coast / 2 more.
namespace {

camera::CameraModel model_of(const std::string &profile) {
    camera::CameraModel m;
    m.profile = load(profile);
    return m;
}

// Stepped, on frames and a start latency of 250 ms: every boundary exact in binary.
camera::CameraModel exact_frames() {
    camera::CameraModel m = model_of("stepped");
    m.profile.frame_ms = 250;
    m.profile.start_latency_ms = 250;
    return m;
}

std::vector<std::string> replies_until(camera::VirtualCamera &c, double time) {
    std::vector<std::string> out;
    for (const camera::Reply &r : c.take_replies(time)) {
        char t[16];
        snprintf(t, sizeof t, "%.3f ", r.time);
        out.push_back(t + visca::hex(r.bytes));
    }
    return out;
}

TEST(ProfileMotion, LatencyTableLookupAndCoast) {
    const double fl = 0.033367, fg = 0.016683;
    const struct {
        const char *profile;
        Bytes drive;
        double drive_at, still_at, stop_at, mid_coast_at, mid_coast, rest;
    } cases[] = {
        // 0x09 at 500/69 deg/s for 1 s; acts at once, no latency, no coast.
        {"proportional", pan_right_09, 1.0, 0.999, 2.0, 2.0, 500.0 / 69.0, 500.0 / 69.0},
        // 0x0C: 40 deg/s. Drive acts at 30 frames, moves from 30 frames + 50 ms;
        // the stop acts at 60 frames; half-way through the 60 ms coast it has
        // covered 40 * 0.03 - (40 / 0.06) * 0.03^2 / 2 = 0.9 of the 1.2 degrees.
        {"linear", {0x81, 0x01, 0x06, 0x01, 0x0C, 0x00, 0x02, 0x03, 0xFF}, 1.0, 30 * fl + 0.049, 2.0,
         60 * fl + 0.030, 40 * (30 * fl - 0.050) + 0.9, 40 * (30 * fl - 0.050) + 40 * 0.060 / 2},
        // 0x0A: 14 deg/s; 30 and 90 frames of 16.683 ms, 30 ms latency, 40 ms coast.
        {"geometric", {0x81, 0x01, 0x06, 0x01, 0x0A, 0x00, 0x02, 0x03, 0xFF}, 0.5, 30 * fg + 0.029, 1.5,
         90 * fg + 0.020, 14 * (60 * fg - 0.030) + 14 * 0.020 - 14 / 0.040 * 0.020 * 0.020 / 2,
         14 * (60 * fg - 0.030) + 14 * 0.040 / 2},
        // 0x05: 2.6 deg/s; drive acts at 0.44, moves from 0.52; stop acts at 1.44; 120 ms coast.
        {"stepped", {0x81, 0x01, 0x06, 0x01, 0x05, 0x00, 0x02, 0x03, 0xFF}, 0.41, 0.519, 1.41, 1.50,
         2.6 * 0.92 + 2.6 * 0.06 - 2.6 / 0.12 * 0.06 * 0.06 / 2, 2.6 * 0.92 + 2.6 * 0.12 / 2},
    };
    for (const auto &k : cases) {
        camera::VirtualCamera c(model_of(k.profile));
        c.receive(k.drive, k.drive_at);
        EXPECT_NEAR(pan(c, k.still_at), 0.0, 1e-9) << k.profile;
        c.receive(pan_tilt_stop, k.stop_at);
        EXPECT_NEAR(pan(c, k.mid_coast_at), k.mid_coast, 1e-9) << k.profile;
        EXPECT_NEAR(pan(c, k.stop_at + 1.0), k.rest, 1e-9) << k.profile;
        EXPECT_FALSE(c.state().moving()) << k.profile;
    }
}

TEST(ProfileMotion, AStopBeforeTheLatencyEndsCancelsTheStart) {
    camera::VirtualCamera c(model_of("stepped"));
    c.receive(pan_right_12, 0.41);  // acts at 0.44, would move from 0.52
    c.receive(pan_tilt_stop, 0.45); // acts at 0.48
    EXPECT_EQ(pan(c, 2.0), 0.0);
    EXPECT_FALSE(c.state().moving());

    // A stop taking effect in the very frame the start is due still cancels it.
    camera::VirtualCamera same(exact_frames());
    same.receive(pan_right_12, 0.3);     // acts at 0.5, would move from 0.75
    same.receive(pan_tilt_stop, 0.6);    // acts at 0.75
    EXPECT_EQ(pan(same, 2.0), 0.0);
    EXPECT_FALSE(same.state().moving());
}

TEST(ProfileMotion, ExactFrameBoundariesLatencyAndSpeedChanges) {
    const camera::CameraModel m = exact_frames();
    const double r05 = 2.6, r12 = 38;  // the stepped table at 0x05 and 0x12
    camera::VirtualCamera c(m);
    const Bytes pan_right_05 = {0x81, 0x01, 0x06, 0x01, 0x05, 0x00, 0x02, 0x03, 0xFF};
    c.receive(pan_right_05, 0.5);       // exactly on a boundary: acts at the next, 0.75; moves from 1.0
    c.receive({0x81, 0x09, 0x06, 0x10, 0xFF}, 0.51);  // acts at 0.75: waiting out the latency counts as moving
    EXPECT_EQ(pan(c, 1.0), 0.0);
    EXPECT_EQ(replies_until(c, 1.0), std::vector<std::string>{"0.790 90 50 04 00 FF"});
    c.receive(pan_right_12, 1.1);       // acts at 1.25: a moving axis changes speed at once
    EXPECT_NEAR(pan(c, 1.75), r05 * 0.25 + r12 * 0.5, 1e-9);
}

TEST(ProfileMotion, InquiriesAnsweredWithTheStandardReplies) {
    camera::VirtualCamera c;  // proportional: 14.4 units per degree, replies 10 ms after
    const Bytes pan_tilt_inquiry = {0x81, 0x09, 0x06, 0x12, 0xFF};
    const Bytes status_inquiry = {0x81, 0x09, 0x06, 0x10, 0xFF};
    c.receive(pan_right_12, 1.0);
    c.receive(pan_tilt_stop, 1.69);   // pan 10: 144 units
    c.receive(tilt_down_0e, 2.0);
    c.receive(pan_tilt_stop, 2.34);   // tilt -5: -72 units, 0xFFB8
    c.receive(pan_tilt_inquiry, 3.0);
    c.receive(zoom_tele_7, 4.0);
    c.receive(zoom_stop, 4.525);      // 999.9 steps
    c.receive({0x81, 0x09, 0x04, 0x47, 0xFF}, 5.0);
    c.receive({0x81, 0x09, 0x04, 0x48, 0xFF}, 5.1);  // focus 9999, 0x270F
    c.receive(pan_right_12, 6.0);
    c.receive(status_inquiry, 6.1);
    c.receive(pan_tilt_stop, 6.2);
    c.receive(status_inquiry, 6.3);
    c.receive({0x81, 0x09, 0x00, 0x02, 0xFF}, 7.0);
    c.receive({0x81, 0x09, 0x04, 0x99, 0xFF}, 8.0);
    // The focus mode as the last focus mode command left it; manual at first.
    const Bytes focus_mode_inquiry = {0x81, 0x09, 0x04, 0x38, 0xFF};
    c.receive(focus_mode_inquiry, 8.1);
    c.receive({0x81, 0x01, 0x04, 0x38, 0x02, 0xFF}, 8.2);
    c.receive(focus_mode_inquiry, 8.3);
    c.receive({0x81, 0x01, 0x04, 0x38, 0x03, 0xFF}, 8.4);
    c.receive(focus_mode_inquiry, 8.5);
    const std::vector<std::string> expected = {
        "3.010 90 50 00 00 09 00 0F 0F 0B 08 FF", "5.010 90 50 00 03 0E 08 FF",
        "5.110 90 50 02 07 00 0F FF",             "6.110 90 50 04 00 FF",
        "6.310 90 50 08 00 FF",                   "7.010 90 50 00 70 00 01 01 00 02 FF",
        "8.000 90 60 02 FF",                      "8.110 90 50 03 FF",
        "8.310 90 50 02 FF",                      "8.510 90 50 03 FF",
    };
    EXPECT_EQ(replies_until(c, 9.0), expected);  // command replies are off: inquiries only
}

TEST(ProfileMotion, EndStopAndReversedCounter) {
    camera::VirtualCamera c(model_of("geometric"));  // pan -170..170, 8.8 units per degree, counted leftwards
    c.receive({0x81, 0x01, 0x06, 0x01, 0x18, 0x00, 0x02, 0x03, 0xFF}, 0.5);  // 300 deg/s
    EXPECT_EQ(pan(c, 1.9), 170.0);
    EXPECT_FALSE(c.state().moving());
    c.receive({0x81, 0x09, 0x06, 0x12, 0xFF}, 2.0);  // acts at 120 frames, 2.00196
    c.receive({0x81, 0x09, 0x06, 0x10, 0xFF}, 2.0);
    // -1496 units = 0xFA28; stopped at the pan right end.
    const std::vector<std::string> expected = {"2.014 90 50 0F 0A 02 08 00 00 00 00 FF", "2.014 90 50 08 02 FF"};
    EXPECT_EQ(replies_until(c, 3.0), expected);
    c.receive({0x81, 0x01, 0x06, 0x01, 0x00, 0x14, 0x03, 0x01, 0xFF}, 3.0);  // tilt up at 125 deg/s to 90
    c.receive({0x81, 0x09, 0x06, 0x10, 0xFF}, 4.0);
    EXPECT_EQ(replies_until(c, 5.0), std::vector<std::string>{"4.016 90 50 08 0A FF"});  // both ends
}

TEST(ProfileMotion, TwoSlotsPerVideoFrame) {
    camera::CameraModel m = model_of("linear");  // slots = 2, frames of 33.367 ms
    m.replies = true;
    camera::VirtualCamera c(m);
    c.receive(relay2_on, 1.0);           // acts at 30 frames (1.00101), in execution 30 ms
    c.receive(menu_open, 1.0);
    EXPECT_FALSE(c.state().menu_open);   // not before its frame
    EXPECT_TRUE(c.state_at(1.002).menu_open);
    EXPECT_TRUE(c.receive(zoom_tele_7, 1.01).dropped);
    EXPECT_FALSE(c.receive(zoom_stop, 1.04).dropped);  // acts at 32 frames (1.06774)
    const std::vector<std::string> expected = {
        "1.000 90 41 FF", "1.000 90 42 FF", "1.010 90 60 03 FF", "1.031 90 51 FF",
        "1.031 90 52 FF", "1.040 90 41 FF", "1.098 90 51 FF",
    };
    EXPECT_EQ(replies_until(c, 2.0), expected);
}

TEST(ProfileMotion, ACameraThatRejectsZeroSpeedBytesMissesTheDriversStop) {
    camera::CameraModel m = model_of("proportional");
    m.profile.rejects_zero_speed = true;
    m.replies = true;
    camera::VirtualCamera c(m);
    const Bytes both_speeds = {0x81, 0x01, 0x06, 0x01, 0x12, 0x0E, 0x02, 0x03, 0xFF};
    c.receive(both_speeds, 0.0);
    EXPECT_EQ(c.receive(pan_tilt_stop, 0.69).note, "rejected: speed byte 00");
    EXPECT_EQ(c.receive(pan_right_12, 1.0).note, "rejected: speed byte 00");  // the driver's pan drive too
    EXPECT_NEAR(pan(c, 1.38), 20.0, 1e-9);  // still turning
    const std::vector<std::string> expected = {"0.000 90 41 FF", "0.030 90 51 FF", "0.690 90 60 02 FF",
                                               "1.000 90 60 02 FF"};
    EXPECT_EQ(replies_until(c, 2.0), expected);
}

}  // namespace

namespace {

TEST(Pacer, RepliesFollowEachOtherAtTheLinesByteTime) {
    const double byte = line::byte_seconds(line::Settings());  // 9600 baud 8N1: 10 bits
    EXPECT_DOUBLE_EQ(byte, 10.0 / 9600);
    line::Settings even;
    even.parity = 'E';
    EXPECT_DOUBLE_EQ(line::byte_seconds(even), 11.0 / 9600);  // and a parity bit
    camera::Pacer p(byte);
    p.push({0x90, 0x41, 0xFF}, 1.0);
    p.push({0x90, 0x51, 0xFF}, 1.001);  // queued behind the first: starts at 1.0 + 3 bytes
    EXPECT_EQ(p.due(0.999), Bytes{});
    EXPECT_EQ(p.due(1.0 + 2.5 * byte), (Bytes{0x90, 0x41, 0xFF}));
    EXPECT_DOUBLE_EQ(p.next_time(), 1.0 + 3 * byte);
    EXPECT_EQ(p.due(1.0 + 4.5 * byte), (Bytes{0x90, 0x51}));
    EXPECT_EQ(p.due(2.0), (Bytes{0xFF}));
    p.push({0x90, 0x50, 0xFF}, 3.0);  // an idle line sends at the reply's own time
    EXPECT_DOUBLE_EQ(p.next_time(), 3.0);
}

// A stalled line: a reply it has begun is finished first, whole replies are
// dropped, and the rest of one dropped before its end comes never reaches it.
TEST(ReplyGate, TheLineNeverGetsACutReply) {
    camera::ReplyGate g;
    const struct {
        Bytes due, write;
        size_t took;
        size_t bytes_dropped, replies_dropped;
        bool cut;
    } steps[] = {
        {{0x90, 0x41, 0xFF, 0x90, 0x51}, {0x90, 0x41, 0xFF, 0x90, 0x51}, 4, 0, 0, true},  // 0x51 owed
        {{0xFF, 0x90, 0x50, 0x02, 0xFF, 0x90}, {0x51, 0xFF, 0x90, 0x50, 0x02, 0xFF, 0x90}, 0, 5, 2, true},
        {{0x42, 0xFF}, {0x51, 0xFF}, 2, 7, 2, false},  // the dropped reply's rest is left out
        {{0x90, 0x41, 0xFF}, {0x90, 0x41, 0xFF}, 3, 7, 2, false},
    };
    for (const auto &s : steps) {
        EXPECT_EQ(g.next(s.due), s.write);
        g.took(s.took);
        EXPECT_EQ(g.bytes_dropped(), s.bytes_dropped);
        EXPECT_EQ(g.replies_dropped(), s.replies_dropped);
        EXPECT_EQ(g.cut(), s.cut);
    }
}

}  // namespace
