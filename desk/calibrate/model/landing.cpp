#include "landing.h"

#include <math.h>

#include <algorithm>

#include "median.h"

namespace calibrate {

std::vector<double> landing_moves(int axis, const AxisGeometry &g, double at) {
    const bool lens = axis == Zoom || axis == Focus;
    const std::vector<double> sizes = lens ? std::vector<double>{400, 2500} : std::vector<double>{4, 12, 40};
    const double up = g.max ? *g.max - at : INFINITY, down = g.min ? at - *g.min : INFINITY;
    std::vector<double> moves;
    for (double s : sizes) {
        // Room for the move and a tenth more: a stop at an end would cut it.
        const int first = up >= down ? 1 : -1;
        if (std::max(up, down) < 1.1 * s) continue;
        moves.push_back(first * s);
        moves.push_back(-first * s);
    }
    return moves;
}

bool land_plan(Measurer &m, DriverProbe &probe, const Curves &curves, int axis, const AxisGeometry &g,
               double step, LandingResult *result, std::string *error) {
    const auto here = m.settled(axis, g, error);
    if (!here) return false;
    *result = LandingResult();
    std::vector<double> errors, predicted, allowed;
    for (double amount : landing_moves(axis, g, *here)) {
        Landed l;
        l.requested = amount;
        // Without curves (a check of values in use) there is no prediction.
        if (!curves.empty()) {
            const Prediction p = predict(probe, curves, axis, amount, step);
            l.predicted = p.error();
            // Within a stair of the curves' mean: the stairs of the short
            // drives the curves were fitted from move their mean as much.
            l.allowed = (fabs(p.reached - amount) + p.stair) / fabs(amount);
        }
        const auto moved = m.land(axis, g, probe.move(axis, amount), error);
        if (!moved) return false;
        l.reached = *moved;
        result->moves.push_back(l);
        errors.push_back(l.error());
        predicted.push_back(l.predicted);
        allowed.push_back(l.allowed);
    }
    if (errors.empty()) return true;
    result->median = common::median(errors);
    result->worst = *std::max_element(errors.begin(), errors.end());
    result->predicted_median = common::median(predicted);
    result->allowed_median = common::median(allowed);
    return true;
}

}  // namespace calibrate
