// Step 6: the values. Pan and tilt by the plan's cost; zoom and focus with
// their speed from the lens table; then the configuration in use stays,
// key by key, wherever the new value does not predict clearly better.
#include <math.h>

#include "lens_speed.h"
#include "session.h"

namespace calibrate {

namespace {

// Clearly better: a tenth less cost, and at least 0.1 percentage point per move.
bool clearly_better(double candidate, double in_use, size_t moves) {
    if (!std::isfinite(in_use)) return std::isfinite(candidate);
    return candidate < 0.9 * in_use && in_use - candidate > 0.001 * static_cast<double>(moves);
}

double cost_of(Session &s, const std::vector<int> &axes) {
    double sum = 0;
    for (int a : axes) sum += plan_cost(*s.probe, s.curves, a, s.plan[a], s.step_or_frame());
    return sum;
}

// Puts back, one at a time, the value in use of each key where the
// candidate is not clearly better.
void keep_in_use(Session &s, const std::vector<int> &axes, const std::vector<std::string> &keys) {
    size_t moves = 0;
    for (int a : axes) moves += s.plan[a].size();
    for (const std::string &k : keys) {
        const long candidate = s.probe->config().at(k), was = s.in_use.at(k);
        if (candidate == was) continue;
        const double with = cost_of(s, axes);
        s.probe->set(k, was);
        if (clearly_better(with, cost_of(s, axes), moves)) {
            s.probe->set(k, candidate);
        } else {
            s.kept.push_back(k);
        }
    }
}

double lens_travel(const AxisGeometry &g) { return g.min && g.max ? *g.max - *g.min : 19998; }

}  // namespace

bool choose(Session &s) {
    const double step = s.step_or_frame();
    std::vector<int> pan_tilt;
    for (int axis = Pan; axis <= Tilt; ++axis) {
        if (!s.o.axes[axis]) continue;
        choose_axis(*s.probe, s.curves, axis, s.plan[axis], !s.o.quick, step);
        pan_tilt.push_back(axis);
    }
    if (!pan_tilt.empty()) {
        std::vector<std::string> keys{"MoveSpeed"};
        for (int a : pan_tilt) {
            for (const std::string &k : keys_of(a)) keys.push_back(k);
        }
        // The set in use as a whole first (MoveSpeed changes the bytes the
        // other keys were chosen for), then key by key.
        size_t moves = 0;
        for (int a : pan_tilt) moves += s.plan[a].size();
        Config candidate;
        for (const std::string &k : keys) candidate[k] = s.probe->config().at(k);
        const double with = cost_of(s, pan_tilt);
        for (const std::string &k : keys) s.probe->set(k, s.in_use.at(k));
        if (clearly_better(with, cost_of(s, pan_tilt), moves)) {
            for (const std::string &k : keys) s.probe->set(k, candidate[k]);
            keep_in_use(s, pan_tilt, keys);
        } else {
            for (const std::string &k : keys) {
                if (candidate[k] != s.in_use.at(k)) s.kept.push_back(k);
            }
        }
    }
    for (int axis = Zoom; axis <= Focus; ++axis) {
        if (!s.o.axes[axis]) continue;
        LensTable &t = s.lens_tables[axis - Zoom];
        t = lens_table(*s.probe, s.curves, axis, s.plan[axis], step, lens_travel(s.geometry[axis]));
        t.chosen = choose_lens_row(t, s.o.lens_speed.kind, s.o.lens_speed.nibble);
        if (t.chosen < 0) {
            s.error = std::string(axis_label(axis)) + ": the lens speed asked for was not measured";
            return false;
        }
        const LensRow &row = t.rows[static_cast<size_t>(t.chosen)];
        s.probe->set(lens_speed_key(axis), row.speed);
        s.probe->set(keys_of(axis)[0], row.time);
        // Another nibble needs its own time; the one in use only competes at its own speed.
        if (row.speed == s.in_use.at(lens_speed_key(axis))) keep_in_use(s, {axis}, keys_of(axis));
    }
    // What changes.
    std::vector<std::string> keys;
    if (!pan_tilt.empty()) keys.push_back("MoveSpeed");
    for (int axis = 0; axis < 4; ++axis) {
        if (!s.o.axes[axis]) continue;
        if (axis >= Zoom) keys.push_back(lens_speed_key(axis));
        for (const std::string &k : keys_of(axis)) keys.push_back(k);
    }
    for (const std::string &k : keys) {
        const long now = s.probe->config().at(k);
        // MoveSpeed and the lens speeds only when they change; the times
        // and compensations always (they are what a calibration is for).
        const bool speed = k == "MoveSpeed" || k == "ZoomSpeed" || k == "FocusSpeed";
        if (!speed || now != s.in_use.at(k)) s.chosen.emplace_back(k, now);
    }
    return true;
}

}  // namespace calibrate
