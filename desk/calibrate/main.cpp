// visca_calibrate: measures how a camera really turns, zooms and focuses,
// chooses the driver's calibration values with the driver's own arithmetic
// and, if asked, writes them into a configuration file. Each step is a
// function of its own (session.h says where).
#include <signal.h>
#include <stdio.h>

#include <stdexcept>

#include "kept_output.h"
#include "output_path.h"
#include "page.h"
#include "session.h"
#include "site.h"
#include "stop_signals.h"
#include "twin_step.h"
#include "write_whole.h"

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

// --check --report: the camera's run, then its page, read from what the run
// printed. A stopped run leaves no page.
int run_with_page(calibrate::Session &s) {
    page::KeptOutput kept;
    if (!kept.start()) return fail("cannot keep the check's lines for " + s.o.report);
    const int status = run(s);
    const std::string printed = kept.stop();
    if (status >= 128) return status;
    page::Page p{"Camera check", s.o.config.empty() ? "the driver's defaults" : s.o.config, calibrate::now_utc(), {}};
    p.cameras.push_back(page::read_printed(
        s.o.camera, s.o.port.empty() ? "built-in camera (" + s.o.profile + ")" : s.o.port, page::split_lines(printed)));
    std::string error;
    if (!files::write_whole(s.o.report, page::page_html(p), &error)) return fail(error);
    printf("page written to %s\n", s.o.report.c_str());
    return status;
}

}  // namespace

int main(int argc, char **argv) {
    calibrate::Options o;
    if (!calibrate::parse_options(argc, argv, &o)) return 2;
    std::string error;
    // The page is written last: a path it cannot go to is said before anything moves.
    if (!o.report.empty() && !files::can_write(o.report, &error)) return fail(error, 2);
    if (o.all) return site::calibrate_all(argc, argv, o.config, o.jobs, o.report);
    common::catch_stop_signals(on_interrupt);
    calibrate::Session s(o, &interrupted);
    // Files and the section before the line opens: a bad one is a usage error.
    if (!calibrate::check_inputs(s)) return s.stopped() ? 128 + interrupted : fail(s.error, 2);
    return o.report.empty() ? run(s) : run_with_page(s);
}
