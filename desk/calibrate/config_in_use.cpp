#include "config_in_use.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include "camera_section.h"
#include "ini_lines.h"

namespace calibrate {

namespace {

struct ConfigRead {
    Config *config;
    std::optional<long> *host_cameras;
    int camera;
    std::string error;
};

bool number(const char *value, long *out) {
    char *end = nullptr;
    const long n = strtol(value, &end, 10);
    if (*value == '\0' || *end != '\0') return false;
    *out = n;
    return true;
}

int on_value(void *user, const char *section, const char *key, const char *value) {
    auto *r = static_cast<ConfigRead *>(user);
    if (strcasecmp(section, "host") == 0 && strcasecmp(key, "cameras") == 0) {
        long n = 0;
        if (!number(value, &n)) {
            r->error = std::string(key) + ": '" + value + "' is not a number";
            return 0;
        }
        *r->host_cameras = n;
        return 1;
    }
    if (ini::camera_of(section) != r->camera) return 1;
    for (auto &[k, v] : *r->config) {
        if (strcasecmp(k.c_str(), key) != 0) continue;
        if (strcasecmp(value, "true") == 0 || strcasecmp(value, "yes") == 0 || strcasecmp(value, "on") == 0) {
            v = 1;
        } else if (strcasecmp(value, "false") == 0 || strcasecmp(value, "no") == 0 ||
                   strcasecmp(value, "off") == 0) {
            v = 0;
        } else if (*value != '\0' && !number(value, &v)) {
            r->error = std::string(key) + ": '" + value + "' is not a number";
            return 0;
        }
    }
    return 1;
}

}  // namespace

bool read_config(const std::string &path, int camera, Config *config, std::optional<long> *host_cameras,
                 std::string *error) {
    if (path.empty() || access(path.c_str(), F_OK) != 0) return true;
    ConfigRead r{config, host_cameras, camera, ""};
    std::string why;
    const int line = ini::parse_file(path, on_value, &r, &why);
    if (line != 0) {
        if (r.error.empty()) r.error = why;
        *error = path + (line > 0 ? ":" + std::to_string(line) + ": " + (r.error.empty() ? "syntax error" : r.error)
                                  : ": cannot read it: " + r.error);
        return false;
    }
    return true;
}

}  // namespace calibrate
