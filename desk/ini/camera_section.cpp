#include "camera_section.h"

#include <ctype.h>
#include <strings.h>

#include <map>
#include <sstream>

#include "ini_lines.h"

namespace ini {

int camera_of(const std::string &section) {
    if (section.size() <= 6 || strncasecmp(section.c_str(), "camera", 6) != 0) return 0;
    int n = 0;
    for (size_t i = 6; i < section.size(); ++i) {
        if (!isdigit(static_cast<unsigned char>(section[i]))) return 0;
        n = n * 10 + (section[i] - '0');
        if (n > max_camera_section) return 0;  // also keeps n from overflowing
    }
    return n;
}

int repeated_camera(const std::string &text, std::string *why) {
    std::istringstream in(text);
    std::map<int, std::pair<int, std::string>> first;  // camera -> (line, name)
    LineReader reader;  // an indented "[x]" after a key is more of its value
    std::string body;
    for (int number = 1; std::getline(in, body); ++number) {
        const Line line = reader.read(body);
        const int camera = line.kind == Line::Section ? camera_of(line.name) : 0;
        if (camera == 0) continue;
        const auto [at, fresh] = first.emplace(camera, std::make_pair(number, line.name));
        if (fresh) continue;
        *why = "[" + line.name + "] names camera " + std::to_string(camera) + " again (as [" + at->second.second +
               "] on line " + std::to_string(at->second.first) + ")";
        return number;
    }
    return 0;
}

}  // namespace ini
