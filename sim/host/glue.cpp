// The stand-in host glue: `main`, the host globals and the host services the
// driver calls, for running the driver program on a PC.
//
// It does what the target's glue library does for the driver: reads the
// per-camera configuration, owns the serial line, sleeps, keeps the action
// bookkeeping and shows status and poll requests. Every service prints one
// readable line, so a session shows exactly what the driver asked for.
#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <mutex>

#include "console.h"
#include "ptz_host.h"
#include "runtime.h"

// ---- host globals ----
extern "C" {
uint32_t cameras = 0;
int *camera_map = nullptr;
int camindex = 0;
int suspended = 0;
char drivermsg[256] = "";
}

namespace host {

volatile sig_atomic_t interrupts = 0;
sigset_t wait_mask;

Runtime &runtime() {
    static Runtime r;
    return r;
}

double elapsed() { return line::monotonic_seconds() - runtime().start; }

void say(const std::string &text) {
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    fputs((text + "\n").c_str(), stdout);
}

namespace {

void on_interrupt(int) { interrupts = interrupts + 1; }

struct timespec to_timespec(double seconds) {
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>((seconds - static_cast<double>(ts.tv_sec)) * 1e9);
    if (ts.tv_nsec >= 1000000000L) ts.tv_nsec = 999999999L;
    return ts;
}

}  // namespace

std::string status_text(const int v[14]) {
    static const char *const axes[5] = {"pan", "tilt", "zoom", "iris", "focus"};
    std::string moving;
    for (int a = 0; a < 5; ++a) {
        if (v[6 + a] != 0) {
            moving += (moving.empty() ? "" : ", ") + std::string(axes[a]) +
                      (v[a] == 3 ? " driving" : v[a] == 1 ? " active" : " active (state " + std::to_string(v[a]) + ")");
        }
    }
    std::string raw;
    for (int i = 0; i < 14; ++i) raw += (i ? " " : "") + std::to_string(v[i]);
    return "status: " + (moving.empty() ? std::string("idle") : moving) + "; iris " +
           (v[12] == 1 ? "auto" : "manual") + ", focus " + (v[13] == 1 ? "auto" : "manual") + "  [" + raw + "]";
}

namespace {

void usage(FILE *out) {
    fputs(
        "usage: tavrinode [options] [command ...]\n"
        "Runs the driver under the stand-in host. Commands come from the arguments, from\n"
        "--script FILE, or from standard input (an interactive console on a terminal).\n"
        "  --config FILE      camera configuration (INI: [host] cameras = N, [cameraN] key = value)\n"
        "  --port DEVICE      write the frames to a serial device (the driver's port settings)\n"
        "  --pty              create a pseudo-terminal, print its path and write the frames there\n"
        "                     (without --port or --pty the built-in virtual camera takes them)\n"
        "  --script FILE      run the commands of FILE, one per line\n"
        "  --trace            also show sleeps, parameter requests and bytes coming back\n"
        "  --verify           run the verification plan (console command \"verify\") and leave\n"
        "  --verify-plot FILE with it, draw requested against reached and the error per move (SVG)\n"
        "  --profile NAME|FILE  built-in camera: camera profile (proportional, linear, geometric,\n"
        "                     stepped, or a profile file; default proportional)\n"
        "  --timeline FILE    built-in camera: write a picture of the session (SVG) at the end\n"
        "  --replies          built-in camera: send acknowledge and completion replies\n"
        "  --buffer-limit     built-in camera: two commands in execution at most (\"buffer full\")\n"
        "  --exec-ms N        built-in camera: how long an ordinary command is in execution\n"
        "Type \"help\" at the console for its commands.\n",
        out);
}

bool parse_options(int argc, char **argv, Options *o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string *out) {
            if (i + 1 >= argc) {
                fprintf(stderr, "tavrinode: %s needs a value\n", a.c_str());
                return false;
            }
            *out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--config") {
            if (!value(&o->config_path)) return false;
        } else if (a == "--port") {
            if (!value(&o->port_device)) return false;
        } else if (a == "--pty") {
            o->pty = true;
        } else if (a == "--trace") {
            o->trace = true;
        } else if (a == "--script") {
            if (!value(&o->script)) return false;
        } else if (a == "--timeline") {
            if (!value(&o->timeline)) return false;
        } else if (a == "--verify") {
            o->commands.push_back("verify");
        } else if (a == "--verify-plot") {
            if (!value(&o->verify_plot)) return false;
        } else if (a == "--profile") {
            if (!value(&v)) return false;
            std::string error;
            if (!sim::load_profile(v, &o->camera_model.profile, &error)) {
                fprintf(stderr, "tavrinode: %s\n", error.c_str());
                return false;
            }
        } else if (a == "--replies") {
            o->camera_model.replies = true;
        } else if (a == "--buffer-limit") {
            o->camera_model.buffer_limit = true;
        } else if (a == "--exec-ms") {
            if (!value(&v)) return false;
            char *end = nullptr;
            const double ms = strtod(v.c_str(), &end);
            if (end == v.c_str() || *end != '\0' || !(ms > 0) || ms > 60000) {
                fprintf(stderr, "tavrinode: --exec-ms: '%s' is not a time in milliseconds\n", v.c_str());
                return false;
            }
            o->camera_model.exec_ms = ms;
        } else if (a == "--help" || a == "-h") {
            usage(stdout);
            exit(0);
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            fprintf(stderr, "tavrinode: unknown option '%s'\n", a.c_str());
            return false;
        } else {
            o->commands.push_back(a);
        }
    }
    if (o->pty && !o->port_device.empty()) {
        fprintf(stderr, "tavrinode: give --port or --pty, not both\n");
        return false;
    }
    if (!o->script.empty() && !o->commands.empty()) {
        fprintf(stderr, "tavrinode: give commands or --script, not both\n");
        return false;
    }
    return true;
}

