// The recording fake host: host globals and services, syslog capture and a
// virtual monotonic clock.
#include "fake_host.h"

#include <dlfcn.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <sstream>

extern "C" {
uint32_t cameras = 0;
int *camera_map = nullptr;
int camindex = 0;
int suspended = 0;
char drivermsg[256] = {};
}

namespace fake {

const char drivermsg_marker[] = "untouched";

const std::map<std::string, int> &default_params() {
    static const std::map<std::string, int> defaults = {
        {"MoveSpeed", 100},           {"PanMoveTimePerDegree", 690}, {"TiltMoveTimePerDegree", 680},
        {"CurrentFieldAngle", 450},   {"PanBarRange", 48},           {"TiltBarRange", 78},
        {"ZoomSpeed", 100},           {"ZoomTime", 10500},           {"FocusSpeed", 100},
        {"FocusTime", 1500},          {"Relay1OnTime", 1000},        {"Relay2OnTime", 1000},
        {"MaxDevicePresetnbr", 6},    {"PanSpeedCompensation", -50}, {"TiltSpeedCompensation", -25},
        {"GoToPresetDelay", 5},       {"FlipPan", 0},                {"FlipTilt", 0},
    };
    return defaults;
}

Host &host() {
    static Host h;
    return h;
}

void reset(uint32_t slots, std::vector<int> configured) {
    Host &h = host();
    h = Host();
    if (configured.empty()) {
        configured.assign(slots, 1);
    }
    configured.resize(slots > 0 ? slots : 1, 0);
    h.map_storage = configured;
    for (uint32_t i = 0; i < slots; ++i) {
        h.params[static_cast<int>(i) + 1] = default_params();
    }
    cameras = slots;
    camera_map = h.map_storage.data();
    camindex = 0;
    suspended = 0;
    memset(drivermsg, 0, sizeof drivermsg);
    memcpy(drivermsg, drivermsg_marker, sizeof drivermsg_marker);
}

void set_param(int camera, const std::string &key, int value) { host().params[camera][key] = value; }

void fail_param(const std::string &key, int camera) { host().failing_keys.insert({camera, key}); }

void fail_write(int number) { host().write_results[host().writes + number] = 0; }

void fail_all_writes() { host().write_result = 0; }

void suspend_at_sleep(int number, int result) {
    SleepPlan plan;
    plan.result = result;
    plan.suspend = true;
    host().sleep_plans[host().sleeps + number] = plan;
}

void clear_log() {
    Host &h = host();
    h.log.clear();
}

std::vector<std::string> calls() { return host().log; }

namespace {
std::vector<std::string> filter(bool (*keep)(const std::string &)) {
    std::vector<std::string> out;
    for (const std::string &line : host().log) {
        if (keep(line)) {
            out.push_back(line);
        }
    }
    return out;
}
bool starts_with(const std::string &s, const char *prefix) { return s.rfind(prefix, 0) == 0; }
}  // namespace

std::vector<std::string> frames() {
    return filter([](const std::string &l) { return starts_with(l, "write "); });
}

std::vector<std::string> syslogs() {
    return filter([](const std::string &l) { return starts_with(l, "syslog "); });
}

std::vector<std::string> without_syslog() {
    return filter([](const std::string &l) { return !starts_with(l, "syslog "); });
}

std::string hex(const unsigned char *bytes, int length) {
    std::string out;
    char buf[4];
    for (int i = 0; i < length; ++i) {
        snprintf(buf, sizeof buf, "%02X", bytes[i]);
        if (i > 0) {
            out += ' ';
        }
        out += buf;
    }
    return out;
}

}  // namespace fake

using fake::host;

extern "C" {

int ptz_write_port(const unsigned char *frame, int length) {
    fake::Host &h = host();
    h.log.push_back("write " + fake::hex(frame, length));
    ++h.writes;
    auto it = h.write_results.find(h.writes);
    return it != h.write_results.end() ? it->second : h.write_result;
}

int ptz_usleep(unsigned int usec) {
    fake::Host &h = host();
    h.log.push_back("sleep " + std::to_string(usec));
    ++h.sleeps;
    fake::SleepPlan plan;
    auto it = h.sleep_plans.find(h.sleeps);
    if (it != h.sleep_plans.end()) {
        plan = it->second;
    }
    const int64_t advance = plan.advance_us >= 0 ? plan.advance_us : static_cast<int64_t>(usec);
    h.clock_ns += advance * 1000 + plan.extra_ns;
    if (plan.suspend) {
        suspended = 1;
    }
    return plan.result;
}

void ptz_action_started(int camera) { host().log.push_back("started " + std::to_string(camera)); }

void ptz_action_completed(int camera, int delay) {
    host().log.push_back("completed " + std::to_string(camera) + " " + std::to_string(delay));
}

int ptz_set_status(int a, int b, int c, int d, int e, int f, int g, int h2, int i, int j, int k, int l, int m,
                   int n) {
    std::ostringstream s;
    s << "status " << a << ' ' << b << ' ' << c << ' ' << d << ' ' << e << ' ' << f << ' ' << g << ' ' << h2
      << ' ' << i << ' ' << j << ' ' << k << ' ' << l << ' ' << m << ' ' << n;
    host().log.push_back(s.str());
    return 1;
}

static int get_param(const char *kind, const char *key, int mode, int *value, int camera) {
    fake::Host &h = host();
    h.log.push_back(std::string(kind) + " " + key + " " + std::to_string(mode) + " " + std::to_string(camera));
    if (h.failing_keys.count({0, key}) != 0 || h.failing_keys.count({camera, key}) != 0) {
        return 0;
    }
    auto cam = h.params.find(camera);
    if (cam == h.params.end()) {
        return 0;
    }
    auto it = cam->second.find(key);
    if (it == cam->second.end()) {
        return 0;
    }
    *value = it->second;
    return 1;
}

int ptz_get_int_param(const char *key, int mode, int *value, int camera) {
    return get_param("get_int", key, mode, value, camera);
}

int ptz_get_bool_param(const char *key, int mode, int *value, int camera) {
    return get_param("get_bool", key, mode, value, camera);
}

void ptz_request_poll(int zero) {
    ++host().polls;
    host().log.push_back("poll " + std::to_string(zero));
}

// ---- syslog capture ----

void vsyslog(int priority, const char *format, va_list args) {
    char text[512];
    vsnprintf(text, sizeof text, format, args);
    host().log.push_back("syslog " + std::to_string(priority) + " " + text);
}

void syslog(int priority, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vsyslog(priority, format, args);
    va_end(args);
}

void __vsyslog_chk(int priority, int /*flag*/, const char *format, va_list args) {
    vsyslog(priority, format, args);
}

void __syslog_chk(int priority, int /*flag*/, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vsyslog(priority, format, args);
    va_end(args);
}

// ---- virtual monotonic clock; other clocks are the real ones ----

int clock_gettime(clockid_t clock, struct timespec *ts) {
    if (clock == CLOCK_MONOTONIC) {
        const int64_t ns = host().clock_ns;
        ts->tv_sec = static_cast<time_t>(ns / 1000000000LL);
        ts->tv_nsec = static_cast<long>(ns % 1000000000LL);
        return 0;
    }
#ifdef SYS_clock_gettime64
    if (sizeof(ts->tv_sec) == 8) {
        return static_cast<int>(syscall(SYS_clock_gettime64, clock, ts));
    }
#endif
    return static_cast<int>(syscall(SYS_clock_gettime, clock, ts));
}

}  // extern "C"
