// Where the driver's frames go: the built-in virtual camera, or a serial
// line (a real device or a pseudo-terminal) whose incoming bytes are read
// and discarded so the line never backs up.
#ifndef SIM_HOST_PORT_H
#define SIM_HOST_PORT_H

#include <stdint.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "camera.h"
#include "line.h"
#include "visca.h"

namespace host {

class Port {
public:
    virtual ~Port() = default;
    // Writes the whole frame and returns once it has left; the note says what
    // the receiving end made of it, when that is known (built-in camera).
    // On failure `error` says why, or stays empty when the cause was already
    // said (a lost line fails every later frame without a word).
    virtual bool write(const uint8_t *frame, size_t length, std::string *note, std::string *error) = 0;
    // The built-in camera, when that is where the frames go.
    virtual camera::VirtualCamera *camera() { return nullptr; }
    // Sends an inquiry and waits for its answer (the data between 90 50 and
    // FF); only lines can, and only the verification asks.
    virtual std::optional<visca::Bytes> inquire(const visca::Bytes &frame, std::string *error) {
        (void)frame;
        *error = "this port takes no inquiries";
        return std::nullopt;
    }
    virtual std::string describe() const = 0;
    // Whether the line was lost at some point of the session.
    virtual bool was_lost() const { return false; }
};

// Lines for the trace of bytes that come back (replies); called from any thread.
using TraceSink = std::function<void(const std::string &)>;

// The built-in virtual camera. Times are what `clock` says: the clock the
// host sleeps on.
std::unique_ptr<Port> make_camera_port(const camera::CameraModel &model, std::function<double()> clock,
                                       TraceSink replies);

// What every serial line shares: its settings, the clock origin, where
// replies are traced, and how writes are bounded.
struct LineContext {
    line::Settings settings;
    double start = 0;
    TraceSink replies;
    // A frame fails when it has not been written and drained within its wire
    // time plus this margin (seconds).
    double margin = 0.2;
    // The signal mask while waiting: the signals that end a wait.
    const sigset_t *wait_mask = nullptr;
    // Reopen a lost device when it comes back.
    bool reconnect = false;
};

// A serial device or a pseudo-terminal; `fd` is owned from then on, as is
// `keep_open` (the pseudo-terminal's other end, -1 if none). `device` is the
// path to reopen after a loss (empty: never reopened).
std::unique_ptr<Port> make_line_port(int fd, int keep_open, std::string name, std::string device,
                                     const LineContext &context);

// Opens a line from its text as given by --port or a camera's `port` key:
// a serial device (or a pseudo-terminal another program made).
std::unique_ptr<Port> open_line_port(const std::string &device, const LineContext &context,
                                     std::string *error);

}  // namespace host

#endif
