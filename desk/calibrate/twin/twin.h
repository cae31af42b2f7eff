// A camera's twin: what a camera profile needs, measured on the camera, and
// the profile written from it. Each axis is driven from rest at every speed
// code, each way, while its position is read as it moves: the readings give
// the rate, where the steady motion began (the start latency) and how far it
// went on after the stop (the coast).
#ifndef SIM_CALIBRATE_TWIN_H
#define SIM_CALIBRATE_TWIN_H

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "camera_link.h"
#include "measure.h"
#include "profile.h"

namespace calibrate {

struct TwinSetup {
    AxisGeometry geometry[4];     // units per degree and counter direction (lens: 1 and +1)
    double time_step = 0;         // seconds; 0: the camera acts on arrival
    int top_code[4] = {0x18, 0x14, 7, 7};  // the highest speed code measured
    double end_search_seconds = 5;  // how long pan and tilt seek an end stop each way
};

// One drive from rest at one speed code.
struct Hold {
    double rate = 0;                   // degrees or steps per second
    double resolution = 0;             // of the rate, relative: two units of the reading over the distance fitted
    std::optional<double> latency;     // seconds from the drive taking effect to steady motion
    std::optional<double> coast;       // seconds of even slowing after the stop
};

struct TwinMeasurement {
    std::vector<uint8_t> version;      // the version reply's data bytes
    std::map<int, Hold> holds[4][2];   // [axis][0: +, 1: -] by speed code; a code that did not move has none
    std::optional<double> min[4], max[4];  // ends found (pan, tilt: degrees; lens: steps)
    std::optional<double> lens_start[2];   // where zoom and focus stood when the run began
    double reply_seconds = 0;          // from an inquiry taking effect to its reply
    double camera_seconds = 0;
    std::vector<double> reply_times;   // when each reply arrived, less its bytes
};

// Drives every axis: end stops, then every speed code each way. Leaves the
// axes wherever they end; false with `error` set.
bool measure_twin(CameraLink &link, const TwinSetup &setup, const volatile int *stop, TwinMeasurement *out,
                  std::string *error);

// A camera acting on a grid of time steps answers on it too: the step
// that the reply times agree on best, searched near `step` (the
// calibration's estimate); nullopt when they do not agree (no grid).
std::optional<double> refine_time_step(const std::vector<double> &times, double step);

// What the measurement says about the camera as a profile. `notes` gets
// what was not measured and what was assumed instead, and what the format
// cannot express. False with `error` when an axis cannot be described.
bool twin_profile(const TwinMeasurement &m, const TwinSetup &setup, camera::Profile *out,
                  std::vector<std::string> *notes, std::string *error);

// The profile as the INI text the profile reader reads, with `comment`
// lines at the top.
std::string profile_text(const camera::Profile &p, const std::vector<std::string> &comment);

}  // namespace calibrate

#endif
