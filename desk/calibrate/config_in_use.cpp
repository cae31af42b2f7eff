#include "config_in_use.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include "camera_section.h"
#include "ini_lines.h"
#include "ini_values.h"

namespace calibrate {

namespace {

struct ConfigRead {
    Config *config;
    std::optional<long> *host_cameras;
    int camera;
    std::string error;
};

int on_value(void *user, const char *section, const char *key, const char *value) {
    auto *r = static_cast<ConfigRead *>(user);
    if (strcasecmp(section, "host") == 0 && strcasecmp(key, "cameras") == 0) {
        long n = 0;
        if (!ini::read_long(value, &n)) {
            r->error = std::string(key) + ": '" + value + "' is not a number";
            return 0;
        }
        *r->host_cameras = n;
        return 1;
    }
    if (ini::camera_of(section) != r->camera) return 1;
    for (auto &[k, v] : *r->config) {
        if (strcasecmp(k.c_str(), key) != 0) continue;
        bool b = false;
        if (ini::read_bool(value, &b)) {
            v = b ? 1 : 0;
        } else if (*value != '\0' && !ini::read_long(value, &v)) {
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
