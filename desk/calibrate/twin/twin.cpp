#include "twin.h"

#include <math.h>

#include <algorithm>

#include "fit.h"
#include "line.h"

namespace calibrate {

namespace {

// As on the camera's line: 9600 baud 8N1.
const double byte_seconds = line::byte_seconds(line::Settings());

bool is_lens(int axis) { return axis >= Zoom; }

visca::Bytes drive_frame(int axis, int dir, int code) {
    return is_lens(axis) ? lens_drive(axis == Zoom, dir, code) : pan_tilt_drive(axis, dir, code);
}

visca::Bytes stop_frame(int axis) { return is_lens(axis) ? lens_stop(axis == Zoom) : pan_tilt_stop(); }

struct Reading {
    double t = 0;  // camera time the position belongs to
    double p = 0;  // degrees or steps, as the driver counts
};

class Meter {
public:
    Meter(CameraLink &link, const TwinSetup &setup, const volatile int *stop, TwinMeasurement *out)
        : link_(link), setup_(setup), stop_(stop), out_(out) {}

    bool stopped() const { return stop_ != nullptr && *stop_ != 0; }

    // Every command may move something: the last rest reading no longer holds.
    bool command(const visca::Bytes &frame, std::string *error) {
        for (auto &r : rest_) r.reset();
        return link_.command(frame, error);
    }

    // An inquiry takes effect on the camera's next time step after it
    // arrived, and its reply follows a fixed delay later: the reply's
    // arrival tells when, better than the inquiry's (a wait of up to a
    // step). The delay: right after a reply the line is at one phase of the
    // camera's steps; an inquiry sent `w` later waits for the next step, a
    // wait that shrinks as `w` grows until a step boundary passes it and it
    // waits a whole step again. The shortest round trip, found by halving
    // `w` around that jump, is the delay plus the bytes on the line.
    bool learn_reply_delay(std::string *error) {
        const double step = setup_.time_step;
        // Each probe starts right after the last one's reply.
        if (!read_pan_tilt(link_, error)) return false;
        auto trip = [&](double w) -> std::optional<double> {
            link_.wait(w);
            const double sent = link_.now();
            if (!read_pan_tilt(link_, error)) return std::nullopt;
            return link_.now() - sent;
        };
        const auto first = trip(0);
        if (!first) return false;
        double shortest = *first;
        if (step > 0) {
            // Before the jump a trip is `first - w`; after it a step longer.
            double before = 0, after = 1.2 * step;
            while (after - before > step / 256) {
                const double w = (before + after) / 2;
                const auto t = trip(w);
                if (!t) return false;
                if (*t < *first - w + step / 2) {
                    before = w;
                    shortest = std::min(shortest, *t);
                } else {
                    after = w;
                }
            }
        }
        reply_delay_ = std::max(0.0, shortest - 16 * byte_seconds);
        out_->reply_seconds = reply_delay_;
        return true;
    }

    // The first step boundary after `t`, from the last reading (taken at
    // one); `t` itself when the camera acts on arrival, and half a step
    // after it (the average) before any reading.
    double effect_after(double t) const {
        const double step = setup_.time_step;
        if (!(step > 0) || !boundary_) return t + step / 2;
        return *boundary_ + (floor((t - *boundary_) / step) + 1) * step;
    }

    std::optional<Reading> read(int axis, std::string *error) {
        long raw = 0;
        if (is_lens(axis)) {
            const auto v = read_lens(link_, axis == Zoom, error);
            if (!v) return std::nullopt;
            raw = *v;
        } else {
            const auto v = read_pan_tilt(link_, error);
            if (!v) return std::nullopt;
            raw = unwrap(axis, axis == Pan ? v->pan : v->tilt);
        }
        const AxisGeometry &g = setup_.geometry[axis];
        const double sign = g.sign == 0 ? 1 : g.sign;
        const double reply_bytes = is_lens(axis) ? 7 : 11;
        out_->reply_times.push_back(link_.now() - reply_bytes * byte_seconds);
        const double at = link_.now() - reply_bytes * byte_seconds - reply_delay_;
        boundary_ = at;
        return Reading{at, static_cast<double>(raw) * sign / g.units_per_unit};
    }

    // Two equal readings in a row: at rest.
    std::optional<Reading> rest(int axis, std::string *error) {
        if (rest_[axis]) return rest_[axis];
        link_.wait(0.03);
        auto last = read(axis, error);
        for (int i = 0; last && i < 100; ++i) {
            link_.wait(std::max(0.02, setup_.time_step));
            const auto next = read(axis, error);
            if (!next) return std::nullopt;
            if (next->p == last->p) return rest_[axis] = next;
            last = next;
        }
        if (last) *error = std::string(axis_label(axis)) + " did not come to rest";
        return std::nullopt;
    }

