// The calibrator's command line.
#ifndef SIM_CALIBRATE_OPTIONS_H
#define SIM_CALIBRATE_OPTIONS_H

#include <stdio.h>

#include <optional>
#include <string>

namespace calibrate {

// How ZoomSpeed and FocusSpeed are chosen: kept as configured, the fastest
// nibble that lands lens moves well, or a given nibble. Without --lens-speed:
// kept where predicted within the bounds of a sound calibration, else as auto
// (a first run should not be refused for a driver default).
struct LensSpeedChoice {
    enum Kind { Keep, Auto, Nibble, KeepWithinBounds } kind = KeepWithinBounds;
    int nibble = 0;
};

struct Options {
    std::string port;
    std::string profile;
    std::optional<double> pan_units, tilt_units;
    std::string config;
    std::string write;
    std::string twin;  // a camera profile of the camera measured
    int camera = 1;
    bool axes[4] = {true, true, true, true};
    bool quick = false;
    bool landing_check = true;  // --no-check: skip the landing check (tests)
    LensSpeedChoice lens_speed;
    bool all = false;  // every camera of --config with its own port
    int jobs = 16;     // with --all: lines at a time
    std::optional<double> wear;  // the built-in camera PERCENT slower (desk tests of drift)
    bool check = false;          // land the check with the values in use; move and write nothing else
    std::string report;          // with --check or --all: the site's page (HTML) to write
};

void usage(FILE *out);

// Parses argv; false with the reason printed. --help prints and exits 0.
bool parse_options(int argc, char **argv, Options *o);

}  // namespace calibrate

#endif
