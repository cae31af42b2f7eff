#include "profile.h"

#include <dirent.h>
#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "ini_lines.h"
#include "ini_values.h"

#ifndef PTZ_PROFILE_DIR
#define PTZ_PROFILE_DIR "profiles"
#endif

namespace camera {

double SpeedCurve::rate(int code) const {
    if (proportional) {
        return full_rate * code / full_code;
    }
    if (table.empty()) {
        return 0;
    }
    const long i = static_cast<long>(code) - first_code;
    if (i < 0) return table.front();
    if (i >= static_cast<long>(table.size())) return table.back();
    return table[static_cast<size_t>(i)];
}

int PanTiltAxis::reply_units(double degrees) const {
    const long units = lround(degrees * units_per_degree * sign);
    // The camera's counter is 16 bits wide; past its range it wraps.
    const long wrapped = ((units % 65536) + 65536) % 65536;
    return static_cast<int>(wrapped >= 32768 ? wrapped - 65536 : wrapped);
}

double LensAxis::rate(int nibble) const {
    const int n = nibble < 0 ? 0 : nibble > 7 ? 7 : nibble;
    if (proportional) {
        return (max - min) / (full_travel_ms / 1000.0) * (n + 1) / 8.0;
    }
    return (max - min) / (travel_ms[static_cast<size_t>(n)] / 1000.0);
}

Profile Profile::proportional() {
    Profile p;
    p.name = "proportional";
    p.description = "speed proportional to the speed byte, calibrated to the driver's defaults";
    p.pan.speed.full_rate = 1000.0 / 69.0;
    p.pan.speed.full_code = 0x12;
    p.pan.units_per_degree = 14.4;
    p.tilt.speed.full_rate = 1000.0 / 68.0;
    p.tilt.speed.full_code = 0x0E;
    p.tilt.units_per_degree = 14.4;
    p.zoom.full_travel_ms = 10500;
    p.zoom.max = 19998;
    p.focus.full_travel_ms = 1500;
    p.focus.max = 19998;
    p.focus.start = 9999;
    p.reply_ms = 10;
    p.vendor = 0x0070;
    p.model = 0x0001;
    p.rom = 0x0100;
    return p;
}

namespace {

struct Parser {
    Profile profile;
    std::string message;
    // Which of the required keys were seen, per section.
    bool pan_speed = false, tilt_speed = false, zoom_travel = false, focus_travel = false;
    bool pan_min = false, pan_max = false, tilt_min = false, tilt_max = false;
    bool zoom_start = false, focus_start = false;
};

bool number(const char *text, double *out) {
    char *end = nullptr;
    errno = 0;
    const double v = strtod(text, &end);
    while (end != nullptr && (*end == ' ' || *end == '\t')) ++end;
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(v)) {
        return false;
    }
    *out = v;
    return true;
}

bool whole(const char *text, long lo, long hi, long *out) {
    double v = 0;
    if (!number(text, &v) || v != floor(v) || v < static_cast<double>(lo) || v > static_cast<double>(hi)) {
        return false;
    }
    *out = static_cast<long>(v);
    return true;
}

bool numbers(const char *text, std::vector<double> *out) {
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        double v = 0;
        if (!number(word.c_str(), &v) || !(v > 0)) {
            return false;
        }
        out->push_back(v);
    }
    return true;
}

int fail(Parser *p, const std::string &message) {
    p->message = message;
    return 0;
}

int camera_key(Parser *p, const std::string &key, const char *value) {
    Profile &c = p->profile;
    double v = 0;
    long n = 0;
    auto positive_ms = [&](double *field) {
        if (!number(value, &v) || v < 0 || v > 10000) return fail(p, key + ": not a time from 0 to 10000 ms");
        *field = v;
        return 1;
    };
    if (key == "name") {
        c.name = value;
    } else if (key == "description") {
        c.description = c.description.empty() ? value : c.description + " " + value;
    } else if (key == "frame_ms") {
        return positive_ms(&c.frame_ms);
    } else if (key == "start_latency_ms") {
        return positive_ms(&c.start_latency_ms);
    } else if (key == "coast_ms") {
        return positive_ms(&c.coast_ms);
    } else if (key == "reply_ms") {
        return positive_ms(&c.reply_ms);
    } else if (key == "slots") {
        if (!whole(value, 0, 16, &n)) return fail(p, "slots: not a count from 0 to 16");
        c.slots = static_cast<int>(n);
    } else if (key == "rejects_zero_speed") {
        if (!ini::read_bool(value, &c.rejects_zero_speed)) return fail(p, "rejects_zero_speed: not true or false");
    } else if (key == "vendor" || key == "model" || key == "rom") {
        // Sent as two bytes; neither may look like a header or a terminator.
        if (!whole(value, 0, 0x7F7F, &n) || (n & 0x80) != 0) {
            return fail(p, key + ": not a number from 0 to 0x7F7F with both bytes below 0x80");
        }
        (key == "vendor" ? c.vendor : key == "model" ? c.model : c.rom) = static_cast<int>(n);
    } else {
        return fail(p, "unknown key '" + key + "' in [camera]");
    }
    return 1;
}

