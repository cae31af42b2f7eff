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

namespace calibrate {

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
    // The expected |reached - requested| / |requested| on a camera that acts
    // every time step: a drive then lasts a whole number of steps, the one
    // below or the one above its time, so it lands one stair short of or
    // beyond `reached`, as likely as the drive time is near either.
    double expected = 0;
    // The worse of the two stairs it lands on often enough to be met (one
    // time in twenty or more, the phase of its time within a step known to
    // a quarter step): what a prediction for a single move can stand
    // behind. Without a time step, the expected error.
    double worst = 0;
    double stair = 0;  // distance one time step moves (0: no step, or several drives)

    double error() const { return expected; }
};

// Where the driver's move lands according to the curves (a drive cannot run
// backwards: a drive shorter than the start latency moves nothing), and its
// expected error with the camera's time step `step` (seconds; 0: none).
Prediction predict(DriverProbe &probe, const Curves &curves, int axis, double amount, double step = 0);

// Weighted sum of the relative errors over the axis's moves; infinite when a
// move needs a curve we do not have.
double plan_cost(DriverProbe &probe, const Curves &curves, int axis, const std::vector<double> &moves,
                 double step = 0);

// Pan and tilt moves under this many degrees count a quarter in plan_cost.
constexpr double short_move_degrees = 5;
constexpr double short_move_weight = 0.25;

// The bounds beyond which chosen values are not written: the predicted
// median error of pan and tilt moves of 5 to 90 degrees, and of lens moves.
constexpr double sound_pan_tilt_median = 0.05;
constexpr double sound_lens_median = 0.10;

// Why the probe's values cannot be stood behind for the axis's plan: a move
// no measured drive predicts, or a predicted median beyond the bound above.
// Empty when they can.
std::string unsound(DriverProbe &probe, const Curves &curves, int axis, const std::vector<double> &moves,
                    double step = 0);

// The keys each axis's search sets.
std::vector<std::string> keys_of(int axis);

// Searches the axis's keys (time per unit, and the speed compensation for
// pan and tilt) and leaves the best values in the probe's configuration.
// `search_compensation` false keeps the compensation as configured.
void choose_axis(DriverProbe &probe, const Curves &curves, int axis, const std::vector<double> &moves,
                 bool search_compensation, double step = 0);

// The measured pan and tilt curves, and lines for the speed bytes between
// two measured ones, each direction apart: rate and offset in proportion
// between the nearest measured byte below and above. A guide to which
// bytes to measure, never a prediction to stand behind (nothing beyond the
// slowest and fastest measured byte).
Curves with_between(const Curves &measured);

// MoveSpeed: the fastest whose long-move speed byte turns at most 0.3
// degrees (6 % of a 5 degree move) within one video frame of the camera,
// since a command acts on a frame boundary; frame_ms 0: as configured.
long choose_move_speed(DriverProbe &probe, const Curves &curves, bool pan, bool tilt, double frame_ms);

}  // namespace calibrate

#endif
