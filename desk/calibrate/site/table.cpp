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
    struct Row {
        std::string camera, line, time;
        std::vector<std::string> result;
    };
    Row head{"camera", "line", "camera time", {"result"}};
    std::vector<Row> rows;
    size_t w[3] = {head.camera.size(), head.line.size(), head.time.size()};
    for (size_t i = 0; i < cameras.size(); ++i) {
        const Outcome &o = outcomes[i];
        char time[32] = "-";
        if (o.ok && o.camera_time >= 0) snprintf(time, sizeof time, "%.1f s", o.camera_time);
        rows.push_back({std::to_string(cameras[i].number), cameras[i].port, time, {}});
        w[0] = std::max(w[0], rows.back().camera.size());
        w[1] = std::max(w[1], rows.back().line.size());
        w[2] = std::max(w[2], rows.back().time.size());
    }
    // The result starts after the other columns; when a long line name
    // leaves it too little room, the line name has a row of its own and the
    // time and result go below it.
    const bool below = w[0] + w[1] + w[2] + 6 + 36 > width;
    const size_t start = below ? w[0] + w[2] + 4 : w[0] + w[1] + w[2] + 6;
    for (size_t i = 0; i < rows.size(); ++i) {
        const Outcome &o = outcomes[i];
        if (o.ok) {
            std::string values;
            for (const auto &[key, v] : o.values) {
                values += (values.empty() ? "" : ", ") + key + " = " + std::to_string(v);
            }
            rows[i].result = wrap(o.errors.empty() ? "-" : o.errors, width - start);
            for (const std::string &l : wrap(values, width - start)) rows[i].result.push_back(l);
        } else {
            rows[i].result = wrap("failed: " + o.why, width - start);
        }
    }
    auto pad = [](const std::string &s, size_t n) { return s + std::string(n + 2 - std::min(n, s.size()), ' '); };
    std::string out;
    for (const Row *r = &head; r != nullptr; r = r == &head ? (rows.empty() ? nullptr : &rows[0])
                                                  : (r == &rows.back() ? nullptr : r + 1)) {
        std::string first;
        if (below) {
            // A line name longer than a whole line is cut over several.
            const std::vector<std::string> names = wrap(r->line, width - w[0] - 2);
            for (size_t k = 0; k < names.size(); ++k) out += pad(k == 0 ? r->camera : "", w[0]) + names[k] + "\n";
            first = std::string(w[0] + 2, ' ') + pad(r->time, w[2]);
        } else {
            first = pad(r->camera, w[0]) + pad(r->line, w[1]) + pad(r->time, w[2]);
        }
        for (size_t k = 0; k < r->result.size(); ++k) {
            out += (k == 0 ? first : std::string(start, ' ')) + r->result[k] + "\n";
        }
    }
    return out;
}

}  // namespace site
