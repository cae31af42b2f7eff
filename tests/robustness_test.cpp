// The robustness policy, one test per case of its table, plus the invariants
// it promises across all entry points (well-formed frames, nothing left
// running by a finished relative move, failures reported as failures).
// The frame checker and the axis tracker at the top are shared with the
// fault-injection tests.
#include <limits.h>
#include <math.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <limits>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_host.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

typedef std::vector<std::string> Lines;

namespace hardening {

// The bytes of a logged "write .." line.
std::vector<int> frame_bytes(const std::string &line) {
    std::vector<int> out;
    std::istringstream in(line.substr(6));
    std::string byte;
    while (in >> byte) {
        out.push_back(static_cast<int>(std::stoul(byte, nullptr, 16)));
    }
    return out;
}

// Empty when the frame is one the driver may send, else what is wrong.
std::string frame_problem(const std::vector<int> &f) {
    const size_t n = f.size();
    if (n != 6 && n != 7 && n != 9) {
        return "length";
    }
    if (f[0] != 0x81 || f[1] != 0x01) {
        return "header";
    }
    for (size_t i = 0; i + 1 < n; ++i) {
        if (f[i] == 0xFF) {
            return "0xFF before the end";
        }
    }
    if (f[n - 1] != 0xFF) {
        return "terminator";
    }
    const int cat = f[2], cmd = f[3], p = f[4];
    if (n == 9) {
        if (cat != 0x06 || cmd != 0x01) {
            return "9-byte command";
        }
        if (f[4] > 0x7F || f[5] > 0x7F) {
            return "pan/tilt speed byte above 0x7F";
        }
        const bool stop = f[4] == 0 && f[5] == 0 && f[6] == 3 && f[7] == 3;
        const bool pan = (f[6] == 1 || f[6] == 2) && f[5] == 0 && f[7] == 3;
        const bool tilt = f[6] == 3 && f[4] == 0 && (f[7] == 1 || f[7] == 2);
        return stop || pan || tilt ? "" : "pan/tilt directions";
    }
    if (n == 7) {
        if (cat != 0x04 || cmd != 0x3F || (p != 0x01 && p != 0x02)) {
            return "memory command";
        }
        return f[5] == 0xFF ? "memory byte 0xFF" : "";
    }
    if (cat == 0x06) {
        const bool relay = cmd == 0x00 && (p == 0xA2 || p == 0xA3 || p == 0xB2 || p == 0xB3 || p == 0xC2 ||
                                           p == 0xC3);
        return relay ? "" : "relay control byte";
    }
    if (cat != 0x04) {
        return "category";
    }
    switch (cmd) {
    case 0x07:
    case 0x08:
        return p == 0 || ((p >> 4 == 2 || p >> 4 == 3) && (p & 0x0F) <= 7) ? "" : "lens parameter";
    case 0x39:
        return p == 0x00 || p == 0x0D ? "" : "exposure mode";
    case 0x38:
    case 0x0D:
    case 0x33:
    case 0x51:
    case 0x01:
    case 0x15:
        return p == 0x02 || p == 0x03 ? "" : "mode parameter";
    default:
        return "camera command";
    }
}

// Every malformed frame of a log, with what is wrong with it.
Lines malformed_frames(const Lines &log) {
    Lines out;
    for (const std::string &line : log) {
        if (line.rfind("write ", 0) == 0) {
            const std::string problem = frame_problem(frame_bytes(line));
            if (!problem.empty()) {
                out.push_back(line + ": " + problem);
            }
        }
    }
    return out;
}

// Which axes the camera runs after the frames of a log, as the frames alone
// tell: a pan/tilt drive frame carries the stop code for the other axis.
struct axes {
    bool pan = false, tilt = false, zoom = false, focus = false;
    bool any() const { return pan || tilt || zoom || focus; }
};

axes running_after(const Lines &log, axes now) {
    for (const std::string &line : log) {
        if (line.rfind("write ", 0) != 0) {
            continue;
        }
        const std::vector<int> f = frame_bytes(line);
        if (f.size() == 9 && f[2] == 0x06 && f[3] == 0x01) {
            now.pan = f[6] == 1 || f[6] == 2;
            now.tilt = f[7] == 1 || f[7] == 2;
        } else if (f.size() == 6 && f[2] == 0x04 && f[3] == 0x07) {
            now.zoom = f[4] != 0;
        } else if (f.size() == 6 && f[2] == 0x04 && f[3] == 0x08) {
            now.focus = f[4] != 0;
        }
    }
    return now;
}

std::string describe(const axes &a) {
    return std::string(a.pan ? "pan " : "") + (a.tilt ? "tilt " : "") + (a.zoom ? "zoom " : "") +
           (a.focus ? "focus" : "");
}

// A refusal under the policy: no host call at all, one LOG_ERR line naming
// the entry point.
void expect_refused(const std::string &entry) {
    EXPECT_THAT(fake::without_syslog(), IsEmpty()) << entry;
    const Lines logs = fake::syslogs();
    ASSERT_EQ(logs.size(), 1u) << entry;
    EXPECT_THAT(logs[0], StartsWith("syslog 3 Error: tavrinode[")) << entry;
    EXPECT_THAT(logs[0], HasSubstr("]" + entry + "(): Refused")) << entry;
}

}  // namespace hardening

