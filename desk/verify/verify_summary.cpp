#include "verify_summary.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>

#include "median.h"

namespace verify {

namespace {

std::string pct(double v) {
    char b[32];
    snprintf(b, sizeof b, "%.1f%%", 100 * v);
    return b;
}

}  // namespace

std::optional<double> decode_position(int axis, const visca::Bytes &data, double units_per_degree, int sign) {
    if (data.size() != (axis <= 1 ? 8u : 4u)) return std::nullopt;
    if (axis > 1) return visca::position_values(data, false)[0];
    return visca::position_values(data, true)[static_cast<size_t>(axis)] * sign / units_per_degree;
}

double VerifiedMove::error() const { return fabs(reached - requested) / fabs(requested); }

std::vector<double> plan_sizes(bool lens, bool held_out) {
    if (lens) return held_out ? std::vector<double>{300, 700, 1500, 3500, 7000}
                              : std::vector<double>{200, 500, 1000, 2000, 5000, 10000};
    return held_out ? std::vector<double>{3, 7, 15, 30, 60, 75} : std::vector<double>{1, 2, 5, 10, 20, 45, 90};
}

namespace {

std::string summary(const char *title, const std::vector<VerifiedMove> &all, bool held_out) {
    std::vector<double> long_moves, short_moves, lens;
    size_t count = 0;
    for (const VerifiedMove &m : all) {
        if (m.held_out != held_out) continue;
        ++count;
        if (m.axis >= 2) {
            lens.push_back(m.error());
            continue;
        }
        if (fabs(m.requested) >= 5) long_moves.push_back(m.error());
        if (fabs(m.requested) <= 5) short_moves.push_back(m.error());
    }
    // A bucket without moves says so: 0.0% would read as a perfect result.
    auto bucket = [](const char *name, const std::vector<double> &v) {
        if (v.empty()) return std::string(name) + " no moves";
        return std::string(name) + " median " + pct(common::median(v)) + " worst " +
               pct(*std::max_element(v.begin(), v.end()));
    };
    return std::string(title) + ": " + bucket("5-90 deg", long_moves) + "; " + bucket("1-5 deg", short_moves) + "; " +
           bucket("zoom/focus", lens) + "; " + std::to_string(count) + " moves";
}

}  // namespace

std::string verify_summary(const std::vector<VerifiedMove> &moves) { return summary("verify summary", moves, false); }

std::string verify_held_out_summary(const std::vector<VerifiedMove> &moves) {
    return summary("verify held-out", moves, true);
}

}  // namespace verify
