#include "console.h"

#include <errno.h>
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "input.h"
#include "output_path.h"
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

std::string number(double v, int decimals) {
    char buf[64];
    snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

float to_float(const std::string &text, const char *what) {
    char *end = nullptr;
    const float v = strtof(text.c_str(), &end);
    if (text.empty() || *end != '\0') throw BadArgs{std::string(what) + ": '" + text + "' is not a number"};
    return v;
}

// Whole numbers outside low..high are refused, naming the range.
int to_int(const std::string &text, const char *what, long long low = -2147483647LL - 1,
           long long high = 2147483647LL) {
    char *end = nullptr;
    errno = 0;
    const long long v = strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0') {
        throw BadArgs{std::string(what) + ": '" + text + "' is not a whole number"};
    }
    if (errno == ERANGE || v < low || v > high) {
        throw BadArgs{std::string(what) + ": " + text + " is outside " + std::to_string(low) + ".." +
                      std::to_string(high)};
    }
    return static_cast<int>(v);
}

// Values a real host passes; anything goes with --raw.
float within(Runtime &r, float v, float low, float high, const char *what, const char *unit) {
    if (r.options.raw || (v >= low && v <= high)) return v;
    char text[160];
    snprintf(text, sizeof text, "%s: %g is outside %g..%g %s (--raw passes it anyway)", what, static_cast<double>(v),
             static_cast<double>(low), static_cast<double>(high), unit);
    throw BadArgs{text};
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

// Where the camera comes to rest if nothing more is sent. A camera that acts
// once per video frame, starts late and coasts is still moving when the stop
// frame has been written, so a copy of it is run on past all of that; the
// camera itself must not be moved ahead of the frames still to come.
camera::Position settled(const camera::VirtualCamera &cam, double now) {
    camera::VirtualCamera copy = cam;
    const camera::Profile &p = cam.model().profile;
    const double rest = (2 * p.frame_ms + p.start_latency_ms + p.coast_ms) / 1000.0;
    return copy.state_at(now + rest).position;
}

// After a relative move: for each axis, the requested and the reached amount
// and the drive time the driver meant (its sleeps) against the interval
// between its drive and stop frames.
void summarise_relative(Runtime &r, const float request[5], const camera::Position *before,
                        const camera::Position *after) {
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
    if (!r.config.configured[static_cast<size_t>(n - 1)]) {
        throw BadArgs{"camera " + a[0] + " belongs to another driver (configured = false); nothing sent"};
    }
    camindex = n - 1;
    say("  camera " + std::to_string(n) + " (slot " + std::to_string(camindex) + ")");
}

void cmd_move(Runtime &r, const Args &a) {
    need(a, 1, 5);
    float v[5];
    for (size_t i = 0; i < 5; ++i) {
        v[i] = i < a.size() && a[i] != "-"
                   ? within(r, to_float(a[i], axis_names[i]), -100, 100, axis_names[i], "(host speed, 0 = stop)")
                   : absent;
    }
    const move_request req{v[0], v[1], v[2], v[3], v[4]};
    // Remembered so that Ctrl-C can stop it; a move of zeros is no stop of
    // the axes it leaves out, so only "stop" forgets it.
    for (float speed : v) {
        if (speed != 0 && speed < absent) r.moving.insert(camindex);
    }
    call(r, [&] { result(r.api.move_cont(&req)); });
}

void cmd_stop(Runtime &r, const Args &a) {
    need(a, 0, 0);
    r.moving.erase(camindex);
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
        if (v[axis] < absent) throw BadArgs{std::string(axis_names[axis]) + " is given twice"};
        static const float limit[5] = {360, 360, 19998, 19998, 9998};
        static const char *const unit[5] = {"degrees", "degrees", "zoom steps", "focus steps", "iris units"};
        const float amount = to_float(a[i + 1], axis_names[axis]);
        v[axis] = within(r, amount, -limit[axis], limit[axis], axis_names[axis], unit[axis]);
        if (axis == IRIS && !r.options.raw && amount != 0 && fabsf(amount) < 624) {
            throw BadArgs{"iris: " + a[i + 1] + " is less than one brightness step (624 iris units)"};
        }
    }
    const move_request req{v[0], v[1], v[2], v[3], v[4]};
    Port *port = line_for(r, camindex);
    camera::VirtualCamera *cam = port != nullptr ? port->camera() : nullptr;
    camera::Position before, after;
    if (cam != nullptr) before = settled(*cam, elapsed());
    r.events.clear();
    call(r, [&] { result(r.api.move_rel(&req)); });
    if (cam != nullptr) after = settled(*cam, elapsed());
    summarise_relative(r, v, cam ? &before : nullptr, cam ? &after : nullptr);
}

