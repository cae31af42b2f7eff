// visca_calibrate: measures how a camera really turns, zooms and focuses,
// chooses the driver's calibration values with the driver's own arithmetic
// and, if asked, writes them into a configuration file.
#include <errno.h>
#include <ini.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <math.h>

#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "builtin_link.h"
#include "camera_link.h"
#include "choose.h"
#include "driver_probe.h"
#include "ini_update.h"
#include "line.h"
#include "net_address.h"
#include "net_link.h"
#include "measure.h"
#include "plan.h"
#include "profile.h"
#include "report.h"
#include "site.h"

namespace {

volatile int interrupted = 0;

void on_interrupt(int) { interrupted = 1; }

struct Options {
    std::string port;
    std::string profile;
    std::optional<double> pan_units, tilt_units;
    std::string config;
    std::string write;
    int camera = 1;
    bool axes[4] = {true, true, true, true};
    bool quick = false;
    bool all = false;
    int jobs = 16;
};

void usage(FILE *out) {
    fputs(
        "usage: visca_calibrate (--port LINE | --profile NAME|FILE | --config FILE --all) [options]\n"
        "Measures the camera's speeds, chooses the driver's calibration values and prints them.\n"
        "  --port LINE                the camera's line: a serial device or pseudo-terminal (9600 8N1),\n"
        "                             or a network camera: udp:HOST:PORT (with the IP header),\n"
        "                             udp-raw:HOST:PORT or tcp:HOST:PORT (bare messages)\n"
        "  --profile NAME|FILE        the camera's profile: without --port, a built-in virtual camera\n"
        "                             running it; with --port, where its position units and ends are\n"
        "  --pan-units-per-degree U   pan position units per degree (datasheet figure)\n"
        "  --tilt-units-per-degree U  tilt position units per degree\n"
        "  --config FILE              the configuration now in use (default: the --write file)\n"
        "  --write FILE               set the chosen values in FILE's [cameraN] section\n"
        "  --camera N                 the camera number of that section (default 1)\n"
        "  --axes LIST                comma-separated axes to calibrate (default pan,tilt,zoom,focus)\n"
        "  --quick                    fewer drives: moves of 5 degrees and more, compensation kept\n"
        "  --all                      every camera of --config FILE with its own port, lines in parallel;\n"
        "                             each one's values go into its own section\n"
        "  --jobs N                   with --all: at most N lines at a time (default 16)\n",
        out);
}

bool positive(const char *text, double *out) {
    char *end = nullptr;
    errno = 0;
    const double v = strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(v > 0) || v > 1e6) return false;
    *out = v;
    return true;
}

bool parse_options(int argc, char **argv, Options *o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc) {
                fprintf(stderr, "visca_calibrate: %s needs a value\n", a.c_str());
                return nullptr;
            }
            return argv[++i];
        };
        const char *v = nullptr;
        if (a == "--help" || a == "-h") {
            usage(stdout);
            exit(0);
        } else if (a == "--quick") {
            o->quick = true;
        } else if (a == "--all") {
            o->all = true;
        } else if (a == "--jobs") {
            if ((v = value()) == nullptr || !site::parse_jobs(v, &o->jobs)) return false;
        } else if (a == "--port" || a == "--profile" || a == "--config" || a == "--write") {
            if ((v = value()) == nullptr) return false;
            (a == "--port" ? o->port : a == "--profile" ? o->profile : a == "--config" ? o->config : o->write) = v;
        } else if (a == "--pan-units-per-degree" || a == "--tilt-units-per-degree") {
            if ((v = value()) == nullptr) return false;
            double u = 0;
            if (!positive(v, &u)) {
                fprintf(stderr, "visca_calibrate: %s: '%s' is not a positive number\n", a.c_str(), v);
                return false;
            }
            (a[2] == 'p' ? o->pan_units : o->tilt_units) = u;
        } else if (a == "--camera") {
            if ((v = value()) == nullptr) return false;
            char *end = nullptr;
            const long n = strtol(v, &end, 10);
            if (*v == '\0' || *end != '\0' || n < 1 || n > 255) {
                fprintf(stderr, "visca_calibrate: --camera: '%s' is not a camera number 1..255\n", v);
                return false;
            }
            o->camera = static_cast<int>(n);
        } else if (a == "--axes") {
            if ((v = value()) == nullptr) return false;
            for (bool &b : o->axes) b = false;
            std::stringstream list(v);
            std::string name;
            while (std::getline(list, name, ',')) {
                int k = 0;
                while (k < 4 && name != calib::axis_label(k)) ++k;
                if (k == 4) {
                    fprintf(stderr, "visca_calibrate: --axes: unknown axis '%s' (pan, tilt, zoom, focus)\n",
                            name.c_str());
                    return false;
                }
                o->axes[k] = true;
            }
        } else {
            fprintf(stderr, "visca_calibrate: unknown option '%s' (--help lists them)\n", a.c_str());
            return false;
        }
    }
    if (!o->all && o->port.empty() && o->profile.empty()) {
        fprintf(stderr, "visca_calibrate: give --port LINE or --profile NAME|FILE\n");
        return false;
    }
    if (o->config.empty()) o->config = o->write;
    return true;
}

