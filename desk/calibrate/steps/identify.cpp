// Steps 1 and 2: open the camera's line, read the configuration in use, ask
// the camera who it is, and set up the axes' units and ends.
#include <unistd.h>

#include "builtin_link.h"
#include "config_in_use.h"
#include "ini_update.h"
#include "line.h"
#include "net_address.h"
#include "net_link.h"
#include "session.h"

namespace calibrate {

namespace {

void progress(int axis, int speed, std::optional<double> left) {
    const bool terminal = isatty(STDERR_FILENO) != 0;
    char text[128];
    int n = snprintf(text, sizeof text, "measuring %s %s %d", axis_label(axis), axis <= Tilt ? "byte" : "nibble",
                     speed);
    if (left && n > 0 && static_cast<size_t>(n) < sizeof text) {
        snprintf(text + n, sizeof text - static_cast<size_t>(n), ", about %.0f s of camera time left", *left);
    }
    if (terminal) {
        fprintf(stderr, "\r%-78s", text);
    } else {
        fprintf(stderr, "%s\n", text);
    }
}

}  // namespace

bool check_inputs(Session &s) {
    const Options &o = s.o;
    if (!o.profile.empty()) {
        camera::Profile p;
        if (!camera::load_profile(o.profile, &p, &s.error)) return false;
        if (o.wear && !camera::wear(&p, *o.wear, &s.error)) return false;
        s.profile = p;
    }
    // Before anything moves: a file the result cannot go to fails now, not
    // after the calibration.
    if (!o.write.empty() && !ini::check_write_target(o.write, &s.error)) return false;
    s.in_use = driver_defaults();
    if (!read_config(o.config, o.camera, &s.in_use, &s.file_cameras, &s.error)) return false;
    // The section written must be one of the file's cameras: said before
    // anything moves.
    if (!o.write.empty() && o.write != o.config) {
        Config ignored;
        s.file_cameras.reset();
        if (!read_config(o.write, o.camera, &ignored, &s.file_cameras, &s.error)) return false;
    }
    if (!o.write.empty() && s.file_cameras && o.camera > *s.file_cameras) {
        s.error = "camera " + std::to_string(o.camera) + " is beyond [host] cameras = " +
                  std::to_string(*s.file_cameras) + " of " + o.write + "; the configuration file was left as it was";
        return false;
    }
    return true;
}

bool open_camera(Session &s) {
    const Options &o = s.o;
    if (line::is_net_address(o.port)) {
        const auto net = line::parse_net_address(o.port, line::Side::Client, &s.error);
        if (!net) return false;
        s.link = net_link(*net, &s.error);
        if (!s.link) return false;
    } else if (!o.port.empty()) {
        const int fd = line::open_serial(o.port, line::Settings(), &s.error);
        if (fd < 0) return false;
        s.link = line_link(fd, o.port);
    } else if (s.profile) {
        s.link = builtin_link(*s.profile);
    } else {
        s.error = "no camera: no line and no profile read (check_inputs reads it)";
        return false;
    }
    s.probe = std::make_unique<DriverProbe>(s.in_use);
    s.measurer = std::make_unique<Measurer>(*s.link, s.stop, progress);
    return true;
}

bool identify(Session &s) {
    const auto version = read_version(*s.link, &s.error);
    if (!version) return false;
    printf("camera: %s on %s\n", version->c_str(), s.link->describe().c_str());

    // From a profile only the position units, the counter direction and the
    // ends: how the camera moves in time is measured, never taken from it.
    AxisGeometry *g = s.geometry;
    if (s.profile) {
        const camera::PanTiltAxis *pt[2] = {&s.profile->pan, &s.profile->tilt};
        for (int a = 0; a < 2; ++a) {
            g[a].units_per_unit = pt[a]->units_per_degree;
            g[a].sign = pt[a]->sign;
            if (pt[a]->end_stops) {
                g[a].min = pt[a]->min_degrees;
                g[a].max = pt[a]->max_degrees;
            }
        }
        const camera::LensAxis *lens[2] = {&s.profile->zoom, &s.profile->focus};
        for (int a = 0; a < 2; ++a) {
            g[2 + a].min = lens[a]->min;
            g[2 + a].max = lens[a]->max;
        }
    }
    const Options &o = s.o;
    if (o.pan_units) g[Pan].units_per_unit = *o.pan_units;
    if (o.tilt_units) g[Tilt].units_per_unit = *o.tilt_units;
    // parse_options has made sure the calibrated axes have units.
    if (!s.profile && !o.tilt_units && o.pan_units) g[Tilt].units_per_unit = *o.pan_units;
    return true;
}

}  // namespace calibrate
