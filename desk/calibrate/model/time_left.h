// What the progress line says of the camera time left. The estimate is the
// drives still to go times the mean time of the drives so far; the first
// drives are the short ones, so early estimates run low and then climb.
// Nothing is said until a few drives were timed, and after that the figure
// shown never rises by more than a tenth of the one before it.
#ifndef SIM_CALIBRATE_TIME_LEFT_H
#define SIM_CALIBRATE_TIME_LEFT_H

#include <optional>

namespace calibrate {

class TimeLeft {
public:
    // Drives timed before any figure is shown.
    static constexpr int settle = 6;

    // ESTIMATE (seconds) after DRIVES timed drives: the figure to show, if any.
    std::optional<double> shown(double estimate, int drives);

private:
    std::optional<double> last_;
};

}  // namespace calibrate

#endif
