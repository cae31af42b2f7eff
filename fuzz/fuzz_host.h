// The host as the fuzz target plays it: the host globals and services, a
// configuration store, per-call host behaviour chosen by the input, and a
// checker that follows every frame the driver writes.
//
// The checker keeps, per camera slot, which axes the camera is running as
// far as the frames alone tell (a pan/tilt drive frame stops the other axis
// of the pair), and aborts on any malformed frame.
#ifndef FUZZ_HOST_H
#define FUZZ_HOST_H

#include <stdint.h>

#include "ptz_host.h"

namespace fuzzhost {

constexpr int max_slots = 8;  // entries behind camera_map
constexpr int key_count = 18;
constexpr int max_logged = 8;  // syslog lines kept per call

extern const char *const keys[key_count];  // request order
enum key_index {
    K_MOVE_SPEED, K_PAN_TIME, K_TILT_TIME, K_ZOOM_TIME, K_ZOOM_SPEED, K_FOCUS_TIME, K_FOCUS_SPEED,
    K_FIELD_ANGLE, K_PAN_BAR, K_TILT_BAR, K_MAX_PRESET, K_PAN_COMP, K_TILT_COMP, K_PRESET_DELAY,
    K_RELAY1_TIME, K_RELAY2_TIME, K_FLIP_PAN, K_FLIP_TILT
};

enum axis { PAN, TILT, ZOOM, FOCUS };

// What the host does during one entry-point call.
struct behaviour {
    uint32_t write_fail_mask = 0;  // bit i: the (i+1)-th write of the call fails
    bool fail_later_writes = false;  // every write past the 32nd fails
    int write_ok = 1;              // nonzero result of a successful write
    int cut_sleep = 0;             // 1-based sleep of the call that is cut short (0 = none)
    bool cut_suspends = true;      // the cut sleep also sets `suspended`
    int clock_mode = 0;            // 0 exact, 1 no advance, 2 double, 3 late by 0.7 s
};

// Sleeps one call may make before the host suspends the driver for good.
// Without it a huge iris or relay time would block for days, as it would in
// the field until the host suspended it.
constexpr int sleep_budget = 64;

// What one entry-point call did, as the host saw it.
struct call_record {
    int host_calls;   // every service call except syslog
    int first_kind;   // kind of the first and last of them
    int last_kind;
    int writes;
    int writes_failed;
    int last_write_result;
    int memory_byte;  // byte 5 of the last 7-byte frame, -1 if none
    int sleeps;
    int sleeps_cut;   // sleeps that returned 0
    int started;
    int completed;
    int completed_delay;
    int camera_numbers_wrong;  // started/completed with another camera than expected
    int statuses;
    int gets;
    int gets_failed;
    int polls;
    int syslogs;
    int syslog_prio[max_logged];
    char syslog_text[max_logged][200];
    bool drove[4];    // a drive frame for this axis was written in the call
};

enum call_kind { KIND_NONE, KIND_WRITE, KIND_SLEEP, KIND_STARTED, KIND_COMPLETED, KIND_STATUS, KIND_GET, KIND_POLL };

struct camera_state {
    bool running[4];
    bool relay_on[3];  // after the last successfully written relay frame
};

// Host-side configuration store and what the driver's records should hold.
struct store {
    int32_t value[max_slots][key_count];
    bool fails[max_slots][key_count];
};

extern store config;
extern call_record rec;
extern camera_state camera[max_slots];
extern int camera_map_storage[max_slots];

// Starts a call: `slot` is the camera the frames go to (-1: do not track, as
// in teardown, whose frames go to every configured camera in turn).
void begin_call(const behaviour &b, int slot, int expected_camera);
void end_call();

// Aborts with a message (the fuzzer then records the input).
[[noreturn]] void fail(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Called for every successful getter: the driver now holds that value.
extern void (*on_loaded)(int slot, int key, int32_t value);

}  // namespace fuzzhost

#endif
