// The stand-in host's state, shared by its services (glue.cpp) and its
// console (console.cpp). One instance lives for the whole program.
#ifndef SIM_HOST_RUNTIME_H
#define SIM_HOST_RUNTIME_H

#include <signal.h>

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
    sim::CameraModel camera_model;
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
    std::unique_ptr<Port> port;
    double start = 0;
    std::vector<LineEvent> events;
    int last_status[14] = {};
    bool have_status = false;
};

Runtime &runtime();

// Seconds since the host started, on the monotonic clock.
double elapsed();

// One line to standard output (atomic with respect to other threads).
void say(const std::string &line);

// Ctrl-C: the handler only counts; the count is looked at where the host
// waits (its sleeps and the console's prompt), the only places where the
// signal is let through.
extern volatile sig_atomic_t interrupts;
extern sigset_t wait_mask;  // the signal mask while waiting: SIGINT let through

// Sleeps on the monotonic clock; false when Ctrl-C cut it short.
bool interruptible_sleep(double seconds);

// Takes a pending Ctrl-C, if any.
bool take_interrupt();

// One readable line for a published status (fourteen values).
std::string status_text(const int values[14]);

// Copies the configuration into the host globals (cameras, camera_map).
void publish_config();

}  // namespace host

#endif
