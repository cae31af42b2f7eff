#include "verify_summary.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>

namespace host {

namespace {

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

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

std::string verify_summary(const std::vector<VerifiedMove> &moves) {
    std::vector<double> long_moves, short_moves, lens;
    for (const VerifiedMove &m : moves) {
        if (m.axis >= 2) {
            lens.push_back(m.error());
            continue;
        }
        if (fabs(m.requested) >= 5) long_moves.push_back(m.error());
        if (fabs(m.requested) <= 5) short_moves.push_back(m.error());
    }
    auto worst = [](const std::vector<double> &v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); };
    return "verify summary: 5-90 deg median " + pct(median(long_moves)) + " worst " + pct(worst(long_moves)) +
           "; 1-5 deg median " + pct(median(short_moves)) + " worst " + pct(worst(short_moves)) +
           "; zoom/focus median " + pct(median(lens)) + " worst " + pct(worst(lens)) + "; " +
           std::to_string(moves.size()) + " moves";
}

}  // namespace host
