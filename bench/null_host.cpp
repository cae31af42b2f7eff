// The do-nothing host. Its services are as cheap as a host can be, so that
// what a measurement shows is the driver's own work.
#include "null_host.h"

#include <string.h>

extern "C" {
uint32_t cameras = 0;
int *camera_map = nullptr;
int camindex = 0;
int suspended = 0;
char drivermsg[256] = {};
}

namespace null_host {

Counters counters;

namespace {

int map_storage[256];

struct default_param {
    const char *key;
    int value;
};

// The descriptor's defaults, so that moves run with the default configuration.
const default_param defaults[] = {
    {"MoveSpeed", 100},        {"PanMoveTimePerDegree", 690}, {"TiltMoveTimePerDegree", 680},
    {"CurrentFieldAngle", 450}, {"PanBarRange", 48},          {"TiltBarRange", 78},
    {"ZoomSpeed", 100},        {"ZoomTime", 10500},           {"FocusSpeed", 100},
    {"FocusTime", 1500},       {"Relay1OnTime", 1000},        {"Relay2OnTime", 1000},
    {"MaxDevicePresetnbr", 6}, {"PanSpeedCompensation", -50}, {"TiltSpeedCompensation", -25},
    {"GoToPresetDelay", 5},    {"FlipPan", 0},                {"FlipTilt", 0},
};

// The driver asks with the same key texts every time: remember each text's
// answer by its address, so that a repeated request costs a few instructions.
struct memo_entry {
    const char *key;
    int value;
    int found;
};
memo_entry memo[64];

const memo_entry &lookup(const char *key) {
    // Open addressing: at most eighteen texts ever arrive, so the table never fills.
    uintptr_t i = reinterpret_cast<uintptr_t>(key) >> 2;
    for (;; ++i) {
        memo_entry &m = memo[i & 63];
        if (m.key == key) {
            return m;
        }
        if (m.key == nullptr) {
            m.key = key;
            for (const default_param &d : defaults) {
                if (strcmp(d.key, key) == 0) {
                    m.value = d.value;
                    m.found = 1;
                    break;
                }
            }
            return m;
        }
    }
}

int get_param(const char *key, int *value) {
    ++counters.other;
    const memo_entry &m = lookup(key);
    if (m.found != 0) {
        *value = m.value;
    }
    return m.found;
}

}  // namespace

void reset(uint32_t slots) {
    counters = Counters();
    for (int &m : map_storage) {
        m = 1;
    }
    cameras = slots;
    camera_map = map_storage;
    camindex = 0;
    suspended = 0;
}

uint64_t host_calls() { return counters.writes + counters.sleeps + counters.other; }

}  // namespace null_host

using null_host::counters;

extern "C" {

int ptz_write_port(const unsigned char * /*frame*/, int length) {
    ++counters.writes;
    counters.bytes += static_cast<uint64_t>(length);
    return 1;
}

int ptz_usleep(unsigned int /*usec*/) {
    ++counters.sleeps;
    return 1;
}

void ptz_action_started(int /*camera*/) { ++counters.other; }

void ptz_action_completed(int /*camera*/, int /*delay*/) { ++counters.other; }

int ptz_set_status(int, int, int, int, int, int, int, int, int, int, int, int, int, int) {
    ++counters.other;
    return 1;
}

int ptz_get_int_param(const char *key, int /*mode*/, int *value, int /*camera*/) {
    return null_host::get_param(key, value);
}

int ptz_get_bool_param(const char *key, int /*mode*/, int *value, int /*camera*/) {
    return null_host::get_param(key, value);
}

void ptz_request_poll(int /*zero*/) { ++counters.other; }

}  // extern "C"