    // Drives at `code` towards `dir` until two readings agree (an end) or
    // `seconds` have passed; nullopt in *end when none was met.
    bool seek_end(int axis, int code, int dir, double seconds, std::optional<double> *end, Reading *at,
                  std::string *error) {
        const auto from = rest(axis, error);
        if (!from) return false;
        const double sent = link_.now();
        if (!command(drive_frame(axis, dir, code), error)) return false;
        std::optional<Reading> last;
        end->reset();
        while (!stopped() && link_.now() - sent < seconds) {
            link_.wait(0.05);
            const auto r = read(axis, error);
            if (!r) return false;
            // Past a start latency, a position that no longer changes is an end.
            if (last && r->p == last->p && link_.now() - sent > 0.3) {
                *end = r->p;
                break;
            }
            last = r;
        }
        if (!command(stop_frame(axis), error)) return false;
        const auto still = rest(axis, error);
        if (!still) return false;
        *at = *still;
        return !stopped() || (*error = "interrupted", false);
    }

    // One drive from rest; `room`: how far it may go before it must stop.
    bool hold(int axis, int code, int dir, double seconds, double room, double rate_guess, std::string *error) {
        const auto start = rest(axis, error);
        if (!start) return false;
        const double step = setup_.time_step;
        // Drive and stop take effect on the step boundary after them, which
        // the last reading tells: no need to spread them over the step.
        // A command has reached the camera when command() returns.
        if (!command(drive_frame(axis, dir, code), error)) return false;
        const double effect = effect_after(link_.now());
        // Stop early enough that the coast and a late stop stay inside the room.
        const double margin = rate_guess * (0.15 + 2 * step);
        std::vector<Reading> rs;
        while (!stopped()) {
            const double before = link_.now();
            const auto r = read(axis, error);
            if (!r) return false;
            rs.push_back(*r);
            if (r->t - effect >= seconds || (r->p - start->p) * dir + margin >= room) break;
            // A camera that answers at once is read no faster than every 10 ms;
            // uneven pauses keep the readings from falling into step with the camera's.
            static const double pause[5] = {0, 0.007, 0.013, 0.003, 0.019};
            link_.wait(std::max(0.01 - (link_.now() - before), pause[rs.size() % 5]));
        }
        if (!command(stop_frame(axis), error)) return false;
        const double stop_at = effect_after(link_.now());
        const auto end = rest(axis, error);
        if (!end) return false;
        if (stopped()) return (*error = "interrupted", false);

        // The steady part: readings that have moved, after the first one
        // that did (it may fall within the start) and a tenth of a second.
        const double unit = 1 / setup_.geometry[axis].units_per_unit;
        size_t first = rs.size();
        for (size_t i = 0; i < rs.size(); ++i) {
            if (fabs(rs[i].p - start->p) > 1.5 * unit) {
                first = i;
                break;
            }
        }
        // An end met while driving: the readings stop changing.
        size_t last = rs.size();
        while (last > first + 1 && rs[last - 1].p == rs[last - 2].p) --last;
        const bool blocked = last < rs.size();
        std::vector<Sample> steady;
        for (size_t i = first + 1; i < last; ++i) {
            if (rs[i].t - rs[first].t < 0.1 && last - first > 8) continue;
            steady.push_back({rs[i].t - effect, (rs[i].p - start->p) * dir});
        }
        const auto line = fit_line(steady);
        if (steady.size() < 3 || !line || !(line->rate > 0)) return true;  // did not move measurably
        Hold h;
        h.rate = line->rate;
        h.resolution = 2 * unit / std::max(unit, steady.back().distance - steady.front().distance);
        h.latency = -line->offset / line->rate;
        if (!blocked) {
            const double stop_effect = stop_at - effect;
            h.coast = 2 * ((end->p - start->p) * dir - line->at(stop_effect)) / line->rate;
        }
        out_->holds[axis][dir > 0 ? 0 : 1][code] = h;
        return true;
    }

private:
    // Pan and tilt counters are 16 bits wide: follow them across the wrap.
    long unwrap(int axis, int raw) {
        if (!seen_[axis]) {
            seen_[axis] = true;
            counter_[axis] = raw;
            return raw;
        }
        long delta = (static_cast<long>(raw) - counter_[axis]) % 65536;
        if (delta >= 32768) delta -= 65536;
        if (delta < -32768) delta += 65536;
        counter_[axis] += delta;
        return counter_[axis];
    }