struct ConfigRead {
    calib::Config *config;
    std::string section;
    std::string error;
};

// The [cameraN] values already in the file: the calibration starts from them
// (MoveSpeed, ZoomSpeed and FocusSpeed decide the bytes the driver sends).
bool read_config(const std::string &path, int camera, calib::Config *config, std::string *error) {
    if (path.empty() || access(path.c_str(), F_OK) != 0) return true;
    ConfigRead r{config, "camera" + std::to_string(camera), ""};
    const int line = ini_parse(
        path.c_str(),
        [](void *user, const char *section, const char *key, const char *value) -> int {
            auto *r = static_cast<ConfigRead *>(user);
            if (strcasecmp(section, r->section.c_str()) != 0) return 1;
            for (auto &[k, v] : *r->config) {
                if (strcasecmp(k.c_str(), key) != 0) continue;
                if (strcasecmp(value, "true") == 0 || strcasecmp(value, "yes") == 0 || strcasecmp(value, "on") == 0) {
                    v = 1;
                } else if (strcasecmp(value, "false") == 0 || strcasecmp(value, "no") == 0 ||
                           strcasecmp(value, "off") == 0) {
                    v = 0;
                } else if (*value != '\0') {
                    char *end = nullptr;
                    const long n = strtol(value, &end, 10);
                    if (*end != '\0') {
                        r->error = std::string(key) + ": '" + value + "' is not a number";
                        return 0;
                    }
                    v = n;
                }
            }
            return 1;
        },
        &r);
    if (line != 0) {
        *error = path + (line > 0 ? ":" + std::to_string(line) + ": " + (r.error.empty() ? "syntax error" : r.error)
                                  : ": cannot read it");
        return false;
    }
    return true;
}

void progress(int axis, int speed, double left) {
    const bool terminal = isatty(STDERR_FILENO) != 0;
    char text[128];
    snprintf(text, sizeof text, "measuring %s %s %d, about %.0f s of camera time left", calib::axis_label(axis),
             axis <= calib::Tilt ? "byte" : "nibble", speed, left);
    if (terminal) {
        fprintf(stderr, "\r%-78s", text);
    } else {
        fprintf(stderr, "%s\n", text);
    }
}

