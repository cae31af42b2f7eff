// The pure part of the verification: decoding the position replies the host
// reads between moves, and the summary of the moves, apart from the host's
// runtime so that they can be tested alone.
#ifndef SIM_HOST_VERIFY_SUMMARY_H
#define SIM_HOST_VERIFY_SUMMARY_H

#include <optional>
#include <string>
#include <vector>

#include "visca.h"

namespace verify {

struct VerifiedMove {
    int axis = 0;  // 0 pan, 1 tilt, 2 zoom, 3 focus
    double requested = 0, reached = 0;
    bool held_out = false;  // a size outside the calibration's plan
    double error() const;  // |reached - requested| / |requested|
};

// The data bytes of a position reply (without 90 50 and FF) as degrees
// (pan, tilt: a signed 16-bit counter times `sign` over `units_per_degree`)
// or steps (zoom, focus: unsigned); nullopt when the reply has the wrong size.
std::optional<double> decode_position(int axis, const visca::Bytes &data, double units_per_degree, int sign);

// The sizes of the verification: the calibration's own plan (pan and tilt
// 1 .. 90 degrees, zoom and focus 200 .. 10000 steps) or the held-out ones
// (3 .. 75 degrees, 300 .. 7000 steps).
std::vector<double> plan_sizes(bool lens, bool held_out);

// The accuracy goals, relative errors per group of moves as the summary
// groups them; the calibrator chooses by them and the plot draws them.
constexpr double goal_short_median = 0.06;  // pan and tilt, 1 to 5 degrees
constexpr double goal_long_median = 0.01;   // pan and tilt, 5 to 90 degrees
constexpr double goal_long_worst = 0.04;
constexpr double goal_lens_median = 0.03;   // zoom and focus
constexpr double goal_lens_worst = 0.15;

// The summary line of the in-plan moves:
//   verify summary: 5-90 deg median A% worst B%; 1-5 deg median C% worst D%;
//                   zoom/focus median E% worst F%; N moves
std::string verify_summary(const std::vector<VerifiedMove> &moves);
// The same over the held-out moves, "verify held-out: ...".
std::string verify_held_out_summary(const std::vector<VerifiedMove> &moves);

}  // namespace verify

#endif
