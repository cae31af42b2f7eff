// Several axes landing one move each at the same time: the check's moves
// take the time of the longest axis rather than of all of them in a row.
#include <math.h>

#include <algorithm>
#include <numeric>

#include "measure.h"

namespace calibrate {

namespace {

bool is_lens(int axis) { return axis == Zoom || axis == Focus; }

// When each move's drive frame goes out, after the first: the longest first,
// each of the others at the earliest whole number of time steps that keeps
// its two frames `gap` away from every frame planned before it. Whole steps
// keep each drive where a move landed alone would start in the camera's
// time step: just after a position reply, which the camera sends on its grid.
std::vector<double> stagger(const std::vector<Drive> &drives, double gap, double step, std::vector<size_t> *order) {
    order->resize(drives.size());
    std::iota(order->begin(), order->end(), 0);
    std::stable_sort(order->begin(), order->end(),
                     [&](size_t a, size_t b) { return drives[a].seconds > drives[b].seconds; });
    std::vector<double> start(drives.size(), 0), frames;
    for (size_t i : *order) {
        const double d = drives[i].seconds;
        double t = 0;
        const auto clashes = [&](double at) {
            return std::any_of(frames.begin(), frames.end(), [&](double f) { return fabs(f - at) < gap; });
        };
        while (clashes(t) || clashes(t + d)) t += step;
        start[i] = t;
        frames.push_back(t);
        frames.push_back(t + d);
    }
    return start;
}

}  // namespace

std::optional<std::vector<Landing>> Measurer::land_together(const AxisGeometry (&g)[4],
                                                            const std::vector<Drive> &drives, double gap,
                                                            double step,
                                                            std::string *error) {
    if (stopped()) return std::nullopt;
    const double began = link_.now();
    std::vector<double> before;
    for (const Drive &d : drives) {
        const auto at = settled_position(d.axis, g[d.axis], error);
        if (!at) return std::nullopt;
        before.push_back(*at);
    }
    std::vector<size_t> order;
    if (!(step > 0.001)) step = 0.001;
    const std::vector<double> start = stagger(drives, gap, step, &order);
    std::vector<Landing> landed(drives.size());
    std::vector<std::optional<double>> stop_due(drives.size());
    std::vector<bool> done(drives.size(), false);
    // Pan and tilt share one drive frame: what each of them does now.
    int dir[2] = {0, 0}, speed[2] = {0, 0};
    const double t0 = link_.now();
    for (;;) {
        if (stopped()) return std::nullopt;
        // The next frame due: a drive at its planned start, or a stop its
        // drive time after its own drive frame went out.
        size_t next = drives.size();
        bool stop = false;
        double at = INFINITY;
        for (size_t i = 0; i < drives.size(); ++i) {
            const double due = done[i] ? INFINITY : stop_due[i] ? *stop_due[i] : t0 + start[i];
            if (due < at) {
                at = due;
                next = i;
                stop = stop_due[i].has_value();
            }
        }
        if (next == drives.size()) break;
        link_.wait(at - link_.now());
        const Drive &d = drives[next];
        if (stop) landed[next].late = link_.now() - at;
        visca::Bytes frame;
        if (is_lens(d.axis)) {
            frame = stop ? lens_stop(d.axis == Zoom) : lens_drive(d.axis == Zoom, d.dir, d.speed);
        } else {
            dir[d.axis] = stop ? 0 : d.dir;
            speed[d.axis] = stop ? 0 : d.speed;
            frame = dir[Pan] == 0 && dir[Tilt] == 0 ? pan_tilt_stop()
                                                    : pan_tilt_drive_both(dir[Pan], speed[Pan], dir[Tilt], speed[Tilt]);
        }
        if (!stop) {
            // As a move landed alone starts: right after a position reply,
            // which the camera sends on its time step.
            if (!position(d.axis, error)) return std::nullopt;
            rest_[d.axis].reset();
        }
        if (!link_.command(frame, error)) return std::nullopt;
        if (stop) {
            done[next] = true;
        } else {
            stop_due[next] = link_.now() + d.seconds;
        }
    }
    std::vector<int> axes;
    for (const Drive &d : drives) axes.push_back(d.axis);
    if (!settle(axes, error)) return std::nullopt;
    for (size_t i = 0; i < drives.size(); ++i) {
        const int axis = drives[i].axis;
        landed[i].moved = *rest_[axis] * (g[axis].sign == 0 ? 1 : g[axis].sign) / g[axis].units_per_unit - before[i];
    }
    spent_ += link_.now() - began;
    drives_ += static_cast<int>(drives.size());
    return landed;
}

bool Measurer::settle(const std::vector<int> &axes, std::string *error) {
    std::optional<double> last[4];
    bool rested[4] = {true, true, true, true};
    for (int axis : axes) rested[axis] = false;
    link_.wait(0.05);
    // As settled_position(), every axis at once: pan and tilt share a reply.
    for (int round = 0; round <= 40; ++round) {
        if (round > 0) link_.wait(0.03);
        if (!rested[Pan] || !rested[Tilt]) {
            const auto v = read_pan_tilt(link_, error);
            if (!v) return false;
            const double now[2] = {static_cast<double>(v->pan), static_cast<double>(v->tilt)};
            for (int axis : {Pan, Tilt}) {
                if (rested[axis]) continue;
                rested[axis] = last[axis] && *last[axis] == now[axis];
                last[axis] = now[axis];
            }
        }
        for (int axis : {Zoom, Focus}) {
            if (rested[axis]) continue;
            const auto v = position(axis, error);
            if (!v) return false;
            rested[axis] = last[axis] && *last[axis] == *v;
            last[axis] = *v;
        }
        if (std::all_of(std::begin(rested), std::end(rested), [](bool r) { return r; })) break;
    }
    for (int axis : axes) rest_[axis] = last[axis];
    return true;
}

}  // namespace calibrate
