// The driver's heap use: setup makes exactly one allocation, of exactly one
// record per slot; teardown releases it; no other entry point touches the heap.
//
// The driver library linked here is a copy whose references to malloc, calloc,
// realloc, free and operator new/delete are renamed to the counted_* functions
// below (see CMakeLists.txt), so only the driver's own calls are counted: not
// the test's, the fake host's, the C library's or a sanitizer's.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/core.h"
#include "fake_host.h"

namespace probe {

enum kind { MALLOC, CALLOC, REALLOC, FREE, NEW, DELETE };

struct event {
    kind what;
    size_t bytes;  // requested size (calloc: count x size); 0 for releases
    void *ptr;     // block returned, or released
};

std::vector<event> events;
bool fail_next = false;  // the next allocation returns null without allocating

void clear() {
    events.clear();
    fail_next = false;
}

size_t allocations() {
    size_t n = 0;
    for (const event &e : events) {
        n += (e.what == MALLOC || e.what == CALLOC || e.what == REALLOC || e.what == NEW) ? 1 : 0;
    }
    return n;
}

size_t releases() {
    size_t n = 0;
    for (const event &e : events) {
        n += (e.what == FREE || e.what == DELETE) ? 1 : 0;
    }
    return n;
}

void *allocate(kind what, size_t bytes, void *old) {
    void *p = nullptr;
    if (fail_next) {
        fail_next = false;
    } else if (what == REALLOC) {
        p = realloc(old, bytes);
    } else {
        p = malloc(bytes != 0 ? bytes : 1);
    }
    events.push_back({what, bytes, p});
    return p;
}

}  // namespace probe

extern "C" {

void *counted_malloc(size_t bytes) { return probe::allocate(probe::MALLOC, bytes, nullptr); }

void *counted_calloc(size_t count, size_t size) {
    // A product that overflows is recorded as the largest size; it fails.
    const size_t bytes = (size != 0 && count > SIZE_MAX / size) ? SIZE_MAX : count * size;
    void *p = probe::allocate(probe::CALLOC, bytes, nullptr);
    if (p != nullptr) {
        memset(p, 0, bytes);
    }
    return p;
}

void *counted_realloc(void *old, size_t bytes) { return probe::allocate(probe::REALLOC, bytes, old); }

void counted_free(void *p) {
    probe::events.push_back({probe::FREE, 0, p});
    free(p);
}

// operator new and delete (counted_ + the mangled name without its leading
// underscore), plain and array, for either width of size_t.
void *counted_Znwm(size_t bytes) { return probe::allocate(probe::NEW, bytes, nullptr); }
void *counted_Znam(size_t bytes) { return probe::allocate(probe::NEW, bytes, nullptr); }
void *counted_Znwj(size_t bytes) { return probe::allocate(probe::NEW, bytes, nullptr); }
void *counted_Znaj(size_t bytes) { return probe::allocate(probe::NEW, bytes, nullptr); }

void counted_ZdlPv(void *p) {
    probe::events.push_back({probe::DELETE, 0, p});
    free(p);
}
void counted_ZdaPv(void *p) { counted_ZdlPv(p); }
void counted_ZdlPvm(void *p, size_t) { counted_ZdlPv(p); }
void counted_ZdaPvm(void *p, size_t) { counted_ZdlPv(p); }
void counted_ZdlPvj(void *p, size_t) { counted_ZdlPv(p); }
void counted_ZdaPvj(void *p, size_t) { counted_ZdlPv(p); }

}  // extern "C"

