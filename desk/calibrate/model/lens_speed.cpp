#include "lens_speed.h"

#include <math.h>

#include <algorithm>

#include "median.h"
#include "options.h"

namespace calibrate {

namespace {

const char *time_key_of(int axis) { return axis == Zoom ? "ZoomTime" : "FocusTime"; }

int nibble_of(DriverProbe &probe, int axis) {
    const std::vector<Drive> d = probe.move(axis, 1000);
    return d.empty() ? -1 : d[0].speed;
}

}  // namespace

const char *lens_speed_key(int axis) { return axis == Zoom ? "ZoomSpeed" : "FocusSpeed"; }

std::set<int> lens_nibbles(DriverProbe &probe, int axis) {
    const char *key = lens_speed_key(axis);
    const long saved = probe.config().at(key);
    long low = 1, high = 1;
    std::set<int> nibbles;
    if (driver_range(key, &low, &high)) {
        for (long v = std::max(1L, low); v <= high; ++v) {
            probe.set(key, v);
            const int n = nibble_of(probe, axis);
            if (n >= 0) nibbles.insert(n);
        }
    }
    probe.set(key, saved);
    return nibbles;
}

LensTable lens_table(DriverProbe &probe, const Curves &curves, int axis, const std::vector<double> &moves,
                     double step, double travel) {
    LensTable table;
    table.axis = axis;
    const char *speed_key = lens_speed_key(axis);
    const char *time_key = time_key_of(axis);
    const Config saved = probe.config();
    const int configured = nibble_of(probe, axis);
    long low = 1, high = 1;
    driver_range(speed_key, &low, &high);
    // The highest value of each nibble: the time key then needs the least.
    std::map<int, long> value_of;
    for (long v = std::max(1L, low); v <= high; ++v) {
        probe.set(speed_key, v);
        value_of[nibble_of(probe, axis)] = v;
    }
    for (const auto &[nibble, value] : value_of) {
        const auto up = curves.find(CurveKey{axis, 1, nibble});
        const auto down = curves.find(CurveKey{axis, -1, nibble});
        if (nibble < 0 || up == curves.end() || down == curves.end()) continue;
        LensRow row;
        row.nibble = nibble;
        row.speed = nibble == configured ? saved.at(speed_key) : value;
        probe.set(speed_key, row.speed);
        probe.set(time_key, saved.at(time_key));
        choose_axis(probe, curves, axis, moves, false, step);
        row.time = probe.config().at(time_key);
        const double rate = std::min(up->second.rate, down->second.rate);
        row.full_travel = rate > 0 ? travel / rate : INFINITY;
        std::vector<double> small, medium, large, all;
        row.worst = 0;
        bool known = true;
        for (double m : moves) {
            const Prediction p = predict(probe, curves, axis, m, step);
            known = known && p.known;
            const double e = p.error();
            (fabs(m) < 1000 ? small : fabs(m) <= 3000 ? medium : large).push_back(e);
            all.push_back(e);
            // The worst judged by the stair a single move may meet, not by
            // the mean of many: the shortest moves are where a nibble's time
            // step shows, and one landing there is what a user sees.
            row.worst = std::max(row.worst, p.worst);
        }
        row.small = common::median(small);
        row.medium = common::median(medium);
        row.large = common::median(large);
        row.median = common::median(all);
        // What a calibration must meet: every move predicted, the median within the bound.
        row.sound = known && row.median <= sound_lens_median;
        if (nibble == configured) table.in_use = static_cast<int>(table.rows.size());
        table.rows.push_back(row);
    }
    for (const auto &[k, v] : saved) probe.set(k, v);
    return table;
}

bool chosen_as_auto(const LensTable &t, int kind) {
    if (kind == LensSpeedChoice::KeepWithinBounds) {
        return t.in_use < 0 || !t.rows[static_cast<size_t>(t.in_use)].sound;
    }
    return kind == LensSpeedChoice::Auto;
}

int choose_lens_row(const LensTable &t, int kind, int nibble) {
    if (kind == LensSpeedChoice::Keep) return t.in_use;
    if (kind == LensSpeedChoice::KeepWithinBounds && !chosen_as_auto(t, kind)) return t.in_use;
    int best = -1;
    for (size_t i = 0; i < t.rows.size(); ++i) {
        const LensRow &r = t.rows[i];
        if (kind == LensSpeedChoice::Nibble) {
            if (r.nibble == nibble) return static_cast<int>(i);
            continue;
        }
        const bool meets = r.median <= lens_goal_median && r.worst <= lens_goal_worst;
        if (best < 0) {
            best = static_cast<int>(i);
            continue;
        }
        const LensRow &b = t.rows[static_cast<size_t>(best)];
        const bool b_meets = b.median <= lens_goal_median && b.worst <= lens_goal_worst;
        if (meets != b_meets) {
            if (meets) best = static_cast<int>(i);
        } else if (meets ? r.full_travel < b.full_travel : r.worst < b.worst) {
            best = static_cast<int>(i);
        }
    }
    return best;
}

}  // namespace calibrate
