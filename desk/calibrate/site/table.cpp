#include "table.h"

#include <stdio.h>

#include <algorithm>

namespace site {

namespace {

// TEXT's items (separated by ", ") in lines of at most WIDTH characters: an
// item that fits goes whole, a longer one is broken at spaces, a word longer
// than a line is cut.
std::vector<std::string> wrap(const std::string &text, size_t width) {
    std::vector<std::string> words;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find(", ", at);
        end = end == std::string::npos ? text.size() : end + 1;
        // An item is one word if it fits a line: its spaces keep it whole.
        const std::string item = text.substr(at, end - at);
        if (item.size() <= width) {
            words.push_back(item);
        } else {
            for (size_t w = 0; w < item.size();) {
                size_t space = item.find(' ', w);
                if (space == std::string::npos) space = item.size();
                for (size_t cut = w; cut < space; cut += width) words.push_back(item.substr(cut, std::min(width, space - cut)));
                w = space + 1;
            }
        }
        at = end < text.size() && text[end] == ' ' ? end + 1 : end;
    }
    std::vector<std::string> lines;
    for (const std::string &w : words) {
        if (!lines.empty() && lines.back().size() + 1 + w.size() <= width) {
            lines.back() += " " + w;
        } else {
            lines.push_back(w);
        }
    }
    return lines;
}

}  // namespace

std::string table(const std::vector<Camera> &cameras, const std::vector<Outcome> &outcomes, size_t width) {
    const std::vector<std::string> head = {"camera", "line", "camera time", "result"};
    std::vector<std::vector<std::string>> rows;
    size_t cols[3] = {head[0].size(), head[1].size(), head[2].size()};
    for (size_t i = 0; i < cameras.size(); ++i) {
        const Outcome &o = outcomes[i];
        char time[32] = "-";
        if (o.ok && o.camera_time >= 0) snprintf(time, sizeof time, "%.1f s", o.camera_time);
        rows.push_back({std::to_string(cameras[i].number), cameras[i].port, time});
        cols[0] = std::max(cols[0], rows.back()[0].size());
        cols[1] = std::max(cols[1], rows.back()[1].size());
        cols[2] = std::max(cols[2], rows.back()[2].size());
    }
    // The result column starts after the others, or, when a long line name
    // leaves it too little room, on the lines below each row.
    size_t start = cols[0] + cols[1] + cols[2] + 6;
    const bool below = start + 36 > width;
    if (below) start = 4;
    auto pad = [](const std::string &s, size_t w) { return s + std::string(w + 2 - std::min(w, s.size()), ' '); };
    auto row = [&](const std::vector<std::string> &r, const std::vector<std::string> &result) {
        std::string line = pad(r[0], cols[0]) + pad(r[1], cols[1]) + pad(r[2], cols[2]);
        std::string out;
        if (below) {
            while (!line.empty() && line.back() == ' ') line.pop_back();
            out = line + "\n";
            line.clear();
        }
        for (size_t k = 0; k < result.size(); ++k) {
            out += (k == 0 && !below ? line : std::string(start, ' ')) + result[k] + "\n";
        }
        if (result.empty()) out += line + "\n";
        return out;
    };
    std::string out = row(head, below ? std::vector<std::string>{} : std::vector<std::string>{head[3]});
    for (size_t i = 0; i < rows.size(); ++i) {
        const Outcome &o = outcomes[i];
        std::vector<std::string> result;
        if (o.ok) {
            std::string values;
            for (const auto &[key, v] : o.values) {
                values += (values.empty() ? "" : ", ") + key + " = " + std::to_string(v);
            }
            result = wrap(o.errors.empty() ? "-" : o.errors, width - start);
            for (const std::string &l : wrap(values, width - start)) result.push_back(l);
        } else {
            result = wrap("failed: " + o.why, width - start);
        }
        out += row(rows[i], result);
    }
    return out;
}

}  // namespace site
