#include "fit.h"

#include <algorithm>
#include <cmath>

namespace calibrate {

namespace {

// Drive times closer than this are one time (requested times, or a clock's
// jitter around them).
constexpr double same_time = 0.002;

// Least squares alone: rate, offset and the span; no near line.
std::optional<Line> fit_all(const std::vector<Sample> &samples) {
    const double n = static_cast<double>(samples.size());
    if (samples.size() < 2) return std::nullopt;
    double mean_t = 0, mean_d = 0;
    for (const Sample &s : samples) {
        // A broken reading would make every value of the fit NaN.
        if (!std::isfinite(s.seconds) || !std::isfinite(s.distance)) return std::nullopt;
        mean_t += s.seconds;
        mean_d += s.distance;
    }
    mean_t /= n;
    mean_d /= n;
    // Centred sums keep the result exact enough when all times are large.
    double stt = 0, std_ = 0;
    for (const Sample &s : samples) {
        stt += (s.seconds - mean_t) * (s.seconds - mean_t);
        std_ += (s.seconds - mean_t) * (s.distance - mean_d);
    }
    if (!(stt > 1e-12 * n)) return std::nullopt;  // one drive time only
    Line line;
    line.rate = std_ / stt;
    line.offset = mean_d - line.rate * mean_t;
    line.samples = static_cast<int>(samples.size());
    line.shortest = line.longest = samples[0].seconds;
    for (const Sample &s : samples) {
        line.shortest = std::min(line.shortest, s.seconds);
        line.longest = std::max(line.longest, s.seconds);
    }
    double sum = 0;
    for (const Sample &s : samples) {
        const double r = s.distance - line.at(s.seconds);
        sum += r * r;
    }
    line.rms = sqrt(sum / n);
    return line;
}

}  // namespace

std::optional<Line> fit_line(const std::vector<Sample> &samples) {
    std::optional<Line> line = fit_all(samples);
    if (!line) return line;
    // The two shortest drive times, and whether a third one lies beyond.
    std::vector<double> times;
    for (const Sample &s : samples) times.push_back(s.seconds);
    std::sort(times.begin(), times.end());
    std::vector<double> distinct;
    for (double t : times) {
        if (distinct.empty() || t - distinct.back() > same_time) distinct.push_back(t);
    }
    if (distinct.size() < 3) return line;
    std::vector<Sample> near;
    for (const Sample &s : samples) {
        if (s.seconds <= distinct[1] + same_time) near.push_back(s);
    }
    const std::optional<Line> n = fit_all(near);
    if (!n) return line;
    line->near_rate = n->rate;
    line->near_offset = n->offset;
    line->near_until = distinct[1];
    return line;
}

}  // namespace calibrate