using namespace hardening;

namespace {

const float ABSENT = 32765.0f;
const float NaN = std::numeric_limits<float>::quiet_NaN();
const float INF = std::numeric_limits<float>::infinity();

move_request req(float pan = ABSENT, float tilt = ABSENT, float zoom = ABSENT, float focus = ABSENT,
                 float iris = ABSENT) {
    return move_request{pan, tilt, zoom, focus, iris};
}

class RobustnessTest : public DriverTest {
protected:
    // Changes configuration values of camera 1 and reloads them.
    static void configure(const std::map<std::string, int> &values) {
        for (const auto &kv : values) {
            fake::set_param(1, kv.first, kv.second);
        }
        ASSERT_EQ(driver_param_changed(), 1);
        fake::clear_log();
    }

    static Lines sleeps() {
        Lines out;
        for (const std::string &l : fake::calls()) {
            if (l.rfind("sleep ", 0) == 0) {
                out.push_back(l);
            }
        }
        return out;
    }

    static int count(const std::string &line) {
        const Lines c = fake::calls();
        return static_cast<int>(std::count(c.begin(), c.end(), line));
    }

    // ptz_action_completed exactly once, as the last host call.
    static void expect_completed_once_last() {
        const Lines c = fake::without_syslog();
        ASSERT_FALSE(c.empty());
        EXPECT_EQ(c.back(), "completed 1 2");
        EXPECT_EQ(std::count(c.begin(), c.end(), "completed 1 2"), 1);
    }
};

// ---------------------------------------------------------------------------
// One test per case of the policy table.

TEST_F(RobustnessTest, PresetNumberOutside1To255IsRefusedBeforeAnyHostCall) {
    for (int preset : {0, -1, 256, 257, INT_MIN, INT_MAX}) {
        fake::clear_log();
        EXPECT_EQ(driver_set_device_preset(preset), 0) << preset;
        expect_refused("driver_set_device_preset");
        fake::clear_log();
        EXPECT_EQ(driver_goto_device_preset(preset), 0) << preset;
        expect_refused("driver_goto_device_preset");
    }
    // The ends of the range still go out: memory bytes 00 and FE.
    fake::clear_log();
    EXPECT_EQ(driver_set_device_preset(1), 1);
    EXPECT_EQ(driver_goto_device_preset(255), 1);
    EXPECT_EQ(fake::frames(), Lines({"write 81 01 04 3F 01 00 FF", "write 81 01 04 3F 02 FE FF"}));
}

TEST_F(RobustnessTest, ConfiguredZoomOrFocusSpeedOutside1To100ClampsTheNibble) {
    // Nibble = (speed - 1) * 7 / 99, truncated: 114 still gives 7, 115 would
    // give 8 and 228 would give 16, which would turn the zoom's tele code 2
    // into the wide code 3. Zero and below give 0.
    struct Case {
        int speed;
        const char *tele;  // zoom +10
        const char *wide;  // zoom -10
        const char *near;  // focus +10
    };
    const Case cases[] = {
        {100, "27", "37", "37"},     {114, "27", "37", "37"},      {115, "27", "37", "37"},
        {228, "27", "37", "37"},     {INT_MAX, "27", "37", "37"},  {0, "20", "30", "30"},
        {-5, "20", "30", "30"},      {INT_MIN, "20", "30", "30"},
    };
    for (const Case &c : cases) {
        configure({{"ZoomSpeed", c.speed}, {"FocusSpeed", c.speed}});
        move_request tele = req(ABSENT, ABSENT, 10.0f);
        move_request wide = req(ABSENT, ABSENT, -10.0f);
        move_request near = req(ABSENT, ABSENT, ABSENT, 10.0f);
        driver_move_cont(&tele);
        driver_move_cont(&wide);
        driver_stop();
        driver_move_cont(&near);
        driver_stop();
        EXPECT_EQ(fake::frames(), Lines({std::string("write 81 01 04 07 ") + c.tele + " FF",
                                         std::string("write 81 01 04 07 ") + c.wide + " FF",
                                         "write 81 01 04 07 00 FF",
                                         std::string("write 81 01 04 08 ") + c.near + " FF",
                                         "write 81 01 04 08 00 FF"}))
            << c.speed;
    }
    // A relative zoom at 228 runs at the clamped nibble for the time that
    // 228 gives: divisor 19998 * 228 / 100 = 45595, 1000 * 10500 / 45595 = 230 ms.
    configure({{"ZoomSpeed", 228}});
    move_request zoom = req(ABSENT, ABSENT, 1000.0f);
    EXPECT_EQ(driver_move_rel(&zoom), 1);
    EXPECT_EQ(fake::frames(), Lines({"write 81 01 04 07 27 FF", "write 81 01 04 07 00 FF"}));
    EXPECT_EQ(sleeps(), Lines({"sleep 230000"}));
}

TEST_F(RobustnessTest, NonPositiveSpeedRefusesThatAxisWhileTheOthersGoOn) {
    for (int move_speed : {0, -5, INT_MIN}) {
        configure({{"MoveSpeed", move_speed}});
        move_request r = req(10.0f, 10.0f, 1000.0f);
        EXPECT_EQ(driver_move_rel(&r), 0) << move_speed;
        // Pan and tilt refused; the zoom goes on (1000 * 10500 / 19998 = 525 ms).
        EXPECT_EQ(fake::without_syslog(),
                  Lines({"started 1", "status 0 0 3 0 0 0 0 0 1 0 0 2 2 2", "write 81 01 04 07 27 FF",
                         "sleep 525000", "write 81 01 04 07 00 FF", "status 0 0 0 0 0 0 0 0 0 0 0 2 2 2",
                         "completed 1 2"}))
            << move_speed;
        const Lines logs = fake::syslogs();
        ASSERT_EQ(logs.size(), 2u);
        EXPECT_THAT(logs[0], StartsWith("syslog 3 Error: tavrinode["));
        EXPECT_THAT(logs[0], HasSubstr("]driver_move_rel(): Refused pan, MoveSpeed"));
        EXPECT_THAT(logs[1], HasSubstr("]driver_move_rel(): Refused tilt, MoveSpeed"));
        fake::clear_log();
    }
    configure({{"MoveSpeed", 100}, {"ZoomSpeed", 0}, {"FocusSpeed", -1}});
    move_request r = req(10.0f, ABSENT, 1000.0f, 1000.0f);
    EXPECT_EQ(driver_move_rel(&r), 0);
    EXPECT_EQ(fake::frames(), Lines({"write 81 01 06 01 12 00 02 03 FF", "write 81 01 06 01 00 00 03 03 FF"}));
    EXPECT_EQ(sleeps(), Lines({"sleep 690000"}));
    const Lines logs = fake::syslogs();
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_THAT(logs[0], HasSubstr("]driver_move_rel(): Refused zoom, ZoomSpeed"));
    EXPECT_THAT(logs[1], HasSubstr("]driver_move_rel(): Refused focus, FocusSpeed"));
    expect_completed_once_last();
}

TEST_F(RobustnessTest, LensDriveTimeIsFormedIn64Bits) {
    // 19998 steps * 150000 ms = 2999700000 leaves 32 bits; / 19998 = 150000 ms.
    // 107385 is the first calibration time whose product overflows.
    configure({{"ZoomTime", 150000}, {"FocusTime", 107385}});
    move_request r = req(ABSENT, ABSENT, 19998.0f, -19998.0f);
    EXPECT_EQ(driver_move_rel(&r), 1);
    EXPECT_EQ(sleeps(), Lines({"sleep 150000000", "sleep 107385000"}));
}

TEST_F(RobustnessTest, DriveTimeOrCountThatDoesNotFitRefusesTheAxisNeverAShorterSleep) {
    struct Case {
        const char *what;
        std::map<std::string, int> config;
        move_request request;
        const char *refused;  // which axis the log names
    };
    const Case cases[] = {
        // n = 19998 at -1 ms per span: -1 ms.
        {"negative zoom time", {{"ZoomTime", -1}}, req(ABSENT, ABSENT, 19998.0f), "zoom"},
        {"negative focus time", {{"FocusTime", -1}}, req(ABSENT, ABSENT, ABSENT, 19998.0f), "focus"},
        // 50000 * 1000 / 10 = 5000000 ms: 5e9 us does not fit 32 bits.
        {"pan time beyond 32-bit us", {{"PanMoveTimePerDegree", 50000}}, req(1000.0f), "pan"},
        {"tilt time beyond 32-bit us", {{"TiltMoveTimePerDegree", 50000}}, req(ABSENT, -1000.0f), "tilt"},
        // 19998 * 4294968 / 19998 = 4294968 ms: one past the longest sleep.
        {"zoom time beyond 32-bit us", {{"ZoomTime", 4294968}}, req(ABSENT, ABSENT, 19998.0f), "zoom"},
        // MoveSpeed and time per degree INT_MAX, pan 10: 2^31 * 10 / 214748364.7
        // = 100 ms, reduced: p = 100 * INT_MAX, q = 1431655764, speed 100,
        // time again q * 150 / 100 = 2147483646 ms.
        {"reduced pan time beyond 32-bit us",
         {{"MoveSpeed", INT_MAX}, {"PanMoveTimePerDegree", INT_MAX}}, req(10.0f), "pan"},
        {"zoom member beyond int", {}, req(ABSENT, ABSENT, -3e9f), "zoom"},
        {"focus member beyond int", {}, req(ABSENT, ABSENT, ABSENT, -3e9f), "focus"},
        {"pan member huge", {}, req(-1e30f), "pan"},
        {"pan member infinite", {}, req(-INF), "pan"},
        {"tilt member infinite", {}, req(ABSENT, -INF), "tilt"},
        // -1e20 / 624 steps do not fit an int; neither do -infinite ones.
        {"iris member huge", {}, req(ABSENT, ABSENT, ABSENT, ABSENT, -1e20f), "iris"},
        {"iris member infinite", {}, req(ABSENT, ABSENT, ABSENT, ABSENT, -INF), "iris"},
    };
    for (const Case &c : cases) {
        fake::reset(1);
        ASSERT_EQ(driver_setup(), 1);
        configure(c.config);
        // A focus of 1000 after the refused axis still runs (75 ms), unless
        // the focus is the refused axis; then a zoom of 1000 before it does.
        move_request r = c.request;
        const bool focus_refused = std::string(c.refused) == "focus";
        if (focus_refused) {
            r.zoom = 1000.0f;
        } else {
            r.focus = 1000.0f;
        }
        EXPECT_EQ(driver_move_rel(&r), 0) << c.what;
        EXPECT_EQ(sleeps(), Lines({focus_refused ? "sleep 525000" : "sleep 75000"})) << c.what;
        EXPECT_EQ(fake::frames(), focus_refused
                                      ? Lines({"write 81 01 04 07 27 FF", "write 81 01 04 07 00 FF"})
                                      : Lines({"write 81 01 04 08 37 FF", "write 81 01 04 08 00 FF"}))
            << c.what;
        const Lines logs = fake::syslogs();
        ASSERT_EQ(logs.size(), 1u) << c.what;
        EXPECT_THAT(logs[0], HasSubstr(std::string("]driver_move_rel(): Refused ") + c.refused)) << c.what;
        expect_completed_once_last();
        driver_teardown();
    }
    // The longest time that fits is still made in full: 4294967 ms.
    fake::reset(1);
    ASSERT_EQ(driver_setup(), 1);
    configure({{"ZoomTime", 4294967}});
    move_request longest = req(ABSENT, ABSENT, 19998.0f);
    EXPECT_EQ(driver_move_rel(&longest), 1);
    EXPECT_EQ(sleeps(), Lines({"sleep 4294967000"}));
}

TEST_F(RobustnessTest, LensMemberBelowOneGetsItsStopFrame) {
    // zoom 0.5: one step, 10500 / 19998 = 0 ms; recorded speed 0.5 is not
    // "moving", so stop-all alone would leave the zoom running.
    move_request zoom = req(ABSENT, ABSENT, 0.5f);
    EXPECT_EQ(driver_move_rel(&zoom), 1);
    EXPECT_EQ(fake::frames(), Lines({"write 81 01 04 07 27 FF", "write 81 01 04 07 00 FF"}));
    fake::clear_log();
    // focus -0.3: far at speed 7, then its stop.
    move_request focus = req(ABSENT, ABSENT, ABSENT, -0.3f);
    EXPECT_EQ(driver_move_rel(&focus), 1);
    EXPECT_EQ(fake::frames(), Lines({"write 81 01 04 08 27 FF", "write 81 01 04 08 00 FF"}));
    EXPECT_FALSE(running_after(fake::calls(), axes()).any());
}

TEST_F(RobustnessTest, SetSpeedWithNaNOrUnroundableValueIsRefused) {
    // The rounded magnitude must fit a signed 32-bit int: -2147483648.5
    // truncates to INT_MIN, whose magnitude does not.
    for (float speed : {NaN, -NaN, INF, -INF, 3e9f, -3e9f, 2147483648.0f, -2147483648.0f}) {
        fake::clear_log();
        EXPECT_EQ(driver_set_speed(speed), 0) << speed;
        expect_refused("driver_set_speed");
        EXPECT_EQ(driver_get_speed(), 100.0f) << speed;
    }
    // The largest float below 2^31 still fits.
    EXPECT_EQ(driver_set_speed(-2147483520.0f), 1);
    EXPECT_EQ(driver_get_speed(), 2147483520.0f);
}

TEST_F(RobustnessTest, NullRequestRelayCommandOrOutputPointer) {
    EXPECT_EQ(driver_move_rel(nullptr), 0);
    expect_refused("driver_move_rel");
    fake::clear_log();
    EXPECT_EQ(driver_move_cont(nullptr), 0);
    expect_refused("driver_move_cont");
    fake::clear_log();

    EXPECT_EQ(driver_auxiliary(nullptr), 0);
    EXPECT_EQ(fake::calls(), Lines({"syslog 3 Error: tavrinode[1243]driver_auxiliary(): Command not recognized!"}));
    fake::clear_log();

    // A null output is skipped; the other is still filled.
    int low = -1, high = -1;
    driver_device_preset_range(nullptr, &high);
    driver_device_preset_range(&low, nullptr);
    EXPECT_EQ(low, 1);
    EXPECT_EQ(high, 6);
    float pan = -1, tilt = -1;
    driver_bar_ranges(nullptr, &tilt);
    driver_bar_ranges(&pan, nullptr);
    EXPECT_EQ(pan, 48.0f);
    EXPECT_EQ(tilt, 78.0f);
    driver_current_field_angle(nullptr);
    const char *name = nullptr;
    int count = 0;
    driver_get_info(&name, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                    nullptr, &count, nullptr, nullptr, nullptr);
    EXPECT_STREQ(name, "Tavrinode");
    EXPECT_EQ(count, 16);
    EXPECT_THAT(fake::calls(), IsEmpty());
}

// Every entry point that works on the current camera, called once.
struct CameraEntry {
    const char *name;
    double (*call)();
};

double call_move_cont() {
    move_request r = req(50.0f);
    return driver_move_cont(&r);
}
double call_move_rel() {
    move_request r = req(10.0f);
    return driver_move_rel(&r);
}
double call_preset_range() {
    int low = -7, high = -7;
    driver_device_preset_range(&low, &high);
    return low == -7 && high == -7 ? 0 : 99;  // 99: an output was written
}
double call_bar_ranges() {
    float pan = -7, tilt = -7;
    driver_bar_ranges(&pan, &tilt);
    return pan == -7 && tilt == -7 ? 0 : 99;
}
double call_field_angle() {
    float angle = -7;
    driver_current_field_angle(&angle);
    return angle == -7 ? 0 : 99;
}

const CameraEntry camera_entries[] = {
    {"driver_move_cont", call_move_cont},
    {"driver_stop", [] { return double(driver_stop()); }},
    {"driver_move_rel", call_move_rel},
    {"driver_set_device_preset", [] { return double(driver_set_device_preset(1)); }},
    {"driver_goto_device_preset", [] { return double(driver_goto_device_preset(1)); }},
    {"driver_device_preset_range", call_preset_range},
    {"driver_set_speed", [] { return double(driver_set_speed(50.0f)); }},
    {"driver_get_speed", [] { return double(driver_get_speed()); }},
    {"driver_bar_ranges", call_bar_ranges},
    {"driver_pan_flipped", [] { return double(driver_pan_flipped()); }},
    {"driver_tilt_flipped", [] { return double(driver_tilt_flipped()); }},
    {"driver_zoom_compensation", [] { return double(driver_zoom_compensation()); }},
    {"driver_current_field_angle", call_field_angle},
    {"driver_autofocus", [] { return double(driver_autofocus(1)); }},
    {"driver_autoiris", [] { return double(driver_autoiris(1)); }},
    {"driver_backlight", [] { return double(driver_backlight(1)); }},
    {"driver_ircutfilter", [] { return double(driver_ircutfilter(1)); }},
    {"driver_auxiliary", [] { return double(driver_auxiliary("relay3:on")); }},
    {"driver_osdmenu", [] { return double(driver_osdmenu(1)); }},
};

TEST_F(RobustnessTest, CurrentCameraEntryPointWithoutRecordsOrWithCamindexOutsideIsRefused) {
    fake::reset(2);
    fake::set_param(1, "FlipPan", 1);  // so that a served flip query would answer 1
    fake::set_param(2, "FlipPan", 1);
    ASSERT_EQ(driver_setup(), 1);
    for (int index : {-1, 2, 3, INT_MIN, INT_MAX}) {
        camindex = index;
        for (const CameraEntry &e : camera_entries) {
            fake::clear_log();
            EXPECT_EQ(e.call(), 0.0) << e.name << " camindex " << index;
            expect_refused(e.name);
        }
    }
    // No record array at all, before setup and after teardown.
    driver_teardown();
    camindex = 0;
    for (const CameraEntry &e : camera_entries) {
        fake::clear_log();
        EXPECT_EQ(e.call(), 0.0) << e.name;
        expect_refused(e.name);
    }
    // Valid camindex values are served (the flip query answers 1 then).
    fake::reset(2);
    fake::set_param(2, "FlipPan", 1);
    ASSERT_EQ(driver_setup(), 1);
    camindex = 1;
    EXPECT_EQ(driver_pan_flipped(), 1);
}

TEST_F(RobustnessTest, CamerasRaisedAfterSetupNeverTakesLoadingOrTeardownBeyondTheArray) {
    fake::reset(4);  // the host's map and store know four cameras
    cameras = 2;     // but the array is made for two
    ASSERT_EQ(driver_setup(), 1);
    cameras = 4;
    fake::clear_log();
    EXPECT_EQ(driver_param_changed(), 1);
    for (const std::string &line : fake::calls()) {
        EXPECT_THAT(line, testing::AnyOf(testing::EndsWith(" 1"), testing::EndsWith(" 2"))) << line;
    }
    EXPECT_EQ(fake::calls().size(), 36u);  // eighteen keys for each of the two slots
    camindex = 2;
    fake::clear_log();
    EXPECT_EQ(driver_stop(), 0);
    expect_refused("driver_stop");
    fake::clear_log();
    driver_teardown();
    EXPECT_EQ(fake::calls(), Lines({"status 0 0 0 0 0 0 0 0 0 0 0 2 2 2", "status 0 0 0 0 0 0 0 0 0 0 0 2 2 2",
                                    "poll 0"}));
}

TEST_F(RobustnessTest, SlotCountWhoseByteSizeWouldWrapFailsTheAllocationCleanly) {
    // 0x40000000 records of 112 bytes wrap a 32-bit size to 0; on a 64-bit
    // host the 112 GiB are more than the machine has, so it fails too.
    driver_teardown();
    fake::reset(1);
    cameras = 0x40000000u;
    EXPECT_EQ(driver_setup(), 0);
    EXPECT_EQ(0, memcmp(drivermsg, "Error allocating memory for camera parameters", 46));
    EXPECT_THAT(fake::calls(), IsEmpty());
    // No array: operations are refused, teardown calls nothing.
    cameras = 1;
    EXPECT_EQ(driver_stop(), 0);
    expect_refused("driver_stop");
    fake::clear_log();
    driver_teardown();
    EXPECT_THAT(fake::calls(), IsEmpty());
}

TEST_F(RobustnessTest, SecondSetupReleasesTheOldArrayAndStartsAfresh) {
    // State in the old array: autofocus on, relay 3 on.
    ASSERT_EQ(driver_autofocus(1), 1);
    ASSERT_EQ(driver_auxiliary("relay3:on"), 1);
    fake::reset(2);
    EXPECT_EQ(driver_setup(), 1);
    EXPECT_EQ(fake::calls().size(), 36u);
    fake::clear_log();
    // Fresh records: autofocus believed off, relay 3 believed off, slot 1 there.
    EXPECT_EQ(driver_autofocus(0), 1);
    EXPECT_EQ(driver_auxiliary("relay3:off"), 1);
    EXPECT_THAT(fake::frames(), IsEmpty());
    camindex = 1;
    EXPECT_EQ(driver_pan_flipped(), 0);
    EXPECT_THAT(fake::syslogs(), IsEmpty());
    // The old array was released (the sanitizer run reports a leak otherwise).
}

TEST_F(RobustnessTest, ParamChangedWithoutRecordsReturns0AndRequestsNothing) {
    driver_teardown();
    fake::clear_log();
    EXPECT_EQ(driver_param_changed(), 0);
    EXPECT_THAT(fake::without_syslog(), IsEmpty());
    EXPECT_STREQ(drivermsg, fake::drivermsg_marker);
}

TEST_F(RobustnessTest, RelayPulseWhoseDeadlineHasPassedSwitchesOffAtOnce) {
    configure({{"Relay1OnTime", 1000}});
    // The half-second sleep comes back 1.2 s later: the deadline has passed,
    // so no final sleep for the 0.8 s "remainder" of a negative time.
    fake::SleepPlan late;
    late.advance_us = 1200000;
    fake::host().sleep_plans[fake::host().sleeps + 1] = late;
    EXPECT_EQ(driver_auxiliary("relay1:on"), 1);
    EXPECT_EQ(fake::calls(),
              Lines({"write 81 01 06 00 A2 FF", "sleep 500000", "write 81 01 06 00 A3 FF"}));
    // On time, the rest of the pulse is still slept.
    fake::clear_log();
    EXPECT_EQ(driver_auxiliary("relay1:on"), 1);
    EXPECT_EQ(fake::calls(), Lines({"write 81 01 06 00 A2 FF", "sleep 500000", "sleep 500000",
                                    "write 81 01 06 00 A3 FF"}));
}

// ---------------------------------------------------------------------------
// The invariants across entry points.

TEST_F(RobustnessTest, PanAndTiltSpeedBytesAreCappedAt7FAndOtherwiseUnchanged) {
    // Pan byte = (m - 1) * 17 / 99 + 1: 729 gives 126.01 (7E, sent as is),
    // 735 gives 127.04 (7F), 900 would give 155.4 (9B), 1000 would give 172.
    // Tilt byte = (m - 1) * 13 / 99 + 1: 953 gives 126.01 (7E), 961 gives
    // 127.06, 999 would give 132.05 (84).
    struct Case {
        float pan, tilt;
        const char *frame;
    };
    const Case cases[] = {
        {729.0f, ABSENT, "81 01 06 01 7E 00 02 03 FF"},    {735.0f, ABSENT, "81 01 06 01 7F 00 02 03 FF"},
        {900.0f, ABSENT, "81 01 06 01 7F 00 02 03 FF"},    {-1000.0f, ABSENT, "81 01 06 01 7F 00 01 03 FF"},
        {32764.0f, ABSENT, "81 01 06 01 7F 00 02 03 FF"},  {ABSENT, -999.0f, "81 01 06 01 00 7F 03 02 FF"},
        {ABSENT, 953.0f, "81 01 06 01 00 7E 03 01 FF"},    {ABSENT, 961.0f, "81 01 06 01 00 7F 03 01 FF"},
        {ABSENT, -32764.0f, "81 01 06 01 00 7F 03 02 FF"},
    };
    for (const Case &c : cases) {
        fake::clear_log();
        move_request r = req(c.pan, c.tilt);
        driver_move_cont(&r);
        EXPECT_EQ(fake::frames(), Lines({std::string("write ") + c.frame})) << c.pan << " " << c.tilt;
    }
}

TEST_F(RobustnessTest, RelativeMoveLeavesNoAxisItDroveRunning) {
    struct Case {
        const char *what;
        std::map<std::string, int> config;
        move_request before;  // a continuous move first (all absent: none)
        move_request request;
    };
    const Case cases[] = {
        {"every axis", {}, req(), req(10.0f, -1.0f, 2.5f, -0.5f, 1300.0f)},
        {"lens members below 1", {}, req(), req(ABSENT, ABSENT, 0.4f, -0.9f)},
        {"short moves", {}, req(), req(0.1f, 0.02f)},
        {"tilt while a continuous zoom runs", {}, req(ABSENT, ABSENT, 30.0f), req(ABSENT, 1.0f)},
        {"pan while a continuous tilt and focus run", {}, req(ABSENT, 40.0f, ABSENT, -20.0f), req(5.0f)},
        // MoveSpeed 100000: the pan is driven at 100000, a recorded speed
        // that does not count as moving, so it needs its own stop.
        {"speed beyond the moving limit", {{"MoveSpeed", 100000}}, req(), req(10000.0f)},
        {"zero and tiny calibration", {{"ZoomTime", 0}, {"FocusTime", 1}}, req(), req(ABSENT, ABSENT, 5.0f, 5.0f)},
        {"huge lens speed", {{"ZoomSpeed", INT_MAX}}, req(), req(ABSENT, ABSENT, -19998.0f)},
    };
    for (const Case &c : cases) {
        fake::reset(1);
        ASSERT_EQ(driver_setup(), 1);
        configure(c.config);
        move_request before = c.before;
        driver_move_cont(&before);
        move_request r = c.request;
        driver_move_rel(&r);
        const axes left = running_after(fake::calls(), axes());
        EXPECT_FALSE(left.any()) << c.what << ": still running: " << describe(left);
        EXPECT_THAT(malformed_frames(fake::calls()), IsEmpty()) << c.what;
        driver_teardown();
    }
}

TEST_F(RobustnessTest, FramesStayWellFormedUnderExtremeConfigurationAndRequests) {
    const std::map<std::string, int> configs[] = {
        {{"MoveSpeed", INT_MAX}, {"ZoomSpeed", INT_MAX}, {"FocusSpeed", INT_MIN}, {"PanSpeedCompensation", INT_MAX},
         {"TiltSpeedCompensation", INT_MIN}, {"Relay1OnTime", 1}, {"Relay2OnTime", -1}},
        {{"MoveSpeed", 5}, {"PanSpeedCompensation", -100}, {"TiltSpeedCompensation", 100},
         {"PanMoveTimePerDegree", 1}, {"TiltMoveTimePerDegree", INT_MIN}, {"ZoomTime", INT_MIN}},
        {{"MoveSpeed", 102}, {"ZoomSpeed", 1}, {"FocusSpeed", 228}, {"MaxDevicePresetnbr", 0}},
    };
    const float values[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 100.0f, -150.0f, 32764.0f, 32765.0f, -32765.0f,
                            1e20f, -1e20f, NaN, INF, -INF, std::numeric_limits<float>::denorm_min(), 6.0f, 624.0f};
    for (const auto &config : configs) {
        fake::reset(1);
        ASSERT_EQ(driver_setup(), 1);
        configure(config);
        for (float v : values) {
            // Iris kept to a few steps: a huge one only makes the log long.
            move_request all = req(v, -v, v, -v, fabsf(v) <= 1000.0f ? v : 700.0f);
            driver_move_cont(&all);
            driver_move_rel(&all);
            driver_stop();
            for (int preset : {0, 1, 255, 256}) {
                driver_set_device_preset(preset);
                driver_goto_device_preset(preset);
            }
            for (int mode : {-1, 0, 1, 2}) {
                driver_autofocus(mode);
                driver_autoiris(mode);
                driver_backlight(mode);
                driver_ircutfilter(mode);
                driver_osdmenu(mode);
            }
            for (const char *cmd : {"relay1:on", "relay2:on", "relay3:on", "relay3:off", "relay2:off"}) {
                driver_auxiliary(cmd);
            }
        }
        const Lines bad = malformed_frames(fake::calls());
        EXPECT_THAT(bad, IsEmpty());
        EXPECT_GT(fake::frames().size(), 100u);
        driver_teardown();
    }
}

TEST_F(RobustnessTest, FailuresAreNotReportedAsSuccess) {
    // Recall whose frame fails.
    fake::fail_write(1);
    EXPECT_EQ(driver_goto_device_preset(2), 0);
    // Menu frame that fails.
    fake::fail_write(1);
    EXPECT_EQ(driver_osdmenu(1), 0);
    // Relay frame that fails.
    fake::fail_write(1);
    EXPECT_EQ(driver_auxiliary("relay3:on"), 0);
    // Mode frame that fails.
    fake::fail_write(1);
    EXPECT_EQ(driver_autofocus(1), 0);
    fake::fail_write(1);
    EXPECT_EQ(driver_backlight(1), 0);
    fake::fail_write(2);
    EXPECT_EQ(driver_ircutfilter(0), 0);
    // Relative move cut short by suspension.
    fake::suspend_at_sleep(1);
    move_request r = req(10.0f, 10.0f);
    EXPECT_EQ(driver_move_rel(&r), 0);
    suspended = 0;
    // Relay pulse cut short.
    fake::suspend_at_sleep(1);
    EXPECT_EQ(driver_auxiliary("relay2:on"), 0);
    suspended = 0;
    // Loading with a failing key.
    fake::fail_param("ZoomTime");
    EXPECT_EQ(driver_param_changed(), 0);
}

}  // namespace
