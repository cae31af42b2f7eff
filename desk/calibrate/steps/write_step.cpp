// Steps 8 and 9: refuse what is unsound, then write. A refusal leaves the
// file untouched and ends the program with a nonzero status.
#include <math.h>

#include <algorithm>

#include "lens_speed.h"
#include "session.h"

namespace calibrate {

namespace {

// The largest distance any drive of the curve's samples went.
double longest_distance(const std::vector<Sample> &samples) {
    double d = 0;
    for (const Sample &x : samples) d = std::max(d, fabs(x.distance));
    return d;
}

}  // namespace

bool check(Session &s) {
    if (s.file_cameras && s.o.camera > *s.file_cameras) {
        s.error = "camera " + std::to_string(s.o.camera) + " is beyond [host] cameras = " +
                  std::to_string(*s.file_cameras) + " of " + (s.o.write.empty() ? s.o.config : s.o.write);
        return false;
    }
    for (int axis = 0; axis < 4; ++axis) {
        if (!s.o.axes[axis] || s.plan.count(axis) == 0) continue;
        // The axis moved: some drive went more than a unit of the reading.
        const double unit = 1 / s.geometry[axis].units_per_unit;
        double moved = 0;
        for (const auto &[key, samples] : s.samples) {
            if (std::get<0>(key) == axis) moved = std::max(moved, longest_distance(samples));
        }
        if (moved <= unit) {
            s.error = std::string(axis_label(axis)) + " did not move: no drive went further than one unit of "
                      "its position reading";
            return false;
        }
        // A fit is too poor when its residuals (rms) exceed a tenth of the
        // longest drive it was fitted to: a prediction from it would be off
        // by more than the goals allow whatever value is chosen.
        for (double m : s.plan[axis]) {
            for (const Drive &d : s.probe->move(axis, m)) {
                const CurveKey key{axis, d.dir, d.speed};
                const auto c = s.curves.find(key);
                if (c == s.curves.end()) continue;
                const double longest = longest_distance(s.samples[key]);
                if (c->second.rms > 0.1 * longest) {
                    char text[200];
                    snprintf(text, sizeof text,
                             "%s: the fit at speed %d is too poor to choose from: residuals %.3f rms against a "
                             "longest drive of %.3f (more than a tenth)",
                             axis_label(axis), d.speed, c->second.rms, longest);
                    s.error = text;
                    return false;
                }
            }
        }
    }
    // The chosen values must predict every move of the plan, within the bounds.
    for (int axis = 0; axis < 4; ++axis) {
        if (!s.o.axes[axis] || s.plan.count(axis) == 0) continue;
        const std::string why = unsound(*s.probe, s.curves, axis, s.plan[axis], s.step_or_frame());
        if (why.empty()) continue;
        const bool lens_kept = axis >= Zoom && !chosen_as_auto(s.lens_tables[axis - Zoom], s.o.lens_speed.kind);
        s.error = "calibration failed: " + why +
                  (s.o.quick     ? "; run it again without --quick: it measures the camera's time step and every speed"
                   : lens_kept ? "; --lens-speed auto chooses the fastest " + std::string(lens_speed_key(axis)) +
                                     " that lands lens moves"
                               : "; check the position units and that nothing holds the axis, then run it again");
        return false;
    }
    for (const auto &[key, value] : s.chosen) {
        long low = 0, high = 0;
        if (!driver_range(key, &low, &high)) {
            s.error = key + ": the driver declares no range for it";
            return false;
        }
        if (value < low || value > high) {
            s.error = key + " = " + std::to_string(value) + " is outside the driver's range " + std::to_string(low) +
                      ".." + std::to_string(high);
            return false;
        }
    }
    return true;
}

bool write(Session &s) {
    if (s.o.write.empty()) return true;
    // The record of this calibration replaces the one before (model/drift.h).
    const std::vector<std::string> record = record_lines(now_utc(), s.chosen, s.landing);
    // The last look at the stop flag, with the rename right behind it.
    if (!ini::update_ini_file(s.o.write, s.o.camera, s.chosen, &s.error, [&s] { return !s.stopped(); }, record)) {
        return false;
    }
    printf("wrote %zu values to [camera%d] of %s\n", s.chosen.size(), s.o.camera, s.o.write.c_str());
    return true;
}

}  // namespace calibrate
