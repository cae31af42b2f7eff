#include "ini_values.h"

#include <errno.h>
#include <stdlib.h>
#include <strings.h>

namespace ini {

bool read_bool(const std::string &text, bool *out) {
    for (const char *yes : {"true", "yes", "on", "1"}) {
        if (strcasecmp(text.c_str(), yes) == 0) return *out = true, true;
    }
    for (const char *no : {"false", "no", "off", "0"}) {
        if (strcasecmp(text.c_str(), no) == 0) return *out = false, true;
    }
    return false;
}

bool read_long(const std::string &text, long *out) {
    if (text.empty()) return false;
    char *end = nullptr;
    errno = 0;
    const long n = strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    *out = n;
    return true;
}

}  // namespace ini
