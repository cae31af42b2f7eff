// Chooses the calibration values: for each candidate configuration the
// driver (through the probe) says which bytes it sends and for how long, and
// the fitted curves say where such drives land. The candidates with the
// smallest landing error over the plan win.
#ifndef SIM_CALIBRATE_CHOOSE_H
#define SIM_CALIBRATE_CHOOSE_H

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "driver_probe.h"
#include "fit.h"

namespace calib {

// (axis, direction, speed byte or nibble)
using CurveKey = std::tuple<int, int, int>;
using Curves = std::map<CurveKey, Line>;

// Relative moves per axis: degrees for pan and tilt, steps for zoom and focus.
using Plan = std::map<int, std::vector<double>>;

struct Prediction {
    double requested = 0;
    double reached = 0;
    std::vector<Drive> drives;
    bool known = true;  // every drive has a fitted curve

    double error() const;  // |reached - requested| / |requested|
};

// Where the driver's move lands according to the curves; a drive cannot run
// backwards, so a drive shorter than the start latency moves nothing.
Prediction predict(DriverProbe &probe, const Curves &curves, int axis, double amount);

// Weighted sum of the relative errors over the axis's moves; infinite when a
// move needs a curve we do not have.
double plan_cost(DriverProbe &probe, const Curves &curves, int axis, const std::vector<double> &moves);

// The keys each axis's search sets.
std::vector<std::string> keys_of(int axis);

// Searches the axis's keys (time per unit, and the speed compensation for
// pan and tilt) and leaves the best values in the probe's configuration.
// `search_compensation` false keeps the compensation as configured.
void choose_axis(DriverProbe &probe, const Curves &curves, int axis, const std::vector<double> &moves,
                 bool search_compensation);

// MoveSpeed: the fastest whose long-move speed byte turns at most 0.3
// degrees (6 % of a 5 degree move) within one video frame of the camera,
// since a command acts on a frame boundary; frame_ms 0: as configured.
long choose_move_speed(DriverProbe &probe, const Curves &curves, bool pan, bool tilt, double frame_ms);

}  // namespace calib

#endif