void cmd_verify(Runtime &r, const Args &a) {
    need(a, 0, 2);
    const bool quick = !a.empty() && a[0] == "quick";
    const size_t plot = quick ? 1 : 0;
    const std::string plot_path = a.size() > plot ? a[plot] : r.options.verify_plot;
    std::string why;
    if (!plot_path.empty() && !files::can_write(plot_path, &why)) throw BadArgs{why};
    // A verification that could not read the camera fails the session's
    // exit status, as a refused command does.
    if (!run_verify(r, [&](const std::function<void()> &f) { call(r, f); }, plot_path, quick)) {
        r.rejected = true;
    }
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
    const bool store = a[0] == "set" || a[0] == "store";
    if (!store && a[0] != "goto" && a[0] != "recall") throw BadArgs{"'" + a[0] + "': use set, goto or range"};
    int low = 0, high = 0;
    if (!r.options.raw) call(r, [&] { r.api.device_preset_range(&low, &high); });
    const int n = r.options.raw ? to_int(a[1], "preset") : to_int(a[1], "preset", low, high);
    if (store) {
        call(r, [&] { result(r.api.set_device_preset(n)); });
    } else {
        call(r, [&] { result(r.api.goto_device_preset(n)); });
    }
}

void cmd_speed(Runtime &r, const Args &a) {
    need(a, 0, 1);
    if (a.size() == 1) {
        const float v = within(r, to_float(a[0], "speed"), 1, 100, "speed", "percent");
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
    for (uint32_t s = 0; s < r.config.cameras; ++s) {
        const std::string who = "  camera " + std::to_string(s + 1) + ": ";
        Port *port = line_for(r, static_cast<int>(s));
        if (!r.config.configured[s]) {
            say(who + "another driver's");
        } else if (port == nullptr) {
            say(who + "no line");
        } else if (camera::VirtualCamera *cam = port->camera()) {
            cam->advance(elapsed());
            say(who + "virtual camera: " + cam->summary());
        } else {
            say(who + "frames go to " + port->describe());
        }
    }
}

// Per slot, the values the driver read (at setup, or after a reload).
void show_values(Runtime &r) {
    for (uint32_t s = 0; s < r.config.cameras; ++s) {
        std::string text = "  camera " + std::to_string(s + 1) + ":";
        if (s >= r.read_values.size() || r.read_values[s].empty()) {
            say(text + (r.config.configured[s] ? " nothing read" : " another driver's"));
            continue;
        }
        for (const auto &kv : r.read_values[s]) text += " " + kv.first + "=" + kv.second;
        if (s < r.config.ports.size() && !r.config.ports[s].empty()) text += "; port " + r.config.ports[s];
        say(text);
    }
}

void cmd_values(Runtime &r, const Args &a) {
    need(a, 0, 0);
    show_values(r);
}

void cmd_info(Runtime &r, const Args &a) {
    need(a, 0, 0);
    std::istringstream in(describe_descriptor(r.descriptor));
    for (std::string text; std::getline(in, text);) say("  " + text);
    std::string slots;
    for (uint32_t s = 0; s < r.config.cameras; ++s) {
        slots += " " + std::to_string(s + 1) + (r.config.configured[s] ? "" : "(not configured)");
    }
    say("  cameras:" + slots + "; configuration " + (r.config.path.empty() ? "defaults" : r.config.path) +
        " ('values' shows what each camera uses)");
}

void cmd_wait(Runtime &r, const Args &a) {
    need(a, 1, 1);
    const int ms = to_int(a[0], "wait", 0, 600000);
    if (!interruptible_sleep(ms / 1000.0)) {
        interrupts = 0;
        r.interrupted = true;
        say("  wait interrupted");
    }
}

void cmd_help(Runtime &r, const Args &a);
void cmd_quit(Runtime &, const Args &) {}

const Command commands[] = {
    {"help", "", "this list", cmd_help},
    {"camera", "[N]", "select camera N (slot N-1), or show the selected one", cmd_camera},
    {"move", "PAN [TILT [ZOOM [FOCUS [IRIS]]]]",
     "continuous move; host speeds -100..100, 0 = stop; '-' leaves an axis out; of pan and tilt only the "
     "larger is driven (the driver's rule)",
     cmd_move},
    {"stop", "", "stop every axis", cmd_stop},
    {"rel", "AXIS AMOUNT ...",
     "relative move: pan|tilt -360..360 degrees, zoom|focus -19998..19998 steps, iris -9998..9998 "
     "units (624 per brightness step); e.g. rel pan 10 zoom 1000",
     cmd_rel},
    {"verify", "[quick] [PLOT.svg]", "the verification plan as relative moves; where each landed", cmd_verify},
    {"preset", "set N | goto N | range", "store, recall, or show the range of device presets", cmd_preset},
    {"speed", "[1..100]", "set the move speed in percent, or show it", cmd_speed},
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
    {"status", "", "last published status; per camera its line or virtual camera", cmd_status},
    {"info", "", "the driver's descriptor", cmd_info},
    {"values", "", "per camera, the values the driver read from the configuration", cmd_values},
    {"wait", "0..600000", "wait milliseconds (a continuous move keeps going)", cmd_wait},
    {"quit", "", "tear the driver down and leave (also: exit, Ctrl-D)", cmd_quit},
};

// The command and its arguments, then what it does from column `indent`,
// wrapped to fit 80 columns (beside them when they are short).
void cmd_help(Runtime &, const Args &a) {
    need(a, 0, 1);
    constexpr size_t width = 80, indent = 28;
    for (const Command &c : commands) {
        if (!a.empty() && a[0] != c.name) continue;
        std::string line = "  " + std::string(c.name) + (*c.args != '\0' ? " " + std::string(c.args) : "");
        if (line.size() >= indent) {
            say(line);
            line.clear();
        }
        line.resize(indent, ' ');
        std::istringstream words(c.help);
        std::string word;
        bool first = true;
        while (words >> word) {
            if (!first && line.size() + 1 + word.size() > width) {
                say(line);
                line.assign(indent, ' ');
                first = true;
            }
            line += (first ? "" : " ") + word;
            first = false;
        }
        say(line);
    }
}

// The words an argument may be, by command (the first argument; `rel`
// alternates axis and amount).
struct Choices {
    const char *command;
    const char *words;
};
const Choices choices[] = {
    {"preset", "set goto range"}, {"autofocus", "on off"},     {"autoiris", "on off"},
    {"backlight", "on off"},      {"ircut", "night day auto"}, {"verify", "quick"},
    {"menu", "open close up down left right select back"},
};

// Sends a stop to every camera that a continuous move left moving.
void stop_continuous(Runtime &r) {
    const int selected = camindex;
    for (int slot : r.moving) {
        camindex = slot;
        say("  stopping camera " + std::to_string(slot + 1));
        call(r, [&] { result(r.api.stop()); });
    }
    r.moving.clear();
    camindex = selected;
}

// Where each configured camera's frames go: one line for all, or per camera.
std::string lines_text(const Runtime &r) {
    std::vector<std::pair<uint32_t, const Port *>> where;
    bool shared = true;
    for (uint32_t s = 0; s < r.config.cameras; ++s) {
        if (!r.config.configured[s]) continue;
        where.emplace_back(s, line_for(r, static_cast<int>(s)));
        shared = shared && where.front().second == where.back().second;
    }
    auto name = [](const Port *port) { return port != nullptr ? port->describe() : std::string("nowhere"); };
    if (where.empty()) return "frames to nowhere";
    if (shared) return "frames to " + name(where.front().second);
    std::string text = "frames to";
    for (const auto &w : where) {
        text += (w.first == where.front().first ? " camera " : "; camera ") + std::to_string(w.first + 1) + " " +
                name(w.second);
    }
    return text;
}

}  // namespace

