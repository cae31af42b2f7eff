// ZoomSpeed and FocusSpeed: the nibble a lens drives at. A faster nibble
// crosses the travel sooner (it is also the speed of a continuous zoom or
// focus), but moves further in one time step of the camera, so small
// moves land coarser. One row per nibble the configuration can give, with
// the time value chosen for it and the predicted error of small, medium and
// large moves.
#ifndef SIM_CALIBRATE_LENS_SPEED_H
#define SIM_CALIBRATE_LENS_SPEED_H

#include <set>
#include <string>
#include <vector>

#include "choose.h"
#include "driver_probe.h"
#include "verify_summary.h"

namespace calibrate {

struct LensRow {
    int nibble = 0;
    long speed = 0;            // the ZoomSpeed/FocusSpeed value that gives it
    long time = 0;             // the ZoomTime/FocusTime chosen with it
    double full_travel = 0;    // seconds across the travel
    double small = 0, medium = 0, large = 0;  // median predicted error: under 1000, to 3000, beyond
    double median = 0;                        // over every move
    double worst = 0;  // over every move, at the worse stair a move meets (Prediction::worst)
    bool sound = false;  // every move predicted, the median within the bound a calibration must meet
};

struct LensTable {
    int axis = Zoom;
    std::vector<LensRow> rows;  // by nibble
    int in_use = -1;            // row of the configured speed (-1: not measured)
    int chosen = -1;            // row chosen
};

// Lens moves are judged by the verification's goals.
constexpr double lens_goal_median = verify::goal_lens_median;
constexpr double lens_goal_worst = verify::goal_lens_worst;

// The nibbles the speed key can give, over its descriptor range.
std::set<int> lens_nibbles(DriverProbe &probe, int axis);

// A row per measured nibble; the probe's configuration is left as it was.
LensTable lens_table(DriverProbe &probe, const Curves &curves, int axis, const std::vector<double> &moves,
                     double step, double travel);

// keep: the configured row; nibble: that row; auto: the fastest row whose
// predicted median and worst meet the goal (the most accurate when none
// does); keep within bounds: the configured row when it is sound, else as
// auto. -1 when the wanted row was not measured.
int choose_lens_row(const LensTable &table, int kind, int nibble);

// The row was chosen as auto chooses: asked for, or the configured row
// could not be kept (then --lens-speed auto is no remedy to suggest).
bool chosen_as_auto(const LensTable &table, int kind);

const char *lens_speed_key(int axis);

}  // namespace calibrate

#endif