namespace {

// One record: eighteen 32-bit fields (72 bytes), the relay byte padded to the
// next word (76), the two relay on-times (84), five floats (104), five state
// bytes padded to the record's 4-byte alignment (109 -> 112).
constexpr size_t record_bytes = 112;

class AllocTest : public ::testing::Test {
protected:
    void TearDown() override {
        driver_teardown();
        probe::clear();
    }
};

TEST_F(AllocTest, RecordIsTheDocumentedSize) { EXPECT_EQ(sizeof(camera_params), record_bytes); }

TEST_F(AllocTest, SetupAllocatesOnceExactlyOneRecordPerSlotAndTeardownReleasesIt) {
    for (uint32_t slots : {1u, 2u, 16u, 255u}) {
        SCOPED_TRACE(slots);
        fake::reset(slots);
        probe::clear();
        ASSERT_EQ(driver_setup(), 1);
        ASSERT_EQ(probe::events.size(), 1u);
        const probe::event e = probe::events[0];
        EXPECT_TRUE(e.what == probe::MALLOC || e.what == probe::CALLOC);
        EXPECT_EQ(e.bytes, slots * record_bytes);
        EXPECT_EQ(static_cast<void *>(cam_params), e.ptr);

        probe::clear();
        driver_teardown();
        ASSERT_EQ(probe::events.size(), 1u);
        EXPECT_EQ(probe::events[0].what, probe::FREE);
        EXPECT_EQ(probe::events[0].ptr, e.ptr);
    }
}

TEST_F(AllocTest, NoSlotsStillMakeOneSmallAllocation) {
    // An empty array is still an array: the driver asks for one byte, so that
    // zero slots cannot be mistaken for a failed allocation.
    fake::reset(0);
    probe::clear();
    ASSERT_EQ(driver_setup(), 1);
    ASSERT_EQ(probe::events.size(), 1u);
    EXPECT_EQ(probe::events[0].bytes, 1u);
    probe::clear();
    driver_teardown();
    EXPECT_EQ(probe::allocations(), 0u);
    EXPECT_EQ(probe::releases(), 1u);
}

TEST_F(AllocTest, FailedAllocationLeavesNothingToRelease) {
    fake::reset(3);
    probe::clear();
    probe::fail_next = true;
    EXPECT_EQ(driver_setup(), 0);
    EXPECT_STREQ(drivermsg, "Error allocating memory for camera parameters");
    EXPECT_EQ(probe::allocations(), 1u);
    EXPECT_EQ(cam_params, nullptr);
    probe::clear();
    driver_teardown();
    EXPECT_TRUE(probe::events.empty());
}

TEST_F(AllocTest, SlotCountTooLargeForTheAddressSpaceIsNeverAWrappedBlock) {
    // 0x40000000 records of 112 bytes: 112 GiB, which wraps to 0 in 32 bits.
    fake::reset(1);
    cameras = 0x40000000u;
    probe::clear();
    probe::fail_next = true;  // on 64 bits the request is made; it must not succeed here
    EXPECT_EQ(driver_setup(), 0);
    if (sizeof(size_t) == 4) {
        EXPECT_EQ(probe::allocations(), 0u);
    } else {
        ASSERT_EQ(probe::allocations(), 1u);
        EXPECT_EQ(probe::events[0].bytes, static_cast<size_t>(0x40000000u) * record_bytes);
    }
    cameras = 1;
}

TEST_F(AllocTest, SecondSetupReleasesTheFirstArrayBeforeMakingTheNext) {
    fake::reset(2);
    ASSERT_EQ(driver_setup(), 1);
    void *first = cam_params;
    probe::clear();
    ASSERT_EQ(driver_setup(), 1);
    ASSERT_EQ(probe::events.size(), 2u);
    EXPECT_EQ(probe::events[0].what, probe::FREE);
    EXPECT_EQ(probe::events[0].ptr, first);
    EXPECT_EQ(probe::allocations(), 1u);
    EXPECT_EQ(probe::events[1].bytes, 2 * record_bytes);
}

move_request request(float pan, float tilt, float zoom, float focus, float iris) {
    return move_request{pan, tilt, zoom, focus, iris};
}

constexpr float absent = 32765.0f;

struct operation {
    const char *what;
    std::function<int()> call;
    int expected;  // the entry point's answer when it did its work (or refused, where said)
};

float float_out(void (*fn)(float *)) {
    float v = -1.0f;
    fn(&v);
    return v;
}

// Every entry point but setup and teardown, along its working paths (moves,
// stops, sleeps, pulses, mode switches, frames) and its refusal and logging
// paths, with the default configuration.
std::vector<operation> operations() {
    return {
        {"get_info",
         [] {
             const char *name, *version;
             const uint32_t *caps;
             const param_descriptor *t[8];
             int count = 0;
             const port_settings *port;
             const text_item *item;
             uint32_t *word;
             driver_get_info(&name, &version, &caps, &t[0], &t[1], &t[2], &t[3], &t[4], &t[5], &t[6], &t[7],
                             &count, &port, &item, &word);
             return count;
         },
         16},
        {"poll", [] { driver_poll(); return 1; }, 1},
        {"param_changed", [] { return driver_param_changed(); }, 1},
        {"move_cont pan and zoom", [] {
             const move_request r = request(50, absent, 20, absent, absent);
             return driver_move_cont(&r);
         }, 1},
        {"move_cont tilt wins, focus", [] {
             const move_request r = request(10, -40, absent, 30, absent);
             return driver_move_cont(&r);
         }, 1},
        {"move_cont zero stops all", [] {
             const move_request r = request(0, 0, 0, 0, absent);
             return driver_move_cont(&r);
         }, 1},
        {"move_cont iris steps", [] {
             const move_request r = request(absent, absent, absent, absent, -13);
             return driver_move_cont(&r);
         }, 1},
        {"move_cont null request (refused)", [] { return driver_move_cont(nullptr); }, 0},
        {"stop", [] { return driver_stop(); }, 1},
        {"move_rel all five axes", [] {
             const move_request r = request(10, -1, 1000, -1000, 1300);
             return driver_move_rel(&r);
         }, 1},
        {"move_rel below-one zoom", [] {
             const move_request r = request(absent, absent, 0.5f, absent, absent);
             return driver_move_rel(&r);
         }, 1},
        {"move_rel suspended during the pan", [] {
             fake::suspend_at_sleep(1);
             const move_request r = request(10, absent, 1000, absent, absent);
             const int result = driver_move_rel(&r);
             suspended = 0;
             return result;
         }, 0},
        {"set_device_preset", [] { return driver_set_device_preset(3); }, 1},
        {"goto_device_preset", [] { return driver_goto_device_preset(6); }, 1},
        {"goto_device_preset 0 (refused)", [] { return driver_goto_device_preset(0); }, 0},
        {"device_preset_range", [] {
             int low = 0, high = 0;
             driver_device_preset_range(&low, &high);
             return low * 100 + high;
         }, 106},
        {"set_speed", [] { return driver_set_speed(49.5f); }, 1},
        {"get_speed", [] { return static_cast<int>(driver_get_speed()); }, 50},
        {"set_speed NaN (refused)", [] { return driver_set_speed(__builtin_nanf("")); }, 0},
        {"bar_ranges", [] {
             float pan = 0, tilt = 0;
             driver_bar_ranges(&pan, &tilt);
             return static_cast<int>(pan) * 100 + static_cast<int>(tilt);
         }, 4878},
        {"pan_flipped", [] { return driver_pan_flipped(); }, 0},
        {"tilt_flipped", [] { return driver_tilt_flipped(); }, 0},
        {"zoom_compensation", [] { return driver_zoom_compensation(); }, 0},
        {"current_field_angle", [] { return static_cast<int>(float_out(driver_current_field_angle)); }, 45},
        {"autofocus on", [] { return driver_autofocus(1); }, 1},
        {"autofocus off", [] { return driver_autofocus(0); }, 1},
        {"autoiris on", [] { return driver_autoiris(1); }, 1},
        {"autoiris off", [] { return driver_autoiris(0); }, 1},
        {"backlight", [] { return driver_backlight(1); }, 1},
        {"ircutfilter 0", [] { return driver_ircutfilter(0); }, 1},
        {"ircutfilter 2", [] { return driver_ircutfilter(2); }, 1},
        {"relay1 pulse", [] { return driver_auxiliary("relay1:on"); }, 1},
        {"relay2 pulse cut short", [] {
             fake::suspend_at_sleep(1);
             const int result = driver_auxiliary("relay2:on");
             suspended = 0;
             return result;
         }, 0},
        {"relay3 on", [] { return driver_auxiliary("relay3:on"); }, 1},
        {"relay3 off", [] { return driver_auxiliary("relay3:off"); }, 1},
        {"relay command not recognised", [] { return driver_auxiliary("relay4:on"); }, 0},
        {"osdmenu open", [] { return driver_osdmenu(1); }, 1},
        {"osdmenu close", [] { return driver_osdmenu(0); }, 1},
        {"osdmenu up (refused)", [] { return driver_osdmenu(2); }, 0},
        {"osdmenu unknown code", [] { return driver_osdmenu(9); }, 0},
        {"camindex outside the records (refused)", [] {
             camindex = 5;
             const int result = driver_stop();
             camindex = 0;
             return result;
         }, 0},
    };
}

TEST_F(AllocTest, NoOtherEntryPointTouchesTheHeap) {
    fake::reset(2);
    ASSERT_EQ(driver_setup(), 1);
    for (const operation &op : operations()) {
        SCOPED_TRACE(op.what);
        fake::clear_log();
        probe::clear();
        EXPECT_EQ(op.call(), op.expected);
        EXPECT_TRUE(probe::events.empty()) << probe::events.size() << " heap calls";
    }
}

}  // namespace
