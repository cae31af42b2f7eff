#include "measure.h"

#include <math.h>

#include <algorithm>
#include <map>

namespace calibrate {

namespace {

bool is_lens(int axis) { return axis == Zoom || axis == Focus; }

visca::Bytes drive_frame(int axis, int dir, int speed) {
    return is_lens(axis) ? lens_drive(axis == Zoom, dir, speed) : pan_tilt_drive(axis, dir, speed);
}

visca::Bytes stop_frame(int axis) { return is_lens(axis) ? lens_stop(axis == Zoom) : pan_tilt_stop(); }

}  // namespace

std::optional<double> Measurer::position(int axis, std::string *error) {
    if (is_lens(axis)) {
        const auto v = read_lens(link_, axis == Zoom, error);
        if (!v) return std::nullopt;
        return static_cast<double>(*v);
    }
    const auto v = read_pan_tilt(link_, error);
    if (!v) return std::nullopt;
    return static_cast<double>(axis == Pan ? v->pan : v->tilt);
}

// Raw counter, read until two readings in a row agree (the camera has come
// to rest), converted to the driver's units and sign.
std::optional<double> Measurer::settled_position(int axis, const AxisGeometry &g, std::string *error) {
    if (rest_[axis]) return *rest_[axis] * (g.sign == 0 ? 1 : g.sign) / g.units_per_unit;
    link_.wait(0.05);
    double asked = link_.now();
    std::optional<double> last = position(axis, error);
    for (int i = 0; last && i < 40; ++i) {
        // Readings at least 30 ms apart: a camera slow to answer has spent
        // part of that on the last reading already.
        link_.wait(std::max(0.0, 0.03 - (link_.now() - asked)));
        asked = link_.now();
        const auto next = position(axis, error);
        if (!next) return std::nullopt;
        if (*next == *last) break;
        last = next;
    }
    if (!last) return std::nullopt;
    rest_[axis] = last;
    return *last * (g.sign == 0 ? 1 : g.sign) / g.units_per_unit;
}

std::optional<double> Measurer::timed_drive(int axis, const AxisGeometry &g, int dir, int speed, double seconds,
                                            std::string *error, double *took) {
    const double began = link_.now();
    const auto before = settled_position(axis, g, error);
    if (!before) return std::nullopt;
    rest_[axis].reset();
    if (!link_.command(drive_frame(axis, dir, speed), error)) return std::nullopt;
    const double driving = link_.now();
    link_.wait(seconds);
    if (!link_.command(stop_frame(axis), error)) return std::nullopt;
    if (took != nullptr) *took = link_.now() - driving;
    // (settled_position waits for the stop to act before it reads)
    const auto after = settled_position(axis, g, error);
    if (!after) return std::nullopt;
    ++drives_;
    spent_ += link_.now() - began;
    return (*after - *before) * dir;
}

bool Measurer::measure(int axis, AxisGeometry &g, const std::vector<int> &speeds, const MeasureOptions &o,
                       Curves *curves, std::map<CurveKey, std::vector<Sample>> *samples, std::string *error) {
    const double scale = is_lens(axis) ? 250.0 : 1.0;
    const auto first_reading = settled_position(axis, g, error);
    if (!first_reading) return false;
    double start_value = *first_reading;
    const double *start = &start_value;
    // An axis resting at an end (a zoom at wide, say) first moves inwards,
    // watched through the position inquiries, so both directions have room.
    if (g.min && g.max && !speeds.empty()) {
        const double travel = *g.max - *g.min;
        const double sign = g.sign == 0 ? 1 : g.sign;
        const double low = *g.min + 0.3 * travel, high = *g.max - 0.3 * travel;
        if (start_value < low || start_value > high) {
            const int dir = start_value < low ? 1 : -1;
            const double goal = dir > 0 ? low : high;
            rest_[axis].reset();
            if (!link_.command(drive_frame(axis, dir, speeds.back()), error)) return false;
            const double give_up = link_.now() + 60;
            while (link_.now() < give_up && !stopped()) {
                link_.wait(0.03);
                const auto raw = position(axis, error);
                if (!raw) return false;
                if ((*raw * sign / g.units_per_unit - goal) * dir >= 0) break;
            }
            if (!link_.command(stop_frame(axis), error)) return false;
            const auto moved = settled_position(axis, g, error);
            if (!moved) return false;
            start_value = *moved;
        }
    }
    // Room on either side of the start; drives go back and forth within it.
    double room = 1e9;
    if (g.min) room = std::min(room, *start - *g.min);
    if (g.max) room = std::min(room, *g.max - *start);
    if (room < 0.5 * o.short_target * scale) {
        *error = std::string(axis_label(axis)) + ": the start position is too close to an end (room " +
                 std::to_string(room) + "); move the camera towards the middle of its range";
        return false;
    }
    double estimate = 0;  // units per second of the previous speed
    int left = static_cast<int>(speeds.size()) * 2 * o.times;
    for (int speed : speeds) {
        if (stopped()) return false;
        const double short_distance = std::min(o.short_target * scale, 0.3 * room);
        const double t_short = estimate > 0
                                   ? std::clamp(short_distance / (estimate * o.rate_growth), o.min_short, o.max_short)
                                   : o.first_short;
        std::vector<double> times{t_short};
        for (size_t k = 0; k < times.size(); ++k) {
            const double t = times[k];
            int first = 1;
            for (int turn = 0; turn < 2; ++turn) {
                if (stopped()) return false;
                if (progress_) progress_(axis, speed, time_left_.shown(seconds_per_drive(), drives_, left));
                // Both ways in turn, the first away from the side the axis
                // stands on: it stays near where it began.
                if (turn == 0) {
                    const auto here = settled_position(axis, g, error);
                    if (!here) return false;
                    first = (*here - *start) > 0 ? -1 : 1;
                }
                const int dir = turn == 0 ? first : -first;
                const auto d = timed_drive(axis, g, dir, speed, t, error);
                if (!d) return false;
                --left;
                if (g.sign == 0 && fabs(*d) > 0) {
                    // The first real movement tells which way the counter runs.
                    g.sign = *d > 0 ? 1 : -1;
                    start_value *= g.sign;
                    (*samples)[CurveKey{axis, dir, speed}].push_back({t, fabs(*d)});
                    continue;
                }
                (*samples)[CurveKey{axis, dir, speed}].push_back({t, *d});
            }
            if (k == 0) {
                const auto &a = (*samples)[CurveKey{axis, 1, speed}];
                const auto &b = (*samples)[CurveKey{axis, -1, speed}];
                const double moved = std::max(a.back().distance, b.back().distance);
                const double crude = std::max(moved / t, 1e-3);
                const double far = std::min(o.long_target * scale, 0.8 * room);
                // At least 0.3 s longer for a well-spread fit, but never
                // further than the room: an end stop would cut the drive short.
                const double t_long = std::min(std::clamp(far / crude, std::min(t + 0.3, o.max_drive), o.max_drive),
                                               0.8 * room / crude);
                // Several times in between average out the camera's video-frame steps.
                for (int i = 1; i < o.times; ++i) times.push_back(t + (t_long - t) * i / (o.times - 1));
                if (moved > 0.8 * room) {
                    *error = std::string(axis_label(axis)) + ": the range around the start is too small to measure";
                    return false;
                }
            }
        }
        for (int dir : {1, -1}) {
            const auto line = fit_line((*samples)[CurveKey{axis, dir, speed}]);
            if (line) {
                (*curves)[CurveKey{axis, dir, speed}] = *line;
                estimate = std::max(estimate, line->rate);
            }
        }
    }
    return true;
}

bool Measurer::go_to(int axis, const AxisGeometry &g, double target, const Curves &curves, std::string *error) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        const auto here = settled_position(axis, g, error);
        if (!here) return false;
        const double gap = target - *here;
        const int dir = gap > 0 ? 1 : -1;
        // The fastest measured speed whose short drive still fits the gap,
        // else the slowest.
        const Line *use = nullptr;
        int speed = -1;
        for (const auto &[key, line] : curves) {
            if (std::get<0>(key) != axis || std::get<1>(key) != dir || line.rate <= 0) continue;
            const bool fits = line.at(0.25) <= fabs(gap);
            const bool use_fits = use != nullptr && use->at(0.25) <= fabs(gap);
            if (use == nullptr || (fits && (!use_fits || line.rate > use->rate)) ||
                (!fits && !use_fits && line.rate < use->rate)) {
                use = &line;
                speed = std::get<2>(key);
            }
        }
        if (use == nullptr) return true;
        const double resolution = 1.0 / g.units_per_unit;
        if (fabs(gap) <= std::max(resolution, use->offset + use->rate * 0.02)) return true;
        const double seconds = std::max(0.0, (fabs(gap) - use->offset) / use->rate);
        rest_[axis].reset();
        if (!link_.command(drive_frame(axis, dir, speed), error)) return false;
        link_.wait(seconds);
        if (!link_.command(stop_frame(axis), error)) return false;
    }
    // At rest before the next frame: the last correction's drive and stop
    // may still be in execution, and on a camera holding two commands a
    // third sent at once (another axis's drive, its start reading kept)
    // would be dropped.
    return settled_position(axis, g, error).has_value();
}

