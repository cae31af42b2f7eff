// visca_calibrate: measures how a camera really turns, zooms and focuses,
// chooses the driver's calibration values with the driver's own arithmetic
// and, if asked, writes them into a configuration file. Each step is a
// function of its own (session.h says where).
#include <signal.h>
#include <stdio.h>

#include <stdexcept>

#include "session.h"
#include "site.h"

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

int fail(const std::string &what, int status = 1) {
    fprintf(stderr, "visca_calibrate: %s\n", what.c_str());
    return status;
}

}  // namespace

int main(int argc, char **argv) {
    calibrate::Options o;
    if (!calibrate::parse_options(argc, argv, &o)) return 2;
    if (o.all) return site::calibrate_all(argc, argv, o.config, o.jobs);
    calibrate::Session s(o, &interrupted);
    if (!calibrate::check_inputs(s)) return fail(s.error, 2);
    if (!calibrate::open_camera(s)) return fail(s.error);
    catch_interrupts();
    if (!calibrate::identify(s)) return calibrate::abort_run(s, s.error);
    if (!calibrate::measure(s)) return calibrate::abort_run(s, s.error);
    if (!calibrate::measure_time_step(s)) return calibrate::abort_run(s, s.error);
    if (!calibrate::measure_long_drives(s)) return calibrate::abort_run(s, s.error);
    if (!calibrate::measure_lens_long_drives(s)) return calibrate::abort_run(s, s.error);
    if (!calibrate::return_to_start(s)) return calibrate::abort_run(s, s.error);
    if (!calibrate::choose(s)) return fail(s.error);
    calibrate::report(s);
    if (!calibrate::check(s)) return fail(s.error + "; the configuration file was left as it was");
    if (!calibrate::write(s)) return fail(s.error);
    return 0;
}