int pan_tilt_key(Parser *p, PanTiltAxis &a, bool &speed_seen, bool &min_seen, bool &max_seen,
                 const std::string &key, const char *value) {
    double v = 0;
    long n = 0;
    if (key == "speeds") {
        // May continue on indented lines: inih hands each one over again.
        if (!numbers(value, &a.speed.table)) return fail(p, "speeds: not a list of positive numbers");
        a.speed.proportional = false;
        speed_seen = true;
    } else if (key == "first_byte") {
        if (!whole(value, 0, 0x7F, &n)) return fail(p, "first_byte: not a byte from 0 to 0x7F");
        a.speed.first_code = static_cast<int>(n);
    } else if (key == "full_speed") {
        if (!number(value, &v) || !(v > 0)) return fail(p, "full_speed: not a positive number");
        a.speed.full_rate = v;
        speed_seen = true;
    } else if (key == "full_byte") {
        if (!whole(value, 1, 0x7F, &n)) return fail(p, "full_byte: not a byte from 1 to 0x7F");
        a.speed.full_code = static_cast<int>(n);
    } else if (key == "units_per_degree") {
        if (!number(value, &v) || !(v > 0) || v > 10000) return fail(p, "units_per_degree: not a number above 0");
        a.units_per_degree = v;
    } else if (key == "sign") {
        if (!whole(value, -1, 1, &n) || n == 0) return fail(p, "sign: not 1 or -1");
        a.sign = static_cast<int>(n);
    } else if (key == "min" || key == "max") {
        if (!number(value, &v) || fabs(v) > 360) return fail(p, key + ": not an angle from -360 to 360");
        (key == "min" ? a.min_degrees : a.max_degrees) = v;
        (key == "min" ? min_seen : max_seen) = true;
    } else {
        return fail(p, "unknown key '" + key + "'");
    }
    return 1;
}

int lens_key(Parser *p, LensAxis &a, bool &travel_seen, bool &start_seen, const std::string &key,
             const char *value) {
    double v = 0;
    if (key == "full_travel_ms") {
        if (!number(value, &v) || !(v > 0) || v > 600000) return fail(p, "full_travel_ms: not a positive time");
        a.proportional = true;
        a.full_travel_ms = v;
        travel_seen = true;
    } else if (key == "travel_ms") {
        if (!numbers(value, &a.travel_ms)) return fail(p, "travel_ms: not a list of positive times");
        a.proportional = false;
        travel_seen = true;
    } else if (key == "min" || key == "max" || key == "start") {
        if (!number(value, &v) || v < 0 || v > 0xFFFF) return fail(p, key + ": not a position from 0 to 0xFFFF");
        (key == "min" ? a.min : key == "max" ? a.max : a.start) = v;
        if (key == "start") start_seen = true;
    } else {
        return fail(p, "unknown key '" + key + "'");
    }
    return 1;
}

int on_entry(void *user, const char *section, const char *name, const char *value) {
    Parser *p = static_cast<Parser *>(user);
    const std::string s = section, key = name;
    Profile &c = p->profile;
    if (s == "camera") return camera_key(p, key, value);
    if (s == "pan") return pan_tilt_key(p, c.pan, p->pan_speed, p->pan_min, p->pan_max, key, value);
    if (s == "tilt") return pan_tilt_key(p, c.tilt, p->tilt_speed, p->tilt_min, p->tilt_max, key, value);
    if (s == "zoom") return lens_key(p, c.zoom, p->zoom_travel, p->zoom_start, key, value);
    if (s == "focus") return lens_key(p, c.focus, p->focus_travel, p->focus_start, key, value);
    return fail(p, "unknown section [" + s + "]");
}

