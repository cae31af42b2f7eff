// What the calibration prints: fitted tables, chosen values, the predicted
// error per move size and what limits it.
#ifndef SIM_CALIBRATE_REPORT_H
#define SIM_CALIBRATE_REPORT_H

#include <stdio.h>

#include <vector>

#include "choose.h"

namespace calib {

void print_curves(FILE *out, const Curves &curves, int axis);

// One line per move of the plan with the chosen configuration, then the
// median and worst error, and for moves whose error stays large the best
// any compensation value would give (the floor of short moves).
void print_predictions(FILE *out, DriverProbe &probe, const Curves &curves, int axis,
                       const std::vector<double> &moves);

}  // namespace calib

#endif
