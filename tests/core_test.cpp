// Driver core: configuration loading, setup, teardown's bookkeeping around
// the array, the descriptor, and the refusals for a missing record.
#include <math.h>
#include <string.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_host.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

// The eighteen keys in request order, as the host sees them for one camera.
std::vector<std::string> key_requests(int camera) {
    const char *ints[] = {"MoveSpeed",          "PanMoveTimePerDegree", "TiltMoveTimePerDegree",
                          "ZoomTime",           "ZoomSpeed",            "FocusTime",
                          "FocusSpeed",         "CurrentFieldAngle",    "PanBarRange",
                          "TiltBarRange",       "MaxDevicePresetnbr",   "PanSpeedCompensation",
                          "TiltSpeedCompensation", "GoToPresetDelay",   "Relay1OnTime",
                          "Relay2OnTime"};
    std::vector<std::string> out;
    for (const char *k : ints) {
        out.push_back(std::string("get_int ") + k + " 1 " + std::to_string(camera));
    }
    out.push_back("get_bool FlipPan 0 " + std::to_string(camera));
    out.push_back("get_bool FlipTilt 0 " + std::to_string(camera));
    return out;
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class CoreTest : public ::testing::Test {
protected:
    void TearDown() override { driver_teardown(); }
};

TEST_F(CoreTest, SetupRequestsEveryKeyOfEachConfiguredSlotInOrder) {
    fake::reset(3, {1, 0, 1});
    EXPECT_EQ(driver_setup(), 1);
    EXPECT_EQ(fake::calls(), concat(key_requests(1), key_requests(3)));
    EXPECT_STREQ(drivermsg, fake::drivermsg_marker);
}

TEST_F(CoreTest, NoSlotsOrNoConfiguredSlotRequestsNothing) {
    for (uint32_t slots : {0u, 2u}) {
        fake::reset(slots, std::vector<int>(slots, 0));
        EXPECT_EQ(driver_setup(), 1) << slots;
        EXPECT_THAT(fake::calls(), IsEmpty()) << slots;
        EXPECT_EQ(driver_param_changed(), 1);
        EXPECT_THAT(fake::calls(), IsEmpty());
        driver_teardown();
        EXPECT_THAT(fake::calls(), ElementsAre("poll 0"));
    }
}

TEST_F(CoreTest, FailedKeyStillLoadsEverythingElseAndReportsIt) {
    fake::reset(2);
    fake::fail_param("TiltMoveTimePerDegree", 1);
    EXPECT_EQ(driver_setup(), 0);
    EXPECT_EQ(fake::calls(), concat(key_requests(1), key_requests(2)));
    EXPECT_EQ(0, memcmp(drivermsg, "Error refresh of parameters failed!", 36));
    // The array stays for the later teardown, which still stops and reports.
    fake::clear_log();
    driver_teardown();
    EXPECT_THAT(fake::calls(), ElementsAre("status 0 0 0 0 0 0 0 0 0 0 0 2 2 2",
                                           "status 0 0 0 0 0 0 0 0 0 0 0 2 2 2", "poll 0"));
}

TEST_F(CoreTest, FailedKeyLeavesTheFieldAsTheHostLeftIt) {
    fake::reset(1);
    ASSERT_EQ(driver_setup(), 1);
    fake::fail_param("MoveSpeed");
    EXPECT_EQ(driver_param_changed(), 0);
    EXPECT_FLOAT_EQ(driver_get_speed(), 100.0f);
    EXPECT_STREQ(drivermsg, fake::drivermsg_marker);  // only setup reports in drivermsg
}

TEST_F(CoreTest, MissingBooleanKeyFailsTheLoad) {
    fake::reset(1);
    fake::host().params[1].erase("FlipTilt");
    EXPECT_EQ(driver_setup(), 0);
    EXPECT_STREQ(drivermsg, "Error refresh of parameters failed!");
}

TEST_F(CoreTest, ReloadRestoresConfigurationAndKeepsRuntimeState) {
    fake::reset(1);
    ASSERT_EQ(driver_setup(), 1);
    move_request pan{40.0f, 32765.0f, 32765.0f, 32765.0f, 32765.0f};
    ASSERT_EQ(driver_move_cont(&pan), 1);
    ASSERT_EQ(driver_autofocus(1), 1);
    ASSERT_EQ(driver_set_speed(12.0f), 1);
    fake::set_param(1, "MoveSpeed", 77);
    fake::clear_log();

    EXPECT_EQ(driver_param_changed(), 1);
    EXPECT_EQ(fake::calls(), key_requests(1));  // nothing else: no stop, no status
    EXPECT_FLOAT_EQ(driver_get_speed(), 77.0f);
    // The pan is still recorded as moving with autofocus on: a stop sends the
    // pan/tilt stop and publishes focus mode automatic.
    fake::clear_log();
    driver_stop();
    EXPECT_THAT(fake::calls(), ElementsAre("write 81 01 06 01 00 00 03 03 FF",
                                           "status 0 0 0 0 0 0 0 0 0 0 0 2 2 1", "completed 1 2"));
}

TEST_F(CoreTest, ValuesAreUsedAsStoredWithoutDefaultsOrRangeChecks) {
    fake::reset(1);
    fake::set_param(1, "PanBarRange", -5);
    fake::set_param(1, "CurrentFieldAngle", 99999);
    fake::set_param(1, "FlipPan", 7);
    ASSERT_EQ(driver_setup(), 1);
    float pan = 0, tilt = 0, angle = 0;
    driver_bar_ranges(&pan, &tilt);
    driver_current_field_angle(&angle);
    EXPECT_FLOAT_EQ(pan, -5.0f);
    EXPECT_FLOAT_EQ(angle, 9999.9f);
    EXPECT_EQ(driver_pan_flipped(), 7);
}

TEST_F(CoreTest, AllocationFailureLeavesNoArray) {
    // More records than memory (or than the 32-bit address space can count):
    // the allocation fails cleanly.
    fake::reset(1);
    cameras = 0xFFFFFFFFu;
    EXPECT_EQ(driver_setup(), 0);
    EXPECT_EQ(0, memcmp(drivermsg, "Error allocating memory for camera parameters", 46));
    EXPECT_THAT(fake::calls(), IsEmpty());
    // No array: teardown calls nothing, operations are refused.
    cameras = 1;
    EXPECT_EQ(driver_stop(), 0);
    driver_teardown();
    EXPECT_THAT(fake::without_syslog(), IsEmpty());
}

TEST_F(CoreTest, SlotCountWhoseByteSizeWouldWrapOn32Bits) {
    // 0x40000000 records of 112 bytes wrap a 32-bit size to 0.
    fake::reset(1);
    cameras = 0x40000000u;
    if (sizeof(void *) == 4) {
        EXPECT_EQ(driver_setup(), 0);
        EXPECT_STREQ(drivermsg, "Error allocating memory for camera parameters");
    } else {
        // 112 GiB: more than this machine offers.
        EXPECT_EQ(driver_setup(), 0);
    }
    EXPECT_EQ(driver_param_changed(), 0);
}

TEST_F(CoreTest, PollTouchesNothing) {
    fake::reset(1);
    driver_poll();
    ASSERT_EQ(driver_setup(), 1);
    fake::clear_log();
    driver_poll();
    EXPECT_THAT(fake::calls(), IsEmpty());
}

TEST_F(CoreTest, SecondSetupStartsAfreshWithoutLeaking) {
    fake::reset(1);
    ASSERT_EQ(driver_setup(), 1);
    ASSERT_EQ(driver_autofocus(1), 1);
    fake::reset(2);
    EXPECT_EQ(driver_setup(), 1);
    EXPECT_EQ(fake::calls(), concat(key_requests(1), key_requests(2)));
    // A fresh record: autofocus off again, and slot 1 exists now.
    camindex = 1;
    fake::clear_log();
    EXPECT_EQ(driver_autofocus(0), 1);
    EXPECT_THAT(fake::calls(), ElementsAre("status 0 0 0 0 0 0 0 0 0 0 0 2 2 2", "completed 2 2"));
}

TEST_F(CoreTest, ParamChangedWithoutArrayRequestsNothing) {
    fake::reset(1);
    EXPECT_EQ(driver_param_changed(), 0);
    ASSERT_EQ(driver_setup(), 1);
    driver_teardown();
    fake::clear_log();
    EXPECT_EQ(driver_param_changed(), 0);
    EXPECT_THAT(fake::without_syslog(), IsEmpty());
    EXPECT_THAT(fake::syslogs(), ElementsAre(HasSubstr("driver_param_changed(): Refused")));
}

TEST_F(CoreTest, RaisedSlotCountNeverReachesBeyondTheArray) {
    fake::reset(2);
    ASSERT_EQ(driver_setup(), 1);
    fake::host().map_storage.assign(5, 1);
    camera_map = fake::host().map_storage.data();
    cameras = 5;
    fake::clear_log();
    EXPECT_EQ(driver_param_changed(), 1);
    EXPECT_EQ(fake::calls(), concat(key_requests(1), key_requests(2)));
    camindex = 3;
    EXPECT_EQ(driver_osdmenu(1), 0);
    EXPECT_THAT(fake::frames(), IsEmpty());
    fake::clear_log();
    driver_teardown();
    EXPECT_THAT(fake::calls(), ElementsAre("status 0 0 0 0 0 0 0 0 0 0 0 2 2 2",
                                           "status 0 0 0 0 0 0 0 0 0 0 0 2 2 2", "poll 0"));
}

TEST_F(CoreTest, LoweredSlotCountIsFollowedByLoadingAndTeardown) {
    fake::reset(3);
    ASSERT_EQ(driver_setup(), 1);
    cameras = 1;
    fake::clear_log();
    EXPECT_EQ(driver_param_changed(), 1);
    EXPECT_EQ(fake::calls(), key_requests(1));
}

// Every entry point that works on the current camera refuses a camindex
// without a record: nothing sent, no bookkeeping, result 0, one error line.
TEST_F(CoreTest, EntryPointsRefuseACamindexWithoutRecord) {
    fake::reset(2);
    ASSERT_EQ(driver_setup(), 1);
    move_request req{10.0f, 10.0f, 10.0f, 10.0f, 10.0f};
    for (int index : {-1, 2, 1000, -2147483647 - 1}) {
        camindex = index;
        fake::clear_log();
        int low = -7, high = -7;
        float a = -7, b = -7, c = -7;
        EXPECT_EQ(driver_move_cont(&req), 0);
        EXPECT_EQ(driver_stop(), 0);
        EXPECT_EQ(driver_move_rel(&req), 0);
        EXPECT_EQ(driver_set_device_preset(1), 0);
        EXPECT_EQ(driver_goto_device_preset(1), 0);
        driver_device_preset_range(&low, &high);
        EXPECT_EQ(driver_set_speed(10.0f), 0);
        EXPECT_EQ(driver_get_speed(), 0.0f);
        driver_bar_ranges(&a, &b);
        EXPECT_EQ(driver_pan_flipped(), 0);
        EXPECT_EQ(driver_tilt_flipped(), 0);
        EXPECT_EQ(driver_zoom_compensation(), 0);
        driver_current_field_angle(&c);
        EXPECT_EQ(driver_autofocus(1), 0);
        EXPECT_EQ(driver_autoiris(1), 0);
        EXPECT_EQ(driver_backlight(1), 0);
        EXPECT_EQ(driver_ircutfilter(1), 0);
        EXPECT_EQ(driver_auxiliary("relay3:on"), 0);
        EXPECT_EQ(driver_osdmenu(1), 0);
        EXPECT_THAT(fake::without_syslog(), IsEmpty()) << index;
        EXPECT_EQ(fake::syslogs().size(), 19u);  // one per entry point called
        for (const std::string &line : fake::syslogs()) {
            EXPECT_THAT(line, HasSubstr("syslog 3 Error: tavrinode["));
            EXPECT_THAT(line, HasSubstr("(): Refused, camindex outside the camera records!"));
        }
        EXPECT_EQ(low, -7);
        EXPECT_EQ(high, -7);
        EXPECT_EQ(a, -7.0f);
        EXPECT_EQ(c, -7.0f);
        EXPECT_STREQ(drivermsg, fake::drivermsg_marker);
    }
}

TEST_F(CoreTest, RefusalNamesTheEntryPoint) {
    fake::reset(1);
    EXPECT_EQ(driver_move_rel(nullptr), 0);
    ASSERT_EQ(fake::syslogs().size(), 1u);
    EXPECT_THAT(fake::syslogs()[0], HasSubstr("driver_move_rel(): Refused, no camera records!"));
}

// ---- descriptor ----

struct Info {
    const char *name = nullptr, *version = nullptr;
    const uint32_t *caps = nullptr;
    const param_descriptor *tables[8] = {};
    int count = 0;
    const port_settings *port = nullptr;
    const text_item *item = nullptr;
    uint32_t *word = nullptr;

    static Info get() {
        Info i;
        driver_get_info(&i.name, &i.version, &i.caps, &i.tables[0], &i.tables[1], &i.tables[2],
                        &i.tables[3], &i.tables[4], &i.tables[5], &i.tables[6], &i.tables[7], &i.count,
                        &i.port, &i.item, &i.word);
        return i;
    }
    bool operator==(const Info &o) const {
        return name == o.name && version == o.version && caps == o.caps &&
               memcmp(tables, o.tables, sizeof tables) == 0 && count == o.count && port == o.port &&
               item == o.item && word == o.word;
    }
};

std::string row(const param_descriptor &d) {
    return std::to_string(d.kind) + "|" + d.key + "|" + d.label + "|" + d.def + "|" +
           std::to_string(d.word5) + "|" + std::to_string(d.word6) + "|" + d.range;
}

std::vector<std::string> walk(const param_descriptor *t) {
    std::vector<std::string> rows;
    for (; t->kind != 0; ++t) {
        rows.push_back(row(*t));
    }
    // The terminator is kind 0, empty key and default, null label and range.
    EXPECT_STREQ(t->key, "");
    EXPECT_EQ(t->label, nullptr);
    EXPECT_STREQ(t->def, "");
    EXPECT_EQ(t->word5, 0);
    EXPECT_EQ(t->word6, 0);
    EXPECT_EQ(t->range, nullptr);
    return rows;
}

TEST_F(CoreTest, DescriptorIsTheSameBeforeSetupAfterTeardownAndTwiceInARow) {
    fake::reset(1);
    const Info before = Info::get();
    EXPECT_TRUE(before == Info::get());
    ASSERT_EQ(driver_setup(), 1);
    EXPECT_TRUE(before == Info::get());
    driver_teardown();
    EXPECT_TRUE(before == Info::get());
    EXPECT_THAT(fake::calls(), ElementsAre(HasSubstr("get_"), HasSubstr("get_"), HasSubstr("get_"),
                                           HasSubstr("get_"), HasSubstr("get_"), HasSubstr("get_"),
                                           HasSubstr("get_"), HasSubstr("get_"), HasSubstr("get_"),
                                           HasSubstr("get_"), HasSubstr("get_"), HasSubstr("get_"),
                                           HasSubstr("get_"), HasSubstr("get_"), HasSubstr("get_"),
                                           HasSubstr("get_"), HasSubstr("get_"), HasSubstr("get_"),
                                           HasSubstr("status"), "poll 0"));
}

TEST_F(CoreTest, DescriptorIdentityCapabilitiesPortAndItem) {
    const Info i = Info::get();
    EXPECT_STREQ(i.name, "Tavrinode");
    EXPECT_STREQ(i.version, "4.04");
    EXPECT_EQ(i.caps[0], 0x03C771B6u);
    EXPECT_EQ(i.caps[1], 0x0000C133u);
    EXPECT_EQ(i.caps[2], 16u);
    EXPECT_EQ(i.count, 16);
    EXPECT_EQ(i.port->word1, 1);
    EXPECT_STREQ(i.port->type, "RS232");
    EXPECT_EQ(i.port->baud, 9600);
    EXPECT_EQ(i.port->data_bits, 8);
    EXPECT_EQ(i.port->stop_bits, 1);
    EXPECT_STREQ(i.port->parity, "None");
    for (intptr_t w : i.port->reserved) {
        EXPECT_EQ(w, 0);
    }
    EXPECT_STREQ(i.item->text, "-");
    EXPECT_EQ(i.item->zero, 0);
    EXPECT_EQ(*i.word, 0u);
    // Records are made of pointer-sized words.
    EXPECT_EQ(sizeof(param_descriptor), 7 * sizeof(void *));
    EXPECT_EQ(sizeof(port_settings), 10 * sizeof(void *));
    EXPECT_EQ(sizeof(text_item), 2 * sizeof(void *));
}

TEST_F(CoreTest, DescriptorTables) {
    const Info i = Info::get();
    EXPECT_THAT(walk(i.tables[0]), ElementsAre("3|MinPan|Left|-180|129|1|-180..180",
                                               "3|MaxPan|Right|180|129|1|-180..180"));
    EXPECT_THAT(walk(i.tables[1]), ElementsAre("3|MinTilt|Down|-180|129|1|-180..180",
                                               "3|MaxTilt|Up|180|129|1|-180..180"));
    EXPECT_THAT(walk(i.tables[2]), ElementsAre("3|MinZoom|Zoom Wide|1|129|1|1..19999",
                                               "3|MaxZoom|Zoom Tele|9999|129|1|1..19999",
                                               "3|MinFieldAngle||1|129|1|1..1000",
                                               "3|MaxFieldAngle||30|129|1|1..1000"));
    EXPECT_THAT(walk(i.tables[3]), ElementsAre("3|MinFocus|Focus Near|1|129|1|1..9999",
                                               "3|MaxFocus|Focus Far|9999|129|1|1..9999"));
    EXPECT_THAT(walk(i.tables[4]), ElementsAre("3|MinIris|Iris Min|1|129|1|1..9999",
                                               "3|MaxIris|Iris Max|9999|129|1|1..9999"));
    EXPECT_THAT(walk(i.tables[5]), ElementsAre("3|MinBrightness|Brightness Min|1|129|1|1..9999",
                                               "3|MaxBrightness|Brightness Max|9999|129|1|1..9999"));
    EXPECT_THAT(walk(i.tables[6]), ElementsAre("4|FlipPan||false|129|1|", "4|FlipTilt||false|129|1|"));
    EXPECT_THAT(walk(i.tables[7]),
                ElementsAre("3|MoveSpeed||100|129|1|1..100", "3|PanMoveTimePerDegree||690|129|1|1..50000",
                            "3|TiltMoveTimePerDegree||680|129|1|1..50000",
                            "3|CurrentFieldAngle||450|129|1|1..1800", "3|PanBarRange||48|129|1|1..720",
                            "3|TiltBarRange||78|129|1|1..720", "3|ZoomSpeed||100|129|1|1..100",
                            "3|ZoomTime||10500|129|1|1..150000", "3|FocusSpeed||100|129|1|1..100",
                            "3|FocusTime||1500|129|1|1..150000", "3|Relay1OnTime||1000|129|1|0..5000",
                            "3|Relay2OnTime||1000|129|1|0..5000", "3|MaxDevicePresetnbr||6|129|1|1..255",
                            "3|PanSpeedCompensation||-50|129|1|-100..100",
                            "3|TiltSpeedCompensation||-25|129|1|-100..100",
                            "3|GoToPresetDelay||5|129|1|0..60"));
}

TEST_F(CoreTest, DescriptorDefaultsAreTheFakeHostsDefaults) {
    // The flip and driver tables list exactly the eighteen loaded keys.
    const Info i = Info::get();
    std::map<std::string, int> listed;
    for (const param_descriptor *t : {i.tables[6], i.tables[7]}) {
        for (; t->kind != 0; ++t) {
            listed[t->key] = strcmp(t->def, "false") == 0 ? 0 : atoi(t->def);
        }
    }
    EXPECT_EQ(listed, fake::default_params());
}

TEST_F(CoreTest, NullDescriptorOutputsAreSkipped) {
    const char *name = nullptr;
    int count = 0;
    uint32_t *word = nullptr;
    driver_get_info(&name, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                    nullptr, &count, nullptr, nullptr, &word);
    EXPECT_STREQ(name, "Tavrinode");
    EXPECT_EQ(count, 16);
    EXPECT_EQ(word, Info::get().word);
}

}  // namespace
