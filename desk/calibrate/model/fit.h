// Straight-line fits of timed drives: distance = rate * time + offset, where
// the offset takes up the camera's start latency and its coast after a stop.
#ifndef SIM_CALIBRATE_FIT_H
#define SIM_CALIBRATE_FIT_H

#include <optional>
#include <vector>

namespace calibrate {

struct Sample {
    double seconds = 0;   // time between the drive and the stop command
    double distance = 0;  // how far the axis went, in the drive's direction
};

struct Line {
    double rate = 0;    // units per second
    double offset = 0;  // units
    double rms = 0;     // root mean square of the residuals
    int samples = 0;
    double shortest = 0, longest = 0;  // the drive times it was fitted over

    double at(double seconds) const { return rate * seconds + offset; }
};

// Least squares over the samples. Needs at least two distinct drive times
// and finite samples; nullopt otherwise.
std::optional<Line> fit_line(const std::vector<Sample> &samples);

}  // namespace calibrate

#endif
