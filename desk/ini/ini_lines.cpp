#include "ini_lines.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

namespace ini {

int bad_line(const std::string &text, std::string *why) {
    int number = 1;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        size_t length = end - start;
        // A CR before the LF is a line end too; the library drops it as white space.
        if (length > 0 && end < text.size() && text[end - 1] == '\r') --length;
        if (length > max_line) {
            *why = "line longer than " + std::to_string(max_line) + " characters";
            return number;
        }
        if (memchr(text.data() + start, '\0', length) != nullptr) {
            *why = "a NUL byte in the line";
            return number;
        }
        start = end + 1;
        ++number;
    }
    return 0;
}

bool read_file(const std::string &path, std::string *text, std::string *why) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *why = strerror(errno);
        return false;
    }
    std::string all;
    char buffer[8192];
    while (true) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *why = strerror(errno);
            close(fd);
            return false;
        }
        if (n == 0) break;
        all.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    *text = all;
    return true;
}

int parse(const std::string &text, ini_handler handler, void *user, std::string *why) {
    why->clear();
    const int bad = bad_line(text, why);
    if (bad != 0) return bad;
    const int result = ini_parse_string(text.c_str(), handler, user);
    if (result < 0) *why = "out of memory";
    return result < 0 ? -1 : result;
}

int parse_file(const std::string &path, ini_handler handler, void *user, std::string *why) {
    std::string text;
    if (!read_file(path, &text, why)) return -1;
    return parse(text, handler, user, why);
}

}  // namespace ini
