#include "ini_record.h"

#include <string.h>

#include "camera_section.h"
#include "ini_lines.h"

namespace ini {

namespace {

// The body of a record line: "; calibrated ..." (any indent) or nullptr.
const char *record_body(const std::string &line) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] != ';') return nullptr;
    const char *body = line.c_str() + start + 1;
    while (*body == ' ') ++body;
    return strncmp(body, record_mark, strlen(record_mark)) == 0 ? body : nullptr;
}

// Each line with its end, and whether it is in camera's section.
struct Split {
    std::vector<std::string> lines;  // with their line ends
    std::vector<bool> inside;
    std::vector<bool> header;
};

Split split(const std::string &text, int camera) {
    Split s;
    LineReader reader;
    bool inside = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t nl = text.find('\n', at);
        nl = nl == std::string::npos ? text.size() : nl + 1;
        std::string line = text.substr(at, nl - at);
        at = nl;
        std::string body = line;
        while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.pop_back();
        const Line r = reader.read(body);
        const bool header = r.kind == Line::Section;
        if (header) inside = camera_of(r.name) == camera;
        s.lines.push_back(line);
        s.inside.push_back(inside);
        s.header.push_back(header && inside);
    }
    return s;
}

std::string strip_end(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

}  // namespace

std::string set_record(const std::string &text, int camera, const std::vector<std::string> &record) {
    const Split s = split(text, camera);
    const std::string eol = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    std::string out;
    bool written = false;
    for (size_t i = 0; i < s.lines.size(); ++i) {
        if (s.inside[i] && !s.header[i] && record_body(strip_end(s.lines[i])) != nullptr) continue;
        out += s.lines[i];
        if (s.header[i] && !written) {
            if (out.back() != '\n') out += eol;
            for (const std::string &l : record) out += "; " + l + eol;
            written = true;
        }
    }
    return out;
}

std::vector<std::string> read_record(const std::string &text, int camera) {
    const Split s = split(text, camera);
    std::vector<std::string> record;
    for (size_t i = 0; i < s.lines.size(); ++i) {
        if (!s.inside[i]) continue;
        const std::string line = strip_end(s.lines[i]);
        const char *body = record_body(line);
        if (body != nullptr) record.emplace_back(body);
    }
    return record;
}

}  // namespace ini
