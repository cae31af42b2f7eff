// visca_calibrate: measures how a camera really turns, zooms and focuses,
// chooses the driver's calibration values with the driver's own arithmetic
// and, if asked, writes them into a configuration file. Each step is a
// function of its own (session.h says where).
#include <signal.h>
#include <stdio.h>

#include <stdexcept>

#include "session.h"
#include "site.h"
#include "twin_step.h"

namespace {

volatile int interrupted = 0;

// The signal's number: the exit status says which one ended the run.
void on_interrupt(int sig) { interrupted = sig; }

void catch_interrupts() {
    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

int fail(const std::string &what) {
    fprintf(stderr, "visca_calibrate: %s\n", what.c_str());
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    calib::Options o;
    if (!calib::parse_options(argc, argv, &o)) return 2;
    if (o.all) return site::calibrate_all(argc, argv, o.config, o.jobs);
    calib::Session s(o, &interrupted);
    if (!calib::twin_ready(o, &s.error)) return fail(s.error);
    if (!calib::open_camera(s)) return fail(s.error);
    calib::TwinMeasurement twin;
    catch_interrupts();
    if (!calib::identify(s)) return calib::abort_run(s, s.error);
    if (!calib::measure(s)) return calib::abort_run(s, s.error);
    if (!calib::measure_time_step(s)) return calib::abort_run(s, s.error);
    if (!calib::measure_long_drives(s)) return calib::abort_run(s, s.error);
    if (!calib::measure_lens_long_drives(s)) return calib::abort_run(s, s.error);
    if (!calib::measure_twin_step(s, &twin)) return calib::abort_run(s, s.error);
    if (!calib::return_to_start(s)) return calib::abort_run(s, s.error);
    if (!calib::choose(s)) return fail(s.error);
    calib::report(s);
    if (!calib::check(s)) return fail(s.error + "; the configuration file was left as it was");
    if (!calib::write(s)) return fail(s.error);
    if (!calib::write_twin_step(s, twin)) return fail(s.error);
    return 0;
}