// The driver's port settings, as the line is to be opened.
bool line_settings(const Descriptor &d, line::Settings *s, std::string *error) {
    if (d.port == nullptr) {
        *error = "the driver gives no port settings";
        return false;
    }
    const std::string type = d.port->type ? d.port->type : "";
    const std::string parity = d.port->parity ? d.port->parity : "";
    if (type != "RS232") {
        *error = "unsupported line type '" + type + "'";
        return false;
    }
    s->baud = static_cast<long>(d.port->baud);
    s->data_bits = static_cast<int>(d.port->data_bits);
    s->stop_bits = static_cast<int>(d.port->stop_bits);
    if (parity == "None") {
        s->parity = 'N';
    } else if (parity == "Even") {
        s->parity = 'E';
    } else if (parity == "Odd") {
        s->parity = 'O';
    } else {
        *error = "unsupported parity '" + parity + "'";
        return false;
    }
    return true;
}

bool open_port(Runtime &r, std::string *error) {
    TraceSink replies;
    if (r.options.trace) {
        replies = [](const std::string &text) { say(text); };
    }
    if (r.options.port_device.empty() && !r.options.pty) {
        r.port = make_camera_port(r.options.camera_model, r.start, replies);
        return true;
    }
    line::Settings settings;
    if (!line_settings(r.descriptor, &settings, error)) {
        return false;
    }
    if (r.options.pty) {
        line::Pty pty;
        if (!line::open_pty(settings, &pty, error)) return false;
        say("pty " + pty.path);
        r.port = make_line_port(pty.master, pty.slave, "pseudo-terminal " + pty.path, r.start, replies);
        return true;
    }
    const int fd = line::open_serial(r.options.port_device, settings, error);
    if (fd < 0) return false;
    r.port = make_line_port(fd, -1, r.options.port_device, r.start, replies);
    return true;
}

}  // namespace

void publish_config() {
    Runtime &r = runtime();
    r.map_storage = r.config.configured;
    cameras = r.config.cameras;
    camera_map = r.map_storage.data();
}

bool interruptible_sleep(double seconds) {
    struct timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    const struct timespec span = to_timespec(seconds);
    deadline.tv_sec += span.tv_sec;
    deadline.tv_nsec += span.tv_nsec;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_nsec -= 1000000000L;
        deadline.tv_sec += 1;
    }
    const double end = static_cast<double>(deadline.tv_sec) + static_cast<double>(deadline.tv_nsec) / 1e9;
    while (true) {
        if (interrupts > 0) return false;
        const double left = end - line::monotonic_seconds();
        if (left <= 0) return true;
        // The kernel lets a poll timeout run late by 0.1 % of its length
        // (6 ms on a 6 s pan), so ppoll, where Ctrl-C gets through, is told
        // to wake a little early, and the last millisecond is slept on the
        // monotonic clock itself.
        const double early = left / 500 + 0.001;
        if (left > early) {
            const struct timespec ts = to_timespec(left - early);
            ppoll(nullptr, 0, &ts, &wait_mask);
        } else {
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
        }
    }
}

bool take_interrupt() {
    // Let a Ctrl-C that arrived while the signal was held come through now.
    const struct timespec zero = {0, 0};
    ppoll(nullptr, 0, &zero, &wait_mask);
    if (interrupts > 0) {
        interrupts = 0;
        return true;
    }
    return false;
}

}  // namespace host

using host::runtime;
using host::say;

