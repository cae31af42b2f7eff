// Text made safe to stand in HTML or SVG, inside elements and in single- or
// double-quoted attributes alike.
#ifndef DESK_COMMON_HTML_ESCAPE_H
#define DESK_COMMON_HTML_ESCAPE_H

#include <string>

namespace common {

inline std::string html_escape(const std::string &text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

}  // namespace common

#endif
