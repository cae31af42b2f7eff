// Reading the site: the cameras of the host's file that have their own line.
#include <errno.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <map>

#include "camera_section.h"
#include "ini_lines.h"
#include "ini_values.h"
#include "site.h"

namespace site {

namespace {

struct Sections {
    std::map<int, std::string> ports;
    std::map<int, bool> configured;
    std::string error;
};

// `configured = false` (no, off, 0) leaves a camera out; any other value keeps it.
bool is_false(const char *v) {
    bool b = true;
    return ini::read_bool(v, &b) && !b;
}

}  // namespace

bool read_cameras(const std::string &path, std::vector<Camera> *cameras, std::string *error) {
    if (access(path.c_str(), R_OK) != 0) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    Sections s;
    // Through the reader that refuses lines the library would cut: the tail
    // of a long comment must not become a camera's port.
    std::string why;
    const int line = ini::parse_file(
        path,
        [](void *user, const char *section, const char *key, const char *value) -> int {
            auto *s = static_cast<Sections *>(user);
            const int n = ini::camera_of(section);
            if (n == 0) return 1;
            if (strcasecmp(key, "port") == 0) {
                if (*value == '\0') {
                    s->error = "[" + std::string(section) + "] port = needs a line";
                    return 0;
                }
                s->ports[n] = value;
            } else if (strcasecmp(key, "configured") == 0) {
                s->configured[n] = !is_false(value);
            }
            return 1;
        },
        &s, &why);
    if (line != 0) {
        if (s.error.empty()) s.error = why;
        *error = path + (line > 0 ? ":" + std::to_string(line) + ": " + (s.error.empty() ? "syntax error" : s.error)
                                  : ": cannot read it: " + s.error);
        return false;
    }
    cameras->clear();
    for (const auto &[n, port] : s.ports) {
        const auto c = s.configured.find(n);
        if (c == s.configured.end() || c->second) cameras->push_back({n, port});
    }
    return true;
}

}  // namespace site
