// How finely the camera acts in time. A camera that takes commands on a
// frame grid drives for a whole number of steps: drives of slowly growing
// length land on a staircase of distances, one stair per step. The stair's
// height over the axis's rate is the step.
#ifndef SIM_CALIBRATE_TIME_STEP_H
#define SIM_CALIBRATE_TIME_STEP_H

#include <optional>
#include <vector>

#include "fit.h"

namespace calib {

struct Staircase {
    std::vector<Sample> samples;  // one direction of one speed
    double resolution = 0;        // the position reading's unit, same units as the distances
};

// The step in seconds: 0 when the distances grow smoothly with the drive
// time (no stairs, finer than the times tried); nullopt when the samples
// cannot tell (too few, or the axis did not move).
std::optional<double> estimate_time_step(const std::vector<Staircase> &stairs);

// Drive times of the staircase: `count` times `spacing` apart from `first`.
std::vector<double> staircase_times(double first, double spacing, int count);

}  // namespace calib

#endif
