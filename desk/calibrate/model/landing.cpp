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
    for (double amount : landing_moves(axis, g, *here)) {
        const auto moved = m.land(axis, g, probe.move(axis, amount), error);
        if (!moved) return false;
        result->moves.push_back(Landed{amount, *moved, 0, 0});
    }
    predict_landing(probe, curves, axis, step, result);
    return true;
}

void predict_landing(DriverProbe &probe, const Curves &curves, int axis, double step, LandingResult *r) {
    // Without curves (a check of values in use) there is no prediction.
    for (Landed &l : r->moves) {
        if (curves.empty()) break;
        const Prediction p = predict(probe, curves, axis, l.requested, step);
        l.predicted = p.error();
        // Within a stair of the curves' mean: the stairs of the short
        // drives the curves were fitted from move their mean as much.
        l.allowed = (fabs(p.reached - l.requested) + p.stair) / fabs(l.requested);
    }
    summarise(r);
}

bool land_plans(Measurer &m, DriverProbe &probe, const bool (&axes)[4], const AxisGeometry (&g)[4],
                double step, LandingResult (&results)[4], std::string *error) {
    std::vector<double> plan[4];
    for (int axis = 0; axis < 4; ++axis) {
        if (!axes[axis]) continue;
        const auto here = m.settled(axis, g[axis], error);
        if (!here) return false;
        plan[axis] = landing_moves(axis, g[axis], *here);
    }
    return land_moves(m, probe, plan, g, step, results, error);
}

bool land_moves(Measurer &m, DriverProbe &probe, const std::vector<double> (&plan)[4], const AxisGeometry (&g)[4],
                double step, LandingResult (&results)[4], std::string *error) {
    size_t rounds = 0;
    for (int axis = 0; axis < 4; ++axis) {
        results[axis] = LandingResult();
        rounds = std::max(rounds, plan[axis].size());
    }
    // Round k lands every axis's k-th move together; a move of several
    // drives (none in the plan's sizes) lands on its own.
    for (size_t k = 0; k < rounds; ++k) {
        std::vector<Drive> together;
        std::vector<int> alone;
        for (int axis = 0; axis < 4; ++axis) {
            if (k >= plan[axis].size()) continue;
            const std::vector<Drive> drives = probe.move(axis, plan[axis][k]);
            if (drives.size() == 1) {
                together.push_back(drives[0]);
            } else {
                alone.push_back(axis);
            }
        }
        const auto landed = m.land_together(g, together, together_gap, step, error);
        if (!landed) return false;
        for (size_t i = 0; i < together.size(); ++i) {
            const int axis = together[i].axis;
            results[axis].moves.push_back(Landed{plan[axis][k], (*landed)[i].moved, 0, 0});
        }
        for (int axis : alone) {
            const auto moved = m.land(axis, g[axis], probe.move(axis, plan[axis][k]), error);
            if (!moved) return false;
            results[axis].moves.push_back(Landed{plan[axis][k], *moved, 0, 0});
        }
    }
    for (LandingResult &r : results) summarise(&r);
    return true;
}

void summarise(LandingResult *r) {
    if (r->moves.empty()) return;
    std::vector<double> errors, predicted, allowed;
    for (const Landed &l : r->moves) {
        errors.push_back(l.error());
        predicted.push_back(l.predicted);
        allowed.push_back(l.allowed);
    }
    r->median = common::median(errors);
    r->worst = *std::max_element(errors.begin(), errors.end());
    r->predicted_median = common::median(predicted);
    r->allowed_median = common::median(allowed);
}

std::vector<double> pairs_off(const LandingResult &r, double limit) {
    std::vector<double> again;
    for (size_t k = 0; k + 1 < r.moves.size(); k += 2) {
        if (r.moves[k].error() > limit || r.moves[k + 1].error() > limit) {
            again.push_back(r.moves[k].requested);
            again.push_back(r.moves[k + 1].requested);
        }
    }
    return again;
}

int keep_better(LandingResult *r, const LandingResult &again) {
    int better = 0;
    for (const Landed &l : again.moves) {
        for (Landed &was : r->moves) {
            if (was.requested == l.requested && l.error() < was.error()) {
                was = l;
                ++better;
                break;
            }
        }
    }
    summarise(r);
    return better;
}

}  // namespace calibrate
