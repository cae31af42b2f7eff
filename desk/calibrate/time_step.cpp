#include "time_step.h"

#include <math.h>

#include <algorithm>

namespace calib {

std::vector<double> staircase_times(double first, double spacing, int count) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) times.push_back(first + spacing * i);
    return times;
}

std::optional<double> estimate_time_step(const std::vector<Staircase> &stairs) {
    std::vector<double> rises;  // seconds between neighbouring stairs
    int smooth = 0, stepped = 0;
    for (const Staircase &s : stairs) {
        const auto line = fit_line(s.samples);
        if (!line || !(line->rate > 0)) continue;
        std::vector<double> d;
        for (const Sample &x : s.samples) d.push_back(x.distance);
        std::sort(d.begin(), d.end());
        // Readings closer than a few units of the reading are the same stair.
        const double same = std::max(3 * s.resolution, 1e-9);
        std::vector<double> levels{d.front()};
        for (double v : d) {
            if (v - levels.back() > same) levels.push_back(v);
        }
        if (levels.size() < 2) continue;
        // Stairs: clearly fewer distinct distances than drives.
        if (levels.size() * 2 > d.size()) {
            ++smooth;
            continue;
        }
        ++stepped;
        for (size_t i = 1; i < levels.size(); ++i) rises.push_back((levels[i] - levels[i - 1]) / line->rate);
    }
    if (stepped == 0) return smooth > 0 ? std::optional<double>(0.0) : std::nullopt;
    if (smooth > stepped) return 0.0;
    // The median stair: a stair missed between two drives counts double,
    // and stays one of few.
    std::sort(rises.begin(), rises.end());
    return rises[rises.size() / 2];
}

}  // namespace calib
