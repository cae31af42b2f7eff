#include "ini_lines.h"

#include "camera_section.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace ini {

namespace {

bool space(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

// Where the library stops scanning for one of `chars`: at one of them, at an
// inline comment (';' after white space) or at the end.
size_t scan(const std::string &s, size_t at, const char *chars) {
    bool was_space = false;
    for (; at < s.size(); ++at) {
        if ((chars != nullptr && strchr(chars, s[at]) != nullptr) || (was_space && s[at] == ';')) break;
        was_space = space(s[at]);
    }
    return at;
}

size_t skip_space(const std::string &s, size_t at, size_t end) {
    while (at < end && space(s[at])) ++at;
    return at;
}

size_t strip_end(const std::string &s, size_t begin, size_t end) {
    while (end > begin && space(s[end - 1])) --end;
    return end;
}

// Hands the library one line at a time, without its line end. Its own
// string reader fills the buffer like fgets: after a line of max_line
// characters the line end would come back as a line of its own, and every
// later line number would be one too high.
struct Lines {
    const std::string &text;
    size_t at;
};

char *next_line(char *buffer, int size, void *stream) {
    Lines &lines = *static_cast<Lines *>(stream);
    if (lines.at >= lines.text.size() || size < 1) return nullptr;
    size_t end = lines.text.find('\n', lines.at);
    if (end == std::string::npos) end = lines.text.size();
    size_t length = end - lines.at;
    // bad_line let only lines through that fit; the library strips a CR as white space.
    if (length > 0 && lines.text[lines.at + length - 1] == '\r') --length;
    length = std::min(length, static_cast<size_t>(size) - 1);
    memcpy(buffer, lines.text.data() + lines.at, length);
    buffer[length] = '\0';
    lines.at = end + 1;
    return buffer;
}

}  // namespace

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
        // The library keeps 49 characters of a section's name: a longer one
        // would be read as another section (camera000...02 cut to camera0...0).
        const size_t first = text.find_first_not_of(" \t\r\f\v", start);
        if (first < start + length && text[first] == '[') {
            const size_t close = text.find(']', first);
            if (close != std::string::npos && close < start + length && close - first - 1 > 49) {
                *why = "section name longer than 49 characters";
                return number;
            }
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
    // Without waiting for a FIFO's writer; only a regular file is read.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *why = strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        *why = strerror(errno);
        close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *why = S_ISDIR(st.st_mode) ? "a directory, not a file" : "not a regular file (a FIFO, a device or a socket)";
        close(fd);
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
    const int repeated = repeated_camera(text, why);
    if (repeated != 0) return repeated;
    Lines lines{text, 0};
    const int result = ini_parse_stream(next_line, &lines, handler, user);
    if (result < 0) *why = "out of memory";
    return result < 0 ? -1 : result;
}

int parse_file(const std::string &path, ini_handler handler, void *user, std::string *why) {
    std::string text;
    if (!read_file(path, &text, why)) return -1;
    return parse(text, handler, user, why);
}

Line LineReader::read(const std::string &body) {
    Line r;
    const size_t from = first_ && body.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    first_ = false;
    const size_t start = skip_space(body, from, body.size());
    if (start == body.size() || body[start] == ';' || body[start] == '#') return r;
    if (!key_.empty() && start > 0) {
        r.kind = Line::Continuation;
        r.name = key_;
        r.value_begin = start;
        r.value_end = strip_end(body, start, scan(body, start, nullptr));
        return r;
    }
    if (body[start] == '[') {
        const size_t close = scan(body, start + 1, "]");
        if (close < body.size() && body[close] == ']') {
            r.kind = Line::Section;
            r.name = body.substr(start + 1, close - start - 1);
            key_.clear();
        }
        return r;
    }
    const size_t eq = scan(body, start, "=:");
    if (eq == body.size() || (body[eq] != '=' && body[eq] != ':')) return r;
    r.kind = Line::Setting;
    r.name = body.substr(start, strip_end(body, start, eq) - start);
    const size_t end = scan(body, eq + 1, nullptr);
    r.value_begin = skip_space(body, eq + 1, end);
    r.value_end = strip_end(body, r.value_begin, end);
    key_ = r.name;
    return r;
}

}  // namespace ini
