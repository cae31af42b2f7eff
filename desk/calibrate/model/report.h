// What the calibration prints: fitted tables, chosen values, the predicted
// error per move size and what limits it.
#ifndef SIM_CALIBRATE_REPORT_H
#define SIM_CALIBRATE_REPORT_H

#include <stdio.h>

#include <vector>

#include "choose.h"
#include "lens_speed.h"

namespace calibrate {

void print_curves(FILE *out, const Curves &curves, int axis);

// One line per move of the plan with the chosen configuration, then the
// median and worst error, and for moves whose error stays large the best
// any compensation value would give (the floor of short moves).
// `step`: the camera's time step (seconds), which the predicted errors count.
void print_predictions(FILE *out, DriverProbe &probe, const Curves &curves, int axis,
                       const std::vector<double> &moves, double step = 0);

// Nibble, full-travel time and the predicted error of small, medium and
// large moves; the row in use and the row chosen marked.
void print_lens_table(FILE *out, const LensTable &table);

// Without --lens-speed: when the speed in use could not be kept (predicted
// beyond the bound, or not measured), the line that says so and names the
// speed chosen instead; nothing otherwise.
void print_lens_fallback(FILE *out, const LensTable &table, int kind, long speed_in_use);

}  // namespace calibrate

#endif
