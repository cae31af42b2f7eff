#include "time_step.h"

#include <math.h>

#include <algorithm>

#include "median.h"

namespace calibrate {

std::vector<double> staircase_times(double first, double spacing, int count) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) times.push_back(first + spacing * i);
    return times;
}

std::optional<double> estimate_time_step(const std::vector<Staircase> &stairs) {
    struct Rise {
        double at, height;  // the time between the two drives, the distance it rose
    };
    std::vector<std::vector<Rise>> runs;
    std::vector<double> heights;  // seconds: one stair over the rate
    std::vector<double> spans;    // a rise over the rate, per second between its two drives
    size_t flat = 0, neighbours = 0;
    for (const Staircase &s : stairs) {
        if (!(s.rate > 0) || s.samples.size() < 3) continue;
        // Stairs or not, by the distances alone (a late stop moves a drive
        // to another stair, never between two): sorted, neighbours within a
        // reading and a half are the same stair.
        std::vector<double> d;
        for (const Sample &x : s.samples) d.push_back(x.distance);
        std::sort(d.begin(), d.end());
        for (size_t i = 1; i < d.size(); ++i) {
            ++neighbours;
            if (d[i] - d[i - 1] <= 1.5 * s.resolution) {
                ++flat;
            } else {
                heights.push_back((d[i] - d[i - 1]) / s.rate);
            }
        }
        // The rises in time order, for the stairs' width.
        std::vector<Sample> v = s.samples;
        std::sort(v.begin(), v.end(), [](const Sample &a, const Sample &b) { return a.seconds < b.seconds; });
        runs.emplace_back();
        for (size_t i = 1; i < v.size(); ++i) {
            const double rise = v[i].distance - v[i - 1].distance;
            if (rise > 1.5 * s.resolution) runs.back().push_back({(v[i].seconds + v[i - 1].seconds) / 2, rise});
            const double apart = v[i].seconds - v[i - 1].seconds;
            if (rise > 1.5 * s.resolution && apart > 0) spans.push_back(rise / s.rate / apart);
        }
    }
    if (neighbours == 0) return std::nullopt;
    // Most neighbours rise both without a grid and on stairs less than twice
    // the drives' spacing wide; on the stairs each rise is a whole stair,
    // longer than the time between its drives.
    if (flat * 2 < neighbours && !(common::median(spans) >= stairs_seen)) return 0.0;
    if (heights.empty()) return std::nullopt;
    // A stair's height over the rate: as good as the rate.
    std::sort(heights.begin(), heights.end());
    const double by_height = heights[heights.size() / 2];
    // A stair's width: the time from the first ordinary rise to the last
    // over the stairs between, each rise after the first counted in usual
    // rises (the height over the rate is a reading's unit coarse: carried
    // over the span it could miss a stair). Rises at the start of motion
    // (latency, a partial first stair) are not ordinary.
    double sum = 0;
    int widths = 0;
    for (const std::vector<Rise> &run : runs) {
        std::vector<double> h;
        for (const Rise &r : run) h.push_back(r.height);
        if (h.empty()) continue;
        std::sort(h.begin(), h.end());
        const double usual = h[h.size() / 2];
        const auto ordinary = [&](const Rise &r) { return fabs(r.height - usual) <= 0.3 * usual; };
        const auto first = std::find_if(run.begin(), run.end(), ordinary);
        const auto last = std::find_if(run.rbegin(), run.rend(), ordinary);
        if (first == run.end() || &*first == &*last) continue;
        const double span = last->at - first->at;
        long n = 0;
        for (auto r = first + 1; r != last.base(); ++r) n += lround(r->height / usual);
        if (n < 1) continue;
        sum += span / static_cast<double>(n);
        ++widths;
    }
    return widths > 0 ? sum / widths : by_height;
}

}  // namespace calibrate
