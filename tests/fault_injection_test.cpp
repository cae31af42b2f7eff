// Host failures injected one at a time: every write failing (each entry point
// that writes), every configuration key failing in turn, and sleeps cut short
// at every position of a long relative move and of a relay pulse. Each case
// checks the driver's documented handling and, where axes move, that every
// drive the frames started was followed by its stop.
#include <limits.h>
#include <stdint.h>
#include <string.h>

#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_host.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

typedef std::vector<std::string> Lines;

// Frame checker and axis tracker, defined in robustness_test.cpp.
namespace hardening {
struct axes {
    bool pan = false, tilt = false, zoom = false, focus = false;
    bool any() const { return pan || tilt || zoom || focus; }
};
axes running_after(const Lines &log, axes now);
std::string describe(const axes &a);
Lines malformed_frames(const Lines &log);
}  // namespace hardening

using hardening::axes;
using hardening::describe;
using hardening::malformed_frames;
using hardening::running_after;

namespace {

const float ABSENT = 32765.0f;

move_request req(float pan = ABSENT, float tilt = ABSENT, float zoom = ABSENT, float focus = ABSENT,
                 float iris = ABSENT) {
    return move_request{pan, tilt, zoom, focus, iris};
}

Lines starting_with(const Lines &log, const std::string &prefix) {
    Lines out;
    for (const std::string &l : log) {
        if (l.rfind(prefix, 0) == 0) {
            out.push_back(l);
        }
    }
    return out;
}

// The last line, or "(none)": never past the end of an empty log.
std::string last_of(const Lines &lines) { return lines.empty() ? "(none)" : lines.back(); }

std::string first_of(const Lines &lines) { return lines.empty() ? "(none)" : lines.front(); }

std::string join(const Lines &lines) {
    std::string out;
    for (const std::string &l : lines) {
        out += (out.empty() ? "" : "|") + l;
    }
    return out;
}

class FaultInjectionTest : public DriverTest {
protected:
    static void expect_nothing_running(const std::string &what) {
        const axes left = running_after(fake::calls(), axes());
        EXPECT_FALSE(left.any()) << what << ": still running: " << describe(left);
        EXPECT_THAT(malformed_frames(fake::calls()), IsEmpty()) << what;
    }
};

// ---------------------------------------------------------------------------
// Every write failing, one entry point at a time.

struct WriteFailureCase {
    const char *what;
    void (*prepare)();      // with working writes
    int (*act)();           // every write fails
    int result;
    Lines frames;           // attempted
    bool stops_everything;  // the call must leave no attempted drive running
    void (*after)();        // with working writes again: the state the handling leaves
};

void pan_moving() {
    move_request r = req(50.0f);
    ASSERT_EQ(driver_move_cont(&r), 1);
}

void autofocus_and_autoiris_on() {
    ASSERT_EQ(driver_autofocus(1), 1);
    ASSERT_EQ(driver_autoiris(1), 1);
}

const WriteFailureCase write_failure_cases[] = {
    {"continuous pan: recorded as moving anyway", nullptr,
     [] {
         move_request r = req(50.0f);
         return driver_move_cont(&r);
     },
     1, {"write 81 01 06 01 09 00 02 03 FF"}, false,
     [] {
         ASSERT_EQ(driver_stop(), 1);
         EXPECT_EQ(fake::frames(), Lines({"write 81 01 06 01 00 00 03 03 FF"}));
     }},
    {"stop: speeds cleared anyway", pan_moving, [] { return driver_stop(); }, 1,
     {"write 81 01 06 01 00 00 03 03 FF"}, true,
     [] {
         ASSERT_EQ(driver_stop(), 1);
         EXPECT_THAT(fake::frames(), IsEmpty());
     }},
    {"relative move of every axis: timing goes on, modes switched to manual", autofocus_and_autoiris_on,
     [] {
         move_request r = req(10.0f, 10.0f, 1000.0f, 1000.0f, 1300.0f);
         return driver_move_rel(&r);
     },
     1,
     {"write 81 01 06 01 12 00 02 03 FF", "write 81 01 06 01 00 00 03 03 FF", "write 81 01 06 01 00 0E 03 01 FF",
      "write 81 01 06 01 00 00 03 03 FF", "write 81 01 04 07 27 FF", "write 81 01 04 07 00 FF",
      "write 81 01 04 38 03 FF", "write 81 01 04 08 37 FF", "write 81 01 04 08 00 FF", "write 81 01 04 39 0D FF",
      "write 81 01 04 0D 02 FF", "write 81 01 04 0D 02 FF"},
     true,
     [] {
         // Both flags were cleared although their frames failed: asking for
         // the automatic modes sends the frames again.
         ASSERT_EQ(driver_autofocus(1), 1);
         ASSERT_EQ(driver_autoiris(1), 1);
         ASSERT_EQ(driver_stop(), 1);
         EXPECT_EQ(fake::frames(), Lines({"write 81 01 04 38 02 FF", "write 81 01 04 39 00 FF"}));
     }},
    {"preset store: not reported", nullptr, [] { return driver_set_device_preset(3); }, 1,
     {"write 81 01 04 3F 01 02 FF"}, false, nullptr},
    {"preset recall during a pan: 0, still stopped and completed", pan_moving,
     [] { return driver_goto_device_preset(3); }, 0,
     {"write 81 01 06 01 00 00 03 03 FF", "write 81 01 04 3F 02 02 FF"}, true,
     [] {
         ASSERT_EQ(driver_stop(), 1);
         EXPECT_THAT(fake::frames(), IsEmpty());
     }},
    {"autofocus: 0, flag kept", nullptr, [] { return driver_autofocus(1); }, 0, {"write 81 01 04 38 02 FF"}, false,
     [] {
         EXPECT_EQ(driver_autofocus(1), 1);
         EXPECT_THAT(fake::frames(), IsEmpty());
     }},
    {"autoiris: 0, flag kept", nullptr, [] { return driver_autoiris(1); }, 0, {"write 81 01 04 39 00 FF"}, false,
     [] {
         EXPECT_EQ(driver_autoiris(1), 1);
         EXPECT_THAT(fake::frames(), IsEmpty());
     }},
    {"backlight: 0", nullptr, [] { return driver_backlight(1); }, 0, {"write 81 01 04 33 02 FF"}, false, nullptr},
    {"IR-cut night: 0, both frames tried", nullptr, [] { return driver_ircutfilter(0); }, 0,
     {"write 81 01 04 51 03 FF", "write 81 01 04 01 02 FF"}, false, nullptr},
    {"relay on: 0, belief unchanged, no pulse", nullptr, [] { return driver_auxiliary("relay1:on"); }, 0,
     {"write 81 01 06 00 A2 FF"}, false,
     [] {
         // Still believed off: switching it off sends nothing.
         EXPECT_EQ(driver_auxiliary("relay1:off"), 1);
         EXPECT_THAT(fake::frames(), IsEmpty());
     }},
    {"relay 3 on behind relay 1: the interlock fails, relay 3 untouched",
     [] {
         fake::set_param(1, "Relay1OnTime", 0);
         ASSERT_EQ(driver_param_changed(), 1);
         ASSERT_EQ(driver_auxiliary("relay1:on"), 1);
     },
     [] { return driver_auxiliary("relay3:on"); }, 0, {"write 81 01 06 00 A3 FF"}, false,
     [] {
         // Relay 1 still believed on, relay 3 off.
         EXPECT_EQ(driver_auxiliary("relay3:off"), 1);
         EXPECT_EQ(driver_auxiliary("relay1:off"), 1);
         EXPECT_EQ(fake::frames(), Lines({"write 81 01 06 00 A3 FF"}));
     }},
    {"menu open: 0 with the failure text", nullptr, [] { return driver_osdmenu(1); }, 0,
     {"write 81 01 04 15 02 FF"}, false,
     [] { EXPECT_STREQ(drivermsg, "failed"); }},
};

TEST_F(FaultInjectionTest, EveryWriteFailingLeavesTheDocumentedState) {
    for (const WriteFailureCase &c : write_failure_cases) {
        fake::reset(1);
        ASSERT_EQ(driver_setup(), 1);
        if (c.prepare != nullptr) {
            c.prepare();
        }
        fake::clear_log();
        fake::fail_all_writes();
        EXPECT_EQ(c.act(), c.result) << c.what;
        EXPECT_EQ(fake::frames(), c.frames) << c.what;
        if (c.stops_everything) {
            expect_nothing_running(c.what);
        }
        fake::host().write_result = 1;
        if (c.after != nullptr) {
            fake::clear_log();
            c.after();
        }
        driver_teardown();
    }
}

TEST_F(FaultInjectionTest, EveryWriteFailingInBookkeepingEntryPointsStillCompletes) {
    // The relative move and the recall report their action as completed
    // whatever the port does, exactly once and last.
    pan_moving();
    fake::clear_log();
    fake::fail_all_writes();
    move_request r = req(10.0f);
    EXPECT_EQ(driver_move_rel(&r), 1);
    Lines c = fake::without_syslog();
    EXPECT_EQ(first_of(c), "started 1");
    EXPECT_EQ(last_of(c), "completed 1 2");
    EXPECT_EQ(starting_with(c, "completed").size(), 1u);
    EXPECT_EQ(starting_with(c, "sleep"), Lines({"sleep 690000"}));
    fake::clear_log();
    EXPECT_EQ(driver_goto_device_preset(1), 0);
    EXPECT_EQ(fake::without_syslog(), Lines({"started 1", "write 81 01 04 3F 02 00 FF", "completed 1 5"}));
}

TEST_F(FaultInjectionTest, EveryWriteFailingAtTeardownStillReportsPollsAndReleases) {
    pan_moving();
    fake::clear_log();
    fake::fail_all_writes();
    driver_teardown();
    EXPECT_EQ(fake::calls(), Lines({"write 81 01 06 01 00 00 03 03 FF", "status 0 0 0 0 0 0 0 0 0 0 0 2 2 2",
                                    "poll 0"}));
    fake::clear_log();
    EXPECT_EQ(driver_stop(), 0);  // the records are gone
}

TEST_F(FaultInjectionTest, EachSingleWriteOfARelativeMoveFailingStillStopsEveryAxis) {
    // Eleven frames in all (the all-failing case less the focus-mode frame,
    // as autofocus is off); fail each in turn.
    for (int n = 1; n <= 11; ++n) {
        fake::reset(1);
        ASSERT_EQ(driver_setup(), 1);
        fake::clear_log();
        fake::fail_write(n);
        move_request r = req(10.0f, 10.0f, 1000.0f, 1000.0f, 1300.0f);
        EXPECT_EQ(driver_move_rel(&r), 1) << n;
        EXPECT_EQ(fake::frames().size(), 11u) << n;
        expect_nothing_running("write " + std::to_string(n));
        driver_teardown();
    }
}

// ---------------------------------------------------------------------------
// Every configuration key failing in turn.

// Configuration that differs from the defaults in every key, so that each
// field shows whether it was loaded.
const std::map<std::string, int> configured = {
    {"MoveSpeed", 50},          {"PanMoveTimePerDegree", 700},  {"TiltMoveTimePerDegree", 600},
    {"ZoomTime", 19998},        {"ZoomSpeed", 50},              {"FocusTime", 39996},
    {"FocusSpeed", 16},         {"CurrentFieldAngle", 455},     {"PanBarRange", 60},
    {"TiltBarRange", 70},       {"MaxDevicePresetnbr", 12},     {"PanSpeedCompensation", -100},
    {"TiltSpeedCompensation", 100}, {"GoToPresetDelay", 30},    {"Relay1OnTime", 300},
    {"Relay2OnTime", 400},      {"FlipPan", 1},                 {"FlipTilt", 1},
};

std::string number(double v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

// A probe shows one field of the current camera through an entry point.
std::string rel_sleeps(move_request r) {
    fake::clear_log();
    driver_move_rel(&r);
    return join(starting_with(fake::calls(), "sleep "));
}

std::string first_frame_of_rel(move_request r) {
    fake::clear_log();
    driver_move_rel(&r);
    return first_of(fake::frames());
}

std::string first_frame_of_cont(move_request r) {
    fake::clear_log();
    driver_move_cont(&r);
    driver_stop();
    return first_of(fake::frames());
}

std::string relay_pulse(const char *command) {
    fake::clear_log();
    driver_auxiliary(command);
    return join(fake::without_syslog());
}

struct KeyCase {
    const char *key;
    std::string (*probe)();
    const char *loaded;  // worked out from `configured`
    const char *failed;  // the field left at 0 from setup
};

const KeyCase key_cases[] = {
    {"MoveSpeed", [] { return number(driver_get_speed()); }, "50", "0"},
    // 700 * 10 / ((50 / 100) * 10) = 1400 ms; a time per degree of 0 skips the pan.
    {"PanMoveTimePerDegree", [] { return rel_sleeps(req(10.0f)); }, "sleep 1400000", ""},
    // 600 * 10 / 5 = 1200 ms.
    {"TiltMoveTimePerDegree", [] { return rel_sleeps(req(ABSENT, 10.0f)); }, "sleep 1200000", ""},
    // d = 19998 * 50 / 100 = 9999; 1000 * 19998 / 9999 = 2000 ms; ZoomTime 0: 0 ms, still driven.
    {"ZoomTime", [] { return rel_sleeps(req(ABSENT, ABSENT, 1000.0f)); }, "sleep 2000000", "sleep 0"},
    // nibble (50 - 1) * 7 / 99 = 3.46 -> 3; ZoomSpeed 0 -> 0.
    {"ZoomSpeed", [] { return first_frame_of_cont(req(ABSENT, ABSENT, 10.0f)); }, "write 81 01 04 07 23 FF",
     "write 81 01 04 07 20 FF"},
    // d = 19998 * 16 / 100 = 3199; 1000 * 39996 / 3199 = 12502 ms.
    {"FocusTime", [] { return rel_sleeps(req(ABSENT, ABSENT, ABSENT, 1000.0f)); }, "sleep 12502000", "sleep 0"},
    // nibble (16 - 1) * 7 / 99 = 1.06 -> 1; near is 3p.
    {"FocusSpeed", [] { return first_frame_of_cont(req(ABSENT, ABSENT, ABSENT, 10.0f)); },
     "write 81 01 04 08 31 FF", "write 81 01 04 08 30 FF"},
    {"CurrentFieldAngle",
     [] {
         float a = -1;
         driver_current_field_angle(&a);
         return number(a);
     },
     "45.5", "0"},
    {"PanBarRange",
     [] {
         float p = -1, t = -1;
         driver_bar_ranges(&p, &t);
         return number(p);
     },
     "60", "0"},
    {"TiltBarRange",
     [] {
         float p = -1, t = -1;
         driver_bar_ranges(&p, &t);
         return number(t);
     },
     "70", "0"},
    {"MaxDevicePresetnbr",
     [] {
         int low = -1, high = -1;
         driver_device_preset_range(&low, &high);
         return number(high);
     },
     "12", "0"},
    // pan 1: 700 / 5 = 140 ms, reduced: p = 140 * 50 = 7000, q = 46.
    // Compensation -100: (42 * -100) * 52 / 5000 = -43, 46 - 43 = 3 < 4, so
    // the speed is 4: byte (4 - 1) * 17 / 99 + 1 = 1.5 -> 01. Without it 46:
    // (46 - 1) * 17 / 99 + 1 = 8.7 -> 08.
    {"PanSpeedCompensation", [] { return first_frame_of_rel(req(1.0f)); }, "write 81 01 06 01 01 00 02 03 FF",
     "write 81 01 06 01 08 00 02 03 FF"},
    // tilt 1: 600 / 5 = 120 ms, p = 6000, q = 40. Compensation 100:
    // (36 * 100) * 58 / 5000 = 41, speed 81: (81 - 1) * 13 / 99 + 1 = 11.5 -> 0B.
    // Without it 40: (40 - 1) * 13 / 99 + 1 = 6.1 -> 06.
    {"TiltSpeedCompensation", [] { return first_frame_of_rel(req(ABSENT, 1.0f)); },
     "write 81 01 06 01 00 0B 03 01 FF", "write 81 01 06 01 00 06 03 01 FF"},
    {"GoToPresetDelay",
     [] {
         fake::clear_log();
         driver_goto_device_preset(1);
         const std::string last = last_of(fake::calls());
         return last.substr(last.rfind(' ') + 1);
     },
     "30", "0"},
    {"Relay1OnTime", [] { return relay_pulse("relay1:on"); },
     "write 81 01 06 00 A2 FF|sleep 300000|write 81 01 06 00 A3 FF", "write 81 01 06 00 A2 FF"},
    {"Relay2OnTime", [] { return relay_pulse("relay2:on"); },
     "write 81 01 06 00 B2 FF|sleep 400000|write 81 01 06 00 B3 FF", "write 81 01 06 00 B2 FF"},
    {"FlipPan", [] { return number(driver_pan_flipped()); }, "1", "0"},
    {"FlipTilt", [] { return number(driver_tilt_flipped()); }, "1", "0"},
};

TEST_F(FaultInjectionTest, EachKeyFailingAtSetupFailsTheSetupAndLeavesOnlyThatFieldAtZero) {
    ASSERT_EQ(sizeof key_cases / sizeof key_cases[0], 18u);
    for (const KeyCase &k : key_cases) {
        driver_teardown();
        fake::reset(2);
        for (int camera : {1, 2}) {
            for (const auto &kv : configured) {
                fake::set_param(camera, kv.first, kv.second);
            }
        }
        fake::fail_param(k.key, 1);
        EXPECT_EQ(driver_setup(), 0) << k.key;
        EXPECT_STREQ(drivermsg, "Error refresh of parameters failed!") << k.key;
        // Loading went on past the failure: every key of both cameras.
        EXPECT_EQ(fake::calls().size(), 36u) << k.key;
        // Camera 1 lacks the field, camera 2 has it; the array is in use.
        camindex = 0;
        EXPECT_EQ(k.probe(), k.failed) << k.key << " failed";
        camindex = 1;
        EXPECT_EQ(k.probe(), k.loaded) << k.key << " loaded";
        expect_nothing_running(k.key);
    }
}

TEST_F(FaultInjectionTest, EachKeyFailingOnReloadKeepsTheFieldsEarlierValue) {
    for (const KeyCase &k : key_cases) {
        driver_teardown();
        fake::reset(1);
        for (const auto &kv : configured) {
            fake::set_param(1, kv.first, kv.second);
        }
        ASSERT_EQ(driver_setup(), 1) << k.key;
        // The store now holds the default for this key, which cannot be read.
        fake::set_param(1, k.key, fake::default_params().at(k.key));
        fake::fail_param(k.key, 1);
        fake::clear_log();
        EXPECT_EQ(driver_param_changed(), 0) << k.key;
        EXPECT_EQ(fake::calls().size(), 18u) << k.key;
        EXPECT_STREQ(drivermsg, fake::drivermsg_marker) << k.key;
        EXPECT_EQ(k.probe(), k.loaded) << k.key;
    }
}

// ---------------------------------------------------------------------------
// Sleeps cut short at every position.

// pan 10, tilt 10, zoom 1000, focus 1000, iris 1300 with the defaults: the
// frames and sleeps of each stage, in order.
struct Stage {
    Lines frames;
    const char *sleep;
};
const Stage long_move[] = {
    {{"write 81 01 06 01 12 00 02 03 FF", "write 81 01 06 01 00 00 03 03 FF"}, "sleep 690000"},
    {{"write 81 01 06 01 00 0E 03 01 FF", "write 81 01 06 01 00 00 03 03 FF"}, "sleep 680000"},
    {{"write 81 01 04 07 27 FF", "write 81 01 04 07 00 FF"}, "sleep 525000"},
    {{"write 81 01 04 08 37 FF", "write 81 01 04 08 00 FF"}, "sleep 75000"},
    {{"write 81 01 04 39 0D FF"}, "sleep 50000"},      // exposure mode, settle
    {{"write 81 01 04 0D 02 FF"}, "sleep 200000"},     // first brightness step
    {{"write 81 01 04 0D 02 FF"}, "sleep 200000"},     // second
};
constexpr int long_move_sleeps = 7;

TEST_F(FaultInjectionTest, SuspensionAtEverySleepOfALongRelativeMove) {
    for (int cut = 1; cut <= long_move_sleeps; ++cut) {
        fake::reset(1);
        ASSERT_EQ(driver_setup(), 1);
        fake::clear_log();
        fake::suspend_at_sleep(cut);
        move_request r = req(10.0f, 10.0f, 1000.0f, 1000.0f, 1300.0f);
        EXPECT_EQ(driver_move_rel(&r), 0) << cut;
        // A drive sleep (1-4) ends the move after that axis's stop; the
        // iris notices suspension after a step's sleep, so a cut settle
        // (5) still makes the first step.
        const int last_stage = cut == 5 ? 6 : cut;
        Lines frames, sleeps;
        for (int s = 0; s < last_stage; ++s) {
            frames.insert(frames.end(), long_move[s].frames.begin(), long_move[s].frames.end());
            sleeps.push_back(long_move[s].sleep);
        }
        EXPECT_EQ(fake::frames(), frames) << cut;
        EXPECT_EQ(starting_with(fake::calls(), "sleep "), sleeps) << cut;
        const Lines c = fake::without_syslog();
        EXPECT_EQ(last_of(c), "completed 1 2") << cut;
        EXPECT_EQ(starting_with(c, "completed").size(), 1u) << cut;
        EXPECT_EQ(last_of(starting_with(c, "status ")), "status 0 0 0 0 0 0 0 0 0 0 0 2 2 2") << cut;
        EXPECT_EQ(fake::syslogs(), cut >= 5 ? Lines({"syslog 4 Suspended!"}) : Lines()) << cut;
        expect_nothing_running("cut at sleep " + std::to_string(cut));
        driver_teardown();
    }
}

TEST_F(FaultInjectionTest, SleepCutShortWithoutSuspensionDoesNotEndARelativeMove) {
    // The move looks at `suspended`, not at the sleep's result.
    for (int cut = 1; cut <= long_move_sleeps; ++cut) {
        fake::reset(1);
        ASSERT_EQ(driver_setup(), 1);
        fake::clear_log();
        fake::SleepPlan plan;
        plan.result = 0;
        plan.advance_us = 0;
        fake::host().sleep_plans[fake::host().sleeps + cut] = plan;
        move_request r = req(10.0f, 10.0f, 1000.0f, 1000.0f, 1300.0f);
        EXPECT_EQ(driver_move_rel(&r), 1) << cut;
        EXPECT_EQ(fake::frames().size(), 11u) << cut;
        EXPECT_EQ(starting_with(fake::calls(), "sleep ").size(), 7u) << cut;
        expect_nothing_running("cut at sleep " + std::to_string(cut));
        driver_teardown();
    }
}

TEST_F(FaultInjectionTest, SuspensionAtEverySleepOfARelayPulse) {
    // 2300 ms: half-second sleeps while a whole second remains (2.3, 1.8,
    // 1.3 s), then the remaining 0.8 s in one sleep.
    const Lines pulse_sleeps = {"sleep 500000", "sleep 500000", "sleep 500000", "sleep 800000"};
    for (int relay : {1, 2}) {
        const std::string id = relay == 1 ? "A" : "B";
        const std::string on = "write 81 01 06 00 " + id + "2 FF";
        const std::string off = "write 81 01 06 00 " + id + "3 FF";
        const std::string command = "relay" + std::to_string(relay);
        for (int cut = 0; cut <= 4; ++cut) {  // 0: not cut
            for (bool off_fails : {false, true}) {
                const std::string what = command + " cut at " + std::to_string(cut) + (off_fails ? ", off fails" : "");
                fake::reset(1);
                fake::set_param(1, "Relay" + std::to_string(relay) + "OnTime", 2300);
                ASSERT_EQ(driver_setup(), 1);
                fake::clear_log();
                if (cut > 0) {
                    fake::suspend_at_sleep(cut);
                }
                if (off_fails) {
                    fake::fail_write(2);
                }
                EXPECT_EQ(driver_auxiliary((command + ":on").c_str()), cut == 0 && !off_fails ? 1 : 0) << what;
                Lines expected = {on};
                const int slept = cut == 0 ? 4 : cut;
                expected.insert(expected.end(), pulse_sleeps.begin(), pulse_sleeps.begin() + slept);
                expected.push_back(off);
                EXPECT_EQ(fake::without_syslog(), expected) << what;
                Lines logs;
                if (cut > 0) {
                    logs.push_back("syslog 6 Suspended while activating relay " + std::to_string(relay) + "!");
                }
                if (off_fails) {
                    logs.push_back("syslog 3 Error: tavrinode[1860]send_relay_cmd(): Failed sending relay command(relay=" +
                                   std::to_string(relay) + ", state=OFF)!");
                }
                EXPECT_EQ(fake::syslogs(), logs) << what;
                // The belief follows the off frame: off when it went out, on
                // when it failed (then an off command sends it again).
                fake::clear_log();
                EXPECT_EQ(driver_auxiliary((command + ":off").c_str()), 1) << what;
                EXPECT_EQ(fake::frames(), off_fails ? Lines({off}) : Lines()) << what;
                driver_teardown();
            }
        }
    }
}

}  // namespace
