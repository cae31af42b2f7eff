#include "config.h"

#include <ctype.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "camera_section.h"
#include "ini_lines.h"
#include "ini_values.h"

namespace host {

namespace {

struct Parse {
    const std::vector<ParamInfo> *params;
    std::optional<uint32_t> cameras;
    // camera number -> (configured, values)
    std::map<uint32_t, bool> sections;
    std::map<uint32_t, std::map<std::string, std::optional<long>>> values;
    std::map<uint32_t, std::string> ports;
    std::string error;  // the first problem, without the line
};

const ParamInfo *find_param(const std::vector<ParamInfo> &params, const char *key) {
    for (const ParamInfo &s : params) {
        if (s.key == key) return &s;
    }
    return nullptr;
}

using ini::read_bool;
using ini::read_long;

// "camera3" -> 3, for the cameras this host has slots for.
bool camera_section(const std::string &section, uint32_t *number) {
    const int n = ini::camera_of(section);
    if (n < 1 || n > static_cast<int>(max_cameras)) return false;
    *number = static_cast<uint32_t>(n);
    return true;
}

int on_entry(void *user, const char *section, const char *name, const char *value) {
    Parse &p = *static_cast<Parse *>(user);
    if (!p.error.empty()) {
        return 1;  // report only the first problem
    }
    const std::string sec = section, key = name, val = value;
    if (strcasecmp(section, "host") == 0) {
        long n = 0;
        if (strcasecmp(name, "cameras") != 0) {
            p.error = "unknown key '" + key + "' in [host] (only 'cameras')";
        } else if (!read_long(val, &n) || n < 1 || n > static_cast<long>(max_cameras)) {
            p.error = "cameras = " + val + " is not a number in 1.." + std::to_string(max_cameras);
        } else {
            p.cameras = static_cast<uint32_t>(n);
            return 1;
        }
        return 0;
    }
    uint32_t camera = 0;
    if (!camera_section(sec, &camera)) {
        p.error = "unknown section [" + sec + "] (use [host] or [camera1] .. [camera" +
                  std::to_string(max_cameras) + "])";
        return 0;
    }
    p.sections.emplace(camera, true);
    if (strcasecmp(name, "configured") == 0) {
        bool b = false;
        if (!read_bool(val, &b)) {
            p.error = "configured = " + val + " is not true or false";
            return 0;
        }
        p.sections[camera] = b;
        return 1;
    }
    if (strcasecmp(name, "port") == 0) {
        if (val.empty()) {
            p.error = "port = needs a device (or leave the key out for the common line)";
            return 0;
        }
        p.ports[camera] = val;
        return 1;
    }
    const ParamInfo *param = find_param(*p.params, name);
    if (param == nullptr) {
        p.error = "unknown key '" + key + "' in [" + sec + "]";
        return 0;
    }
    if (val.empty()) {
        p.values[camera][param->key] = std::nullopt;
        return 1;
    }
    if (param->boolean) {
        bool b = false;
        if (!read_bool(val, &b)) {
            p.error = key + " = " + val + " is not a boolean (true/false, yes/no, on/off, 1/0)";
            return 0;
        }
        p.values[camera][param->key] = b ? 1 : 0;
        return 1;
    }
    long n = 0;
    if (!read_long(val, &n)) {
        p.error = key + " = " + val + " is not a whole number";
        return 0;
    }
    if (n < param->low || n > param->high) {
        p.error = key + " = " + val + " is outside its range " + param->range;
        return 0;
    }
    p.values[camera][param->key] = n;
    return 1;
}

std::map<std::string, std::optional<long>> defaults(const std::vector<ParamInfo> &params) {
    std::map<std::string, std::optional<long>> out;
    for (const ParamInfo &s : params) {
        bool b = false;
        long n = 0;
        if (s.boolean && read_bool(s.def, &b)) {
            out[s.key] = b ? 1 : 0;
        } else if (!s.boolean && read_long(s.def, &n)) {
            out[s.key] = n;
        }
        // A default the host cannot read leaves the key unset.
    }
    return out;
}

// The INI reader reports keys, not sections; a camera section without keys
// still configures its slot, so the section headers are collected here.
bool scan_sections(const std::string &path, const std::string &all, std::map<uint32_t, bool> *sections,
                   std::string *error) {
    std::istringstream in(all);
    std::string text;
    ini::LineReader reader;  // an indented "[x]" after a key is more of its value
    for (int number = 1; std::getline(in, text); ++number) {
        const ini::Line line = reader.read(text);
        if (line.kind != ini::Line::Section) continue;  // a bad line: the INI reader reports it
        const std::string &name = line.name;
        uint32_t camera = 0;
        if (camera_section(name, &camera)) {
            sections->emplace(camera, true);
        } else if (strcasecmp(name.c_str(), "host") != 0) {
            *error = path + ":" + std::to_string(number) + ": unknown section [" + name +
                     "] (use [host] or [camera1] .. [camera" + std::to_string(max_cameras) + "])";
            return false;
        }
    }
    return true;
}

}  // namespace

bool readable_file(const std::string &path, const char *what, std::string *error) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        *error = "cannot read the " + std::string(what) + " " + path + ": " + strerror(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        *error = "the " + std::string(what) + " " + path + " is a directory, not a file";
        return false;
    }
    // Read whole before anything runs: a FIFO nobody writes would hold the
    // host in open() with its signals held.
    if (!S_ISREG(st.st_mode)) {
        *error = "the " + std::string(what) + " " + path + " is not a regular file (a FIFO, a device or a socket)";
        return false;
    }
    if (access(path.c_str(), R_OK) != 0) {
        *error = "cannot read the " + std::string(what) + " " + path + ": " + strerror(errno);
        return false;
    }
    return true;
}

