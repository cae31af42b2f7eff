// Calibrating a site: every camera of a host configuration file that has its
// own line, lines in parallel, values written back in one update.
//
// Each camera is calibrated by a child run of this same program (--port,
// --camera, a private --write file), so a camera that fails or crashes takes
// nothing else with it, and the site run depends only on the single-camera
// command line, its --write file and the summary lines it prints (camera
// time, predicted error), not on how that run is built inside.
//
// read_site.cpp reads the site from the file, runs.cpp runs and watches the
// cameras' runs, table.cpp draws the closing table (check_table.cpp a
// check's), site_page.cpp the page of --report; site.cpp puts them together
// and writes the values back.
#ifndef SIM_CALIBRATE_SITE_H
#define SIM_CALIBRATE_SITE_H

#include <string>
#include <vector>

namespace site {

// A camera to calibrate: a [cameraN] section with its own `port`.
struct Camera {
    int number = 0;
    std::string port;
};

// The cameras of FILE that have their own `port` (sections with
// `configured = false` belong to another driver and are left out), in
// camera order. False with a reason naming the file and line.
bool read_cameras(const std::string &path, std::vector<Camera> *cameras, std::string *error);

// `visca_calibrate --config FILE --all [options]`: the options of argv that
// are not the site's own are handed to every camera's run; at most `jobs`
// lines at a time; with a REPORT path, the site's page goes there (a stopped
// run writes none). The exit status: 0 when every camera was calibrated and
// written.
int calibrate_all(int argc, char **argv, const std::string &config, int jobs, const std::string &report);

}  // namespace site

#endif
