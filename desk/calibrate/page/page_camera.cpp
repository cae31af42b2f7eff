#include "page_camera.h"

#include <stdio.h>

#include <sstream>

namespace page {

namespace {

const char *const axis_names[4] = {"pan", "tilt", "zoom", "focus"};

int axis_of(const std::string &name) {
    for (int a = 0; a < 4; ++a) {
        if (name == axis_names[a]) return a;
    }
    return -1;
}

bool starts(const std::string &s, const std::string &prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// "  pan      +4 deg ->     +3.98, error   0.5 %" (a check's or the
// landing check's move).
std::optional<verify::VerifiedMove> move_line(const std::string &l) {
    if (!starts(l, "  ") || l.find(" -> ") == std::string::npos || l.find(", error ") == std::string::npos) {
        return std::nullopt;
    }
    char axis[8], unit[8];
    double requested = 0, reached = 0;
    if (sscanf(l.c_str(), " %7[a-z] %lf %7[a-z] -> %lf,", axis, &requested, unit, &reached) != 4) return std::nullopt;
    const int a = axis_of(axis);
    const std::string u = unit;
    if (a < 0 || u != (a < 2 ? "deg" : "steps") || requested == 0) return std::nullopt;
    return verify::VerifiedMove{a, requested, reached, false};
}

// "pan checked: 6 moves, median 0.5% worst 1.2% (recorded median ...) drifted"
// or "pan checked: no move fits the room around the start".
std::optional<AxisRow> checked_line(const std::string &l) {
    const size_t at = l.find(" checked: ");
    if (at == std::string::npos || axis_of(l.substr(0, at)) < 0) return std::nullopt;
    AxisRow r;
    r.axis = l.substr(0, at);
    const std::string rest = l.substr(at + 10);
    if (sscanf(rest.c_str(), "%d moves, median %lf%% worst %lf%%", &r.moves, &r.median, &r.worst) != 3) {
        r.moves = 0;
        r.against = rest;
        return r;
    }
    const size_t open = rest.find('('), close = rest.rfind(')');
    if (open != std::string::npos && close != std::string::npos && close > open) {
        r.against = rest.substr(open + 1, close - open - 1);
    }
    const std::string flag = " drifted";
    r.drifted = rest.size() >= flag.size() && rest.compare(rest.size() - flag.size(), flag.size(), flag) == 0;
    return r;
}

}  // namespace

std::vector<std::string> split_lines(const std::string &text) {
    std::istringstream in(text);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

Camera read_printed(int number, const std::string &line, const std::vector<std::string> &printed) {
    Camera c;
    c.number = number;
    c.line = line;
    const std::string verdict = "verdict camera " + std::to_string(number) + ": ";
    for (const std::string &l : printed) {
        double seconds = 0;
        if (const auto m = move_line(l)) {
            c.moves.push_back(*m);
        } else if (const auto r = checked_line(l)) {
            c.axes.push_back(*r);
        } else if (starts(l, verdict)) {
            c.verdict = l.substr(verdict.size());
        } else if (starts(l, "values in use (") && l.rfind("): ") != std::string::npos) {
            std::istringstream values(l.substr(l.rfind("): ") + 3));
            for (std::string v; values >> v;) c.values.push_back(v);
        } else if (starts(l, "calibrated ") && l.size() > 11 && l[11] >= '0' && l[11] <= '9') {
            c.calibrated = l.substr(11);
        } else if (sscanf(l.c_str(), "camera time: %lf s", &seconds) == 1 ||
                   sscanf(l.c_str(), "camera time with the landing check: %lf s", &seconds) == 1) {
            c.camera_time = seconds;
        }
    }
    return c;
}

}  // namespace page
