// Serial lines for the desk programs: a real serial device configured with
// termios, or a pseudo-terminal that another program opens like one.
#ifndef SIM_LINE_H
#define SIM_LINE_H

#include <stddef.h>
#include <signal.h>
#include <stdint.h>

#include <string>

namespace line {

struct Settings {
    long baud = 9600;
    int data_bits = 8;
    int stop_bits = 1;
    char parity = 'N';  // 'N', 'E' or 'O'
};

// Opens a serial device read-write, raw, without flow control, with the
// given settings, and takes an exclusive lock on it (flock), so that a
// second program opening it is refused at once. The open does not wait for
// carrier detect; the descriptor returned is blocking. Returns the
// descriptor, or -1 with an explanation.
int open_serial(const std::string &device, const Settings &settings, std::string *error);

// A pseudo-terminal: we use `master`; another program opens `path` as its
// serial device. We keep `slave` open ourselves so that the master does not
// report a hang-up between that program's runs.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
};
bool open_pty(const Settings &settings, Pty *pty, std::string *error);

// Writes all bytes (partial writes and interrupted calls are resumed) and
// then waits until they have left when the descriptor is a terminal.
bool write_all(int fd, const uint8_t *bytes, size_t length, std::string *error);

// How a bounded write ended.
enum class WriteResult {
    Done,         // written and drained
    TimedOut,     // the line did not take or send the bytes before the deadline
    Interrupted,  // a signal let through by `wait_mask` arrived while waiting
    Lost,         // the line is gone (hang-up, I/O error, device removed)
    Failed,       // any other error
};

// Writes all bytes and waits until they have left, but never past `deadline`
// (monotonic seconds). `fd` should be non-blocking; the waits happen in
// ppoll with `wait_mask`, so the signals it lets through end them. The
// explanation is set unless the result is Done. `written`, when given, is
// set to how many bytes the line took, also when not all.
WriteResult write_bounded(int fd, const uint8_t *bytes, size_t length, double deadline, const sigset_t *wait_mask,
                          std::string *error, size_t *written = nullptr);

// Time one byte takes on the line with these settings (start, data, parity
// and stop bits), in seconds.
double byte_seconds(const Settings &settings);

// CLOCK_MONOTONIC in seconds.
double monotonic_seconds();

}  // namespace line

#endif
