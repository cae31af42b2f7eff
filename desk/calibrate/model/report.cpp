#include "report.h"

#include <math.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "median.h"
#include "options.h"
#include "verify_summary.h"

namespace calibrate {

namespace {

const char *unit(int axis) { return axis == Pan || axis == Tilt ? "deg" : "steps"; }

const char *direction(int axis, int dir) {
    static const char *const names[4][2] = {{"left", "right"}, {"down", "up"}, {"wide", "tele"}, {"far", "near"}};
    return names[axis][dir > 0 ? 1 : 0];
}

std::string speed_text(int axis, int speed) {
    char text[32];
    if (axis == Pan || axis == Tilt) {
        snprintf(text, sizeof text, "byte 0x%02X", speed);
    } else if (speed < 0) {
        snprintf(text, sizeof text, "standard speed");
    } else {
        snprintf(text, sizeof text, "nibble %d", speed);
    }
    return text;
}

}  // namespace

void print_lens_table(FILE *out, const LensTable &t) {
    fprintf(out, "  %s  nibble  full travel  predicted error: small  medium  large  (median, worst)\n",
            lens_speed_key(t.axis));
    for (size_t i = 0; i < t.rows.size(); ++i) {
        const LensRow &r = t.rows[i];
        const int row = static_cast<int>(i);
        const char *mark = row == t.chosen && row == t.in_use ? "  in use, kept"
                           : row == t.chosen                 ? "  chosen"
                           : row == t.in_use                 ? "  in use"
                                                             : "";
        fprintf(out, "  %*s  %6d  %9.2f s  %20.1f %%  %4.1f %%  %4.1f %%  (%.1f %%, %.1f %%)%s\n",
                static_cast<int>(strlen(lens_speed_key(t.axis))), "", r.nibble, r.full_travel, 100 * r.small,
                100 * r.medium, 100 * r.large, 100 * r.median, 100 * r.worst, mark);
    }
    if (t.chosen >= 0 && t.in_use >= 0 && t.chosen == t.in_use) {
        // What a change would gain: the fastest row that meets the goal.
        const int faster = choose_lens_row(t, LensSpeedChoice::Auto, 0);
        if (faster >= 0 && faster != t.in_use) {
            const LensRow &r = t.rows[static_cast<size_t>(faster)];
            fprintf(out, "  --lens-speed auto would take nibble %d: full travel %.2f s, median %.1f %%, worst %.1f %%\n",
                    r.nibble, r.full_travel, 100 * r.median, 100 * r.worst);
        }
    }
}

void print_lens_fallback(FILE *out, const LensTable &t, int kind, long speed_in_use) {
    if (kind != LensSpeedChoice::KeepWithinBounds || !chosen_as_auto(t, kind) || t.chosen < 0 ||
        t.chosen == t.in_use) {
        return;
    }
    const char *key = lens_speed_key(t.axis);
    const LensRow &c = t.rows[static_cast<size_t>(t.chosen)];
    char in_use[160];
    const LensRow *u = t.in_use < 0 ? nullptr : &t.rows[static_cast<size_t>(t.in_use)];
    if (u == nullptr) {
        snprintf(in_use, sizeof in_use, "%s %ld in use was not measured", key, speed_in_use);
    } else if (u->median > sound_lens_median) {
        snprintf(in_use, sizeof in_use, "%s %ld in use is predicted to land %s moves %.1f %% off (median, at most %.0f %%)",
                 key, speed_in_use, axis_label(t.axis), 100 * u->median, 100 * sound_lens_median);
    } else {
        snprintf(in_use, sizeof in_use, "%s %ld in use cannot predict every %s move of the plan", key, speed_in_use,
                 axis_label(t.axis));
    }
    fprintf(out, "  %s: %s %ld (nibble %d) chosen instead, as --lens-speed auto chooses\n", in_use, key, c.speed,
            c.nibble);
}

void print_curves(FILE *out, const Curves &curves, int axis) {
    fprintf(out, "%s: distance = rate x time + offset\n", axis_label(axis));
    for (const auto &[key, line] : curves) {
        if (std::get<0>(key) != axis) continue;
        fprintf(out, "  %-14s %-5s  rate %10.3f %s/s  offset %+9.3f %s  (rms %.3f, %d drives)\n",
                speed_text(axis, std::get<2>(key)).c_str(), direction(axis, std::get<1>(key)), line.rate, unit(axis),
                line.offset, unit(axis), line.rms, line.samples);
    }
}

void print_predictions(FILE *out, DriverProbe &probe, const Curves &curves, int axis,
                       const std::vector<double> &moves, double step) {
    std::vector<double> errors;
    for (double m : moves) {
        const Prediction p = predict(probe, curves, axis, m, step);
        std::string how;
        for (const Drive &d : p.drives) {
            char text[64];
            snprintf(text, sizeof text, "%s for %.0f ms", speed_text(axis, d.speed).c_str(), d.seconds * 1000);
            how += text;
        }
        if (p.drives.empty()) how = "no drive (the driver's time rounds to 0 ms)";
        if (!p.known) {
            fprintf(out, "  %+8.0f %s: %s, not measured\n", m, unit(axis), how.c_str());
            continue;
        }
        errors.push_back(p.error());
        // Said where the fit is carried below the drive times it was made from.
        std::string beyond;
        for (const Drive &d : p.drives) {
            const Line &l = curves.at(CurveKey{d.axis, d.dir, d.speed});
            if (d.seconds < 0.9 * l.shortest) {
                char text[64];
                snprintf(text, sizeof text, " (shortest drive measured %.0f ms)", 1000 * l.shortest);
                beyond = text;
            }
        }
        fprintf(out, "  %+8.1f %s: %-30s -> %+9.2f %s, error %5.1f %%%s\n", m, unit(axis), how.c_str(), p.reached,
                unit(axis), 100 * p.error(), beyond.c_str());
    }
    if (errors.empty()) return;
    fprintf(out, "  predicted median error %.1f %%, worst %.1f %%\n", 100 * common::median(errors),
            100 * *std::max_element(errors.begin(), errors.end()));
    // What limits the moves still off by more than 2 %: the best any
    // compensation (the only other value that shapes them) would do.
    const std::vector<std::string> keys = keys_of(axis);
    if (keys.size() < 2) {
        // A lens time scales every drive alike; the fitted offset is what
        // no time can take away.
        double offset = 0;
        for (const auto &[key, line] : curves) {
            if (std::get<0>(key) == axis) offset = std::max(offset, fabs(line.offset));
        }
        if (offset > 0) {
            fprintf(out, "  limit: %s is a pure scale; the camera's start and stop cost %.0f steps per move, "
                    "%.0f %% of a %.0f step move\n", keys[0].c_str(), offset, 100 * offset / 1000, 1000.0);
        }
        // The camera's time step: a drive lasts whole steps, so a move can
        // land a stair off whatever the time. Said where that alone can
        // take the smallest move beyond the worst the goals allow.
        double smallest = 0;
        for (double m : moves) smallest = smallest == 0 ? fabs(m) : std::min(smallest, fabs(m));
        const Prediction p = predict(probe, curves, axis, smallest, step);
        if (step > 0 && smallest > 0 && p.known && p.drives.size() == 1) {
            const double stair = curves.at(CurveKey{axis, p.drives[0].dir, p.drives[0].speed}).rate * step;
            // Only where a stair alone could, and the stairs this move meets
            // do, take it beyond the goal.
            if (stair / smallest > verify::goal_lens_worst && p.worst > verify::goal_lens_worst) {
                fprintf(out, "  floor: at nibble %d one time step (%.1f ms) moves %.0f steps: a %.0f step move can "
                        "land up to %.0f %% off by that alone\n", p.drives[0].speed, 1000 * step, stair, smallest,
                        100 * stair / smallest);
            }
        }
        return;
    }
    const long chosen = probe.config().at(keys[1]);
    for (double m : moves) {
        const Prediction p = predict(probe, curves, axis, m, step);
        if (!p.known || p.error() <= 0.02 || p.drives.size() != 1 || p.drives[0].seconds >= 0.15) continue;
        double best = p.error();
        Prediction best_p = p;
        for (long c = -100; c <= 100; ++c) {
            probe.set(keys[1], c);
            const Prediction q = predict(probe, curves, axis, m, step);
            if (q.known && q.error() < best) {
                best = q.error();
                best_p = q;
            }
        }
        probe.set(keys[1], chosen);
        const double reach0 = best_p.drives.empty() ? 0 : best_p.reached;
        fprintf(out,
                "  limit %+.0f %s: a drive under 150 ms keeps its time and lowers the speed byte; the best any %s "
                "gives is %.1f %% (%+.2f %s)\n",
                m, unit(axis), keys[1].c_str(), 100 * best, reach0, unit(axis));
    }
}

}  // namespace calibrate
