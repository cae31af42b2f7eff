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
    virtual bool write(const uint8_t *frame, size_t length, std::string *note, std::string *error) = 0;
    // The built-in camera, when that is where the frames go.
    virtual sim::VirtualCamera *camera() { return nullptr; }
    // Sends an inquiry and waits for its answer (the data between 90 50 and
    // FF); only lines can, and only the verification asks.
    virtual std::optional<visca::Bytes> inquire(const visca::Bytes &frame, std::string *error) {
        (void)frame;
        *error = "this port takes no inquiries";
        return std::nullopt;
    }
    virtual std::string describe() const = 0;
};

// Lines for the trace of bytes that come back (replies); called from any thread.
using TraceSink = std::function<void(const std::string &)>;

// The built-in virtual camera. Times are seconds since `start` on the
// monotonic clock, the same clock the host sleeps on.
std::unique_ptr<Port> make_camera_port(const sim::CameraModel &model, double start, TraceSink replies);

// A serial device or a pseudo-terminal; `fd` is owned from then on, as is
// `keep_open` (the pseudo-terminal's other end, -1 if none).
std::unique_ptr<Port> make_line_port(int fd, int keep_open, std::string name, double start, TraceSink replies);

}  // namespace host

#endif