const char *command_name(size_t index) {
    return index < sizeof commands / sizeof commands[0] ? commands[index].name : nullptr;
}

std::vector<std::string> argument_choices(const std::vector<std::string> &before) {
    std::vector<std::string> out;
    if (before.empty()) return out;
    const std::string &name = before[0];
    const size_t position = before.size() - 1;  // of the argument being completed
    if (name == "help" && position == 0) {
        for (const Command &c : commands) out.push_back(c.name);
    } else if (name == "rel" && position % 2 == 0) {
        // Each axis once.
        for (const char *axis : axis_names) {
            if (std::find(before.begin() + 1, before.end(), axis) == before.end()) out.push_back(axis);
        }
    } else if (name == "camera" && position == 0) {
        const Runtime &r = runtime();
        for (uint32_t s = 0; s < r.config.cameras; ++s) {
            if (r.config.configured[s]) out.push_back(std::to_string(s + 1));
        }
    } else if (position == 0) {
        for (const Choices &c : choices) {
            if (name != c.command) continue;
            std::istringstream words(c.words);
            for (std::string w; words >> w;) out.push_back(w);
        }
    }
    return out;
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
    r.interrupted = false;
    for (const Command &c : commands) {
        if (name == c.name) {
            try {
                c.run(r, words);
            } catch (const BadArgs &bad) {
                // The command's name once, even when the value was named after it.
                const std::string prefix = name + ": ";
                const bool named = bad.why.compare(0, prefix.size(), prefix) == 0;
                say("error: " + prefix + (named ? bad.why.substr(prefix.size()) : bad.why));
                r.rejected = true;
            }
            return true;
        }
    }
    say("error: unknown command '" + name + "' (type help)");
    r.rejected = true;
    return true;
}

