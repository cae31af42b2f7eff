// Pan and tilt moves of 1 to 5 degrees. A camera's start latency, less what
// its coast after the stop gives back, costs every drive the same time: at
// a fast MoveSpeed that is a large share of a short move, at a slower one a
// smaller share. These say what the values predict for such moves and
// which MoveSpeed lands them within the goal, if any does.
#ifndef SIM_CALIBRATE_SHORT_MOVES_H
#define SIM_CALIBRATE_SHORT_MOVES_H

#include <optional>
#include <stdio.h>
#include <vector>

#include "choose.h"

namespace calibrate {

// Sizes spread evenly over 1 to 5 degrees (1.25, 1.75 .. 4.75): their
// median error is what moves of 1 to 5 degrees land, where the plan's
// few sizes there (1, 2, 5) would give the error of a 2 degree move.
std::vector<double> short_sizes();

// The predicted errors of pan and tilt moves: of the sizes above, both
// ways (median), and of the plan's moves of 5 degrees and more (median, worst).
struct PanTiltFigures {
    bool known = false;  // every move predicted
    double short_median = 0;
    double long_median = 0, long_worst = 0;
};

PanTiltFigures pan_tilt_figures(DriverProbe &probe, const Curves &curves, const Plan &plan,
                                const std::vector<int> &axes, double step);

// Whether the figures meet the goals of short and long moves.
bool short_goal_met(const PanTiltFigures &f);
bool long_goals_met(const PanTiltFigures &f);

struct ShortMoveSpeed {
    long move_speed = 0;      // the one chosen (0: none meets the goal)
    long best_speed = 0;      // the one with the smallest short-move median
    double best_short = 0;    // that median
    bool time_bound = false;  // a slower one would take the landing check beyond the camera time
    PanTiltFigures at_fastest;  // the figures of `fastest` with the values chosen for it
};

// A prediction may be off by this much (the landing check's slack).
constexpr double short_margin = 0.02;

// From `fastest` down in steps of 5, each MoveSpeed with the time per
// degree (and the compensation, when `search_compensation`) chosen for it,
// as long as the landing moves' pan and tilt drives (`landing`), landed
// together, take at most `landing_seconds` and the 5-90 degree moves miss
// no goal that `fastest` meets: the fastest whose moves of 1 to 5 degrees
// are predicted within the goal less `short_margin`, else `fastest` if
// within the goal, else the one predicted best if within it; `fastest`
// itself where it is the MoveSpeed in use and meets the goals. The probe's
// values are left as they were.
ShortMoveSpeed move_speed_for_short(DriverProbe &probe, const Curves &curves, const Plan &plan,
                                    const std::vector<int> &axes, long fastest, bool search_compensation,
                                    double step, const Plan &landing = {}, double landing_seconds = 1e9);

// The seconds the driver drives pan and tilt for the moves, the axes' k-th
// moves at once, as the landing check lands them.
double together_seconds(DriverProbe &probe, const Plan &moves, const std::vector<int> &axes);

// The time each drive of the values' short moves loses to the camera's
// start, less what its coast gives back (seconds), and the distance that is
// at the drive's speed byte: the most of the short moves' drives.
struct StartLoss {
    double seconds = 0;
    double distance = 0;
    int axis = 0, speed = 0;
};
std::optional<StartLoss> start_loss(DriverProbe &probe, const Curves &curves, const Plan &plan,
                                    const std::vector<int> &axes);

// The floor line of moves of 1 to 5 degrees, printed where the chosen
// values miss the goal: what they are predicted to land, the best any
// MoveSpeed gives, and what takes it.
void print_short_floor(FILE *out, const PanTiltFigures &chosen, const ShortMoveSpeed &best,
                       const std::optional<StartLoss> &loss);

}  // namespace calibrate

#endif
