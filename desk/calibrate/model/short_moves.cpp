#include "short_moves.h"

#include <math.h>

#include <algorithm>
#include <string>

#include "median.h"
#include "verify_summary.h"

namespace calibrate {

std::vector<double> short_sizes() {
    std::vector<double> sizes;
    for (int i = 0; i < 8; ++i) sizes.push_back(1 + (short_move_degrees - 1) * (i + 0.5) / 8);
    return sizes;
}

PanTiltFigures pan_tilt_figures(DriverProbe &probe, const Curves &curves, const Plan &plan,
                                const std::vector<int> &axes, double step) {
    PanTiltFigures f;
    std::vector<double> short_errors, long_errors;
    for (int axis : axes) {
        const auto moves = plan.find(axis);
        if (axis > Tilt || moves == plan.end()) continue;
        for (double m : moves->second) {
            if (fabs(m) < short_move_degrees) continue;
            const Prediction p = predict(probe, curves, axis, m, step);
            if (!p.known) return f;
            long_errors.push_back(p.error());
        }
        for (double m : short_sizes()) {
            for (double dir : {1.0, -1.0}) {
                const Prediction p = predict(probe, curves, axis, dir * m, step);
                if (!p.known) return f;
                short_errors.push_back(p.error());
            }
        }
    }
    f.known = true;
    f.short_median = common::median(short_errors);
    f.long_median = common::median(long_errors);
    f.long_worst = long_errors.empty() ? 0 : *std::max_element(long_errors.begin(), long_errors.end());
    return f;
}

bool short_goal_met(const PanTiltFigures &f) { return f.known && f.short_median <= verify::goal_short_median; }

bool long_goals_met(const PanTiltFigures &f) {
    return f.known && f.long_median <= verify::goal_long_median && f.long_worst <= verify::goal_long_worst;
}

double together_seconds(DriverProbe &probe, const Plan &moves, const std::vector<int> &axes) {
    double seconds = 0;
    for (size_t k = 0;; ++k) {
        bool any = false;
        double longest = 0;
        for (int axis : axes) {
            const auto it = moves.find(axis);
            if (it == moves.end() || k >= it->second.size()) continue;
            any = true;
            double own = 0;
            for (const Drive &d : probe.move(axis, it->second[k])) own += d.seconds;
            longest = std::max(longest, own);
        }
        if (!any) return seconds;
        seconds += longest;
    }
}

ShortMoveSpeed move_speed_for_short(DriverProbe &probe, const Curves &curves, const Plan &plan,
                                    const std::vector<int> &axes, long fastest, bool search_compensation,
                                    double step, const Plan &landing, double landing_seconds) {
    std::vector<std::string> keys{"MoveSpeed"};
    for (int axis : axes) {
        for (const std::string &k : keys_of(axis)) keys.push_back(k);
    }
    Config saved;
    for (const std::string &k : keys) saved[k] = probe.config().at(k);
    ShortMoveSpeed r;
    PanTiltFigures &first = r.at_fastest;
    for (long speed = fastest; speed >= 5; speed -= 5) {
        // Each speed's values searched from the same start.
        for (const auto &[k, v] : saved) probe.set(k, v);
        probe.set("MoveSpeed", speed);
        for (int axis : axes) {
            const auto moves = plan.find(axis);
            if (moves != plan.end()) choose_axis(probe, curves, axis, moves->second, search_compensation, step);
        }
        // Slower only takes longer.
        if (together_seconds(probe, landing, axes) > landing_seconds) {
            r.time_bound = true;
            break;
        }
        const PanTiltFigures f = pan_tilt_figures(probe, curves, plan, axes, step);
        if (speed == fastest) {
            first = f;
            // The MoveSpeed in use, predicted within the goals, is kept (as
            // the lens speed in use is): a slower one would chase a
            // prediction within its own uncertainty, and a calibration run
            // again on its own file would slow the camera down each time.
            if (fastest == saved.at("MoveSpeed") && short_goal_met(f) && long_goals_met(f)) {
                r.move_speed = r.best_speed = fastest;
                r.best_short = f.short_median;
                break;
            }
        }
        if (!f.known) continue;
        // Long moves may not miss a goal that the fastest meets.
        const bool long_kept = long_goals_met(f) || (first.known && !long_goals_met(first) &&
                                                     f.long_median <= first.long_median &&
                                                     f.long_worst <= first.long_worst);
        if (!long_kept) continue;
        if (r.best_speed == 0 || f.short_median < r.best_short) {
            r.best_speed = speed;
            r.best_short = f.short_median;
        }
        // Within the goal by the margin a prediction may be off (a move's
        // landing one time step either side of its mean, a line's jitter).
        if (f.short_median <= verify::goal_short_median - short_margin) {
            r.move_speed = speed;
            break;
        }
    }
    // None by the margin within the camera time: the best, if within the
    // goal, where the fastest is not (a slower one only within the goal too
    // is no better than a prediction's uncertainty).
    if (r.move_speed == 0 && r.best_speed > 0 && r.best_short <= verify::goal_short_median) {
        r.move_speed = short_goal_met(first) ? fastest : r.best_speed;
    }
    for (const auto &[k, v] : saved) probe.set(k, v);
    return r;
}

std::optional<StartLoss> start_loss(DriverProbe &probe, const Curves &curves, const Plan &plan,
                                    const std::vector<int> &axes) {
    std::optional<StartLoss> most;
    for (int axis : axes) {
        const auto moves = plan.find(axis);
        if (axis > Tilt || moves == plan.end()) continue;
        for (double m : moves->second) {
            if (fabs(m) >= short_move_degrees) continue;
            for (const Drive &d : probe.move(axis, m)) {
                const auto it = curves.find(CurveKey{d.axis, d.dir, d.speed});
                if (it == curves.end() || !(it->second.rate > 0)) continue;
                const double seconds = -it->second.offset / it->second.rate;
                if (!most || seconds > most->seconds) most = StartLoss{seconds, -it->second.offset, d.axis, d.speed};
            }
        }
    }
    if (most && !(most->seconds > 0)) return std::nullopt;
    return most;
}

void print_short_floor(FILE *out, const PanTiltFigures &chosen, const ShortMoveSpeed &best,
                       const std::optional<StartLoss> &loss) {
    if (!chosen.known || short_goal_met(chosen)) return;
    std::string why = "not the camera's start (its fitted lines lose no time)";
    if (loss) {
        char text[160];
        snprintf(text, sizeof text,
                 "the camera's start costs each drive %.0f ms more than its coast gives back (%.2f deg at %s byte "
                 "0x%02X)",
                 1000 * loss->seconds, loss->distance, axis_label(loss->axis), loss->speed);
        why = text;
    }
    // Only a MoveSpeed that would do better than the chosen values is named.
    if (best.best_speed > 0 && best.best_short < chosen.short_median) {
        fprintf(out,
                "  floor: moves of 1 to 5 degrees are predicted to land with a median error of %.1f %% (goal %.0f %%), "
                "at best %.1f %% (MoveSpeed %ld%s): %s\n",
                100 * chosen.short_median, 100 * verify::goal_short_median, 100 * best.best_short, best.best_speed,
                best.time_bound ? ", a slower one would take the landing check beyond the camera time" : "", why.c_str());
    } else {
        fprintf(out, "  floor: moves of 1 to 5 degrees are predicted to land with a median error of %.1f %% (goal %.0f %%): %s\n",
                100 * chosen.short_median, 100 * verify::goal_short_median, why.c_str());
    }
}

}  // namespace calibrate
