// libFuzzer target: the input picks a configuration (0 to 4 slots, which are
// configured, any value for any key, keys that fail to load), then a sequence
// of entry-point calls with arguments and host behaviour taken from the input.
// After every call the results, the host calls and the camera's axes (as the
// frames tell them) are checked; a broken invariant aborts.
//
// Input layout (a byte past the end reads as 0):
//   cameras%5, camera_map bits, override count, {slot, key, int}...,
//   failure count, {slot, key}..., then calls:
//   {entry, camindex choice, host behaviour [details], arguments...}...
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <limits>

#include "fuzz_host.h"

using namespace fuzzhost;

namespace {

// ---- reading the input ----

struct reader {
    const uint8_t *data;
    size_t size;
    size_t at = 0;

    bool done() const { return at >= size; }
    uint8_t byte() { return at < size ? data[at++] : 0; }
    uint32_t word() {
        uint32_t w = 0;
        for (int i = 0; i < 4; ++i) {
            w |= static_cast<uint32_t>(byte()) << (8 * i);
        }
        return w;
    }
};

const float inf = std::numeric_limits<float>::infinity();
const float interesting_floats[] = {
    0.0f, -0.0f, 1.0f, -1.0f, 0.5f, -0.5f, 0.99f, -0.99f, 0.001f, 0.01f, 0.02f, 0.1f, 1.5f, 2.5f, -2.5f,
    5.9f, 6.0f, -6.0f, 10.0f, -10.0f, 45.0f, 50.0f, -50.0f, 100.0f, -100.0f, 150.0f, 623.9f, 624.0f,
    -624.0f, 1000.0f, -1000.0f, 19998.0f, 32764.0f, -32764.0f, 32765.0f, -32765.0f, 32766.0f, 1e6f, -1e6f,
    4294967.0f, 2147483520.0f, 2147483648.0f, -2147483648.0f, -2147483904.0f, 3e9f, -3e9f, 1e20f, -1e20f,
    std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(), inf, -inf,
    std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN(),
    std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::denorm_min(),
    std::numeric_limits<float>::min(), 1e-30f, 13.0f, -13.0f, 12.0f, 0.4f, 49.5f, -49.5f};
constexpr int float_count = sizeof interesting_floats / sizeof interesting_floats[0];

const int32_t interesting_ints[] = {
    0, 1, -1, 2, 3, 4, 5, 6, 7, 15, 16, 50, 51, 97, 98, 99, 100, 101, 102, 114, 115, 150, 227, 228, 255, 256,
    257, -255, 999, 1000, 1001, 1500, 5000, 10500, 107384, 107385, 150000, 4294967, 4294968, 1000000,
    0x40000000, INT32_MAX, INT32_MAX - 1, INT32_MIN, INT32_MIN + 1, -50, -100, -25, 690, 680, 60, -1000,
    300, 1499};
constexpr int int_count = sizeof interesting_ints / sizeof interesting_ints[0];

float read_float(reader &in) {
    const uint8_t s = in.byte();
    if (s < 192) {
        return interesting_floats[s % float_count];
    }
    const uint32_t bits = in.word();
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}

int32_t read_int(reader &in) {
    const uint8_t s = in.byte();
    if (s < 192) {
        return interesting_ints[s % int_count];
    }
    return static_cast<int32_t>(in.word());
}

const char *const relay_texts[] = {"relay1:on", "relay1:off", "relay2:on", "relay2:off", "relay3:on",
                                   "relay3:off", nullptr, "", "Relay1:on", "relay1:on ", "relay4:on",
                                   "relay1:o", "relay1:onx", "relay", " relay2:on", "relay3:OFF"};
constexpr int relay_text_count = sizeof relay_texts / sizeof relay_texts[0];

// A relay command: one of the texts above, or one of the six with a byte
// changed, or raw bytes.
const char *read_relay(reader &in, char *buf, size_t cap) {
    const uint8_t s = in.byte();
    if (s < 160) {
        return relay_texts[s % relay_text_count];
    }
    if (s < 224) {
        const char *base = relay_texts[s % 6];
        const size_t n = strlen(base);
        memcpy(buf, base, n + 1);
        buf[in.byte() % n] = static_cast<char>(in.byte());
        buf[n] = '\0';
        return buf;
    }
    const size_t n = in.byte() % (cap - 1);
    for (size_t i = 0; i < n; ++i) {
        buf[i] = static_cast<char>(in.byte());
    }
    buf[n] = '\0';
    return buf;
}

const int32_t camindex_choices[12] = {0, 1, 2, 3, 4, 5, -1, -2, INT32_MIN, INT32_MAX, 0x40000000, 7};

// ---- the model of what the driver's records hold ----

bool array_exists = false;
uint32_t array_slots = 0;
int32_t loaded[max_slots][key_count];  // the record fields as loaded (and move_speed as set)

void record_load(int slot, int key, int32_t value) {
    if (!array_exists || static_cast<uint32_t>(slot) >= array_slots) {
        fail("key loaded into slot %d outside the record array of %u", slot, array_slots);
    }
    loaded[slot][key] = value;
}

void forget_cameras() { memset(camera, 0, sizeof camera); }

const char marker[] = "\x01untouched";

const char *const messages[] = {
    "Error allocating memory for camera parameters", "Error refresh of parameters failed!", "failed",
    "OSD-UP command not supported", "OSD-DOWN command not supported", "OSD-LEFT command not supported",
    "OSD-RIGHT command not supported", "OSD-SELECT command not supported", "OSD-BACK command not supported",
    "Not supported or implemented OSD command!"};

// ---- checks shared by the entry points ----

bool slot_valid() { return array_exists && camindex >= 0 && static_cast<uint32_t>(camindex) < array_slots; }

void expect(bool ok, const char *entry, const char *what) {
    if (!ok) {
        fail("%s: %s", entry, what);
    }
}

// A refusal: nothing sent, no host bookkeeping, one LOG_ERR line naming the entry point.
void expect_refusal(const char *entry, int result) {
    expect(result == 0, entry, "refused call did not return 0");
    expect(rec.host_calls == 0, entry, "refused call made host calls");
    expect(rec.syslogs == 1 && rec.syslog_prio[0] == 3, entry, "refusal not logged once at LOG_ERR");
    char head[96];
    snprintf(head, sizeof head, "Error: tavrinode[");
    expect(strncmp(rec.syslog_text[0], head, strlen(head)) == 0, entry, "refusal line prefix");
    snprintf(head, sizeof head, "]%s(): ", entry);
    expect(strstr(rec.syslog_text[0], head) != nullptr, entry, "refusal line does not name the entry point");
}

bool logged_refusal() {
    for (int i = 0; i < rec.syslogs && i < max_logged; ++i) {
        if (strstr(rec.syslog_text[i], "Refused") != nullptr) {
            return true;
        }
    }
    return false;
}

// Bookkeeping: a start, if any, is the call's first host call.
void expect_started_first(const char *entry) {
    expect(rec.started <= 1, entry, "more than one action start");
    expect(rec.started == 0 || rec.first_kind == KIND_STARTED, entry, "action start is not the first call");
    expect(rec.camera_numbers_wrong == 0, entry, "action for another camera number");
}

void expect_all_stopped(const char *entry, int slot) {
    for (int a = 0; a < 4; ++a) {
        if (camera[slot].running[a]) {
            fail("%s: axis %d still running on slot %d", entry, a, slot);
        }
    }
}

int configured_loaded_slots(uint32_t limit) {
    int n = 0;
    for (uint32_t s = 0; s < limit && s < static_cast<uint32_t>(max_slots); ++s) {
        n += camera_map[s] != 0 ? 1 : 0;
    }
    return n;
}

struct call_scope {
    call_scope(const behaviour &b, int tracked) {
        memcpy(drivermsg, marker, sizeof marker);
        // Unsigned: camindex may be INT32_MAX.
        begin_call(b, tracked, static_cast<int>(static_cast<uint32_t>(camindex) + 1u));
    }
    ~call_scope() { end_call(); }
};

void check_drivermsg(const char *entry, bool may_write) {
    if (strcmp(drivermsg, marker) == 0) {
        return;
    }
    expect(may_write, entry, "drivermsg written");
    expect(memchr(drivermsg, '\0', 46) != nullptr, entry, "drivermsg longer than 46 bytes");
    for (const char *m : messages) {
        if (strcmp(drivermsg, m) == 0) {
            return;
        }
    }
    fail("%s: unknown drivermsg text '%s'", entry, drivermsg);
}

behaviour read_behaviour(reader &in) {
    behaviour b;
    const uint8_t h = in.byte();
    if (h & 0x01) {
        b.write_fail_mask = in.byte();
        b.write_fail_mask |= static_cast<uint32_t>(in.byte()) << 8;
        const uint8_t ok = in.byte();
        b.write_ok = ok % 4 == 0 ? 1 : ok % 4 == 1 ? 7 : ok % 4 == 2 ? -1 : 255;
    }
    if (h & 0x02) {
        b.cut_sleep = in.byte() % 80;
        b.cut_suspends = (h & 0x20) == 0;
    }
    suspended = (h & 0x04) ? 1 : 0;
    if (h & 0x08) {
        b.clock_mode = (h >> 4) & 3;
    }
    if (h & 0x40) {
        b.fail_later_writes = true;
        b.write_fail_mask = 0xFFFFFFFFu;
    }
    return b;
}

// Rounding of driver_set_speed worked out here: half away from zero, then
// made non-negative; NaN and values whose magnitude does not fit are refused.
bool expected_speed(float speed, int32_t *out) {
    double d = speed;
    d = d >= 0.0 ? d + 0.5 : d - 0.5;
    if (!(d > -2147483648.0 && d < 2147483648.0)) {
        return false;
    }
    const int32_t v = static_cast<int32_t>(d);
    *out = v < 0 ? -v : v;
    return true;
}

enum entry_code {
    E_GET_INFO, E_SETUP, E_POLL, E_TEARDOWN, E_PARAM_CHANGED, E_MOVE_CONT, E_STOP, E_MOVE_REL,
    E_SET_PRESET, E_GOTO_PRESET, E_PRESET_RANGE, E_SET_SPEED, E_GET_SPEED, E_BAR_RANGES, E_PAN_FLIPPED,
    E_TILT_FLIPPED, E_ZOOM_COMP, E_FIELD_ANGLE, E_AUTOFOCUS, E_AUTOIRIS, E_BACKLIGHT, E_IRCUT, E_AUXILIARY,
    E_OSDMENU, H_CAMERAS, H_CAMERA_MAP, H_CONFIG, H_FAILING, ENTRY_CODES
};

void call_setup(const behaviour &b) {
    // The slot count at setup stays within the host's camera_map.
    const uint32_t n = cameras <= 4 ? cameras : cameras % 5;
    cameras = n;
    memset(loaded, 0, sizeof loaded);
    forget_cameras();  // a new array knows of no running axis
    array_exists = true;  // n <= 4 records always fit
    array_slots = n;
    int r;
    {
        call_scope scope(b, -1);
        r = driver_setup();
    }
    const char *e = "driver_setup";
    expect(rec.host_calls == rec.gets, e, "setup made host calls other than the getters");
    expect(rec.gets == key_count * configured_loaded_slots(n), e, "setup requested the wrong number of keys");
    expect(r == (rec.gets_failed == 0 ? 1 : 0), e, "setup result does not match the loading");
    check_drivermsg(e, r == 0);
    if (r == 0) {
        expect(strcmp(drivermsg, "Error refresh of parameters failed!") == 0, e, "failed setup message");
    }
}

void call_teardown(const behaviour &b) {
    {
        call_scope scope(b, -1);
        driver_teardown();
    }
    const char *e = "driver_teardown";
    if (!array_exists) {
        expect(rec.host_calls == 0 && rec.syslogs == 0, e, "teardown without records made calls");
    } else {
        const uint32_t limit = cameras < array_slots ? cameras : array_slots;
        expect(rec.polls == 1 && rec.last_kind == KIND_POLL, e, "poll request missing or not last");
        expect(rec.started == 0 && rec.completed == 0, e, "teardown reported an action");
        expect(rec.statuses == configured_loaded_slots(limit), e, "teardown status count");
    }
    check_drivermsg(e, false);
    array_exists = false;
    array_slots = 0;
    forget_cameras();
}

// Runs one entry point (or host change) chosen by the input.
void run_one(reader &in) {
    const int code = in.byte() % ENTRY_CODES;
    const uint8_t ci = in.byte();
    if (ci < 12) {
        camindex = camindex_choices[ci];
    }
    const behaviour b = read_behaviour(in);
    const bool valid = slot_valid();
    const int slot = valid ? camindex : -1;
    int r = 0;

    switch (code) {
    case E_GET_INFO: {
        const uint8_t nulls = in.byte();
        const char *name = nullptr, *version = nullptr;
        const uint32_t *caps = nullptr;
        const param_descriptor *t[8] = {};
        int count = -1;
        const port_settings *port = nullptr;
        const text_item *item = nullptr;
        uint32_t *word = nullptr;
        {
            call_scope scope(b, -1);
            driver_get_info(nulls & 1 ? nullptr : &name, nulls & 2 ? nullptr : &version,
                            nulls & 4 ? nullptr : &caps, &t[0], &t[1], &t[2], &t[3], &t[4], &t[5], &t[6],
                            nulls & 8 ? nullptr : &t[7], nulls & 16 ? nullptr : &count,
                            nulls & 32 ? nullptr : &port, nulls & 64 ? nullptr : &item,
                            nulls & 128 ? nullptr : &word);
        }
        const char *e = "driver_get_info";
        expect(rec.host_calls == 0 && rec.syslogs == 0, e, "host calls");
        expect((nulls & 1) || (name && strcmp(name, "Tavrinode") == 0), e, "name");
        expect((nulls & 2) || (version && strcmp(version, "4.04") == 0), e, "version");
        expect((nulls & 4) || (caps && caps[0] == 0x03C771B6u && caps[1] == 0x0000C133u), e, "caps");
        expect((nulls & 16) || count == 16, e, "count");
        int rows = 0;
        for (const param_descriptor *d = (nulls & 8) ? nullptr : t[7]; d && d->kind != 0; ++d) {
            ++rows;
        }
        expect((nulls & 8) || rows == 16, e, "table 8 rows");
        expect((nulls & 32) || (port && port->baud == 9600), e, "port");
        expect((nulls & 64) || (item && strcmp(item->text, "-") == 0), e, "item");
        expect((nulls & 128) || word != nullptr, e, "host word");
        check_drivermsg(e, false);
        return;
    }
    case E_SETUP:
        if (in.byte() & 1) {
            cameras = in.byte() % 5;
        }
        call_setup(b);
        return;
    case E_POLL: {
        {
            call_scope scope(b, -1);
            driver_poll();
        }
        expect(rec.host_calls == 0 && rec.syslogs == 0, "driver_poll", "poll did something");
        return;
    }
    case E_TEARDOWN:
        call_teardown(b);
        return;
    case E_PARAM_CHANGED: {
        {
            call_scope scope(b, -1);
            r = driver_param_changed();
        }
        const char *e = "driver_param_changed";
        expect(rec.host_calls == rec.gets, e, "host calls other than the getters");
        if (!array_exists) {
            expect(r == 0 && rec.gets == 0, e, "without records: not 0 or keys requested");
        } else {
            const uint32_t limit = cameras < array_slots ? cameras : array_slots;
            expect(rec.gets == key_count * configured_loaded_slots(limit), e, "wrong number of keys");
            expect(r == (rec.gets_failed == 0 ? 1 : 0), e, "result does not match the loading");
        }
        check_drivermsg(e, false);
        return;
    }
    case E_MOVE_CONT:
    case E_MOVE_REL: {
        move_request req;
        req.pan = read_float(in);
        req.tilt = read_float(in);
        req.zoom = read_float(in);
        req.focus = read_float(in);
        req.iris = read_float(in);
        const bool null_request = (in.byte() & 0x1F) == 0x1F;
        const char *e = code == E_MOVE_CONT ? "driver_move_cont" : "driver_move_rel";
        {
            call_scope scope(b, slot);
            const move_request *p = null_request ? nullptr : &req;
            r = code == E_MOVE_CONT ? driver_move_cont(p) : driver_move_rel(p);
        }
        check_drivermsg(e, false);
        if (!valid || null_request) {
            expect_refusal(e, r);
            return;
        }
        expect_started_first(e);
        if (code == E_MOVE_CONT) {
            expect(r == 1, e, "result not 1");
            expect(rec.completed <= 1, e, "completed more than once");
            return;
        }
        expect(r == 0 || r == 1, e, "result outside 0/1");
        expect(rec.completed == 1 && rec.last_kind == KIND_COMPLETED, e, "not completed exactly once, last");
        expect(rec.completed_delay == 2, e, "completion delay");
        expect(!logged_refusal() || r == 0, e, "an axis was refused yet the result is 1");
        const float m[5] = {req.pan, req.tilt, req.zoom, req.focus, req.iris};
        bool any = false;
        for (float x : m) {
            any = any || (x < 32765.0f && x != 0.0f);
        }
        expect(rec.started == (any ? 1 : 0), e, "action start does not match the request");
        bool drove = false;
        for (int a = 0; a < 4; ++a) {
            drove = drove || rec.drove[a];
        }
        // The last axis epilogue stopped whatever the driver had running.
        if (drove) {
            expect_all_stopped(e, slot);
        }
        return;
    }
    case E_STOP: {
        {
            call_scope scope(b, slot);
            r = driver_stop();
        }
        const char *e = "driver_stop";
        if (!valid) {
            expect_refusal(e, r);
            return;
        }
        expect(r == 1, e, "result not 1");
        expect(rec.started == 0, e, "stop started an action");
        expect(rec.completed == 1 && rec.last_kind == KIND_COMPLETED, e, "not completed once, last");
        expect(rec.camera_numbers_wrong == 0, e, "camera number");
        expect_all_stopped(e, slot);
        return;
    }
    case E_SET_PRESET:
    case E_GOTO_PRESET: {
        const int32_t preset = read_int(in);
        const bool store = code == E_SET_PRESET;
        const char *e = store ? "driver_set_device_preset" : "driver_goto_device_preset";
        {
            call_scope scope(b, slot);
            r = store ? driver_set_device_preset(preset) : driver_goto_device_preset(preset);
        }
        check_drivermsg(e, false);
        if (!valid || preset < 1 || preset > 255) {
            expect_refusal(e, r);
            return;
        }
        expect(rec.memory_byte == preset - 1, e, "memory byte is not preset - 1");
        if (store) {
            expect(r == 1 && rec.host_calls == 1 && rec.writes == 1, e, "store: not one frame and 1");
            return;
        }
        expect_started_first(e);
        expect(rec.started == 1 && rec.completed == 1 && rec.last_kind == KIND_COMPLETED, e,
               "recall bookkeeping");
        expect(rec.completed_delay == loaded[slot][K_PRESET_DELAY], e, "recall delay");
        expect(r == rec.last_write_result, e, "recall result is not the write's");
        expect_all_stopped(e, slot);
        return;
    }
    case E_PRESET_RANGE: {
        const uint8_t nulls = in.byte();
        int low = -12345, high = -12345;
        {
            call_scope scope(b, slot);
            driver_device_preset_range(nulls & 1 ? nullptr : &low, nulls & 2 ? nullptr : &high);
        }
        const char *e = "driver_device_preset_range";
        if (!valid) {
            expect_refusal(e, 0);
            expect(low == -12345 && high == -12345, e, "refused call wrote outputs");
            return;
        }
        expect(rec.host_calls == 0, e, "host calls");
        expect((nulls & 1) ? low == -12345 : low == 1, e, "low");
        expect((nulls & 2) ? high == -12345 : high == loaded[slot][K_MAX_PRESET], e, "high");
        return;
    }
    case E_SET_SPEED: {
        const float speed = read_float(in);
        {
            call_scope scope(b, slot);
            r = driver_set_speed(speed);
        }
        const char *e = "driver_set_speed";
        if (!valid) {
            expect_refusal(e, r);
            return;
        }
        int32_t v = 0;
        if (expected_speed(speed, &v)) {
            expect(r == 1 && rec.host_calls == 0 && rec.syslogs == 0, e, "accepted speed");
            loaded[slot][K_MOVE_SPEED] = v;
        } else {
            expect_refusal(e, r);
        }
        return;
    }
    case E_GET_SPEED:
    case E_PAN_FLIPPED:
    case E_TILT_FLIPPED:
    case E_ZOOM_COMP: {
        float f = 0.0f;
        {
            call_scope scope(b, slot);
            switch (code) {
            case E_GET_SPEED: f = driver_get_speed(); break;
            case E_PAN_FLIPPED: r = driver_pan_flipped(); break;
            case E_TILT_FLIPPED: r = driver_tilt_flipped(); break;
            default: r = driver_zoom_compensation(); break;
            }
        }
        const char *e = code == E_GET_SPEED      ? "driver_get_speed"
                        : code == E_PAN_FLIPPED  ? "driver_pan_flipped"
                        : code == E_TILT_FLIPPED ? "driver_tilt_flipped"
                                                 : "driver_zoom_compensation";
        if (!valid) {
            expect_refusal(e, r);
            expect(f == 0.0f, e, "refused float not 0");
            return;
        }
        expect(rec.host_calls == 0 && rec.syslogs == 0, e, "host calls");
        switch (code) {
        case E_GET_SPEED:
            expect(f == static_cast<float>(loaded[slot][K_MOVE_SPEED]), e, "speed");
            break;
        case E_PAN_FLIPPED: expect(r == loaded[slot][K_FLIP_PAN], e, "flip"); break;
        case E_TILT_FLIPPED: expect(r == loaded[slot][K_FLIP_TILT], e, "flip"); break;
        default: expect(r == 0, e, "not 0"); break;
        }
        return;
    }
    case E_BAR_RANGES:
    case E_FIELD_ANGLE: {
        const uint8_t nulls = in.byte();
        float a = -7.0f, c = -7.0f;
        {
            call_scope scope(b, slot);
            if (code == E_BAR_RANGES) {
                driver_bar_ranges(nulls & 1 ? nullptr : &a, nulls & 2 ? nullptr : &c);
            } else {
                driver_current_field_angle(nulls & 1 ? nullptr : &a);
            }
        }
        const char *e = code == E_BAR_RANGES ? "driver_bar_ranges" : "driver_current_field_angle";
        if (!valid) {
            expect_refusal(e, 0);
            expect(a == -7.0f && c == -7.0f, e, "refused call wrote outputs");
            return;
        }
        expect(rec.host_calls == 0 && rec.syslogs == 0, e, "host calls");
        if (code == E_BAR_RANGES) {
            expect((nulls & 1) ? a == -7.0f : a == static_cast<float>(loaded[slot][K_PAN_BAR]), e, "pan");
            expect((nulls & 2) ? c == -7.0f : c == static_cast<float>(loaded[slot][K_TILT_BAR]), e, "tilt");
        } else {
            const float want = static_cast<float>(static_cast<double>(loaded[slot][K_FIELD_ANGLE]) / 10.0);
            expect((nulls & 1) ? a == -7.0f : a == want, e, "angle");
        }
        return;
    }
    case E_AUTOFOCUS:
    case E_AUTOIRIS:
    case E_BACKLIGHT:
    case E_IRCUT: {
        const int32_t arg = read_int(in);
        {
            call_scope scope(b, slot);
            switch (code) {
            case E_AUTOFOCUS: r = driver_autofocus(arg); break;
            case E_AUTOIRIS: r = driver_autoiris(arg); break;
            case E_BACKLIGHT: r = driver_backlight(arg); break;
            default: r = driver_ircutfilter(arg); break;
            }
        }
        const char *e = code == E_AUTOFOCUS  ? "driver_autofocus"
                        : code == E_AUTOIRIS ? "driver_autoiris"
                        : code == E_BACKLIGHT ? "driver_backlight"
                                              : "driver_ircutfilter";
        check_drivermsg(e, false);
        if (!valid) {
            expect_refusal(e, r);
            return;
        }
        expect_started_first(e);
        expect(rec.completed <= 1 && rec.syslogs == 0, e, "completions or logs");
        if (code == E_AUTOFOCUS || code == E_AUTOIRIS) {
            expect(rec.writes <= 1 && rec.started == rec.writes, e, "frame and action start disagree");
            expect(r == (rec.writes == 1 ? rec.last_write_result : 1), e, "result");
            expect(rec.statuses == 1, e, "status not published once");
        } else {
            const int frames = code == E_IRCUT && (arg == 0 || arg == 1) ? 2 : 1;
            expect(rec.writes == frames && rec.started == 1, e, "frames");
            expect(r == rec.last_write_result, e, "result is not the last write's");
        }
        return;
    }
    case E_AUXILIARY: {
        char buf[24];
        const char *command = read_relay(in, buf, sizeof buf);
        bool known = false;
        for (int i = 0; i < 6 && command != nullptr; ++i) {
            known = known || strcmp(command, relay_texts[i]) == 0;
        }
        {
            call_scope scope(b, slot);
            r = driver_auxiliary(command);
        }
        const char *e = "driver_auxiliary";
        check_drivermsg(e, false);
        if (!valid) {
            expect_refusal(e, r);
            return;
        }
        expect(rec.started == 0 && rec.completed == 0 && rec.statuses == 0, e, "action bookkeeping");
        expect(r == 0 || r == 1, e, "result outside 0/1");
        if (!known) {
            expect(r == 0 && rec.host_calls == 0, e, "unknown command sent something or succeeded");
            expect(rec.syslogs == 1 && rec.syslog_prio[0] == 3 &&
                       strstr(rec.syslog_text[0], "Command not recognized!") != nullptr,
                   e, "unknown command not logged");
            return;
        }
        expect(r == 0 || (rec.writes_failed == 0 && rec.sleeps_cut == 0), e, "failure reported as success");
        expect(rec.sleeps <= sleep_budget + 1, e, "pulse went on after the host suspended it");
        return;
    }
    case E_OSDMENU: {
        const int32_t menu = read_int(in);
        {
            call_scope scope(b, slot);
            r = driver_osdmenu(menu);
        }
        const char *e = "driver_osdmenu";
        if (!valid) {
            check_drivermsg(e, false);
            expect_refusal(e, r);
            return;
        }
        check_drivermsg(e, true);
        expect(rec.started == 0 && rec.completed == 0 && rec.statuses == 0, e, "action bookkeeping");
        if (menu == 0 || menu == 1) {
            expect(rec.writes == 1 && r == (rec.last_write_result != 0 ? 1 : 0), e, "menu frame result");
        } else {
            expect(rec.writes == 0 && r == 0, e, "navigation sent a frame or succeeded");
        }
        return;
    }
    case H_CAMERAS: {
        // The host changes the slot count while the records exist.
        static const uint32_t counts[8] = {0, 1, 2, 3, 4, 8, 0x40000000u, 0xFFFFFFFFu};
        cameras = counts[in.byte() % 8];
        return;
    }
    case H_CAMERA_MAP:
        camera_map_storage[in.byte() % 4] ^= 1;
        return;
    case H_CONFIG: {
        const int s = in.byte() % 4;
        const int k = in.byte() % key_count;
        config.value[s][k] = read_int(in);
        return;
    }
    case H_FAILING: {
        const int s = in.byte() % 4;
        const int k = in.byte() % key_count;
        config.fails[s][k] = !config.fails[s][k];
        return;
    }
    default:
        return;
    }
}

const int32_t defaults[key_count] = {100, 690, 680, 10500, 100, 1500, 100, 450, 48,
                                     78,  6,   -50, -25,  5,     1000, 1000, 0, 0};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    on_loaded = record_load;
    reader in{data, size};

    // A fresh host for every input.
    for (int s = 0; s < max_slots; ++s) {
        memcpy(config.value[s], defaults, sizeof defaults);
        memset(config.fails[s], 0, sizeof config.fails[s]);
    }
    cameras = in.byte() % 5;
    const uint8_t map = in.byte();
    for (int s = 0; s < max_slots; ++s) {
        camera_map_storage[s] = (map >> s) & 1;
    }
    camera_map = camera_map_storage;
    camindex = 0;
    suspended = 0;
    const int overrides = in.byte() % 48;
    for (int i = 0; i < overrides; ++i) {
        const int s = in.byte() % 4;
        const int k = in.byte() % key_count;
        config.value[s][k] = read_int(in);
    }
    const int failures = in.byte() % 8;
    for (int i = 0; i < failures; ++i) {
        const int s = in.byte() % 4;
        config.fails[s][in.byte() % key_count] = true;
    }
    forget_cameras();
    array_exists = false;
    array_slots = 0;
    call_setup(behaviour());

    for (int calls = 0; calls < 48 && !in.done(); ++calls) {
        run_one(in);
    }

    // Leave nothing allocated for the next input.
    suspended = 0;
    call_teardown(behaviour());
    return 0;
}
