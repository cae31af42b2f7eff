// Steps 3 and 5: drive every axis at the speeds the driver can send and fit
// what they did; then, once MoveSpeed is chosen, long drives at the speeds
// long moves will use. At the end every axis goes back where it began.
#include <math.h>

#include <algorithm>
#include <unistd.h>

#include "landing.h"
#include "lens_speed.h"
#include "plan.h"
#include "short_moves.h"
#include "time_step.h"
#include "session.h"

namespace calibrate {

namespace {

// Long drives for the speeds that carry the long moves. After the first
// pass (not quick) the speed has short drives already: two drives as far
// apart as the room and 3 s allow, whose span sets the rate.
MeasureOptions long_drives(bool quick) {
    MeasureOptions m;
    m.long_target = 20;
    m.max_drive = 2.0;
    m.short_target = 3;
    m.times = 2;
    if (!quick) {
        m.short_target = 10;
        m.max_short = 1.0;
        m.long_target = 40;
        m.max_drive = 3.0;
    }
    return m;
}

// Every pan and tilt speed, short drives: most bytes carry only moves under
// 150 ms (the driver lowers the byte of those), and the long-move byte gets
// long drives of its own later.
MeasureOptions pan_tilt_drives() {
    MeasureOptions m;
    m.max_short = 0.3;
    m.max_drive = 0.6;
    return m;
}

// Every nibble the lens can be given: short drives as well as long ones,
// down to the drive time of the smallest lens move at the fastest nibble.
MeasureOptions lens_drives() {
    MeasureOptions m;
    m.short_target = 0.8;  // 200 steps
    m.min_short = 0.03;
    // No longer than 200 steps take at this nibble, though its rate is known
    // only from the slower one before it (at most twice as slow): the
    // prediction of the shortest lens moves then rests on a drive as short.
    m.first_short = 0.1;
    m.rate_growth = 2;
    m.long_target = 6;     // 1500 steps
    m.max_drive = 0.6;     // the nibble chosen gets longer ones later
    m.times = 2;
    return m;
}

bool pan_tilt_all(const Session &s, int axis) { return axis <= Tilt && s.o.axes[axis] && !s.o.quick; }

// Every nibble, also when the speeds in use stay: the table says what a
// change would gain.
bool lens_all(const Session &s, int axis) { return axis >= Zoom && s.o.axes[axis] && !s.o.quick; }

bool measure_speeds(Session &s, int axis, const std::set<int> &speeds, const MeasureOptions &mo) {
    const std::vector<int> todo(speeds.begin(), speeds.end());
    return todo.empty() || s.measurer->measure(axis, s.geometry[axis], todo, mo, &s.curves, &s.samples, &s.error);
}

int drives_of(const std::set<int> &speeds, const MeasureOptions &mo) {
    return static_cast<int>(speeds.size()) * 2 * mo.times;
}

// What the steps after the first pass will drive, guessed before it (for
// the estimate of the camera time left); each step takes its guess back
// once it knows its count. The staircase is 16 to 32 drives, the long
// drives one speed per axis, the landing check's moves land together.
constexpr int staircase_guess = 24;
int long_drives_guess(const Session &s, int axis) {
    return pan_tilt_all(s, axis) ? 2 * long_drives(false).times
           : lens_all(s, axis)   ? 2 * long_drives(true).times
                                 : 0;
}
int landing_guess(const Session &s, int axis) {
    return s.o.landing_check && s.o.axes[axis] ? (axis <= Tilt ? 6 : 4) : 0;
}

// Every other speed byte, the slowest and the fastest always: the ones
// between are drawn from their neighbours until the choice needs them.
std::set<int> every_other(const std::set<int> &speeds) {
    std::set<int> some;
    int i = 0;
    for (int speed : speeds) {
        if (i++ % 2 == 0 || speed == *speeds.rbegin()) some.insert(speed);
    }
    return some;
}

// The bytes the plan needs with values chosen from the rates measured so
// far (and drawn between them), not from the values in use (which may be
// far off): measured until none is missing, a few rounds at most.
bool measure_missing(Session &s, int axis, const MeasureOptions &mo) {
    for (int round = 0; round < 4; ++round) {
        choose_axis(*s.probe, with_between(s.curves), axis, s.plan[axis], !s.o.quick, s.step_or_frame());
        std::set<int> missing;
        for (int speed : speeds_used(*s.probe, axis, s.plan[axis], 0.9, 1.1, false)) {
            if (s.curves.count(CurveKey{axis, 1, speed}) == 0 || s.curves.count(CurveKey{axis, -1, speed}) == 0) {
                missing.insert(speed);
            }
        }
        if (missing.empty()) return true;
        s.measurer->plan_drives(drives_of(missing, mo));
        if (!measure_speeds(s, axis, missing, mo)) return false;
    }
    return true;
}

}  // namespace

bool measure(Session &s) {
    s.began = s.link->now();
    // The speeds of the first pass, known before anything moves, so that
    // the progress can tell the camera time left.
    std::set<int> speeds[4];
    int planned = (s.o.axes[Pan] || s.o.axes[Tilt]) && !s.o.quick ? staircase_guess : 0;
    for (int axis = 0; axis < 4; ++axis) {
        if (!s.o.axes[axis]) continue;
        const AxisGeometry &g = s.geometry[axis];
        std::optional<double> travel;
        if (g.min && g.max) travel = *g.max - *g.min;
        s.plan[axis] = plan_moves(axis, travel, s.o.quick);
        if (pan_tilt_all(s, axis)) {
            speeds[axis] = every_other(speeds_used(*s.probe, axis, s.plan[axis], 0.1, 10, true));
            planned += drives_of(speeds[axis], pan_tilt_drives());
        } else if (lens_all(s, axis)) {
            speeds[axis] = lens_nibbles(*s.probe, axis);
            planned += drives_of(speeds[axis], lens_drives());
        } else {
            speeds[axis] = speeds_used(*s.probe, axis, s.plan[axis], 1.0, 1.0, false);
            planned += drives_of(speeds[axis], long_drives(s.o.quick));
        }
        planned += long_drives_guess(s, axis) + landing_guess(s, axis);
    }
    s.measurer->plan_drives(planned);
    // Every speed first, with short drives: the rates tell which MoveSpeed
    // suits the camera; then long drives at the speed long moves will use.
    for (int axis = 0; axis < 4; ++axis) {
        if (!s.o.axes[axis]) continue;
        if (axis == Focus) {
            s.focus_was_auto = read_focus_auto(*s.link);
            if (!s.link->command(focus_mode(false), &s.error)) return false;
        }
        const auto start = s.measurer->position(axis, &s.error);
        if (!start) return false;
        s.raw_start[axis] = *start;
        const MeasureOptions mo = pan_tilt_all(s, axis) ? pan_tilt_drives()
                                  : lens_all(s, axis)   ? lens_drives()
                                                        : long_drives(s.o.quick);
        if (!measure_speeds(s, axis, speeds[axis], mo)) return false;
        if (axis <= Tilt) {
            // The values found on the way are only a guide: MoveSpeed is
            // chosen later from the configuration as it was.
            const Config was = s.probe->config();
            if (!measure_missing(s, axis, mo)) return false;
            for (const auto &[k, v] : was) s.probe->set(k, v);
        }
    }
    return !s.stopped();
}

bool measure_time_step(Session &s) {
    // On pan (else tilt): the fastest byte whose staircase stays well
    // within the room around the start. Drives of one direction are two
    // spacings apart, which must move the axis five units of the reading
    // on a camera without a grid; the times span 150 ms and more.
    const int axis = s.o.axes[Pan] ? Pan : s.o.axes[Tilt] ? Tilt : -1;
    if (axis < 0 || s.o.quick) return true;
    const AxisGeometry &g = s.geometry[axis];
    const double first = 0.1, unit = 1 / g.units_per_unit;
    double room = 1e9;
    const auto here = s.measurer->position(axis, &s.error);
    if (!here) return false;
    const double at = *here * (g.sign == 0 ? 1 : g.sign) / g.units_per_unit;
    if (g.min) room = std::min(room, at - *g.min);
    if (g.max) room = std::min(room, *g.max - at);
    int speed = -1;
    double rate = 0;
    for (const auto &[key, line] : s.curves) {
        if (std::get<0>(key) != axis) continue;
        const double r = line.rate;
        if (r * 0.3 <= 0.25 * room && r > rate) {
            rate = r;
            speed = std::get<2>(key);
        }
    }
    if (speed < 0) {
        s.measurer->plan_drives(-staircase_guess);
        printf("camera time step: not measured (no %s speed fits a staircase); assuming %.1f ms\n",
               axis_label(axis), 1000 * s.step_or_frame());
        return true;
    }
    // 40 drives over 150 ms at most: three stairs or more of a 25 Hz camera.
    const double spacing = std::max({0.002, 2.5 * unit / rate, 0.15 / 40});
    const int count = std::clamp(static_cast<int>(ceil(0.15 / spacing)), 16, 32);
    s.measurer->plan_drives(count - staircase_guess);
    std::map<CurveKey, std::vector<Sample>> stairs;
    if (!s.measurer->staircase(axis, s.geometry[axis], speed, staircase_times(first, spacing, count), &stairs,
                               &s.error)) {
        return false;
    }
    std::vector<Staircase> runs;
    for (const auto &[key, samples] : stairs) {
        runs.push_back({samples, unit, s.curves[key].rate});
    }
    s.time_step = estimate_time_step(runs);
    s.time_step_spacing = spacing;
    return !s.stopped();
}

// The camera time a calibration keeps within, the landing check included,
// less what a line's replies add to the built-in camera's; and the share
// of the time spent before the long drives that the rest of the run (but
// the landing check's pan and tilt drives, landed together) took at most
// on the shipped profiles and two cameras outside them (0.33 to 0.47).
constexpr double camera_time_goal = 240;
constexpr double camera_time_margin = 10;
constexpr double rest_share = 0.5;

bool measure_long_drives(Session &s) {
    if (s.o.quick || (!s.o.axes[Pan] && !s.o.axes[Tilt])) return true;
    const Curves guide = with_between(s.curves);
    long move_speed = choose_move_speed(*s.probe, guide, s.o.axes[Pan], s.o.axes[Tilt], 1000 * s.step_or_frame());
    // Slower still where the camera's start would take moves of 1 to 5
    // degrees beyond the goal at that speed and a slower one would not.
    std::vector<int> axes;
    for (int axis = Pan; axis <= Tilt; ++axis) {
        if (s.o.axes[axis]) axes.push_back(axis);
    }
    // A slower speed lengthens the landing check's drives; the rest of the
    // run (long drives, the lens, the check's other moves) takes at most
    // about `rest_share` of the camera time spent so far.
    Plan landing;
    for (int axis : axes) {
        const AxisGeometry &g = s.geometry[axis];
        landing[axis] = landing_moves(axis, g, s.raw_start[axis] * (g.sign == 0 ? 1 : g.sign) / g.units_per_unit);
    }
    const double spent = s.link->now() - s.began;
    const double landing_seconds = camera_time_goal - camera_time_margin - (1 + rest_share) * spent;
    s.short_speed = move_speed_for_short(*s.probe, guide, s.plan, axes, move_speed, true, s.step_or_frame(), landing,
                                         landing_seconds);
    if (s.short_speed->move_speed > 0 && s.short_speed->move_speed != move_speed) {
        move_speed = s.short_speed->move_speed;
        // Said for the moves of 5 to 90 degrees where those were beyond
        // their bound at the faster speed too (the stronger reason).
        const PanTiltFigures &fastest = s.short_speed->at_fastest;
        const bool unsound_fastest = fastest.known && fastest.long_median > sound_pan_tilt_median;
        (unsound_fastest ? s.move_speed_for_start : s.move_speed_for_short) = true;
    }
    s.probe->set("MoveSpeed", move_speed);
    // The landing check's pan and tilt moves take seconds each at this
    // speed, not a short drive's: planned as that many drives.
    if (s.o.landing_check && s.measurer->seconds_per_drive() > 0) {
        const Config saved = s.probe->config();
        for (int axis : axes) choose_axis(*s.probe, guide, axis, s.plan[axis], true, s.step_or_frame());
        const double seconds = together_seconds(*s.probe, landing, axes);
        for (const auto &[k, v] : saved) s.probe->set(k, v);
        s.measurer->plan_drives(static_cast<int>(ceil(std::min(seconds / s.measurer->seconds_per_drive(), 1e4))) -
                                landing_guess(s, Pan) - landing_guess(s, Tilt));
    }
    for (int axis = Pan; axis <= Tilt; ++axis) {
        if (!s.o.axes[axis]) continue;
        std::set<int> speeds;
        for (double m : s.plan[axis]) {
            if (fabs(m) < 45) continue;
            for (const Drive &d : s.probe->move(axis, m)) speeds.insert(d.speed);
        }
        s.measurer->plan_drives(drives_of(speeds, long_drives(false)) - long_drives_guess(s, axis));
        if (!measure_speeds(s, axis, speeds, long_drives(false))) return false;
        if (!measure_missing(s, axis, pan_tilt_drives())) return false;
    }
    return !s.stopped();
}

bool measure_lens_long_drives(Session &s) {
    // The nibble the lens will drive at carries moves of many seconds:
    // two more drive times up to 2 s, so that its rate is not a short
    // drive's carried far beyond it.
    for (int axis = Zoom; axis <= Focus; ++axis) {
        if (!lens_all(s, axis)) continue;
        const AxisGeometry &g = s.geometry[axis];
        const double travel = g.min && g.max ? *g.max - *g.min : 19998;
        const LensTable t = lens_table(*s.probe, s.curves, axis, s.plan[axis], s.step_or_frame(), travel);
        const int row = choose_lens_row(t, s.o.lens_speed.kind, s.o.lens_speed.nibble);
        if (row < 0) {
            s.measurer->plan_drives(-long_drives_guess(s, axis));
            continue;
        }
        MeasureOptions mo = long_drives(true);
        mo.short_target = 8;  // 2000 steps
        const std::set<int> nibble{t.rows[static_cast<size_t>(row)].nibble};
        s.measurer->plan_drives(drives_of(nibble, mo) - long_drives_guess(s, axis));
        if (!measure_speeds(s, axis, nibble, mo)) return false;
    }
    return !s.stopped();
}

bool return_to_start(Session &s) {
    for (int axis = 0; axis < 4; ++axis) {
        if (!s.o.axes[axis]) continue;
        // The counter's direction is known by now.
        const AxisGeometry &g = s.geometry[axis];
        const double sign = g.sign == 0 ? 1 : g.sign;
        const double start = s.raw_start[axis] * sign / g.units_per_unit;
        if (!s.measurer->go_to(axis, g, start, s.curves, &s.error)) return false;
        const auto back = s.measurer->position(axis, &s.error);
        if (!back) return false;
        char text[96];
        snprintf(text, sizeof text, "%s %s %.2f (started %.2f)", s.restored.empty() ? "back at the start:" : ",",
                 axis_label(axis), *back * sign / g.units_per_unit, start);
        s.restored += text;
    }
    if (s.focus_was_auto && *s.focus_was_auto && !s.link->command(focus_mode(true), &s.error)) return false;
    // Left manual unsaid, a camera would stop focusing by itself after the run.
    if (s.o.axes[Focus]) {
        s.restored += !s.focus_was_auto ? "; focus left manual (the camera did not say its focus mode)"
                      : *s.focus_was_auto ? "; automatic focus on again"
                                          : "";
    }
    s.camera_time = s.link->now() - s.began;
    // The last progress line: from here on the choice, the landing check
    // (which prints its own lines) and the file.
    const char *done = "back at the start; choosing the values";
    if (s.stopped()) {
        s.error = "interrupted";
        return false;
    }
    if (isatty(STDERR_FILENO)) {
        fprintf(stderr, "\r%-78s\n", done);
    } else {
        fprintf(stderr, "%s\n", done);
    }
    return true;
}

int abort_run(Session &s, const std::string &why) {
    if (s.measurer) s.measurer->stop_all(s.step_or_frame());
    std::string ignored;
    if (s.link && s.focus_was_auto && *s.focus_was_auto) s.link->command(focus_mode(true), &ignored);
    if (isatty(STDERR_FILENO)) fputc('\n', stderr);
    fprintf(stderr, "visca_calibrate: %s%s\n", s.stopped() ? "interrupted" : why.c_str(),
            s.o.write.empty() ? "" : "; the configuration file was left as it was");
    // As a shell reports a program ended by the signal: 130 after Ctrl-C.
    return s.stopped() ? 128 + *s.stop : 1;
}

}  // namespace calibrate
