#include "plan.h"

#include <math.h>

#include "verify_summary.h"

namespace calibrate {

namespace {

std::vector<double> both_ways(const std::vector<double> &sizes, bool lens, std::optional<double> travel,
                              bool long_only) {
    std::vector<double> moves;
    for (double s : sizes) {
        if (long_only && !lens && s < 5) continue;
        if (travel && s > 0.9 * *travel) continue;
        moves.push_back(s);
        moves.push_back(-s);
    }
    return moves;
}

}  // namespace

std::vector<double> plan_moves(int axis, std::optional<double> travel, bool long_only) {
    const bool lens = axis == Zoom || axis == Focus;
    return both_ways(verify::plan_sizes(lens, false), lens, travel, long_only);
}

std::vector<double> held_out_moves(int axis, std::optional<double> travel) {
    const bool lens = axis == Zoom || axis == Focus;
    return both_ways(verify::plan_sizes(lens, true), lens, travel, false);
}

std::set<int> speeds_used(DriverProbe &probe, int axis, const std::vector<double> &moves, double low, double high,
                          bool all_compensations) {
    const std::vector<std::string> keys = keys_of(axis);
    const Config saved = probe.config();
    const long time = saved.at(keys[0]);
    std::vector<long> compensations{0};
    if (keys.size() > 1) compensations = {saved.at(keys[1])};
    if (all_compensations && keys.size() > 1) {
        compensations.clear();
        for (long c = -100; c <= 100; c += 1) compensations.push_back(c);
    }
    std::set<int> speeds;
    for (int i = 0; i <= 80; ++i) {
        const long t = std::max(1L, lround(time * low * pow(high / low, i / 80.0)));
        probe.set(keys[0], t);
        for (long c : compensations) {
            if (keys.size() > 1) probe.set(keys[1], c);
            for (double m : moves) {
                for (const Drive &d : probe.move(axis, m)) speeds.insert(d.speed);
            }
        }
    }
    for (const std::string &k : keys) probe.set(k, saved.at(k));
    return speeds;
}

}  // namespace calibrate
