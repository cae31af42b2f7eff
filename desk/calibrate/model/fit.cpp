#include "fit.h"

#include <algorithm>
#include <cmath>

namespace calibrate {

std::optional<Line> fit_line(const std::vector<Sample> &samples) {
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

}  // namespace calibrate
