// The landing check: a short plan of sizes that neither the calibration nor
// the verification uses, landed on the camera through the driver's own
// arithmetic with the probe's values, against what those values predict.
#ifndef SIM_CALIBRATE_LANDING_H
#define SIM_CALIBRATE_LANDING_H

#include <math.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "choose.h"
#include "measure.h"

namespace calibrate {

// Pan and tilt 4, 12 and 40 degrees; zoom and focus 400 and 2500 steps;
// each out and back (the first way towards the more room), within the
// travel and the room around `at` (nullopt ends: any).
std::vector<double> landing_moves(int axis, const AxisGeometry &g, double at);

struct Landed {
    double requested = 0;
    double reached = 0;
    double predicted = 0;  // expected error with the probe's values
    double allowed = 0;    // the error of a landing a whole time step off the predicted mean
    double error() const { return requested != 0 ? fabs(reached - requested) / fabs(requested) : 0; }
};

struct LandingResult {
    std::vector<Landed> moves;
    double median = 0, worst = 0, predicted_median = 0;
    double allowed_median = 0;  // of the moves' `allowed`
};

// How much worse than predicted a landed median may be, and whether it was.
constexpr double landing_slack = 0.02;
inline bool landed_as_predicted(const LandingResult &r) {
    // A camera with a time step lands a move on a stair either side of the
    // mean: a landing within one of it is no miss.
    return r.moves.empty() || r.median <= std::max(r.predicted_median, r.allowed_median) + landing_slack;
}

// Lands the axis's landing moves with the probe's values, from where the
// axis stands; false with `error` set when the camera fails to answer.
bool land_plan(Measurer &m, DriverProbe &probe, const Curves &curves, int axis, const AxisGeometry &g,
               double step, LandingResult *result, std::string *error);

}  // namespace calibrate

#endif
