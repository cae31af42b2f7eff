// The relative moves the calibration is judged by, and the speeds the
// driver can send for them.
#ifndef SIM_CALIBRATE_PLAN_H
#define SIM_CALIBRATE_PLAN_H

#include <optional>
#include <set>
#include <vector>

#include "choose.h"
#include "driver_probe.h"

namespace calibrate {

// Both directions of each size that fits the axis's travel (nullopt: any).
// Pan and tilt: 1, 2, 5, 10, 20, 45, 90 degrees (from 5 only when `long_only`);
// zoom and focus: 200 .. 10000 steps.
std::vector<double> plan_moves(int axis, std::optional<double> travel, bool long_only);

// Sizes the calibration never chooses by, for verifying it: pan and tilt
// 3, 7, 15, 30, 60, 75 degrees; zoom and focus 300 .. 7000 steps; both ways,
// within the travel.
std::vector<double> held_out_moves(int axis, std::optional<double> travel);

// The speed bytes (nibbles) the driver sends for the plan's moves with the
// current configuration, the time per unit anywhere from `low` to `high`
// times its current value and, when `all_compensations`, any compensation.
std::set<int> speeds_used(DriverProbe &probe, int axis, const std::vector<double> &moves, double low, double high,
                          bool all_compensations);

}  // namespace calibrate

#endif
