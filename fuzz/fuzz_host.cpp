// Host globals and services for the fuzz target, with the frame checker.
#include "fuzz_host.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

extern "C" {
uint32_t cameras = 0;
int *camera_map = nullptr;
int camindex = 0;
int suspended = 0;
char drivermsg[256] = {};
}

namespace fuzzhost {

const char *const keys[key_count] = {
    "MoveSpeed",          "PanMoveTimePerDegree", "TiltMoveTimePerDegree", "ZoomTime",
    "ZoomSpeed",          "FocusTime",            "FocusSpeed",            "CurrentFieldAngle",
    "PanBarRange",        "TiltBarRange",         "MaxDevicePresetnbr",    "PanSpeedCompensation",
    "TiltSpeedCompensation", "GoToPresetDelay",   "Relay1OnTime",          "Relay2OnTime",
    "FlipPan",            "FlipTilt",
};

store config;
call_record rec;
camera_state camera[max_slots];
int camera_map_storage[max_slots];
void (*on_loaded)(int, int, int32_t) = nullptr;

namespace {

behaviour now;
int tracked_slot = -1;
int pending_relay = 0;  // control byte of the relay frame being written
int expected_camera_number = 0;
bool in_call = false;
// Virtual CLOCK_MONOTONIC during calls. It restarts with every call: a call
// sleeps at most sleep_budget + 1 times, each under 2^33 us, so it cannot
// overflow, whereas a clock kept across millions of inputs would.
constexpr int64_t clock_start_ns = 1000LL * 1000000000LL;
int64_t clock_ns = clock_start_ns;

void host_call(int kind) {
    if (rec.host_calls == 0) {
        rec.first_kind = kind;
    }
    rec.last_kind = kind;
    ++rec.host_calls;
}

char frame_text[64];
const char *show(const unsigned char *f, int n) {
    int at = 0;
    for (int i = 0; i < n && i < 16; ++i) {
        at += snprintf(frame_text + at, sizeof frame_text - at, "%02X ", f[i]);
    }
    return frame_text;
}

bool one_of(unsigned char b, unsigned char x, unsigned char y) { return b == x || b == y; }

// A zoom or focus parameter: stop (00), or 2p / 3p with p in 0..7.
bool lens_param(unsigned char b) {
    return b == 0x00 || (((b >> 4) == 2 || (b >> 4) == 3) && (b & 0x0F) <= 7);
}

// Checks one frame against the documented frames and follows the axes it drives.
void check_frame(const unsigned char *f, int n) {
    if (f == nullptr) {
        fail("null frame");
    }
    if (n != 6 && n != 7 && n != 9) {
        fail("frame length %d", n);
    }
    if (f[0] != 0x81 || f[1] != 0x01) {
        fail("frame header: %s", show(f, n));
    }
    for (int i = 0; i < n - 1; ++i) {
        if (f[i] == 0xFF) {
            fail("0xFF before the end: %s", show(f, n));
        }
    }
    if (f[n - 1] != 0xFF) {
        fail("no terminator: %s", show(f, n));
    }
    const unsigned char cat = f[2];
    const unsigned char cmd = f[3];
    bool *run = tracked_slot >= 0 ? camera[tracked_slot].running : nullptr;
    auto set = [&](int a, bool on) {
        if (run != nullptr) {
            run[a] = on;
        }
        if (on) {
            rec.drove[a] = true;
        }
    };
    if (n == 9) {
        if (cat != 0x06 || cmd != 0x01) {
            fail("unknown 9-byte frame: %s", show(f, n));
        }
        const unsigned char vv = f[4], ww = f[5], pd = f[6], td = f[7];
        if (vv > 0x7F || ww > 0x7F) {
            fail("pan/tilt speed byte above 0x7F: %s", show(f, n));
        }
        if (vv == 0 && ww == 0 && pd == 3 && td == 3) {
            set(PAN, false);
            set(TILT, false);
        } else if (one_of(pd, 1, 2) && ww == 0 && td == 3) {
            set(PAN, true);
            set(TILT, false);  // the pair's frame carries the stop code for tilt
        } else if (pd == 3 && vv == 0 && one_of(td, 1, 2)) {
            set(TILT, true);
            set(PAN, false);
        } else {
            fail("malformed pan/tilt frame: %s", show(f, n));
        }
        return;
    }
    if (n == 7) {
        if (cat != 0x04 || cmd != 0x3F || !one_of(f[4], 0x01, 0x02)) {
            fail("unknown 7-byte frame: %s", show(f, n));
        }
        if (f[5] == 0xFF) {
            fail("preset memory byte 0xFF");
        }
        rec.memory_byte = f[5];
        return;
    }
    const unsigned char p = f[4];
    if (cat == 0x06) {
        if (cmd != 0x00) {
            fail("unknown 6-byte pan-tilt category frame: %s", show(f, n));
        }
        static const unsigned char relay_codes[6] = {0xA2, 0xA3, 0xB2, 0xB3, 0xC2, 0xC3};
        if (memchr(relay_codes, p, sizeof relay_codes) == nullptr) {
            fail("relay control byte: %s", show(f, n));
        }
        pending_relay = p;
        return;
    }
    if (cat != 0x04) {
        fail("unknown category: %s", show(f, n));
    }
    switch (cmd) {
    case 0x07:
    case 0x08:
        if (!lens_param(p)) {
            fail("zoom/focus parameter: %s", show(f, n));
        }
        set(cmd == 0x07 ? ZOOM : FOCUS, p != 0x00);
        return;
    case 0x38:  // focus mode
    case 0x0D:  // bright up/down
    case 0x33:  // backlight
    case 0x51:  // IR-cut automatic
    case 0x01:  // IR-cut filter
    case 0x15:  // menu
        if (!one_of(p, 0x02, 0x03)) {
            fail("mode parameter: %s", show(f, n));
        }
        return;
    case 0x39:  // exposure mode
        if (!one_of(p, 0x00, 0x0D)) {
            fail("exposure parameter: %s", show(f, n));
        }
        return;
    default:
        fail("unknown camera command: %s", show(f, n));
    }
}

int key_of(const char *key) {
    for (int k = 0; k < key_count; ++k) {
        if (key != nullptr && strcmp(key, keys[k]) == 0) {
            return k;
        }
    }
    fail("unknown key %s", key != nullptr ? key : "(null)");
}

int get_param(const char *key, int mode, int *value, int camera_number, bool boolean) {
    host_call(KIND_GET);
    ++rec.gets;
    const int k = key_of(key);
    if ((k >= K_FLIP_PAN) != boolean || mode != (boolean ? 0 : 1)) {
        fail("key %s requested with the wrong getter or mode %d", key, mode);
    }
    const int slot = camera_number - 1;
    if (slot < 0 || slot >= max_slots || static_cast<uint32_t>(slot) >= cameras) {
        fail("key %s requested for camera %d of %u", key, camera_number, cameras);
    }
    if (camera_map[slot] == 0) {
        fail("key %s requested for unconfigured camera %d", key, camera_number);
    }
    if (value == nullptr) {
        fail("null value pointer for %s", key);
    }
    if (config.fails[slot][k]) {
        ++rec.gets_failed;
        return 0;
    }
    *value = config.value[slot][k];
    if (on_loaded != nullptr) {
        on_loaded(slot, k, *value);
    }
    return 1;
}

void log_line(int priority, const char *format, va_list args) {
    if (rec.syslogs < max_logged) {
        rec.syslog_prio[rec.syslogs] = priority;
        vsnprintf(rec.syslog_text[rec.syslogs], sizeof rec.syslog_text[0], format, args);
    }
    ++rec.syslogs;
}

}  // namespace

void fail(const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    fputs("INVARIANT BROKEN: ", stderr);
    vfprintf(stderr, fmt, args);
    fputc('\n', stderr);
    va_end(args);
    abort();
}

void begin_call(const behaviour &b, int slot, int expected_camera) {
    now = b;
    tracked_slot = slot;
    expected_camera_number = expected_camera;
    memset(&rec, 0, sizeof rec);
    rec.memory_byte = -1;
    clock_ns = clock_start_ns;
    in_call = true;
}

void end_call() { in_call = false; }

}  // namespace fuzzhost

