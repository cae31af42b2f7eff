// Rounded ticks for the desk programs' pictures: a step of 1, 2 or 5 times a
// power of ten, and tick values printed as a reader writes them.
#ifndef SIM_CAMERA_PLOT_TICKS_H
#define SIM_CAMERA_PLOT_TICKS_H

#include <math.h>
#include <stdio.h>

#include <string>

namespace camera {

// The step that puts about `count` ticks across `span` (> 0).
inline double nice_step(double span, double count = 4) {
    const double raw = span / count, p = pow(10, floor(log10(raw)));
    for (double f : {1.0, 2.0, 5.0}) {
        if (f * p >= raw * (1 - 1e-9)) return f * p;
    }
    return 10 * p;
}

// A tick value: six significant digits at most, so that sums of steps lose
// their binary dust (0.30000000000000004 is 0.3), and never "-0".
inline std::string tick_label(double v) {
    char b[32];
    snprintf(b, sizeof b, "%.6g", fabs(v) < 1e-9 ? 0.0 : v);
    return b;
}

}  // namespace camera

#endif
