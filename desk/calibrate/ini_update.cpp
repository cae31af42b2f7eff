#include "ini_update.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

namespace calib {

namespace {

struct TextLine {
    std::string body;  // without the line end
    std::string end;   // "\n", "\r\n" or "" (last line without one)
};

std::vector<TextLine> split_lines(const std::string &text) {
    std::vector<TextLine> lines;
    size_t at = 0;
    while (at < text.size()) {
        const size_t nl = text.find('\n', at);
        TextLine l;
        if (nl == std::string::npos) {
            l.body = text.substr(at);
            at = text.size();
        } else {
            l.body = text.substr(at, nl - at);
            l.end = "\n";
            at = nl + 1;
        }
        if (!l.body.empty() && l.body.back() == '\r') {
            l.body.pop_back();
            l.end = "\r" + l.end;
        }
        lines.push_back(l);
    }
    return lines;
}

std::string trim(const std::string &s) {
    const size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return "";
    const size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

bool same(const std::string &a, const std::string &b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

// "[name]" -> name; empty when the line is no section header.
std::string section_of(const std::string &body) {
    const std::string t = trim(body);
    if (t.size() < 2 || t[0] != '[') return "";
    const size_t close = t.find(']');
    if (close == std::string::npos) return "";
    return trim(t.substr(1, close - 1));
}

bool is_comment_or_blank(const std::string &body) {
    const std::string t = trim(body);
    return t.empty() || t[0] == ';' || t[0] == '#';
}

// Splits "  Key = value   ; note" into the key and where the value sits.
bool setting_of(const std::string &body, std::string *key, size_t *value_begin, size_t *value_end) {
    if (is_comment_or_blank(body) || !section_of(body).empty()) return false;
    const size_t eq = body.find_first_of("=:");
    if (eq == std::string::npos) return false;
    *key = trim(body.substr(0, eq));
    size_t b = eq + 1;
    while (b < body.size() && (body[b] == ' ' || body[b] == '\t')) ++b;
    // An inline comment starts with ';' after white space.
    size_t e = body.size();
    for (size_t i = b; i < body.size(); ++i) {
        if (body[i] == ';' && i > 0 && (body[i - 1] == ' ' || body[i - 1] == '\t')) {
            e = i;
            break;
        }
    }
    while (e > b && (body[e - 1] == ' ' || body[e - 1] == '\t')) --e;
    *value_begin = b;
    *value_end = e;
    return true;
}

}  // namespace

std::string update_ini_text(const std::string &text, int camera, const Settings &settings) {
    std::vector<TextLine> lines = split_lines(text);
    const std::string wanted = "camera" + std::to_string(camera);
    const std::string eol = !lines.empty() && lines[0].end == "\r\n" ? "\r\n" : "\n";

    std::vector<bool> done(settings.size(), false);
    bool found = false;
    size_t last_setting = 0;  // index after which missing keys go
    bool inside = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string section = section_of(lines[i].body);
        if (!section.empty()) {
            inside = same(section, wanted);
            if (inside) {
                found = true;
                last_setting = i;
            }
            continue;
        }
        if (!inside) continue;
        std::string key;
        size_t b = 0, e = 0;
        if (!setting_of(lines[i].body, &key, &b, &e)) continue;
        last_setting = i;
        for (size_t k = 0; k < settings.size(); ++k) {
            if (!same(key, settings[k].first)) continue;
            std::string &body = lines[i].body;
            const std::string value = std::to_string(settings[k].second);
            // A value that ended the line gets no added space before a comment.
            body = body.substr(0, b) + value + body.substr(e);
            done[k] = true;
        }
    }

    std::vector<TextLine> added;
    for (size_t k = 0; k < settings.size(); ++k) {
        if (!done[k]) added.push_back({settings[k].first + " = " + std::to_string(settings[k].second), eol});
    }
    if (!found) {
        if (!lines.empty() && lines.back().end.empty()) lines.back().end = eol;
        if (!lines.empty() && !trim(lines.back().body).empty()) lines.push_back({"", eol});
        lines.push_back({"[" + wanted + "]", eol});
        lines.insert(lines.end(), added.begin(), added.end());
    } else if (!added.empty()) {
        if (lines[last_setting].end.empty()) lines[last_setting].end = eol;
        lines.insert(lines.begin() + static_cast<long>(last_setting) + 1, added.begin(), added.end());
    }

    std::string out;
    for (const TextLine &l : lines) out += l.body + l.end;
    return out;
}

bool update_ini_file(const std::string &path, int camera, const Settings &settings, std::string *error) {
    return update_ini_file(path, {{camera, settings}}, error);
}

bool update_ini_file(const std::string &path, const std::vector<std::pair<int, Settings>> &cameras,
                     std::string *error) {
    std::string text;
    struct stat st;
    const bool exists = stat(path.c_str(), &st) == 0;
    if (exists) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        if (!in) {
            *error = "cannot read " + path;
            return false;
        }
        text = all.str();
    }
    std::string updated = text;
    for (const auto &[camera, settings] : cameras) updated = update_ini_text(updated, camera, settings);
    const std::string temp = path + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << updated;
        out.flush();
        if (!out) {
            *error = "cannot write " + temp;
            return false;
        }
    }
    if (exists) chmod(temp.c_str(), st.st_mode & 07777);
    if (rename(temp.c_str(), path.c_str()) != 0) {
        *error = "cannot replace " + path + ": " + strerror(errno);
        remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace calib