using namespace fuzzhost;

extern "C" {

int ptz_write_port(const unsigned char *frame, int length) {
    host_call(KIND_WRITE);
    check_frame(frame, length);
    const int i = rec.writes++;
    const bool failed = i < 32 ? (now.write_fail_mask >> i & 1u) != 0 : now.fail_later_writes;
    const int result = failed ? 0 : now.write_ok;
    if (pending_relay != 0 && tracked_slot >= 0) {
        bool *relay = camera[tracked_slot].relay_on;
        const int r = (pending_relay >> 4) - 0xA;  // A, B, C: relays 1, 2, 3
        const bool on = (pending_relay & 0x0F) == 0x02;
        // Relays 1 and 2 exclude each other: one is switched on only after
        // the other was switched off.
        if (on && r < 2 && relay[1 - r]) {
            fail("relay %d switched on while relay %d is on", r + 1, 2 - r);
        }
        if (!failed) {
            relay[r] = on;
        }
    }
    pending_relay = 0;
    rec.writes_failed += failed ? 1 : 0;
    rec.last_write_result = result;
    return result;
}

int ptz_usleep(unsigned int usec) {
    host_call(KIND_SLEEP);
    const int n = ++rec.sleeps;
    int64_t advance = usec;
    switch (now.clock_mode) {
    case 1: advance = 0; break;
    case 2: advance = 2 * static_cast<int64_t>(usec); break;
    case 3: advance = static_cast<int64_t>(usec) + 700000; break;
    default: break;
    }
    clock_ns += advance * 1000;
    int result = 1;
    if (n == now.cut_sleep) {
        result = 0;
        if (now.cut_suspends) {
            suspended = 1;
        }
    }
    if (n > sleep_budget) {
        result = 0;
        suspended = 1;
    }
    rec.sleeps_cut += result == 0 ? 1 : 0;
    return result;
}

void ptz_action_started(int camera_number) {
    host_call(KIND_STARTED);
    ++rec.started;
    if (camera_number != expected_camera_number) {
        ++rec.camera_numbers_wrong;
    }
}

void ptz_action_completed(int camera_number, int delay) {
    host_call(KIND_COMPLETED);
    ++rec.completed;
    rec.completed_delay = delay;
    if (camera_number != expected_camera_number) {
        ++rec.camera_numbers_wrong;
    }
}

int ptz_set_status(int a, int b, int c, int d, int e, int f, int g, int h, int i, int j, int k, int l, int m,
                   int n) {
    host_call(KIND_STATUS);
    ++rec.statuses;
    const int states[5] = {a, b, c, d, e};
    const int active[5] = {g, h, i, j, k};
    for (int x = 0; x < 5; ++x) {
        if ((states[x] != 0 && states[x] != 1 && states[x] != 3) || active[x] != (states[x] != 0 ? 1 : 0)) {
            fail("status axis %d: state %d active %d", x, states[x], active[x]);
        }
    }
    if (f != 0 || l != 2 || (m != 1 && m != 2) || (n != 1 && n != 2)) {
        fail("status constants/modes: %d %d %d %d", f, l, m, n);
    }
    return 1;
}

int ptz_get_int_param(const char *key, int mode, int *value, int camera_number) {
    return get_param(key, mode, value, camera_number, false);
}

int ptz_get_bool_param(const char *key, int mode, int *value, int camera_number) {
    return get_param(key, mode, value, camera_number, true);
}

void ptz_request_poll(int zero) {
    host_call(KIND_POLL);
    ++rec.polls;
    if (zero != 0) {
        fail("poll request with %d", zero);
    }
}

// ---- syslog: kept per call instead of going to the system log ----

void vsyslog(int priority, const char *format, va_list args) { log_line(priority, format, args); }

void syslog(int priority, const char *format, ...) {
    va_list args;
    va_start(args, format);
    log_line(priority, format, args);
    va_end(args);
}

void __vsyslog_chk(int priority, int /*flag*/, const char *format, va_list args) {
    log_line(priority, format, args);
}

void __syslog_chk(int priority, int /*flag*/, const char *format, ...) {
    va_list args;
    va_start(args, format);
    log_line(priority, format, args);
    va_end(args);
}

// ---- CLOCK_MONOTONIC is virtual inside a call (sleeps advance it); the
// fuzzer's own timing outside calls sees the real clocks ----

int clock_gettime(clockid_t clock, struct timespec *ts) {
    if (in_call && clock == CLOCK_MONOTONIC) {
        ts->tv_sec = static_cast<time_t>(clock_ns / 1000000000LL);
        ts->tv_nsec = static_cast<long>(clock_ns % 1000000000LL);
        return 0;
    }
    return static_cast<int>(syscall(SYS_clock_gettime, clock, ts));
}

}  // extern "C"
