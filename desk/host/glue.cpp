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
#include "net_address.h"
#include "output_path.h"
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
volatile sig_atomic_t terminate_signal = 0;
sigset_t wait_mask;

Runtime &runtime() {
    static Runtime r;
    return r;
}

namespace {
double sim_now = 0;  // --sim-clock: seconds, moved on by the sleeps alone
}  // namespace

double elapsed() {
    const Runtime &r = runtime();
    return r.options.sim_start >= 0 ? sim_now : line::monotonic_seconds() - r.start;
}

void say(const std::string &text) {
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    fputs((text + "\n").c_str(), stdout);
}

namespace {

void on_signal(int signal) {
    if (signal != SIGINT) terminate_signal = signal;
    interrupts = interrupts + 1;
}

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
        "Runs the driver under the stand-in host. Commands come from the arguments,\n"
        "from --script FILE, or from standard input (a console on a terminal).\n"
        "  --config FILE      camera configuration (INI: [host] cameras = N,\n"
        "                     [cameraN] key = value)\n"
        "  --port LINE        write the frames to a serial device (the driver's port\n"
        "                     settings) or a network camera: udp:HOST:PORT (with the\n"
        "                     IP header), udp-raw:HOST:PORT or tcp:HOST:PORT\n"
        "  --pty              create a pseudo-terminal, print its path, write there\n"
        "                     (without --port or --pty: the built-in virtual camera)\n"
        "  --pty-wait S       wait up to S seconds (default 30) for a program to open\n"
        "                     the pseudo-terminal before running commands; 0: no wait\n"
        "  --reconnect        reopen a lost --port device (or camera port) when back\n"
        "  --script FILE      run the commands of FILE, one per line\n"
        "  --trace            also show sleeps (with lateness), parameter requests\n"
        "                     and the bytes coming back\n"
        "  --realtime         real-time scheduling and locked memory, where permitted\n"
        "  --raw              pass any console value to the driver (no range checks)\n"
        "  --verify           run the verification plan (console \"verify\"), leave\n"
        "  --verify-plot FILE with it, draw requested against reached (SVG)\n"
        "  --profile NAME|FILE  camera profile: proportional (default), linear,\n"
        "                     geometric, stepped or a profile file; how the built-in\n"
        "                     camera moves; on a line, its position units for verify\n"
        "  --timeline FILE    built-in camera: a picture of the session (SVG) at the end\n"
        "  --replies          built-in camera: acknowledge and completion replies\n"
        "  --buffer-limit     built-in camera: two commands in execution at most\n"
        "  --exec-ms N        built-in camera: how long a command is in execution\n"
        "  --sim-clock MS     built-in camera: a simulated clock from MS milliseconds;\n"
        "                     sleeps take no real time, so a run lands the same each\n"
        "                     time (MS sets the phase against the camera's frames)\n"
        "  --version          print the driver's version and stop\n"
        "Type \"help\" at the console for its commands. Exit status: 0 ok; 1 failed\n"
        "(setup, a rejected command, a lost line, an output not written); 2 bad\n"
        "options, configuration, script or output path; 128+N after signal N.\n",
        out);
}

