// Timed drives bracketed by position inquiries once the camera has settled,
// back and forth around the start position so that no end stop is reached.
#ifndef SIM_CALIBRATE_MEASURE_H
#define SIM_CALIBRATE_MEASURE_H

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "camera_link.h"
#include "choose.h"
#include "fit.h"
#include "time_left.h"

namespace calibrate {

struct AxisGeometry {
    double units_per_unit = 1;  // position counter units per degree (lens: per step)
    int sign = 0;               // counter direction against the driver's; 0: find out
    // Where the axis may go, in degrees or steps (nullopt: unlimited).
    std::optional<double> min, max;
};

// How far a move went, and how late its stop frame left (the desk's own
// scheduling, not the camera).
struct Landing {
    double moved = 0;
    double late = 0;  // seconds
};

struct MeasureOptions {
    double short_target = 1;    // distance of the short drive (degrees; lens: times 250)
    double min_short = 0.1;     // seconds
    double max_short = 0.5;     // seconds
    double first_short = 0.3;   // seconds: the first speed's, no rate known yet
    // How much faster a speed may be than the one measured before it: its
    // short drive is that much shorter, so that it is no longer than the
    // short target needs.
    double rate_growth = 1;
    double long_target = 4;     // distance of the long drive
    double max_drive = 0.8;     // seconds
    int times = 2;              // drive times per direction, from the short to the long one
};

// Progress: axis, speed, an estimate of the camera time still needed (none
// until enough drives were timed: time_left.h).
using ProgressFn = std::function<void(int axis, int speed, std::optional<double> seconds_left)>;

class Measurer {
public:
    Measurer(CameraLink &link, const volatile int *stop_flag, ProgressFn progress)
        : link_(link), stop_(stop_flag), progress_(std::move(progress)) {}

    // Where the axis stands now, in degrees or steps (signed as the driver counts).
    std::optional<double> position(int axis, std::string *error);

    // Measures each speed in both directions at two drive times and fits them.
    bool measure(int axis, AxisGeometry &geometry, const std::vector<int> &speeds, const MeasureOptions &options,
                 Curves *curves, std::map<CurveKey, std::vector<Sample>> *samples, std::string *error);

    // Drives the axis back to `target` (closed loop on the position
    // inquiries), at a speed whose curve is known; the axis is at rest
    // when it returns.
    bool go_to(int axis, const AxisGeometry &geometry, double target, const Curves &curves, std::string *error);

    // Drives one speed for each of `times`, the direction turning each
    // time (the first away from the side the axis stands on), so the axis
    // stays where it is.
    bool staircase(int axis, const AxisGeometry &geometry, int speed, const std::vector<double> &times,
                   std::map<CurveKey, std::vector<Sample>> *samples, std::string *error);

    // Where the axis rests, in degrees or steps (the driver's sign).
    std::optional<double> settled(int axis, const AxisGeometry &g, std::string *error) {
        return settled_position(axis, g, error);
    }

    // Sends the drives of one relative move as the driver would (each drive
    // frame, its sleep, the stop frame) and says how far the axis went once
    // at rest; nullopt when the camera stops answering or the run is stopped.
    std::optional<double> land(int axis, const AxisGeometry &g, const std::vector<Drive> &drives, std::string *error);

    // Lands one relative move on each of several axes (one drive each, as
    // the driver sends it) at the same time: pan and tilt share their drive
    // frames, and each axis keeps the driver's speed and its drive time from
    // its own drive frame to its own stop frame. Frames of different axes
    // are planned `gap` seconds apart (a drive then waits for its axis's
    // position reply, a video frame or two), so none waits for the line
    // behind another and a camera holding two commands drops none; drives
    // start whole time steps (`step`) apart. Says how far each axis went once all are at
    // rest; nullopt as land() does.
    std::optional<std::vector<Landing>> land_together(const AxisGeometry (&g)[4], const std::vector<Drive> &drives,
                                                      double gap, double step, std::string *error);

    // Stops every axis (after Ctrl-C, or an error): one stop frame at a
    // time, `pace` seconds apart, so a camera that holds two commands drops
    // none; then position inquiries confirm that nothing moves, and the
    // stops go out once more while something does.
    void stop_all(double pace);

    double seconds_per_drive() const { return drives_ > 0 ? spent_ / drives_ : 0.8; }
    // The run plans this many more drives (or fewer: time_left.h), each a
    // timed drive or a landed move: the progress's estimate counts them.
    void plan_drives(int drives) { time_left_.plan(drives); }

private:
    bool stopped() const { return stop_ != nullptr && *stop_ != 0; }
    std::optional<double> settled_position(int axis, const AxisGeometry &g, std::string *error);
    // Reads the axes until each comes to rest, into rest_ (raw counters).
    bool settle(const std::vector<int> &axes, std::string *error);
    // `took`: the time from the drive frame having left to the stop frame
    // having left, as the clock saw it (a loaded machine sleeps longer).
    std::optional<double> timed_drive(int axis, const AxisGeometry &g, int dir, int speed, double seconds,
                                      std::string *error, double *took = nullptr);

    CameraLink &link_;
    const volatile int *stop_;
    ProgressFn progress_;
    TimeLeft time_left_;
    std::optional<double> rest_[4];  // the last settled reading, until the next command
    int drives_ = 0;
    double spent_ = 0;
};

}  // namespace calibrate

#endif
