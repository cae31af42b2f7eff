#include "time_left.h"

#include <math.h>

#include <algorithm>

namespace calibrate {

std::optional<double> TimeLeft::shown(double seconds, int drives, int own) {
    const double estimate = std::max(planned_ - drives, own) * seconds;
    if (drives < settle || !std::isfinite(estimate) || estimate < 0) return last_;
    last_ = last_ ? std::min(estimate, *last_ * 1.1) : estimate;
    return last_;
}

}  // namespace calibrate