bool load_config(const std::string &path, const std::vector<ParamInfo> &params, Config *config,
                 std::string *error) {
    Config c;
    c.path = path;
    if (path.empty()) {
        c.cameras = 1;
        c.configured = {1};
        c.ports = {""};
        c.values = {defaults(params)};
        *config = c;
        return true;
    }
    if (!readable_file(path, "configuration", error)) return false;
    // Read once: the section scan and the INI reader see the same text.
    std::string text, why;
    if (!ini::read_file(path, &text, &why)) {
        *error = "cannot read the configuration " + path + ": " + why;
        return false;
    }
    const int bad = ini::bad_line(text, &why);
    if (bad != 0) {
        *error = path + ":" + std::to_string(bad) + ": " + why;
        return false;
    }
    Parse p;
    p.params = &params;
    if (!scan_sections(path, text, &p.sections, error)) {
        return false;
    }
    const int result = ini::parse(text, on_entry, &p, &why);
    if (result < 0) {
        *error = path + ": " + why;
        return false;
    }
    if (result > 0) {
        *error = path + ":" + std::to_string(result) + ": " +
                 (!why.empty() ? why : !p.error.empty() ? p.error : "not a key = value line");
        return false;
    }
    uint32_t highest = 0;
    for (const auto &s : p.sections) highest = s.first;
    c.cameras = p.cameras ? *p.cameras : std::max<uint32_t>(highest, 1);
    if (highest > c.cameras) {
        *error = path + ": [camera" + std::to_string(highest) + "] is beyond cameras = " +
                 std::to_string(c.cameras);
        return false;
    }
    const auto base = defaults(params);
    c.configured.assign(c.cameras, 0);
    c.ports.assign(c.cameras, "");
    for (const auto &port : p.ports) c.ports[port.first - 1] = port.second;
    c.values.assign(c.cameras, base);
    for (const auto &s : p.sections) {
        c.configured[s.first - 1] = s.second ? 1 : 0;
    }
    for (const auto &v : p.values) {
        for (const auto &kv : v.second) {
            c.values[v.first - 1][kv.first] = kv.second;
        }
    }
    *config = c;
    return true;
}

}  // namespace host