int fail(const std::string &what) {
    if (isatty(STDERR_FILENO)) fputc('\n', stderr);
    fprintf(stderr, "visca_calibrate: %s\n", what.c_str());
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse_options(argc, argv, &o)) return 2;
    if (o.all) return site::calibrate_all(argc, argv, o.config, o.jobs);

    std::optional<sim::Profile> profile;
    std::string error;
    if (!o.profile.empty()) {
        sim::Profile p;
        if (!sim::load_profile(o.profile, &p, &error)) return fail(error);
        profile = p;
    }

    calib::Config config = calib::driver_defaults();
    if (!read_config(o.config, o.camera, &config, &error)) return fail(error);

    std::unique_ptr<calib::CameraLink> link;
    if (line::is_net_address(o.port)) {
        const auto net = line::parse_net_address(o.port, line::Side::Client, &error);
        if (!net) return fail(error);
        link = calib::net_link(*net, &error);
        if (!link) return fail(error);
    } else if (!o.port.empty()) {
        const int fd = line::open_serial(o.port, line::Settings(), &error);
        if (fd < 0) return fail(error);
        link = calib::line_link(fd, o.port);
    } else {
        link = calib::builtin_link(*profile);
    }

    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    const auto version = calib::read_version(*link, &error);
    if (!version) return fail(error);
    printf("camera: %s on %s\n", version->c_str(), link->describe().c_str());

    // Geometry: units per degree and ends from the profile or the options.
    calib::AxisGeometry geometry[4];
    if (profile) {
        const sim::PanTiltAxis *pt[2] = {&profile->pan, &profile->tilt};
        for (int a = 0; a < 2; ++a) {
            geometry[a].units_per_unit = pt[a]->units_per_degree;
            geometry[a].sign = pt[a]->sign;
            if (pt[a]->end_stops) {
                geometry[a].min = pt[a]->min_degrees;
                geometry[a].max = pt[a]->max_degrees;
            }
        }
        const sim::LensAxis *lens[2] = {&profile->zoom, &profile->focus};
        for (int a = 0; a < 2; ++a) {
            geometry[2 + a].min = lens[a]->min;
            geometry[2 + a].max = lens[a]->max;
        }
    }
    if (o.pan_units) geometry[calib::Pan].units_per_unit = *o.pan_units;
    if (o.tilt_units) geometry[calib::Tilt].units_per_unit = *o.tilt_units;
    if (!profile && !o.pan_units && (o.axes[0] || o.axes[1])) {
        return fail("give --profile or --pan-units-per-degree/--tilt-units-per-degree: the position reply counts "
                    "units, not degrees");
    }
    if (!profile && o.axes[1] && !o.tilt_units) geometry[calib::Tilt].units_per_unit = *o.pan_units;

    calib::DriverProbe probe(config);
    calib::Measurer measurer(*link, &interrupted, progress);
    calib::Curves curves;
    std::map<calib::CurveKey, std::vector<calib::Sample>> samples;
    std::optional<bool> focus_was_auto;
    double start_position[4] = {0, 0, 0, 0};
    const double began = link->now();
    calib::Plan plan;

    auto abort = [&](const std::string &why) {
        measurer.stop_all();
        std::string ignored;
        if (focus_was_auto && *focus_was_auto) link->command(calib::focus_mode(true), &ignored);
        return fail(why + "; the configuration file was left as it was");
    };

    // Long drives for the speeds that carry the long moves.
    calib::MeasureOptions long_drives;
    long_drives.long_target = 20;
    long_drives.max_drive = 2.0;
    long_drives.short_target = 3;
    long_drives.times = o.quick ? 2 : 4;
    double raw_start[4] = {0, 0, 0, 0};
    std::string restored;
    // The speeds of the first pass, known before anything moves, so that
    // the progress can tell the camera time left.
    std::set<int> first_speeds[4];
    int drives_left = 0;
    for (int axis = 0; axis < 4; ++axis) {
        if (!o.axes[axis]) continue;
        calib::AxisGeometry &g = geometry[axis];
        std::optional<double> travel;
        if (g.min && g.max) travel = *g.max - *g.min;
        plan[axis] = calib::plan_moves(axis, travel, o.quick);
        const bool all = axis <= calib::Tilt && !o.quick;
        first_speeds[axis] = all ? calib::speeds_used(probe, axis, plan[axis], 0.1, 10, true)
                                 : calib::speeds_used(probe, axis, plan[axis], 1.0, 1.0, false);
        drives_left += static_cast<int>(first_speeds[axis].size()) * 2 * (all ? 2 : long_drives.times);
        if (all) drives_left += 2 * long_drives.times;  // the long-move speed, later
    }
    auto measure = [&](int axis, const std::set<int> &speeds, const calib::MeasureOptions &mo) {
        const std::vector<int> todo(speeds.begin(), speeds.end());
        drives_left -= static_cast<int>(todo.size()) * 2 * mo.times;
        return todo.empty() ||
               measurer.measure(axis, geometry[axis], todo, drives_left, mo, &curves, &samples, &error);
    };
    auto long_move_speeds = [&](int axis) {
        std::set<int> speeds;
        for (double m : plan[axis]) {
            if (fabs(m) >= 45) {
                for (const calib::Drive &d : probe.move(axis, m)) speeds.insert(d.speed);
            }
        }
        return speeds;
    };

    // Every speed first, with short drives: the rates tell which MoveSpeed
    // suits the camera; then long drives at the speed long moves will use.
    for (int axis = 0; axis < 4; ++axis) {
        if (!o.axes[axis]) continue;
        if (axis == calib::Focus) {
            focus_was_auto = calib::read_focus_auto(*link);
            if (!link->command(calib::focus_mode(false), &error)) return abort(error);
        }
        const auto start = measurer.position(axis, &error);
        if (!start) return abort(error);
        raw_start[axis] = *start;
        const bool all = axis <= calib::Tilt && !o.quick;
        if (!measure(axis, first_speeds[axis], all ? calib::MeasureOptions() : long_drives)) {
            return abort(interrupted ? "interrupted" : error);
        }
    }
    if (!o.quick && (o.axes[calib::Pan] || o.axes[calib::Tilt])) {
        const double frame_ms = profile ? profile->frame_ms : 33.367;
        const long move_speed = calib::choose_move_speed(probe, curves, o.axes[0], o.axes[1], frame_ms);
        probe.set("MoveSpeed", move_speed);
        for (int axis = calib::Pan; axis <= calib::Tilt; ++axis) {
            if (!o.axes[axis]) continue;
            if (!measure(axis, long_move_speeds(axis), long_drives)) return abort(interrupted ? "interrupted" : error);
            calib::choose_axis(probe, curves, axis, plan[axis], true);
        }
    }
    for (int axis = 0; axis < 4; ++axis) {
        if (!o.axes[axis]) continue;
        // The counter's direction is known by now.
        const calib::AxisGeometry &g = geometry[axis];
        start_position[axis] = raw_start[axis] * (g.sign == 0 ? 1 : g.sign) / g.units_per_unit;
        if (!measurer.go_to(axis, g, start_position[axis], curves, &error)) return abort(error);
        const auto back = measurer.position(axis, &error);
        if (!back) return abort(error);
        char text[96];
        snprintf(text, sizeof text, "%s %s %.2f (started %.2f)", restored.empty() ? "back at the start:" : ",",
                 calib::axis_label(axis), *back * (g.sign == 0 ? 1 : g.sign) / g.units_per_unit, start_position[axis]);
        restored += text;
    }
    if (focus_was_auto && *focus_was_auto && !link->command(calib::focus_mode(true), &error)) return abort(error);
    const double camera_time = link->now() - began;
    if (isatty(STDERR_FILENO)) fputc('\n', stderr);
    if (interrupted) return abort("interrupted");

    printf("measured in %.1f s of camera time; %s\n\n", camera_time, restored.c_str());
    calib::Settings chosen;
    if (probe.config().at("MoveSpeed") != config.at("MoveSpeed")) {
        printf("MoveSpeed = %ld  (was %ld): at the camera's video frame (%.1f ms) a faster speed moves too far "
               "within one frame for moves of 5 degrees\n\n",
               probe.config().at("MoveSpeed"), config.at("MoveSpeed"), profile ? profile->frame_ms : 33.367);
        chosen.emplace_back("MoveSpeed", probe.config().at("MoveSpeed"));
    }
    for (const auto &[axis, moves] : plan) {
        calib::print_curves(stdout, curves, axis);
        calib::choose_axis(probe, curves, axis, moves, !o.quick);
        for (const std::string &key : calib::keys_of(axis)) {
            const long was = config.at(key);
            const long now = probe.config().at(key);
            printf("  %s = %ld  (was %ld)\n", key.c_str(), now, was);
            chosen.emplace_back(key, now);
        }
        calib::print_predictions(stdout, probe, curves, axis, moves);
        printf("\n");
    }
    if (!o.write.empty()) {
        if (!calib::update_ini_file(o.write, o.camera, chosen, &error)) return fail(error);
        printf("wrote %zu values to [camera%d] of %s\n", chosen.size(), o.camera, o.write.c_str());
    }
    return 0;
}