bool parse_options(int argc, char **argv, Options *o) {
    bool pty_wait_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string *out) {
            if (i + 1 >= argc) {
                fprintf(stderr, "tavrinode: %s needs a value\n", a.c_str());
                return false;
            }
            *out = argv[++i];
            // An empty value (a script's unset variable) is never "none":
            // an empty --port would run the built-in camera instead.
            if (out->empty()) {
                fprintf(stderr, "tavrinode: %s: the value is empty\n", a.c_str());
                return false;
            }
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
        } else if (a == "--reconnect") {
            o->reconnect = true;
        } else if (a == "--realtime") {
            o->realtime = true;
        } else if (a == "--raw") {
            o->raw = true;
        } else if (a == "--pty-wait") {
            if (!value(&v)) return false;
            char *end = nullptr;
            const double seconds = strtod(v.c_str(), &end);
            if (end == v.c_str() || *end != '\0' || !(seconds >= 0) || seconds > 86400) {
                fprintf(stderr, "tavrinode: --pty-wait: '%s' is not a time in seconds (0..86400)\n", v.c_str());
                return false;
            }
            o->pty_wait = seconds;
            pty_wait_given = true;
        } else if (a == "--timeline") {
            if (!value(&o->timeline)) return false;
            o->camera_options = true;
        } else if (a == "--verify") {
            o->commands.push_back("verify");
        } else if (a == "--verify-plot") {
            if (!value(&o->verify_plot)) return false;
        } else if (a == "--profile") {
            if (!value(&v)) return false;
            std::string error;
            if (!camera::load_profile(v, &o->camera_model.profile, &error)) {
                fprintf(stderr, "tavrinode: %s\n", error.c_str());
                return false;
            }
        } else if (a == "--replies") {
            o->camera_model.replies = true;
            o->camera_options = true;
        } else if (a == "--buffer-limit") {
            o->camera_model.buffer_limit = true;
            o->camera_options = true;
        } else if (a == "--exec-ms") {
            o->camera_options = true;
            if (!value(&v)) return false;
            char *end = nullptr;
            const double ms = strtod(v.c_str(), &end);
            if (end == v.c_str() || *end != '\0' || !(ms > 0) || ms > 60000) {
                fprintf(stderr, "tavrinode: --exec-ms: '%s' is not a time in milliseconds\n", v.c_str());
                return false;
            }
            o->camera_model.exec_ms = ms;
        } else if (a == "--sim-clock") {
            o->camera_options = true;
            if (!value(&v)) return false;
            char *end = nullptr;
            const double ms = strtod(v.c_str(), &end);
            if (end == v.c_str() || *end != '\0' || !(ms >= 0) || ms > 86400000) {
                fprintf(stderr, "tavrinode: --sim-clock: '%s' is not a time in milliseconds (0..86400000)\n",
                        v.c_str());
                return false;
            }
            o->sim_start = ms / 1000;
        } else if (a == "--version") {
            printf("tavrinode %s\n", PTZ_VERSION);
            exit(0);
        } else if (a == "--help" || a == "-h") {
            usage(stdout);
            exit(0);
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            fprintf(stderr, "tavrinode: unknown option '%s' (tavrinode --help lists the options)\n", a.c_str());
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
    const bool line = o->pty || !o->port_device.empty();
    if (line && o->camera_options) {
        fprintf(stderr, "tavrinode: --timeline, --replies, --buffer-limit, --exec-ms and --sim-clock are for "
                        "the built-in camera; they do nothing with --port or --pty\n");
        return false;
    }
    if (pty_wait_given && !o->pty) {
        fprintf(stderr, "tavrinode: --pty-wait does nothing without --pty\n");
        return false;
    }
    // What is written only at the end, and a network address, are checked
    // before anything opens or moves.
    std::string error;
    if (line::is_net_address(o->port_device) &&
        !line::parse_net_address(o->port_device, line::Side::Client, &error)) {
        fprintf(stderr, "tavrinode: %s\n", error.c_str());
        return false;
    }
    for (const std::string *path : {&o->timeline, &o->verify_plot}) {
        if (!path->empty() && !files::can_write(*path, &error)) {
            fprintf(stderr, "tavrinode: %s\n", error.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

void publish_config() {
    Runtime &r = runtime();
    r.map_storage = r.config.configured;
    cameras = r.config.cameras;
    camera_map = r.map_storage.data();
}

bool interruptible_sleep(double seconds, double *late) {
    if (runtime().options.sim_start >= 0) {
        // No wait: let a held signal through here, as a wait would.
        const struct timespec zero = {0, 0};
        ppoll(nullptr, 0, &zero, &wait_mask);
        if (interrupts > 0) return false;
        if (seconds > 0) sim_now += seconds;
        if (late != nullptr) *late = 0;
        return true;
    }
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
        const double now = line::monotonic_seconds();
        const double left = end - now;
        if (left <= 0) {
            if (late != nullptr) *late = now - end;
            return true;
        }
        // The kernel lets a poll timeout run late by 0.1 % of its length
        // (6 ms on a 6 s pan), so ppoll, where signals get through, is told
        // to wake a little early, and the rest is slept to the absolute
        // deadline on the monotonic clock itself.
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
    host::Port *port = host::line_for(r, camindex);
    const bool ok = port != nullptr && port->write(frame, static_cast<size_t>(length), &note, &error);
    std::string text = visca::format_time(t) + " -> " + visca::hex(bytes) + "  " + visca::describe(visca::decode(bytes));
    if (!note.empty()) text += "  [" + note + "]";
    if (port == nullptr) {
        text += "  [not sent: camera " + std::to_string(camindex + 1) + " has no line]";
    } else if (!ok) {
        text += error.empty() ? "  [not sent: line lost]" : "  [not sent]";
    }
    say(text);
    // The cause once, on its own line.
    if (!ok && !error.empty()) say("  write failed: " + error);
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
    double late = 0;
    if (host::interruptible_sleep(usec / 1e6, &late)) {
        if (r.options.trace) {
            char buf[64];
            snprintf(buf, sizeof buf, "  slept %u us, woke %.0f us late", usec, late * 1e6);
            say(buf);
        }
        return 1;
    }
    host::interrupts = 0;
    r.interrupted = true;
    suspended = 1;
    char buf[96];
    snprintf(buf, sizeof buf, "  interrupted: sleep of %u us cut short after %.0f ms, driver suspended", usec,
             (line::monotonic_seconds() - begin) * 1000);
    say(buf);
    return 0;
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
    if (r.read_values.size() < r.config.cameras) r.read_values.resize(r.config.cameras);
    r.read_values[static_cast<size_t>(camera - 1)][key] =
        boolean ? (*value != 0 ? "true" : "false") : std::to_string(*value);
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
    // The reason alone: the usage would push it off the screen.
    if (!parse_options(argc, argv, &r.options)) return exit_usage;

    // Ctrl-C, SIGTERM, SIGHUP and SIGQUIT are held everywhere (this thread and the
    // line readers) and let through wherever the host waits: its sleeps,
    // the prompt, and a write the line is slow to take.
    sigset_t hold;
    sigemptyset(&hold);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&hold, signal);
    sigprocmask(SIG_BLOCK, &hold, &wait_mask);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigdelset(&wait_mask, signal);
        sigaction(signal, &sa, nullptr);
    }

    // The driver's syslog lines also go to the terminal.
    openlog("tavrinode", LOG_PERROR, LOG_USER);

    std::string error;
    if (!r.options.script.empty() && !readable_file(r.options.script, "script", &error)) {
        fprintf(stderr, "tavrinode: %s\n", error.c_str());
        return exit_usage;
    }
    if (!resolve_driver(&r.api, &error)) {
        fprintf(stderr, "tavrinode: %s\n", error.c_str());
        return exit_failed;
    }
    r.descriptor = read_descriptor(r.api);
    std::vector<std::string> problems;
    r.params = param_entries(r.descriptor, &problems);
    for (const std::string &p : problems) {
        fprintf(stderr, "tavrinode: driver descriptor: %s\n", p.c_str());
    }
    if (!load_config(r.options.config_path, r.params, &r.config, &error)) {
        fprintf(stderr, "tavrinode: %s\n", error.c_str());
        return exit_usage;
    }
    publish_config();
    bool any_device = !r.options.port_device.empty();
    for (const std::string &p : r.config.ports) any_device = any_device || !p.empty();
    if (r.options.sim_start >= 0 && any_device) {
        fprintf(stderr, "tavrinode: --sim-clock is for the built-in camera; the configuration gives a camera a port\n");
        return exit_usage;
    }
    if (r.options.sim_start >= 0) sim_now = r.options.sim_start;
    if (r.options.reconnect && !any_device) {
        fprintf(stderr, "tavrinode: --reconnect does nothing without --port or a camera's port\n");
        return exit_usage;
    }
    if (r.options.realtime) go_realtime();
    if (!open_lines(r, &error)) {
        fprintf(stderr, "tavrinode: %s\n", error.c_str());
        if (terminate_signal != 0) return 128 + terminate_signal;
        return interrupts > 0 ? 128 + SIGINT : exit_failed;
    }

    const int status = run_session(r);
    r.lines.clear();
    closelog();
    return status;
}
