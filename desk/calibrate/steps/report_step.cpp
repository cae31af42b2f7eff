// Step 7: what was measured and chosen, the predicted landing of every
// move of the plan, and the predictions for the held-out sizes a
// verification will run, made before it runs them.
#include <math.h>

#include <algorithm>

#include "median.h"
#include "plan.h"
#include "report.h"
#include "short_moves.h"
#include "time_step.h"
#include "verify_summary.h"
#include "session.h"

namespace calibrate {

namespace {

std::string format(const char *pattern, double value) {
    char text[64];
    snprintf(text, sizeof text, pattern, value);
    return text;
}

std::optional<double> travel_of(const AxisGeometry &g) {
    if (g.min && g.max) return *g.max - *g.min;
    return std::nullopt;
}

// Where the chosen values land moves of 1 to 5 degrees beyond the goal:
// what they are predicted to land, the best any MoveSpeed would (on the
// lines drawn between measured bytes, a guide) and what takes it.
void print_floor_of_short_moves(Session &s, const std::vector<int> &axes) {
    const double step = s.step_or_frame();
    const PanTiltFigures chosen = pan_tilt_figures(*s.probe, s.curves, s.plan, axes, step);
    if (!chosen.known || short_goal_met(chosen)) return;
    // The search made before the long drives (within the camera time), or
    // one over every MoveSpeed where none was made.
    const ShortMoveSpeed best = s.short_speed ? *s.short_speed
                                              : move_speed_for_short(*s.probe, with_between(s.curves), s.plan, axes,
                                                                     100, !s.o.quick, step);
    print_short_floor(stdout, chosen, best, start_loss(*s.probe, s.curves, s.plan, axes));
}

}  // namespace

void report(Session &s) {
    const double step = s.step_or_frame();
    printf("measured in %.1f s of camera time; %s\n", s.camera_time, s.restored.c_str());
    if (!s.time_step) {
        printf("camera time step not measured; %.1f ms assumed\n", 1000 * step);
    } else if (*s.time_step > 0) {
        printf("camera acts every %.1f ms\n", 1000 * *s.time_step);
    } else {
        printf("camera acts continuously (no stairs coarser than %.1f ms)\n", 2000 * stairs_seen * s.time_step_spacing);
    }
    printf("\n");
    const long move_speed = s.probe->config().at("MoveSpeed");
    if (s.move_speed_for_start) {
        printf("MoveSpeed = %ld  (was %ld): at a faster speed the camera's start costs moves of 5 to 90 degrees "
               "more than 5 %% (median)\n\n",
               move_speed, s.in_use.at("MoveSpeed"));
    } else if (s.move_speed_for_short && move_speed != s.in_use.at("MoveSpeed")) {
        printf("MoveSpeed = %ld  (was %ld): at a faster speed the camera's start costs moves of 1 to 5 degrees "
               "more than %.0f %% (median; goal %.0f %%)\n\n",
               move_speed, s.in_use.at("MoveSpeed"), 100 * (verify::goal_short_median - short_margin),
               100 * verify::goal_short_median);
    } else if (move_speed != s.in_use.at("MoveSpeed")) {
        printf("MoveSpeed = %ld  (was %ld): at the camera's time step (%.1f ms) a faster speed moves too far "
               "within one step for moves of 5 degrees\n\n",
               move_speed, s.in_use.at("MoveSpeed"), 1000 * step);
    }
    std::vector<double> held_pan_tilt, held_lens;
    std::vector<int> pan_tilt;
    for (const auto &[axis, moves] : s.plan) {
        if (axis <= Tilt) pan_tilt.push_back(axis);
    }
    const int last_pan_tilt = pan_tilt.empty() ? -1 : pan_tilt.back();
    for (const auto &[axis, moves] : s.plan) {
        print_curves(stdout, s.curves, axis);
        if (axis >= Zoom) {
            print_lens_table(stdout, s.lens_tables[axis - Zoom]);
            print_lens_fallback(stdout, s.lens_tables[axis - Zoom], s.o.lens_speed.kind,
                                s.in_use.at(lens_speed_key(axis)));
        }
        std::vector<std::string> keys = keys_of(axis);
        if (axis >= Zoom) keys.insert(keys.begin(), lens_speed_key(axis));
        for (const std::string &key : keys) {
            const bool kept = std::find(s.kept.begin(), s.kept.end(), key) != s.kept.end();
            printf("  %s = %ld  (was %ld)%s\n", key.c_str(), s.probe->config().at(key), s.in_use.at(key),
                   kept ? ", kept: the new value predicts no clearly better" : "");
        }
        print_predictions(stdout, *s.probe, s.curves, axis, moves, step);
        if (axis == last_pan_tilt) print_floor_of_short_moves(s, pan_tilt);
        const std::vector<double> held = held_out_moves(axis, travel_of(s.geometry[axis]));
        for (double m : held) {
            const Prediction p = predict(*s.probe, s.curves, axis, m, step);
            if (!p.known) continue;
            if (axis >= Zoom) {
                held_lens.push_back(p.error());
            } else if (fabs(m) >= 5) {
                held_pan_tilt.push_back(p.error());
            }
        }
        printf("\n");
    }
    // Only what was measured: an axis never moved has no figure.
    std::string held;
    if (s.o.axes[Pan] || s.o.axes[Tilt]) held += format(", 5-90 deg median %.1f%%", 100 * common::median(held_pan_tilt));
    if (s.o.axes[Zoom] || s.o.axes[Focus]) held += format(", lens median %.1f%%", 100 * common::median(held_lens));
    printf("predicted held-out:%s\n", held.c_str() + 1);
}

}  // namespace calibrate
