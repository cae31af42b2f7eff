// The verification picture, drawn for tavrinode --verify-plot and for the
// calibrator's site page alike.
#ifndef DESK_VERIFY_VERIFY_PLOT_H
#define DESK_VERIFY_VERIFY_PLOT_H

#include <string>
#include <vector>

#include "verify_summary.h"

namespace verify {

// An SVG picture of the moves: requested against reached (pan and tilt), and
// the error per move size against the accuracy goals.
std::string plot_svg(const std::vector<VerifiedMove> &moves);

}  // namespace verify

#endif
