// One calibration run, step by step, and the map of this folder. Each step
// is a function of its own file in steps/; main() calls them in order:
//   check_inputs, open_camera,
//   identify                       steps/identify.cpp (values in use: config_in_use.cpp)
//   measure, measure_time_step,
//   measure_long_drives,
//   measure_lens_long_drives,
//   return_to_start                steps/measure_step.cpp (the estimate: model/time_step.cpp)
//   choose                         steps/choose_step.cpp
//   report                         steps/report_step.cpp
//   check, write                   steps/write_step.cpp (the file update: desk/ini/ini_update.cpp)
//   land_check, landed             steps/landing_step.cpp (the plan and one landing: model/landing.cpp)
//   --check: check_camera          steps/check_step.cpp (the verdict and record: model/drift.cpp)
// A step returns false with `error` set; abort_run() then stops the camera
// safely and says why.
//
// The other folders:
//   model/   the arithmetic of measuring and choosing: timed drives (measure),
//            line fits (fit), the plan of move sizes (plan), the driver run
//            against a recording host (driver_probe), the choice (choose,
//            lens_speed), the time step (time_step), the printed report (report)
//   link/    the lines to a camera: the common side and serial lines
//            (camera_link), the built-in virtual camera (builtin_link), network (net_link)
//   site/    --all: every camera of a host's file (site.h)
//   twin/    --twin: the camera measured as a profile (twin.h; its steps:
//            steps/twin_step.cpp, called from main())
//   page/    --report: the cameras on one page (page.h), each read from the
//            lines its run printed (page_camera.h; a single run keeps its
//            own: kept_output.h; a site's: site/site_page.cpp)
// options.cpp reads the command line.
#ifndef SIM_CALIBRATE_SESSION_H
#define SIM_CALIBRATE_SESSION_H

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "camera_link.h"
#include "choose.h"
#include "driver_probe.h"
#include "drift.h"
#include "ini_update.h"
#include "lens_speed.h"
#include "measure.h"
#include "options.h"
#include "profile.h"
#include "short_moves.h"

namespace calibrate {

struct Session {
    Session(const Options &options, const volatile int *stop_flag) : o(options), stop(stop_flag) {}

    Options o;
    const volatile int *stop;
    std::optional<camera::Profile> profile;  // units, counter direction and ends only
    Config in_use;                        // the file's values over the driver's defaults
    std::optional<long> file_cameras;     // [host] cameras of the file, when it says
    std::unique_ptr<CameraLink> link;
    AxisGeometry geometry[4];
    std::unique_ptr<DriverProbe> probe;
    std::unique_ptr<Measurer> measurer;
    Curves curves;
    std::map<CurveKey, std::vector<Sample>> samples;
    Plan plan;
    std::optional<bool> focus_was_auto;
    double raw_start[4] = {0, 0, 0, 0};
    double began = 0, camera_time = 0;
    std::string restored;            // "back at the start: ..."
    std::optional<double> time_step;  // seconds; the camera acts on this grid (0: no grid seen)
    double time_step_spacing = 0;     // seconds between the staircase's drive times
    LensTable lens_tables[2] = {LensTable{Zoom, {}, -1, -1}, LensTable{Focus, {}, -1, -1}};
    bool move_speed_for_start = false;  // MoveSpeed lowered further for the camera's start latency
    bool move_speed_for_short = false;  // MoveSpeed lowered for moves of 1 to 5 degrees
    std::optional<ShortMoveSpeed> short_speed;  // the search for that, where it ran
    ini::Settings chosen;
    std::vector<std::string> kept;    // keys whose value in use predicts as well
    std::optional<AxisFigures> landing[4];  // the landing check's figures, per axis landed
    std::string landing_misses;       // axes the landing check found off their prediction
    bool landing_lens_kept = false;   // one of them a lens at a speed not chosen by --lens-speed auto
    std::string error;

    bool stopped() const { return stop != nullptr && *stop != 0; }
    // The time step to assume where none was measured (a video frame of 30 Hz).
    double step_or_frame() const { return time_step ? *time_step : 1.001 / 30; }
};

// The profile, the files and the section: false (exit status 2) before
// anything opens.
bool check_inputs(Session &s);
bool open_camera(Session &s);
bool identify(Session &s);
bool measure(Session &s);
bool measure_time_step(Session &s);
bool measure_long_drives(Session &s);
bool measure_lens_long_drives(Session &s);
bool return_to_start(Session &s);
bool choose(Session &s);
void report(Session &s);
bool check(Session &s);
bool write(Session &s);
// Lands the landing plan with the chosen values (false: the camera failed
// or the run was stopped), then says whether it landed as predicted.
bool land_check(Session &s);
bool landed(Session &s);
// --check: lands the landing plan with the values in use and says ok,
// drifted or failed; returns the exit status.
int check_camera(Session &s);

// Stops every axis (paced, confirmed), restores automatic focus; returns
// the exit status 1 after printing why.
int abort_run(Session &s, const std::string &why);

}  // namespace calibrate

#endif
