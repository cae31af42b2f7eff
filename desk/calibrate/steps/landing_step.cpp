// Step 9: the landing check. The chosen values land a plan of their own on
// the camera before anything is written; an axis that lands more than 2
// points worse than predicted is a failed calibration.
#include <math.h>

#include <optional>

#include "landing.h"
#include "options.h"
#include "session.h"

namespace calibrate {

bool land_check(Session &s) {
    if (!s.o.landing_check) return true;
    const double began = s.link->now();
    const double step = s.step_or_frame();
    printf("landing check with the chosen values (sizes the calibration and --verify do not use):\n");
    const bool manual_focus = s.o.axes[Focus] && s.focus_was_auto && *s.focus_was_auto;
    if (manual_focus && !s.link->command(focus_mode(false), &s.error)) return false;
    std::optional<double> start[4];
    for (int axis = 0; axis < 4; ++axis) {
        if (!s.o.axes[axis]) continue;
        start[axis] = s.measurer->settled(axis, s.geometry[axis], &s.error);
        if (!start[axis]) return false;
    }
    // Every axis's k-th move at the same time, as the site check lands them:
    // the check takes the time of the longest axis, not of all in a row.
    LandingResult results[4];
    if (!land_plans(*s.measurer, *s.probe, s.o.axes, s.geometry, step, results, &s.error)) return false;
    for (int axis = 0; axis < 4; ++axis) {
        if (!s.o.axes[axis]) continue;
        LandingResult &r = results[axis];
        predict_landing(*s.probe, s.curves, axis, step, &r);
        const bool lens = axis >= Zoom;
        for (const Landed &l : r.moves) {
            printf("  %-5s %+7.0f %s -> %+9.2f, error %5.1f %% (predicted %.1f %%)\n", axis_label(axis), l.requested,
                   lens ? "steps" : "deg", l.reached, 100 * l.error(), 100 * l.predicted);
        }
        if (r.moves.empty()) {
            printf("%s checked: no move fits the room around the start\n", axis_label(axis));
            continue;
        }
        printf("%s checked: %zu moves, median %.1f%% worst %.1f%% (predicted median %.1f%%)\n", axis_label(axis),
               r.moves.size(), 100 * r.median, 100 * r.worst, 100 * r.predicted_median);
        s.landing[axis] = AxisFigures{r.predicted_median, r.median, r.worst};
        if (!landed_as_predicted(r)) {
            char text[160];
            snprintf(text, sizeof text, "%s%s landed with a median error of %.1f %% against %.1f %% predicted",
                     s.landing_misses.empty() ? "" : "; ", axis_label(axis), 100 * r.median,
                     100 * r.predicted_median);
            s.landing_misses += text;
            if (lens && !chosen_as_auto(s.lens_tables[axis - Zoom], s.o.lens_speed.kind)) s.landing_lens_kept = true;
        }
    }
    for (int axis = 0; axis < 4; ++axis) {
        if (start[axis] && !s.measurer->go_to(axis, s.geometry[axis], *start[axis], s.curves, &s.error)) return false;
    }
    if (manual_focus && !s.link->command(focus_mode(true), &s.error)) return false;
    if (s.stopped()) {
        s.error = "interrupted";
        return false;
    }
    s.camera_time += s.link->now() - began;
    printf("camera time with the landing check: %.1f s\n", s.camera_time);
    return true;
}

bool landed(Session &s) {
    if (s.landing_misses.empty()) return true;
    s.error = "calibration failed: the landing check: " + s.landing_misses +
              " (more than 2 points worse); run it again with the camera left alone: a camera moved or held "
              "during the run, or a machine too loaded to keep time, lands moves off their prediction" +
              std::string(s.landing_lens_kept ? "; for a lens, --lens-speed auto chooses a nibble whose time steps "
                                                "land short moves finer"
                                              : "");
    return false;
}

}  // namespace calibrate
