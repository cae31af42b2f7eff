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
    // The line through the drives of the two shortest drive times alone,
    // where there are more than two: a camera's start can bend the curve
    // there, and a line over long drives carried down misses short ones.
    // near_until 0: none.
    double near_rate = 0, near_offset = 0, near_until = 0;

    // Where a drive of `seconds` lands: by the drives nearest its time. At
    // or below the shortest drive, the near line; from there to the second
    // shortest, sliding over to the line over all drives, which alone
    // carries the long drives (its span sets the rate best).
    double at(double seconds) const {
        const double all = rate * seconds + offset;
        if (!(near_until > shortest) || seconds >= near_until) return all;
        const double near = near_rate * seconds + near_offset;
        if (seconds <= shortest) return near;
        const double w = (seconds - shortest) / (near_until - shortest);
        return (1 - w) * near + w * all;
    }
};

// Least squares over the samples. Needs at least two distinct drive times
// and finite samples; nullopt otherwise.
std::optional<Line> fit_line(const std::vector<Sample> &samples);

}  // namespace calibrate

#endif