int run_session(Runtime &r) {
    std::string slots;
    for (uint32_t s = 0; s < r.config.cameras; ++s) {
        if (r.config.configured[s]) slots += " " + std::to_string(s + 1);
    }
    say(std::string("tavrinode: driver ") + (r.descriptor.name ? r.descriptor.name : "?") + " " +
        (r.descriptor.version ? r.descriptor.version : "?") + ", " + lines_text(r) + ", " +
        std::to_string(r.config.cameras) + " camera slot(s), configured:" + (slots.empty() ? " none" : slots) +
        ", configuration " + (r.config.path.empty() ? "defaults" : r.config.path) + ", profile " +
        r.options.camera_model.profile.name);

    int setup = 0;
    call(r, [&] { setup = r.api.setup(); });
    say("setup = " + std::to_string(setup));
    if (r.options.trace) show_values(r);
    // The console starts on the first slot the driver owns.
    for (uint32_t s = 0; s < r.config.cameras; ++s) {
        if (r.config.configured[s]) {
            camindex = static_cast<int>(s);
            break;
        }
    }

    std::unique_ptr<LineSource> source;
    if (!r.options.commands.empty()) {
        source = make_list_source(r.options.commands);
    } else if (!r.options.script.empty()) {
        std::string error;
        source = make_file_source(r.options.script, &error);
        if (!source) {
            say("error: " + error);
            r.rejected = true;
        }
    } else {
        source = make_stdin_source([&r] { stop_continuous(r); });
    }
    const bool interactive = source && source->interactive();
    while (source && terminate_signal == 0) {
        std::optional<std::string> text = source->next();
        if (!text || terminate_signal != 0) break;
        if (!run_command(r, *text)) break;
        if (r.interrupted && terminate_signal == 0) {
            // At the console Ctrl-C cuts the command and stops what moves;
            // anywhere else it ends the session.
            if (interactive) {
                stop_continuous(r);
                r.interrupted = false;
                continue;
            }
            say("interrupted; quitting");
            break;
        }
    }
    // A Ctrl-C held while the last command computed still counts.
    if (!interactive && take_interrupt()) r.interrupted = true;
    if (terminate_signal != 0) {
        say(std::string("ended by ") + (terminate_signal == SIGHUP    ? "SIGHUP"
                                        : terminate_signal == SIGQUIT ? "SIGQUIT"
                                                                      : "SIGTERM"));
        interrupts = 0;
    }

    say("teardown");
    call(r, [&] { r.api.teardown(); });
    int status = setup == 1 && !r.rejected ? exit_ok : exit_failed;
    std::set<Port *> seen;
    int pictures = 0;
    for (uint32_t s = 0; s < r.config.cameras; ++s) {
        Port *port = line_for(r, static_cast<int>(s));
        if (port != nullptr && !seen.insert(port).second) continue;
        if (port != nullptr && port->was_lost()) {
            say("line lost during the session: " + port->describe());
            status = exit_failed;
        }
        camera::VirtualCamera *cam = port != nullptr ? port->camera() : nullptr;
        if (cam == nullptr) continue;
        cam->advance(elapsed());
        say("virtual camera " + std::to_string(s + 1) + ": " + cam->summary());
        if (!r.options.timeline.empty()) {
            // One picture per camera: the first keeps the name, the others get the number.
            std::string path = r.options.timeline;
            if (pictures++ > 0) {
                const size_t dot = path.rfind('.');
                const std::string suffix = "-camera" + std::to_string(s + 1);
                path = dot == std::string::npos || dot < path.rfind('/') + 1 ? path + suffix
                                                                             : path.insert(dot, suffix);
            }
            std::string error;
            if (camera::write_timeline(path, cam->model(), cam->history(), elapsed(), &error)) {
                say("timeline written to " + path);
            } else {
                say("error: " + error);
                status = exit_failed;
            }
        }
    }
    if (terminate_signal != 0) return 128 + terminate_signal;
    return r.interrupted ? 128 + SIGINT : status;
}

}  // namespace host