bool Measurer::staircase(int axis, const AxisGeometry &g, int speed, const std::vector<double> &times,
                         std::map<CurveKey, std::vector<Sample>> *samples, std::string *error) {
    const auto start = settled_position(axis, g, error);
    if (!start) return false;
    for (size_t k = 0; k < times.size(); ++k) {
        const double t = times[k];
        if (stopped()) return false;
        if (progress_) {
            progress_(axis, speed, time_left_.shown(seconds_per_drive(), drives_, static_cast<int>(times.size() - k)));
        }
        const auto here = settled_position(axis, g, error);
        if (!here) return false;
        const int dir = *here > *start ? -1 : 1;
        double took = t;
        const auto d = timed_drive(axis, g, dir, speed, t, error, &took);
        if (!d) return false;
        (*samples)[CurveKey{axis, dir, speed}].push_back({took, *d});
    }
    return true;
}

std::optional<double> Measurer::land(int axis, const AxisGeometry &g, const std::vector<Drive> &drives,
                                     std::string *error) {
    if (stopped()) return std::nullopt;
    const double began = link_.now();
    const auto before = settled_position(axis, g, error);
    if (!before) return std::nullopt;
    for (const Drive &d : drives) {
        rest_[axis].reset();
        if (!link_.command(drive_frame(d.axis, d.dir, d.speed), error)) return std::nullopt;
        link_.wait(d.seconds);
        if (!link_.command(stop_frame(d.axis), error)) return std::nullopt;
    }
    link_.wait(0.05);
    const auto after = settled_position(axis, g, error);
    if (!after) return std::nullopt;
    spent_ += link_.now() - began;
    ++drives_;
    return *after - *before;
}

void Measurer::stop_all(double pace) {
    for (auto &r : rest_) r.reset();
    const visca::Bytes stops[3] = {pan_tilt_stop(), lens_stop(true), lens_stop(false)};
    std::string ignored;
    for (int round = 0; round < 3; ++round) {
        // Each stop waits for the camera's word that it is done, else one
        // time step (at least 50 ms).
        for (const visca::Bytes &f : stops) {
            if (!link_.command_done(f, 0.3, &ignored)) link_.wait(std::max(pace, 0.05));
        }
        // Two readings a step apart that agree on every axis: at rest.
        bool still = true;
        for (int axis = 0; axis < 4 && still; ++axis) {
            const auto a = position(axis, &ignored);
            link_.wait(std::max(pace, 0.02));
            const auto b = position(axis, &ignored);
            if (!a || !b) return;  // a line that does not answer: nothing more to do
            still = *a == *b;
        }
        if (still) return;
    }
}

}  // namespace calibrate
