// visca_calibrate: measures how a camera really turns, zooms and focuses,
// chooses the driver's calibration values with the driver's own arithmetic
// and, if asked, writes them into a configuration file. Each step is a
// function of its own (session.h says where).
#include <signal.h>
#include <stdio.h>

#include <stdexcept>

#include "session.h"
#include "site.h"
#include "stop_signals.h"
#include "twin_step.h"

namespace {

volatile sig_atomic_t interrupted = 0;

// The signal's number: the exit status says which one ended the run.
void on_interrupt(int sig) { interrupted = sig; }

// With --twin: what the twin's drives measured, written after the values.
calibrate::TwinMeasurement twin;

bool measure_twin(calibrate::Session &s) { return calibrate::measure_twin_step(s, &twin); }

int fail(const std::string &what, int status = 1) {
    fprintf(stderr, "visca_calibrate: %s\n", what.c_str());
    return status;
}

// A stop signal may come at any moment: each step that fails, or during
// which one came, ends the run with the safe stop.
int run(calibrate::Session &s) {
    using namespace calibrate;
    if (!twin_ready(s.o, &s.error)) return fail(s.error, 2);  // before the line opens: a usage error
    if (!open_camera(s)) {
        if (s.o.check && !s.stopped()) printf("verdict camera %d: failed (%s)\n", s.o.camera, s.error.c_str());
        return s.stopped() ? abort_run(s, s.error) : fail(s.error);
    }
    if (s.o.check) return check_camera(s);
    for (bool (*step)(Session &) : {identify, measure, measure_time_step, measure_long_drives,
                                    measure_lens_long_drives, measure_twin, return_to_start}) {
        if (!step(s) || s.stopped()) return abort_run(s, s.error);
    }
    // The camera is back at its start. The twin is written now: what the
    // values go through next (choice, check, landing) does not change it,
    // and a refusal there keeps it.
    if (!write_twin_step(s, twin)) return fail(s.error);
    if (!choose(s)) return s.stopped() ? abort_run(s, s.error) : fail(s.error);
    if (s.stopped()) return abort_run(s, s.error);
    report(s);
    if (s.stopped()) return abort_run(s, s.error);
    if (!check(s)) {
        return s.stopped() ? abort_run(s, s.error) : fail(s.error + "; the configuration file was left as it was");
    }
    // The landing check drives the camera again.
    if (!land_check(s) || s.stopped()) return abort_run(s, s.error);
    if (!landed(s)) return fail(s.error + "; the configuration file was left as it was");
    if (!write(s)) return s.stopped() ? abort_run(s, s.error) : fail(s.error);
    if (s.stopped() && s.o.write.empty()) return abort_run(s, s.error);
    if (s.stopped()) {
        // After the rename: the values are in the file, and the status still
        // says that the run was stopped.
        fprintf(stderr, "visca_calibrate: interrupted after %s was written\n", s.o.write.c_str());
        return 128 + interrupted;
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    calibrate::Options o;
    if (!calibrate::parse_options(argc, argv, &o)) return 2;
    if (o.all) return site::calibrate_all(argc, argv, o.config, o.jobs);
    common::catch_stop_signals(on_interrupt);
    calibrate::Session s(o, &interrupted);
    // Files and the section before the line opens: a bad one is a usage error.
    if (!calibrate::check_inputs(s)) return s.stopped() ? 128 + interrupted : fail(s.error, 2);
    return run(s);
}
