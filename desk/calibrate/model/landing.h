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
// axis stands, one move at a time as the driver lands one (what landing
// them together is held to), with predictions; false with `error` set when
// the camera fails to answer.
bool land_plan(Measurer &m, DriverProbe &probe, const Curves &curves, int axis, const AxisGeometry &g,
               double step, LandingResult *result, std::string *error);
// What the probe's values and the curves predict for each landed move of
// the axis (nothing without curves: a check of the values in use), then
// the summary.
void predict_landing(DriverProbe &probe, const Curves &curves, int axis, double step, LandingResult *r);

// Frames of different axes landing together keep this far apart (seconds):
// more than a position inquiry, a command's line time and a camera's video
// frame, so a camera holding two commands drops none.
constexpr double together_gap = 0.25;

// Lands the landing plans of the chosen axes (without predictions), the
// k-th move of every axis at the same time (drives whole camera time steps
// `step` apart), each through the driver's own arithmetic and each axis's
// position read back; false with `error` set when the camera fails to
// answer or the run is stopped.
bool land_plans(Measurer &m, DriverProbe &probe, const bool (&axes)[4], const AxisGeometry (&g)[4],
                double step, LandingResult (&results)[4], std::string *error);
// The same for moves given per axis.
bool land_moves(Measurer &m, DriverProbe &probe, const std::vector<double> (&plan)[4], const AxisGeometry (&g)[4],
                double step, LandingResult (&results)[4], std::string *error);
// The medians of the moves' errors, predictions and allowances, and the
// worst error.
void summarise(LandingResult *r);

// A move that looks off may be the noise of one landing (a late wake-up on
// a loaded machine, a drive time a video frame longer), or drift, which
// lands off every time. The out-and-back pairs with a move off by more than
// `limit` (each pair keeps the axis where it stands), to land again.
std::vector<double> pairs_off(const LandingResult &r, double limit);
// Keeps, per move, the landing with the smaller error; says how many of
// `again` did better.
int keep_better(LandingResult *r, const LandingResult &again);

}  // namespace calibrate

#endif
