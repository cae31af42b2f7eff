#include "choose.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>
#include <limits>

#include "median.h"

namespace calibrate {

namespace {

// A stair landed on less often than this does not count towards the worst.
constexpr double stair_seen = 0.05;
// How far off the phase of a drive within the camera's step may be.
constexpr double stair_phase = 0.25;

struct KeyRange {
    const char *key;
    long low, high;
};

// The key's range as the driver's descriptor declares it.
KeyRange key_range(const char *key) {
    KeyRange r{key, 1, 1};
    if (!driver_range(key, &r.low, &r.high)) r.low = r.high = 1;
    return r;
}

KeyRange time_key(int axis) {
    static const char *const keys[4] = {"PanMoveTimePerDegree", "TiltMoveTimePerDegree", "ZoomTime", "FocusTime"};
    return key_range(keys[axis]);
}

KeyRange compensation_key(int axis) {
    return key_range(axis == Pan ? "PanSpeedCompensation" : "TiltSpeedCompensation");
}

// Tries each value, keeps the cheapest (the current one on a tie).
void search(DriverProbe &probe, const Curves &curves, int axis, const std::vector<double> &moves,
            const std::string &key, const std::vector<long> &values, double step) {
    long best = probe.config().at(key);
    double best_cost = plan_cost(probe, curves, axis, moves, step);
    for (long v : values) {
        probe.set(key, v);
        const double c = plan_cost(probe, curves, axis, moves, step);
        if (c < best_cost) {
            best_cost = c;
            best = v;
        }
    }
    probe.set(key, best);
}

std::vector<long> around(long centre, double low_factor, double high_factor, int count, const KeyRange &range) {
    std::vector<long> values;
    const double a = log(std::max(1.0, centre * low_factor));
    const double b = log(std::max(1.0, centre * high_factor));
    for (int i = 0; i <= count; ++i) {
        const long v = lround(exp(a + (b - a) * i / count));
        if (v >= range.low && v <= range.high && (values.empty() || values.back() != v)) values.push_back(v);
    }
    return values;
}

}  // namespace

Prediction predict(DriverProbe &probe, const Curves &curves, int axis, double amount, double step) {
    Prediction p;
    p.requested = amount;
    p.drives = probe.move(axis, amount);
    double mean = 0, f = 0;  // one drive's mean distance, and how far its time is into a step
    for (const Drive &d : p.drives) {
        const auto it = curves.find(CurveKey{d.axis, d.dir, d.speed});
        if (it == curves.end()) {
            p.known = false;
            continue;
        }
        mean = std::max(0.0, it->second.at(d.seconds));
        p.reached += d.dir * mean;
        if (step > 0 && p.drives.size() == 1) {
            f = d.seconds / step - floor(d.seconds / step);
            p.stair = it->second.rate * step;
        }
    }
    const double a = fabs(amount);
    if (!(p.stair > 0) || !p.known) {
        p.expected = p.worst = fabs(p.reached - amount) / a;
        return p;
    }
    // Where the drive lands if it lasts the step below or above its time,
    // when the step above comes `g` of the time.
    const double dir = p.drives[0].dir;
    const auto low = [&](double g) { return dir * std::max(0.0, mean - g * p.stair); };
    const auto high = [&](double g) { return dir * std::max(0.0, mean + (1 - g) * p.stair); };
    p.expected = ((1 - f) * fabs(low(f) - amount) + f * fabs(high(f) - amount)) / a;
    // The step's phase is known only roughly (the estimated step and the
    // line's timing carried over many steps): the worst looks a little
    // either side of it.
    for (double g : {f - stair_phase, f, f + stair_phase}) {
        g = std::clamp(g, 0.0, 1.0);
        if (1 - g >= stair_seen) p.worst = std::max(p.worst, fabs(low(g) - amount) / a);
        if (g >= stair_seen) p.worst = std::max(p.worst, fabs(high(g) - amount) / a);
    }
    return p;
}

double plan_cost(DriverProbe &probe, const Curves &curves, int axis, const std::vector<double> &moves,
                 double step) {
    // Sum of relative errors, so that no single move (a start-latency-bound
    // 1 degree pan) drags every other one off. Pan and tilt moves under 5
    // degrees count a quarter: the long moves set the time per degree, the
    // short ones the compensation.
    // Zoom and focus times are a pure scale, so a camera's start latency
    // costs every lens move the same steps: there the median is what a
    // time can improve, and it is what counts.
    double sum = 0;
    std::vector<double> errors;
    for (double m : moves) {
        const Prediction p = predict(probe, curves, axis, m, step);
        if (!p.known) return std::numeric_limits<double>::infinity();
        const bool short_pan_tilt = (axis == Pan || axis == Tilt) && fabs(m) < short_move_degrees;
        sum += (short_pan_tilt ? short_move_weight : 1.0) * p.error();
        errors.push_back(p.error());
    }
    if (axis == Zoom || axis == Focus) {
        return common::median(errors) * static_cast<double>(errors.size()) + 0.1 * sum;
    }
    return sum;
}

std::string unsound(DriverProbe &probe, const Curves &curves, int axis, const std::vector<double> &moves,
                    double step) {
    const bool lens = axis == Zoom || axis == Focus;
    const char *unit = lens ? "steps" : "deg";
    std::vector<double> errors;
    char text[200];
    for (double m : moves) {
        const Prediction p = predict(probe, curves, axis, m, step);
        if (!p.known) {
            int speed = -1;
            for (const Drive &d : p.drives) {
                if (curves.count(CurveKey{d.axis, d.dir, d.speed}) == 0) speed = d.speed;
            }
            snprintf(text, sizeof text, "%s: the move of %+g %s drives at %s %d, which was not measured",
                     axis_label(axis), m, unit, lens ? "nibble" : "speed byte", speed);
            return text;
        }
        if (lens || fabs(m) >= short_move_degrees) errors.push_back(p.error());
    }
    if (errors.empty()) return "";
    const double median = common::median(errors);
    const double bound = lens ? sound_lens_median : sound_pan_tilt_median;
    if (median <= bound) return "";
    snprintf(text, sizeof text, "%s: the values are predicted to land %s with a median error of %.1f %% (at most %.0f %%)",
             axis_label(axis), lens ? "lens moves" : "5-90 degree moves", 100 * median, 100 * bound);
    return text;
}

std::vector<std::string> keys_of(int axis) {
    std::vector<std::string> keys{time_key(axis).key};
    if (axis == Pan || axis == Tilt) keys.push_back(compensation_key(axis).key);
    return keys;
}

void choose_axis(DriverProbe &probe, const Curves &curves, int axis, const std::vector<double> &moves,
                 bool search_compensation, double step) {
    if (moves.empty()) return;
    const KeyRange t = time_key(axis);
    // Start where the longest move lands right: its drive time scales with
    // the time per unit.
    const double longest = *std::max_element(moves.begin(), moves.end(),
                                             [](double a, double b) { return fabs(a) < fabs(b); });
    const Prediction p = predict(probe, curves, axis, longest, step);
    if (p.known && fabs(p.reached) > 0) {
        const long scaled = lround(probe.config().at(t.key) * fabs(longest / p.reached));
        probe.set(t.key, std::clamp(scaled, t.low, t.high));
    }
    std::vector<long> compensations;
    if (search_compensation && (axis == Pan || axis == Tilt)) {
        for (long c = compensation_key(axis).low; c <= compensation_key(axis).high; ++c) compensations.push_back(c);
    }
    for (int round = 0; round < 3; ++round) {
        const long centre = probe.config().at(t.key);
        search(probe, curves, axis, moves, t.key, around(centre, 0.6, 1.6, 240, t), step);
        const long fine = probe.config().at(t.key);
        std::vector<long> near;
        for (long v = fine - 40; v <= fine + 40; ++v) {
            if (v >= t.low && v <= t.high) near.push_back(v);
        }
        search(probe, curves, axis, moves, t.key, near, step);
        if (!compensations.empty()) search(probe, curves, axis, moves, compensation_key(axis).key, compensations, step);
    }
}

Curves with_between(const Curves &measured) {
    Curves all = measured;
    for (auto it = measured.begin(); it != measured.end(); ++it) {
        const auto [axis, dir, speed] = it->first;
        const auto next = std::next(it);
        if (axis > Tilt || next == measured.end()) continue;
        const auto [next_axis, next_dir, next_speed] = next->first;
        if (next_axis != axis || next_dir != dir) continue;
        const Line &a = it->second, &b = next->second;
        for (int between = speed + 1; between < next_speed; ++between) {
            const double w = static_cast<double>(between - speed) / (next_speed - speed);
            Line l;
            l.rate = (1 - w) * a.rate + w * b.rate;
            l.offset = (1 - w) * a.offset + w * b.offset;
            l.shortest = std::min(a.shortest, b.shortest);
            l.longest = std::max(a.longest, b.longest);
            all[CurveKey{axis, dir, between}] = l;
        }
    }
    return all;
}

long choose_move_speed(DriverProbe &probe, const Curves &curves, bool pan, bool tilt, double frame_ms) {
    const long configured = probe.config().at("MoveSpeed");
    if (frame_ms <= 0) return configured;
    long chosen = configured;
    for (long s = configured; s >= 5; s -= 5) {
        probe.set("MoveSpeed", s);
        chosen = s;
        bool fits = true;
        for (int axis : {Pan, Tilt}) {
            if ((axis == Pan && !pan) || (axis == Tilt && !tilt)) continue;
            for (const Drive &d : probe.move(axis, 90)) {
                for (int dir : {1, -1}) {
                    const auto it = curves.find(CurveKey{axis, dir, d.speed});
                    if (it != curves.end() && it->second.rate * frame_ms / 1000 > 0.3) fits = false;
                }
            }
        }
        if (fits) break;
    }
    probe.set("MoveSpeed", configured);
    return chosen;
}

}  // namespace calibrate
