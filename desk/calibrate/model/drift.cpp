#include "drift.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#include "ini_record.h"
#include "driver_probe.h"
#include "verify_summary.h"

namespace calibrate {

std::vector<std::string> record_lines(const std::string &date, const ini::Settings &values,
                                      const std::optional<AxisFigures> (&axes)[4]) {
    const std::string mark = ini::record_mark;
    std::vector<std::string> lines{mark + " " + date};
    std::string line;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i % 4 == 0) {
            if (!line.empty()) lines.push_back(line);
            line = mark + " values:";
        }
        line += " " + values[i].first + "=" + std::to_string(values[i].second);
    }
    if (!line.empty()) lines.push_back(line);
    for (int axis = 0; axis < 4; ++axis) {
        if (!axes[axis]) continue;
        char text[160];
        snprintf(text, sizeof text, "%s %s: predicted %.1f%% checked %.1f%% worst %.1f%%", ini::record_mark,
                 axis_label(axis), 100 * axes[axis]->predicted, 100 * axes[axis]->median, 100 * axes[axis]->worst);
        lines.emplace_back(text);
    }
    return lines;
}

std::optional<Record> parse_record(const std::vector<std::string> &lines) {
    Record r;
    const std::string mark = std::string(ini::record_mark) + " ";
    for (const std::string &l : lines) {
        if (l.compare(0, mark.size(), mark) != 0) continue;
        const std::string rest = l.substr(mark.size());
        if (rest.compare(0, 7, "values:") == 0) continue;
        bool axis_line = false;
        for (int axis = 0; axis < 4; ++axis) {
            const std::string label = std::string(axis_label(axis)) + ":";
            if (rest.compare(0, label.size(), label) != 0) continue;
            axis_line = true;
            AxisFigures f;
            if (sscanf(rest.c_str() + label.size(), " predicted %lf%% checked %lf%% worst %lf%%", &f.predicted,
                       &f.median, &f.worst) == 3 &&
                f.predicted >= 0 && f.median >= 0 && f.worst >= 0) {
                f.predicted /= 100;
                f.median /= 100;
                f.worst /= 100;
                r.axes[axis] = f;
            }
        }
        if (!axis_line && r.date.empty()) r.date = rest;
    }
    if (r.date.empty()) return std::nullopt;
    return r;
}

double median_goal(int axis) { return axis <= Tilt ? verify::goal_long_median : verify::goal_lens_median; }

double drift_limit(int axis, const std::optional<AxisFigures> &recorded) {
    // A recorded floor above the goal is the camera's own: only worse than it counts.
    return recorded ? recorded->median + drift_slack : median_goal(axis);
}

bool drifted(int axis, double median, const std::optional<AxisFigures> &recorded) {
    return median > drift_limit(axis, recorded);
}

std::string now_utc() {
    const time_t t = time(nullptr);
    struct tm utc;
    char text[40] = "";
    if (gmtime_r(&t, &utc) != nullptr) strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &utc);
    return text;
}

}  // namespace calibrate