// ---- host services ----
extern "C" {

int ptz_write_port(const unsigned char *frame, int length) {
    host::Runtime &r = runtime();
    if (frame == nullptr || length <= 0) {
        say("  write refused: no frame");
        return 0;
    }
    const visca::Bytes bytes(frame, frame + length);
    const double t = host::elapsed();
    r.events.push_back({t, true, bytes, 0});
    std::string note, error;
    const bool ok = r.port != nullptr && r.port->write(frame, static_cast<size_t>(length), &note, &error);
    std::string text = visca::format_time(t) + " -> " + visca::hex(bytes) + "  " + visca::describe(visca::decode(bytes));
    if (!note.empty()) text += "  [" + note + "]";
    if (!ok) text += "  [write failed: " + (r.port ? error : std::string("no port")) + "]";
    say(text);
    return ok ? 1 : 0;
}

int ptz_usleep(unsigned int usec) {
    host::Runtime &r = runtime();
    r.events.push_back({host::elapsed(), false, {}, usec});
    if (r.options.trace) say("  sleep " + std::to_string(usec) + " us");
    if (suspended != 0) {
        return 0;
    }
    const double begin = line::monotonic_seconds();
    if (!host::interruptible_sleep(usec / 1e6)) {
        host::interrupts = 0;
        suspended = 1;
        char buf[96];
        snprintf(buf, sizeof buf, "  interrupted: sleep of %u us cut short after %.0f ms, driver suspended", usec,
                 (line::monotonic_seconds() - begin) * 1000);
        say(buf);
        return 0;
    }
    return 1;
}

void ptz_action_started(int camera) { say("  started camera " + std::to_string(camera)); }

void ptz_action_completed(int camera, int delay) {
    say("  completed camera " + std::to_string(camera) + ", delay " + std::to_string(delay));
}

int ptz_set_status(int pan_state, int tilt_state, int zoom_state, int iris_state, int focus_state, int zero,
                   int pan_active, int tilt_active, int zoom_active, int iris_active, int focus_active, int two,
                   int iris_mode, int focus_mode) {
    host::Runtime &r = runtime();
    const int v[14] = {pan_state,  tilt_state,  zoom_state,  iris_state,   focus_state, zero,      pan_active,
                       tilt_active, zoom_active, iris_active, focus_active, two,         iris_mode, focus_mode};
    memcpy(r.last_status, v, sizeof v);
    r.have_status = true;
    say("  " + host::status_text(v));
    return 1;
}

namespace {

int get_param(const char *key, int mode, int *value, int camera, bool boolean) {
    host::Runtime &r = runtime();
    const char *what = boolean ? "bool" : "int";
    auto trace = [&](const std::string &result) {
        if (r.options.trace) {
            say(std::string("  param ") + (key ? key : "(null)") + " (" + what + ", mode " + std::to_string(mode) +
                ", camera " + std::to_string(camera) + "): " + result);
        }
    };
    if (key == nullptr || value == nullptr) {
        trace("refused, no key or no place for the value");
        return 0;
    }
    if (camera < 1 || static_cast<uint32_t>(camera) > r.config.cameras) {
        trace("no such camera");
        return 0;
    }
    const auto &values = r.config.values[static_cast<size_t>(camera - 1)];
    const auto it = values.find(key);
    if (it == values.end() || !it->second) {
        trace("missing");
        return 0;
    }
    *value = static_cast<int>(*it->second);
    trace(std::to_string(*value));
    return 1;
}

}  // namespace

int ptz_get_int_param(const char *key, int mode, int *value, int camera) {
    return get_param(key, mode, value, camera, false);
}

int ptz_get_bool_param(const char *key, int mode, int *value, int camera) {
    return get_param(key, mode, value, camera, true);
}

void ptz_request_poll(int zero) { say("  poll requested (" + std::to_string(zero) + ")"); }

}  // extern "C"

int main(int argc, char **argv) {
    using namespace host;
    Runtime &r = runtime();
    r.start = line::monotonic_seconds();
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!parse_options(argc, argv, &r.options)) {
        usage(stderr);
        return 2;
    }

    // Ctrl-C is held everywhere (this thread and the line reader) and let
    // through only while the host waits, so it never interrupts a write.
    sigset_t hold;
    sigemptyset(&hold);
    sigaddset(&hold, SIGINT);
    sigprocmask(SIG_BLOCK, &hold, &wait_mask);
    sigdelset(&wait_mask, SIGINT);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_interrupt;
    sigaction(SIGINT, &sa, nullptr);

    // The driver's syslog lines also go to the terminal.
    openlog("tavrinode", LOG_PERROR, LOG_USER);

    std::string error;
    if (!resolve_driver(&r.api, &error)) {
        fprintf(stderr, "tavrinode: %s\n", error.c_str());
        return 1;
    }
    r.descriptor = read_descriptor(r.api);
    std::vector<std::string> problems;
    r.params = param_entries(r.descriptor, &problems);
    for (const std::string &p : problems) {
        fprintf(stderr, "tavrinode: driver descriptor: %s\n", p.c_str());
    }
    if (!load_config(r.options.config_path, r.params, &r.config, &error)) {
        fprintf(stderr, "tavrinode: %s\n", error.c_str());
        return 2;
    }
    publish_config();
    if (!open_port(r, &error)) {
        fprintf(stderr, "tavrinode: %s\n", error.c_str());
        return 1;
    }

    const int status = run_session(r);
    r.port.reset();
    closelog();
    return status;
}
