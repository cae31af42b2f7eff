#include "console.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <sstream>

#include "input.h"
#include "verify.h"

namespace host {

namespace {

constexpr float absent = 32765.0f;

using Args = std::vector<std::string>;

struct BadArgs {
    std::string why;
};

struct Command {
    const char *name;
    const char *args;
    const char *help;
    void (*run)(Runtime &, const Args &);
};

// ---- argument parsing (errors are thrown as BadArgs and end the command) ----

float to_float(const std::string &text, const char *what) {
    char *end = nullptr;
    const float v = strtof(text.c_str(), &end);
    if (text.empty() || *end != '\0') throw BadArgs{std::string(what) + ": '" + text + "' is not a number"};
    return v;
}

int to_int(const std::string &text, const char *what) {
    char *end = nullptr;
    const long v = strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < -2147483647L - 1 || v > 2147483647L) {
        throw BadArgs{std::string(what) + ": '" + text + "' is not a whole number"};
    }
    return static_cast<int>(v);
}

// on/off, or a number passed as it is.
int to_switch(const std::string &text, const char *what) {
    if (text == "on") return 1;
    if (text == "off") return 0;
    return to_int(text, what);
}

void need(const Args &a, size_t low, size_t high) {
    if (a.size() < low) throw BadArgs{"missing argument"};
    if (a.size() > high) throw BadArgs{"too many arguments ('" + a[high] + "')"};
}

std::string number(double v, int decimals) {
    char buf[64];
    snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

// ---- calling the driver ----

// Runs one driver call as the host does: drivermsg cleared before, the
// suspension lifted after, the driver's failure text shown.
template <typename F>
void call(Runtime &r, F &&f) {
    drivermsg[0] = '\0';
    suspended = 0;
    f();
    if (suspended != 0) {
        say("  driver was suspended; resumed");
        suspended = 0;
    }
    if (drivermsg[0] != '\0') {
        say(std::string("  drivermsg: ") + drivermsg);
    }
    (void)r;
}

void result(int v) { say("  = " + std::to_string(v)); }

// ---- relative move summary ----

enum Axis { PAN, TILT, ZOOM, FOCUS, IRIS };
const char *const axis_names[5] = {"pan", "tilt", "zoom", "focus", "iris"};

bool drives(const visca::Message &m, int axis) {
    switch (axis) {
    case PAN: return m.kind == visca::Kind::PanTiltDrive && m.pan_dir != 0;
    case TILT: return m.kind == visca::Kind::PanTiltDrive && m.tilt_dir != 0;
    case ZOOM: return m.kind == visca::Kind::ZoomDrive && m.lens_dir != 0;
    case FOCUS: return m.kind == visca::Kind::FocusDrive && m.lens_dir != 0;
    }
    return false;
}

bool stops(const visca::Message &m, int axis) {
    switch (axis) {
    case PAN: return m.kind == visca::Kind::PanTiltDrive && m.pan_dir == 0;
    case TILT: return m.kind == visca::Kind::PanTiltDrive && m.tilt_dir == 0;
    case ZOOM: return m.kind == visca::Kind::ZoomDrive && m.lens_dir == 0;
    case FOCUS: return m.kind == visca::Kind::FocusDrive && m.lens_dir == 0;
    }
    return false;
}

// After a relative move: for each axis, the requested and the reached amount
// and the drive time the driver meant (its sleeps) against the interval
// between its drive and stop frames.
void summarise_relative(Runtime &r, const float request[5], const sim::Position *before,
                        const sim::Position *after) {
    size_t from = 0;
    for (int axis = PAN; axis <= FOCUS; ++axis) {
        if (!(request[axis] < absent) || request[axis] == 0.0f) continue;
        const char *unit = axis <= TILT ? " degrees" : " steps";
        std::string text = std::string("  ") + axis_names[axis] + ": requested " + number(request[axis], 3) + unit;
        if (before != nullptr && after != nullptr) {
            text += ", reached " + number(after->axis[axis] - before->axis[axis], 3) + unit;
        }
        size_t drive = from;
        while (drive < r.events.size() && !(r.events[drive].is_write && drives(visca::decode(r.events[drive].frame), axis))) {
            ++drive;
        }
        if (drive == r.events.size()) {
            say(text + "; no drive frame");
            continue;
        }
        size_t stop = drive + 1;
        unsigned long long intended = 0;
        for (; stop < r.events.size(); ++stop) {
            const LineEvent &e = r.events[stop];
            if (!e.is_write) intended += e.usec;
            if (e.is_write && stops(visca::decode(e.frame), axis)) break;
        }
        if (stop == r.events.size()) {
            say(text + "; no stop frame after the drive frame");
            from = drive + 1;
            continue;
        }
        from = stop + 1;
        const double interval = (r.events[stop].time - r.events[drive].time) * 1000.0;
        say(text + "; drive time " + number(intended / 1000.0, 0) + " ms intended, " + number(interval, 1) +
            " ms between drive and stop frames");
    }
}

// ---- commands ----

void cmd_camera(Runtime &r, const Args &a) {
    need(a, 0, 1);
    if (a.empty()) {
        say("  camera " + std::to_string(camindex + 1) + " (slot " + std::to_string(camindex) + ")");
        return;
    }
    const int n = to_int(a[0], "camera");
    if (n < 1 || static_cast<uint32_t>(n) > r.config.cameras) {
        throw BadArgs{"no camera " + a[0] + " (cameras 1.." + std::to_string(r.config.cameras) + ")"};
    }
    camindex = n - 1;
    say("  camera " + std::to_string(n) + " (slot " + std::to_string(camindex) + ")" +
        (r.config.configured[camindex] ? "" : ", not configured for this driver"));
}

void fill_request(const Args &a, float out[5]) {
    for (size_t i = 0; i < 5; ++i) {
        out[i] = i < a.size() && a[i] != "-" ? to_float(a[i], axis_names[i]) : absent;
    }
}

void cmd_move(Runtime &r, const Args &a) {
    need(a, 1, 5);
    float v[5];
    fill_request(a, v);
    const move_request req{v[0], v[1], v[2], v[3], v[4]};
    call(r, [&] { result(r.api.move_cont(&req)); });
}

void cmd_stop(Runtime &r, const Args &a) {
    need(a, 0, 0);
    call(r, [&] { result(r.api.stop()); });
}

void cmd_rel(Runtime &r, const Args &a) {
    if (a.empty() || a.size() % 2 != 0) throw BadArgs{"give axis and amount pairs, e.g. rel pan 10 zoom 1000"};
    float v[5] = {absent, absent, absent, absent, absent};
    for (size_t i = 0; i < a.size(); i += 2) {
        int axis = -1;
        for (int k = 0; k < 5; ++k) {
            if (a[i] == axis_names[k]) axis = k;
        }
        if (axis < 0) throw BadArgs{"unknown axis '" + a[i] + "' (pan, tilt, zoom, focus, iris)"};
        v[axis] = to_float(a[i + 1], axis_names[axis]);
    }
    const move_request req{v[0], v[1], v[2], v[3], v[4]};
    sim::VirtualCamera *cam = r.port->camera();
    sim::Position before, after;
    if (cam != nullptr) before = cam->state_at(elapsed()).position;
    r.events.clear();
    call(r, [&] { result(r.api.move_rel(&req)); });
    if (cam != nullptr) after = cam->state_at(elapsed()).position;
    summarise_relative(r, v, cam ? &before : nullptr, cam ? &after : nullptr);
}

void cmd_verify(Runtime &r, const Args &a) {
    need(a, 0, 2);
    const bool quick = !a.empty() && a[0] == "quick";
    const size_t plot = quick ? 1 : 0;
    run_verify(r, [&](const std::function<void()> &f) { call(r, f); },
               a.size() > plot ? a[plot] : r.options.verify_plot, quick);
}

void cmd_preset(Runtime &r, const Args &a) {
    need(a, 1, 2);
    if (a[0] == "range") {
        need(a, 1, 1);
        int low = 0, high = 0;
        call(r, [&] { r.api.device_preset_range(&low, &high); });
        say("  presets " + std::to_string(low) + ".." + std::to_string(high));
        return;
    }
    need(a, 2, 2);
    const int n = to_int(a[1], "preset");
    if (a[0] == "set" || a[0] == "store") {
        call(r, [&] { result(r.api.set_device_preset(n)); });
    } else if (a[0] == "goto" || a[0] == "recall") {
        call(r, [&] { result(r.api.goto_device_preset(n)); });
    } else {
        throw BadArgs{"'" + a[0] + "': use set, goto or range"};
    }
}

void cmd_speed(Runtime &r, const Args &a) {
    need(a, 0, 1);
    if (a.size() == 1) {
        const float v = to_float(a[0], "speed");
        call(r, [&] { result(r.api.set_speed(v)); });
        return;
    }
    call(r, [&] { say("  speed " + number(r.api.get_speed(), 1)); });
}

void cmd_bars(Runtime &r, const Args &a) {
    need(a, 0, 0);
    float pan = 0, tilt = 0;
    call(r, [&] { r.api.bar_ranges(&pan, &tilt); });
    say("  bar ranges: pan " + number(pan, 1) + ", tilt " + number(tilt, 1));
}

void cmd_flips(Runtime &r, const Args &a) {
    need(a, 0, 0);
    call(r, [&] {
        const int pan = r.api.pan_flipped();
        const int tilt = r.api.tilt_flipped();
        say("  flipped: pan " + std::to_string(pan) + ", tilt " + std::to_string(tilt));
    });
}

void cmd_fieldangle(Runtime &r, const Args &a) {
    need(a, 0, 0);
    float angle = 0;
    call(r, [&] { r.api.current_field_angle(&angle); });
    say("  field angle " + number(angle, 1) + " degrees");
}

void cmd_zoomcomp(Runtime &r, const Args &a) {
    need(a, 0, 0);
    call(r, [&] { result(r.api.zoom_compensation()); });
}

void cmd_autofocus(Runtime &r, const Args &a) {
    need(a, 1, 1);
    const int v = to_switch(a[0], "autofocus");
    call(r, [&] { result(r.api.autofocus(v)); });
}

void cmd_autoiris(Runtime &r, const Args &a) {
    need(a, 1, 1);
    const int v = to_switch(a[0], "autoiris");
    call(r, [&] { result(r.api.autoiris(v)); });
}

void cmd_backlight(Runtime &r, const Args &a) {
    need(a, 1, 1);
    const int v = to_switch(a[0], "backlight");
    call(r, [&] { result(r.api.backlight(v)); });
}

void cmd_ircut(Runtime &r, const Args &a) {
    need(a, 1, 1);
    int mode;
    if (a[0] == "night") {
        mode = 0;
    } else if (a[0] == "day") {
        mode = 1;
    } else if (a[0] == "auto") {
        mode = 2;
    } else {
        mode = to_int(a[0], "ircut (night, day, auto or a number)");
    }
    call(r, [&] { result(r.api.ircutfilter(mode)); });
}

void cmd_relay(Runtime &r, const Args &a) {
    need(a, 1, 1);
    call(r, [&] { result(r.api.auxiliary(a[0].c_str())); });
}

void cmd_menu(Runtime &r, const Args &a) {
    need(a, 1, 1);
    static const char *const codes[8] = {"close", "open", "up", "down", "left", "right", "select", "back"};
    int code = -1;
    for (int i = 0; i < 8; ++i) {
        if (a[0] == codes[i]) code = i;
    }
    if (code < 0) code = to_int(a[0], "menu (close, open, up, down, left, right, select, back or a number)");
    call(r, [&] { result(r.api.osdmenu(code)); });
}

void cmd_reload(Runtime &r, const Args &a) {
    need(a, 0, 0);
    Config fresh;
    std::string error;
    if (!load_config(r.config.path, r.params, &fresh, &error)) {
        throw BadArgs{error + "; the configuration in use stays"};
    }
    if (fresh.cameras != r.config.cameras) {
        throw BadArgs{"the number of cameras cannot change while the driver runs; restart instead"};
    }
    r.config = fresh;
    publish_config();
    say("  configuration reloaded from " + (r.config.path.empty() ? std::string("defaults") : r.config.path));
    call(r, [&] { result(r.api.param_changed()); });
}

void cmd_status(Runtime &r, const Args &a) {
    need(a, 0, 0);
    say(r.have_status ? "  last published " + status_text(r.last_status) : "  no status published yet");
    if (sim::VirtualCamera *cam = r.port->camera()) {
        cam->advance(elapsed());
        say("  virtual camera: " + cam->summary());
    } else {
        say("  frames go to " + r.port->describe());
    }
}

void cmd_info(Runtime &r, const Args &a) {
    need(a, 0, 0);
    std::istringstream in(describe_descriptor(r.descriptor));
    for (std::string text; std::getline(in, text);) say("  " + text);
    std::string slots;
    for (uint32_t s = 0; s < r.config.cameras; ++s) {
        slots += " " + std::to_string(s + 1) + (r.config.configured[s] ? "" : "(not configured)");
    }
    say("  cameras:" + slots + "; configuration " + (r.config.path.empty() ? "defaults" : r.config.path));
}

void cmd_wait(Runtime &, const Args &a) {
    need(a, 1, 1);
    const int ms = to_int(a[0], "wait");
    if (ms < 0 || ms > 600000) throw BadArgs{"wait: give 0..600000 milliseconds"};
    if (!interruptible_sleep(ms / 1000.0)) {
        interrupts = 0;
        say("  wait interrupted");
    }
}

void cmd_help(Runtime &r, const Args &a);
void cmd_quit(Runtime &, const Args &) {}

const Command commands[] = {
    {"help", "", "this list", cmd_help},
    {"camera", "[N]", "select camera N (slot N-1), or show the selected one", cmd_camera},
    {"move", "PAN [TILT [ZOOM [FOCUS [IRIS]]]]", "continuous move at these speeds; '-' leaves an axis out", cmd_move},
    {"stop", "", "stop every axis", cmd_stop},
    {"rel", "AXIS AMOUNT ...", "relative move, e.g. rel pan 10 zoom 1000 (pan, tilt, zoom, focus, iris)", cmd_rel},
    {"verify", "[quick] [PLOT.svg]", "the verification plan as relative moves; where each landed", cmd_verify},
    {"preset", "set N | goto N | range", "store, recall, or show the range of device presets", cmd_preset},
    {"speed", "[VALUE]", "set the move speed, or show it", cmd_speed},
    {"bars", "", "pan and tilt bar ranges", cmd_bars},
    {"flips", "", "whether pan and tilt are flipped", cmd_flips},
    {"fieldangle", "", "the current field angle", cmd_fieldangle},
    {"zoomcomp", "", "zoom compensation", cmd_zoomcomp},
    {"autofocus", "on|off|N", "automatic or manual focus", cmd_autofocus},
    {"autoiris", "on|off|N", "full-automatic or brightness-controlled exposure", cmd_autoiris},
    {"backlight", "on|off|N", "backlight compensation", cmd_backlight},
    {"ircut", "night|day|auto|N", "IR-cut filter: removed, in place, automatic", cmd_ircut},
    {"relay", "COMMAND", "relay command, e.g. relay1:on, relay3:off", cmd_relay},
    {"menu", "open|close|up|down|left|right|select|back|N", "on-screen menu", cmd_menu},
    {"reload", "", "read the configuration file again and tell the driver", cmd_reload},
    {"status", "", "last published status and the virtual camera's state", cmd_status},
    {"info", "", "the driver's descriptor", cmd_info},
    {"wait", "MS", "wait (a continuous move keeps going)", cmd_wait},
    {"quit", "", "tear the driver down and leave (also: exit, Ctrl-D)", cmd_quit},
};

void cmd_help(Runtime &, const Args &a) {
    need(a, 0, 1);
    for (const Command &c : commands) {
        if (!a.empty() && a[0] != c.name) continue;
        char buf[256];
        snprintf(buf, sizeof buf, "  %-10s %-44s %s", c.name, c.args, c.help);
        say(buf);
    }
}

}  // namespace

const char *command_name(size_t index) {
    return index < sizeof commands / sizeof commands[0] ? commands[index].name : nullptr;
}

bool run_command(Runtime &r, const std::string &text) {
    std::istringstream in(text);
    Args words;
    for (std::string w; in >> w;) {
        if (w[0] == '#') break;
        words.push_back(w);
    }
    if (words.empty()) return true;
    const std::string name = words[0];
    words.erase(words.begin());
    if (name == "quit" || name == "exit") return false;
    for (const Command &c : commands) {
        if (name == c.name) {
            try {
                c.run(r, words);
            } catch (const BadArgs &bad) {
                say("error: " + name + ": " + bad.why);
            }
            return true;
        }
    }
    say("error: unknown command '" + name + "' (type help)");
    return true;
}

int run_session(Runtime &r) {
    std::string slots;
    for (uint32_t s = 0; s < r.config.cameras; ++s) {
        if (r.config.configured[s]) slots += " " + std::to_string(s + 1);
    }
    say(std::string("tavrinode: driver ") + (r.descriptor.name ? r.descriptor.name : "?") + " " +
        (r.descriptor.version ? r.descriptor.version : "?") + ", frames to " + r.port->describe() + ", " +
        std::to_string(r.config.cameras) + " camera slot(s), configured:" + (slots.empty() ? " none" : slots) +
        ", configuration " + (r.config.path.empty() ? "defaults" : r.config.path));

    int setup = 0;
    call(r, [&] { setup = r.api.setup(); });
    say("setup = " + std::to_string(setup));

    std::unique_ptr<LineSource> source;
    if (!r.options.commands.empty()) {
        source = make_list_source(r.options.commands);
    } else if (!r.options.script.empty()) {
        std::string error;
        source = make_file_source(r.options.script, &error);
        if (!source) {
            say("error: " + error);
        }
    } else {
        source = make_stdin_source();
    }
    while (source) {
        std::optional<std::string> text = source->next();
        if (!text) break;
        if (!run_command(r, *text)) break;
    }

    say("teardown");
    call(r, [&] { r.api.teardown(); });
    if (sim::VirtualCamera *cam = r.port->camera()) {
        cam->advance(elapsed());
        say("virtual camera: " + cam->summary());
        if (!r.options.timeline.empty()) {
            std::string error;
            if (sim::write_timeline(r.options.timeline, cam->model(), cam->history(), elapsed(), &error)) {
                say("timeline written to " + r.options.timeline);
            } else {
                say("error: " + error);
            }
        }
    }
    return setup == 1 ? 0 : 1;
}

}  // namespace host
