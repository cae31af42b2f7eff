// Running the cameras' runs: each camera by a child run of this program,
// the cameras of one line in turn, the lines in parallel; Ctrl-C is passed
// on to the children.
#ifndef DESK_CALIBRATE_SITE_RUNS_H
#define DESK_CALIBRATE_SITE_RUNS_H

#include <string>
#include <vector>

#include "ini_update.h"
#include "site.h"

namespace site {

// What one child run left behind.
struct Outcome {
    bool ok = false;
    std::string why;           // when not ok
    ini::Settings values;      // the chosen keys
    double camera_time = -1;   // seconds, < 0: not reported
    std::string errors;        // predicted error per axis, "pan 1.2 % (worst 7.8 %)"
};

// Where the children's files go, and what every child is given.
struct Run {
    std::string dir;
    std::string config;  // the private copy every child reads
    std::vector<std::string> options;

    std::string file(int camera, const char *ext) const {
        return dir + "/camera" + std::to_string(camera) + ext;
    }
};

// The options every camera's run gets: argv without the site's own.
bool forwarded(int argc, char **argv, std::vector<std::string> *out, std::string *error);

// Calibrates CAMERAS, at most `jobs` lines at a time; the outcome of each in
// order. *signal: the signal that interrupted the runs, 0 when none did.
std::vector<Outcome> run_cameras(const Run &run, const std::vector<Camera> &cameras, int jobs, int *signal);

}  // namespace site

#endif
