// --check: the landing plan with the values in use (the file's, or the
// driver's defaults), on a camera that is moved by nothing else and has
// nothing written; each axis against its recorded figures or the goals,
// then one verdict line for the camera.
#include <stdio.h>

#include <algorithm>

#include "drift.h"
#include "ini_lines.h"
#include "ini_record.h"
#include "landing.h"
#include "session.h"

namespace calibrate {

namespace {

// The camera's record, when the file has one.
std::optional<Record> read_camera_record(const Session &s) {
    if (s.o.config.empty()) return std::nullopt;
    std::string text, why;
    if (!ini::read_file(s.o.config, &text, &why)) return std::nullopt;
    return parse_record(ini::read_record(text, s.o.camera));
}

// The values a move's landing depends on.
bool landing_key(const std::string &key) {
    for (const char *k : {"MoveSpeed", "PanMoveTimePerDegree", "PanSpeedCompensation", "TiltMoveTimePerDegree",
                          "TiltSpeedCompensation", "ZoomSpeed", "ZoomTime", "FocusSpeed", "FocusTime"}) {
        if (key == k) return true;
    }
    return false;
}

int failed(Session &s, const std::string &why) {
    if (s.measurer) s.measurer->stop_all(s.step_or_frame());
    std::string ignored;
    if (s.link && s.focus_was_auto && *s.focus_was_auto) s.link->command(focus_mode(true), &ignored);
    printf("verdict camera %d: failed (%s)\n", s.o.camera, why.c_str());
    return 1;
}

// Lands every axis's plan with focus in manual; an axis that looks drifted
// lands its moves that look off once more (`again`, landed into `second`)
// before it is flagged: a late wake-up puts a move or two off, where drift
// puts every move off. False with s.error set when the camera fails.
bool land_all(Session &s, const std::optional<Record> &record, LandingResult (&results)[4],
              std::vector<double> (&again)[4], LandingResult (&second)[4]) {
    if (s.o.axes[Focus]) {
        s.focus_was_auto = read_focus_auto(*s.link);
        if (!s.link->command(focus_mode(false), &s.error)) return false;
    }
    if (!land_plans(*s.measurer, *s.probe, s.o.axes, s.geometry, s.step_or_frame(), results, &s.error)) return false;
    size_t repeats = 0;
    for (int axis = 0; axis < 4; ++axis) {
        const std::optional<AxisFigures> &was = record ? record->axes[axis] : std::nullopt;
        const double limit = drift_limit(axis, was);
        const auto &moves = results[axis].moves;
        const bool all_off = std::all_of(moves.begin(), moves.end(), [&](const Landed &l) { return l.error() > limit; });
        if (drifted(axis, results[axis].median, was) && !all_off) again[axis] = pairs_off(results[axis], limit);
        repeats += again[axis].size();
    }
    if (repeats > 0 && !land_moves(*s.measurer, *s.probe, again, s.geometry, s.step_or_frame(), second, &s.error)) {
        return false;
    }
    return !(s.o.axes[Focus] && s.focus_was_auto && *s.focus_was_auto && !s.link->command(focus_mode(true), &s.error));
}

}  // namespace

int check_camera(Session &s) {
    const std::optional<Record> record = read_camera_record(s);
    if (!identify(s)) return s.stopped() ? abort_run(s, s.error) : failed(s, s.error);
    printf("values in use (%s):", s.o.config.empty() ? "the driver's defaults" : s.o.config.c_str());
    for (const auto &[key, value] : s.in_use) {
        if (landing_key(key)) printf(" %s=%ld", key.c_str(), value);
    }
    printf("\n%s\n", record ? ("calibrated " + record->date).c_str() : "no calibration record: against the goals");
    const double began = s.link->now();
    std::string drifted_axes;
    LandingResult results[4], second[4];
    std::vector<double> again[4];
    if (!land_all(s, record, results, again, second) || s.stopped()) {
        return s.stopped() ? abort_run(s, s.error) : failed(s, s.error);
    }
    for (int axis = 0; axis < 4; ++axis) {
        if (!s.o.axes[axis]) continue;
        LandingResult &r = results[axis];
        if (!again[axis].empty()) {
            const int closer = keep_better(&r, second[axis]);
            printf("%s landed again: %zu moves that looked off, %d of them closer\n", axis_label(axis),
                   again[axis].size(), closer);
        }
        const bool lens = axis >= Zoom;
        for (const Landed &l : r.moves) {
            printf("  %-5s %+7.0f %s -> %+9.2f, error %5.1f %%\n", axis_label(axis), l.requested,
                   lens ? "steps" : "deg", l.reached, 100 * l.error());
        }
        if (r.moves.empty()) {
            printf("%s checked: no move fits the room around the start\n", axis_label(axis));
            continue;
        }
        const std::optional<AxisFigures> &was = record ? record->axes[axis] : std::nullopt;
        char against[80];
        if (was) {
            snprintf(against, sizeof against, "recorded median %.1f%% worst %.1f%%", 100 * was->median,
                     100 * was->worst);
        } else {
            snprintf(against, sizeof against, "goal median %.1f%%", 100 * median_goal(axis));
        }
        const bool off = drifted(axis, r.median, was);
        printf("%s checked: %zu moves, median %.1f%% worst %.1f%% (%s)%s\n", axis_label(axis), r.moves.size(),
               100 * r.median, 100 * r.worst, against, off ? " drifted" : "");
        s.landing[axis] = AxisFigures{0, r.median, r.worst};
        if (off) drifted_axes += std::string(drifted_axes.empty() ? "" : ", ") + axis_label(axis);
    }
    s.camera_time = s.link->now() - began;
    printf("camera time: %.1f s\n", s.camera_time);
    if (!drifted_axes.empty()) {
        printf("verdict camera %d: drifted (%s)\n", s.o.camera, drifted_axes.c_str());
        return 1;
    }
    printf("verdict camera %d: ok\n", s.o.camera);
    return 0;
}

}  // namespace calibrate