    CameraLink &link_;
    const TwinSetup &setup_;
    const volatile int *stop_;
    TwinMeasurement *out_;
    double reply_delay_ = 0;
    std::optional<double> boundary_;  // camera time of the last reading: a step boundary
    std::optional<Reading> rest_[4];
    bool seen_[2] = {false, false};
    long counter_[2] = {0, 0};
};

// Both ends, at the top code: each way until the axis stops, or for the
// time allowed. Pan and tilt then go back to where they began, a lens to
// its middle (room both ways). A lens seeks its low end first: zoom stands
// at wide after power-up, so the way there is short.
bool find_ends(Meter &m, CameraLink &link, const TwinSetup &setup, int axis, TwinMeasurement *out, std::string *error) {
    const int top = setup.top_code[axis];
    const double allowed = is_lens(axis) ? 60 : setup.end_search_seconds;
    const auto start = m.rest(axis, error);
    if (!start) return false;
    Reading at;
    const double began = link.now();
    const int first = is_lens(axis) ? -1 : 1;
    std::optional<double> *ends[2] = {&out->max[axis], &out->min[axis]};
    if (!m.seek_end(axis, top, first, allowed, ends[first > 0 ? 0 : 1], &at, error)) return false;
    // The way back covers the way out as well.
    if (!m.seek_end(axis, top, -first, allowed + (link.now() - began), ends[first > 0 ? 1 : 0], &at, error)) {
        return false;
    }
    // Closed loop on the readings.
    const double target = is_lens(axis) && out->min[axis] && out->max[axis] ? (*out->min[axis] + *out->max[axis]) / 2
                                                                          : start->p;
    const int back = first;  // from the end the second search found
    if (!m.command(drive_frame(axis, back, top), error)) return false;
    const double give_up = link.now() + 2 * allowed + 5;
    while (link.now() < give_up && !m.stopped()) {
        link.wait(0.02);
        const auto r = m.read(axis, error);
        if (!r) return false;
        if ((r->p - target) * back >= 0) break;
    }
    return m.command(stop_frame(axis), error);
}

// Every code, on the side with more room; every sixth code from the top
// also the other way, and when those two ways differ by more than 1 %
// every code the other way too (the format has one speed per byte: their
// mean is written). A camera the same both ways costs half the drives.
bool sweep(Meter &m, const TwinSetup &setup, int axis, TwinMeasurement *out, std::string *error) {
    const AxisGeometry &g = setup.geometry[axis];
    const double unit = 1 / g.units_per_unit;
    const double low = out->min[axis] ? *out->min[axis] : -1e9, high = out->max[axis] ? *out->max[axis] : 1e9;
    const double span = high - low;
    const int top = setup.top_code[axis];
    std::map<int, double> seconds;  // per code, how long it is driven
    double guess = 0;  // the fastest rate so far
    auto drive = [&](int code, bool both) {
        const auto here = m.rest(axis, error);
        if (!here) return false;
        const int first = high - here->p >= here->p - low ? 1 : -1;
        for (int dir : {first, -first}) {
            if (dir != first && !both) break;
            const auto now = m.rest(axis, error);
            if (!now) return false;
            const double room = dir > 0 ? high - now->p : now->p - low;
            if (!m.hold(axis, code, dir, seconds[code], room, guess * 1.3, error)) return false;
        }
        for (const auto &side : out->holds[axis]) {
            const auto h = side.find(code);
            if (h != side.end()) guess = std::max(guess, h->second.rate);
        }
        return true;
    };
    double asymmetry = 0;
    for (int code = 0; code <= top; ++code) {
        if (m.stopped()) return (*error = "interrupted", false);
        // A distance of 200 units of the reading, in 0.4 s to 2 s (the
        // longest for the first code, the slowest).
        double &t = seconds[code];
        t = guess > 0 ? std::clamp(200 * unit / guess, 0.4, 2.0) : 1.0;
        if (guess > 0) t = std::min(t, 0.7 * span / (guess * 1.3));
        if (!drive(code, (top - code) % 6 == 0)) return false;
        const auto up = out->holds[axis][0].find(code), down = out->holds[axis][1].find(code);
        if (up != out->holds[axis][0].end() && down != out->holds[axis][1].end()) {
            // Beyond what two units of the reading explain.
            const double mean = (up->second.rate + down->second.rate) / 2;
            const double resolution = std::max(up->second.resolution, down->second.resolution);
            asymmetry = std::max(asymmetry, fabs(up->second.rate - down->second.rate) / mean - resolution);
        }
    }
    if (asymmetry <= 0.01) return true;
    for (int code = 0; code <= top; ++code) {
        if (m.stopped()) return (*error = "interrupted", false);
        const bool one_way = out->holds[axis][0].count(code) + out->holds[axis][1].count(code) == 1;
        if (one_way && !drive(code, true)) return false;
    }
    return true;
}

// Back near `target`: at the top code, then at slower ones, each pass
// stopped when the gap left is about what the stop itself covers.
bool go_near(Meter &m, CameraLink &link, const TwinSetup &setup, int axis, double target, const TwinMeasurement &out,
             std::string *error) {
    const double unit = 1 / setup.geometry[axis].units_per_unit;
    for (int pass = 0; pass < 4 && !m.stopped(); ++pass) {
        const auto here = m.rest(axis, error);
        if (!here) return false;
        const double gap = target - here->p;
        const int dir = gap > 0 ? 1 : -1;
        // The fastest code that takes at least half a second for the gap.
        int code = -1;
        double rate = 0;
        for (const auto &[c, h] : out.holds[axis][dir > 0 ? 0 : 1]) {
            if (code < 0 || (h.rate * 0.5 <= fabs(gap) && h.rate > rate) || (rate * 0.5 > fabs(gap) && h.rate < rate)) {
                code = c;
                rate = h.rate;
            }
        }
        if (code < 0 || fabs(gap) <= std::max(2 * unit, rate * (0.05 + setup.time_step))) return true;
        if (!m.command(drive_frame(axis, dir, code), error)) return false;
        const double give_up = link.now() + fabs(gap) / rate + 2;
        while (link.now() < give_up && !m.stopped()) {
            const auto r = m.read(axis, error);
            if (!r) return false;
            if ((target - r->p) * dir <= rate * (0.03 + setup.time_step)) break;
        }
        if (!m.command(stop_frame(axis), error)) return false;
    }
    return true;
}

}  // namespace

std::optional<double> refine_time_step(const std::vector<double> &times, double step) {
    if (!(step > 0) || times.size() < 50) return std::nullopt;
    // How well the times agree on a phase of `f`: 1 when all fall on one.
    auto coherence = [&](double f, double until) {
        double c = 0, s = 0;
        int n = 0;
        for (double t : times) {
            if (t - times.front() > until) break;
            c += cos(2 * M_PI * (t - times.front()) / f);
            s += sin(2 * M_PI * (t - times.front()) / f);
            ++n;
        }
        return n > 0 ? hypot(c, s) / n : 0.0;
    };
    // Within 20 % of the estimate over the first seconds (the staircase of a
    // camera that starts late sees few stairs), then ever longer
    // spans in ever finer steps: a long span tells the step finely.
    double best = step, span = 2;
    double low = 0.8 * step, high = 1.2 * step;
    const double total = times.back() - times.front();
    while (true) {
        const double resolution = best * best / (20 * span);
        double best_score = -1;
        for (double f = low; f <= high; f += resolution) {
            const double c = coherence(f, span);
            if (c > best_score) best_score = c, best = f;
        }
        if (span >= total) return best_score > 0.8 ? std::optional<double>(best) : std::nullopt;
        low = best - 2 * resolution;
        high = best + 2 * resolution;
        span = std::min(total, span * 4);
    }
}

bool measure_twin(CameraLink &link, const TwinSetup &setup, const volatile int *stop, TwinMeasurement *out,
                  std::string *error) {
    const double began = link.now();
    const auto version = link.inquire({0x81, 0x09, 0x00, 0x02, 0xFF}, error);
    if (!version) return false;
    if (version->size() != 7) {
        *error = "unexpected version reply: 90 50 " + visca::hex(*version) + " FF";
        return false;
    }
    out->version.assign(version->begin(), version->end());
    // The step, refined on the replies as they come (the calibration's
    // staircase is 1 to 3 % off): drives and stops are timed on it.
    TwinSetup live = setup;
    Meter m(link, live, stop, out);
    if (!m.learn_reply_delay(error)) return false;
    for (int axis = 0; axis < 4; ++axis) {
        if (axis == Focus && !m.command(focus_mode(false), error)) return false;
        if (is_lens(axis)) {
            const auto r = m.rest(axis, error);
            if (!r) return false;
            out->lens_start[axis - Zoom] = r->p;
        }
        const auto start = m.rest(axis, error);
        if (!start || !find_ends(m, link, live, axis, out, error)) {
            if (!error->empty()) *error = std::string(axis_label(axis)) + ": " + *error;
            return false;
        }
        if (setup.time_step > 0) {
            // The refinement needs 50 replies: a few more readings if the ends came quickly.
            while (out->reply_times.size() < 50) {
                if (!m.read(axis, error)) return false;
            }
            if (const auto fine = refine_time_step(out->reply_times, setup.time_step)) live.time_step = *fine;
        }
        if (!sweep(m, live, axis, out, error) || !go_near(m, link, live, axis, start->p, *out, error)) {
            if (!error->empty()) *error = std::string(axis_label(axis)) + ": " + *error;
            return false;
        }
    }
    out->camera_seconds = link.now() - began;
    return true;
}

}  // namespace calibrate
