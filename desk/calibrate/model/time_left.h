// What the progress line says of the camera time left. The estimate is the
// drives the run still plans times the mean time of the drives so far. Each
// step plans its drives before it makes them (the later steps a guess at
// first, corrected once their count is known): a step that counted only
// its own drives would say a second or two near its end, for a run with
// minutes to go. The first drives are the short ones, so early estimates
// run low and then climb. Nothing is said until a few drives were timed,
// and after that the figure shown never rises by more than a tenth of the
// one before it.
#ifndef SIM_CALIBRATE_TIME_LEFT_H
#define SIM_CALIBRATE_TIME_LEFT_H

#include <optional>

namespace calibrate {

class TimeLeft {
public:
    // Drives timed before any figure is shown.
    static constexpr int settle = 6;

    // The run plans DRIVES more drives (fewer when negative: a guess taken
    // back once the count is known).
    void plan(int drives) { planned_ += drives; }
    // After DRIVES timed drives of SECONDS each on average, with OWN still
    // to go in the step under way: the figure to show, if any.
    std::optional<double> shown(double seconds, int drives, int own);

private:
    int planned_ = 0;
    std::optional<double> last_;
};

}  // namespace calibrate

#endif
