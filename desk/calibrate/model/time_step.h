// How finely the camera acts in time. A camera that takes commands on a
// frame grid drives for a whole number of steps: drives of slowly growing
// length land on a staircase of distances, one stair per step. The stair's
// height over the axis's rate is the step.
#ifndef SIM_CALIBRATE_TIME_STEP_H
#define SIM_CALIBRATE_TIME_STEP_H

#include <optional>
#include <vector>

#include "fit.h"

namespace calibrate {

struct Staircase {
    std::vector<Sample> samples;  // one direction of one speed, drive times a little apart
    double resolution = 0;        // the position reading's unit, same units as the distances
    double rate = 0;              // the speed's rate, from its long drives
};

// Stairs this many times as wide as the spacing of a staircase's times, or
// wider, are told from a camera without a grid.
constexpr double stairs_seen = 1.4;

// The step in seconds. Between drives of neighbouring times the distance
// either stays (same stair) or rises by one stair; on a camera without a
// grid it rises every time, by the rate times the time between them. 0
// when most neighbours rise by no more than that (no stairs `stairs_seen`
// times the spacing of the times or wider); nullopt when the samples
// cannot tell.
std::optional<double> estimate_time_step(const std::vector<Staircase> &stairs);

// Drive times of the staircase: `count` times `spacing` apart from `first`.
std::vector<double> staircase_times(double first, double spacing, int count);

}  // namespace calibrate

#endif