// What only the whole file can tell.
std::string check(Parser &p) {
    Profile &c = p.profile;
    const struct {
        const char *name;
        PanTiltAxis &axis;
        bool speed, min, max;
    } pan_tilt[] = {{"pan", c.pan, p.pan_speed, p.pan_min, p.pan_max},
                    {"tilt", c.tilt, p.tilt_speed, p.tilt_min, p.tilt_max}};
    for (const auto &a : pan_tilt) {
        const std::string n = a.name;
        if (!a.speed) return "[" + n + "] needs speeds (a table) or full_speed";
        // The camera takes the table's last entry as its top speed.
        if (!a.axis.speed.proportional && a.axis.speed.table.empty()) return "[" + n + "] speeds: the table is empty";
        if (!a.axis.speed.table.empty() && a.axis.speed.full_rate > 0) {
            return "[" + n + "] has both speeds and full_speed; give one";
        }
        if (a.min != a.max) return "[" + n + "] needs both min and max, or neither (no end stops)";
        a.axis.end_stops = a.min;
        if (a.min && !(a.axis.min_degrees < 0 && a.axis.max_degrees > 0)) {
            return "[" + n + "] min must be below 0 and max above 0";
        }
    }
    const struct {
        const char *name;
        LensAxis &axis;
        bool travel, start;
    } lens[] = {{"zoom", c.zoom, p.zoom_travel, p.zoom_start}, {"focus", c.focus, p.focus_travel, p.focus_start}};
    for (const auto &a : lens) {
        const std::string n = a.name;
        if (!a.travel) return "[" + n + "] needs full_travel_ms or travel_ms";
        if (!a.axis.proportional && a.axis.travel_ms.size() != 8) {
            return "[" + n + "] travel_ms needs 8 times, one per speed 0 to 7";
        }
        if (!(a.axis.min < a.axis.max)) return "[" + n + "] min must be below max";
        if (!a.start) a.axis.start = a.axis.min;
        if (a.axis.start < a.axis.min || a.axis.start > a.axis.max) return "[" + n + "] start is outside min..max";
    }
    return "";
}

}  // namespace

bool read_profile(const std::string &path, Profile *out, std::string *error) {
    Parser p;
    std::string why;
    const int result = ini::parse_file(path, on_entry, &p, &why);
    if (result < 0) {
        *error = path + ": cannot read the profile: " + why;
        return false;
    }
    if (result > 0) {
        *error = path + ":" + std::to_string(result) + ": " +
                 (!why.empty() ? why : !p.message.empty() ? p.message : std::string("not a valid INI line"));
        return false;
    }
    const std::string problem = check(p);
    if (!problem.empty()) {
        *error = path + ": " + problem;
        return false;
    }
    if (p.profile.name.empty()) {
        const size_t slash = path.find_last_of('/');
        std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
        if (base.size() > 4 && base.compare(base.size() - 4, 4, ".ini") == 0) base.resize(base.size() - 4);
        p.profile.name = base;
    }
    *out = p.profile;
    return true;
}

std::string profile_path(const std::string &name_or_file, const std::string &folder) {
    const bool file = name_or_file.find('/') != std::string::npos ||
                      (name_or_file.size() > 4 && name_or_file.compare(name_or_file.size() - 4, 4, ".ini") == 0);
    return file ? name_or_file : folder + "/" + name_or_file + ".ini";
}

std::string builtin_profile_folder() {
    const char *env = getenv("PTZ_PROFILE_DIR");
    return env != nullptr && *env != '\0' ? env : PTZ_PROFILE_DIR;
}

std::vector<std::string> builtin_profile_names(const std::string &folder) {
    std::vector<std::string> names;
    DIR *dir = opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent *e = readdir(dir)) {
        const std::string file = e->d_name;
        if (file.size() > 4 && file.compare(file.size() - 4, 4, ".ini") == 0) names.push_back(file.substr(0, file.size() - 4));
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool load_profile(const std::string &name_or_file, Profile *out, std::string *error) {
    const std::string folder = builtin_profile_folder();
    const std::string path = profile_path(name_or_file, folder);
    if (read_profile(path, out, error)) return true;
    // A name that is no shipped profile: say which there are.
    if (path != name_or_file && access(path.c_str(), F_OK) != 0) {
        std::string list;
        for (const std::string &name : builtin_profile_names(folder)) list += (list.empty() ? "" : ", ") + name;
        *error += list.empty() ? "; no shipped profiles in " + folder : "; the shipped profiles are " + list;
    }
    return false;
}

}  // namespace camera
