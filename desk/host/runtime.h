// The stand-in host's state, shared by its services (glue.cpp) and its
// console (console.cpp). One instance lives for the whole program.
#ifndef SIM_HOST_RUNTIME_H
#define SIM_HOST_RUNTIME_H

#include <signal.h>

#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "config.h"
#include "driver_api.h"
#include "port.h"

namespace host {

struct Options {
    std::string config_path;
    std::string port_device;
    bool pty = false;
    bool trace = false;
    std::string script;
    std::vector<std::string> commands;
    std::string timeline;
    std::string verify_plot;  // picture of a verification run
    camera::CameraModel camera_model;
    bool camera_options = false;  // a built-in camera option was given
    bool reconnect = false;
    bool realtime = false;
    bool raw = false;             // pass any value to the driver
    double pty_wait = 30;         // seconds to wait for the other side of --pty; 0: do not wait
    // --sim-clock: the built-in camera and every sleep on a simulated clock
    // starting here (seconds); negative: the monotonic clock.
    double sim_start = -1;
};

// Exit statuses of the program.
enum ExitStatus {
    exit_ok = 0,
    exit_failed = 1,  // setup failed, a command was rejected, a line was lost, an output not written
    exit_usage = 2,   // bad options, configuration or script that cannot be read
    // A signal ended the session: 128 + the signal number (130 for Ctrl-C).
};

// What happened on the line during one console command, for the summary
// printed after a relative move.
struct LineEvent {
    double time = 0;       // seconds since start
    bool is_write = false;
    visca::Bytes frame;    // writes
    unsigned usec = 0;     // sleeps: the time asked for
};

struct Runtime {
    Options options;
    DriverApi api;
    Descriptor descriptor;
    std::vector<ParamInfo> params;
    Config config;
    std::vector<int> map_storage;
    // Per slot, where its frames go (slots may share a line); null for a
    // slot that has none (one the driver does not own, with the built-in
    // camera).
    std::vector<std::shared_ptr<Port>> lines;
    // Per slot, the values the driver read, as it read them (last request).
    std::vector<std::map<std::string, std::string>> read_values;
    bool rejected = false;       // a command line was refused
    bool interrupted = false;    // Ctrl-C cut the running command short, or ended the session
    std::set<int> moving;        // slots a continuous move was sent to, not stopped since
    double start = 0;
    std::vector<LineEvent> events;
    int last_status[14] = {};
    bool have_status = false;
};

Runtime &runtime();

// Where the frames of a slot go, or null.
Port *line_for(const Runtime &r, int slot);

// Real-time scheduling and locked memory where permitted; says the outcome.
void go_realtime();

// Opens every slot's line (r.lines); false with an explanation.
bool open_lines(Runtime &r, std::string *error);

// Seconds since the host started, on the monotonic clock; with --sim-clock
// the simulated clock, which only sleeps move on.
double elapsed();

// One line to standard output (atomic with respect to other threads).
void say(const std::string &line);

// Ctrl-C: the handler only counts; the count is looked at where the host
// waits (its sleeps and the console's prompt), the only places where the
// signal is let through.
extern volatile sig_atomic_t interrupts;
// SIGTERM, SIGHUP or SIGQUIT: they count as an interrupt and also end the session.
extern volatile sig_atomic_t terminate_signal;
extern sigset_t wait_mask;  // the signal mask while waiting: SIGINT let through

// Sleeps on the monotonic clock to a deadline `seconds` from now; false when
// a signal cut it short. `late` gets how far past the deadline it woke.
bool interruptible_sleep(double seconds, double *late = nullptr);

// Takes a pending Ctrl-C, if any.
bool take_interrupt();

// One readable line for a published status (fourteen values).
std::string status_text(const int values[14]);

// Copies the configuration into the host globals (cameras, camera_map).
void publish_config();

}  // namespace host

#endif
