#include "camera_link.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <poll.h>
#include <string.h>
#include <unistd.h>

#include "line.h"

namespace calibrate {

namespace {

// How long a camera may take to answer an inquiry.
constexpr double reply_timeout = 1.0;

// A serial device or pseudo-terminal.
class LineLink : public MessageLink {
public:
    LineLink(int fd, std::string name) : fd_(fd), name_(std::move(name)) {
        // Writes wait in poll, never in write(): a stalled line cannot hold the program.
        const int flags = fcntl(fd_, F_GETFL);
        if (flags >= 0) fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    }
    ~LineLink() override { close(fd_); }
    std::string describe() const override { return name_; }

protected:
    bool send(const visca::Bytes &frame, std::optional<uint32_t> *, std::string *error) override {
        // A frame takes milliseconds at 9600 baud; half a second means the
        // line has stalled. No signal is held back while waiting: Ctrl-C
        // ends the wait at once.
        sigset_t none;
        sigemptyset(&none);
        std::string why;
        const double deadline = line::monotonic_seconds() + 0.5;
        if (line::write_bounded(fd_, frame.data(), frame.size(), deadline, &none, &why) == line::WriteResult::Done) {
            return true;
        }
        *error = "cannot write " + visca::hex(frame) + " to " + name_ + ": " + why;
        return false;
    }

    bool receive(double seconds, std::deque<Message> *messages, std::string *) override {
        struct pollfd p = {fd_, POLLIN, 0};
        const int n = poll(&p, 1, static_cast<int>(seconds * 1000));
        if (n <= 0 || (p.revents & POLLIN) == 0) return false;
        uint8_t buf[256];
        const ssize_t got = read(fd_, buf, sizeof buf);
        if (got <= 0) return false;
        for (auto &piece : assembler_.feed(buf, static_cast<size_t>(got))) {
            if (piece.type == visca::Assembler::Piece::Message) messages->push_back({piece.bytes, std::nullopt});
        }
        return true;
    }

private:
    int fd_;
    std::string name_;
    visca::Assembler assembler_;
};

}  // namespace

bool MessageLink::command(const visca::Bytes &frame, std::string *error) {
    drain_input();
    return send(frame, nullptr, error);
}

std::optional<visca::Bytes> MessageLink::inquire(const visca::Bytes &frame, std::string *error) {
    drain_input();
    std::optional<uint32_t> sequence;
    if (!send(frame, &sequence, error)) return std::nullopt;
    const double deadline = line::monotonic_seconds() + reply_timeout;
    std::string problem;
    while (true) {
        for (; !messages_.empty(); messages_.pop_front()) {
            const visca::Bytes &m = messages_.front().bytes;
            // On a numbered line, an answer to another request is not ours.
            const std::optional<uint32_t> answers = messages_.front().sequence;
            if (sequence && answers && *answers != *sequence) continue;
            if (m.size() >= 3 && (m[0] & 0xF0) == 0x90 && m[1] == 0x50) {
                visca::Bytes data(m.begin() + 2, m.end() - 1);
                messages_.pop_front();
                return data;
            }
            if (m.size() >= 3 && (m[0] & 0xF0) == 0x90 && (m[1] & 0xF0) == 0x60) {
                *error = "the camera answered " + visca::hex(frame) + " with the error " + visca::hex(m);
                messages_.pop_front();
                return std::nullopt;
            }
        }
        const double left = deadline - line::monotonic_seconds();
        if (left <= 0 || !receive(left, &messages_, &problem)) {
            *error = "no answer to the inquiry " + visca::hex(frame) + " on " + describe() +
                     (problem.empty() ? " (does the camera answer inquiries?)" : ": " + problem);
            return std::nullopt;
        }
    }
}

bool MessageLink::command_done(const visca::Bytes &frame, double seconds, std::string *error) {
    drain_input();
    if (!send(frame, nullptr, error)) return false;
    const double deadline = line::monotonic_seconds() + seconds;
    std::string problem;
    while (true) {
        for (; !messages_.empty(); messages_.pop_front()) {
            const visca::Bytes &m = messages_.front().bytes;
            const bool done = m.size() == 3 && (m[0] & 0xF0) == 0x90 && (m[1] & 0xF0) == 0x50;
            if (done || (m.size() >= 3 && (m[0] & 0xF0) == 0x90 && (m[1] & 0xF0) == 0x60)) {
                messages_.pop_front();
                return true;
            }
        }
        const double left = deadline - line::monotonic_seconds();
        if (left <= 0 || !receive(left, &messages_, &problem)) return false;
    }
}

void MessageLink::wait(double seconds) {
    if (seconds <= 0) return;
    const double end = line::monotonic_seconds() + seconds;
    struct timespec ts;
    for (double left = seconds; left > 0; left = end - line::monotonic_seconds()) {
        ts.tv_sec = static_cast<time_t>(left);
        ts.tv_nsec = static_cast<long>((left - static_cast<double>(ts.tv_sec)) * 1e9);
        // Ctrl-C ends the wait early; the caller looks at its flag.
        if (nanosleep(&ts, nullptr) != 0) break;
    }
}

double MessageLink::now() { return line::monotonic_seconds(); }

void MessageLink::drain_input() {
    messages_.clear();
    std::string ignored;
    while (receive(0, &messages_, &ignored)) {
    }
    messages_.clear();
}

std::unique_ptr<CameraLink> line_link(int fd, std::string name) {
    return std::make_unique<LineLink>(fd, std::move(name));
}

std::optional<PanTiltUnits> read_pan_tilt(CameraLink &link, std::string *error) {
    const auto data = link.inquire({0x81, 0x09, 0x06, 0x12, 0xFF}, error);
    if (!data) return std::nullopt;
    if (data->size() != 8) {
        *error = "unexpected pan-tilt position reply: 90 50 " + visca::hex(*data) + " FF";
        return std::nullopt;
    }
    const std::vector<int> v = visca::position_values(*data, true);
    return PanTiltUnits{v[0], v[1]};
}

std::optional<int> read_lens(CameraLink &link, bool zoom, std::string *error) {
    const auto data = link.inquire({0x81, 0x09, 0x04, static_cast<uint8_t>(zoom ? 0x47 : 0x48), 0xFF}, error);
    if (!data) return std::nullopt;
    if (data->size() != 4) {
        *error = std::string("unexpected ") + (zoom ? "zoom" : "focus") + " position reply: 90 50 " +
                 visca::hex(*data) + " FF";
        return std::nullopt;
    }
    return visca::position_values(*data, false)[0];
}

std::optional<std::string> read_version(CameraLink &link, std::string *error) {
    const auto data = link.inquire({0x81, 0x09, 0x00, 0x02, 0xFF}, error);
    if (!data) return std::nullopt;
    if (data->size() != 7) {
        *error = "unexpected version reply: 90 50 " + visca::hex(*data) + " FF";
        return std::nullopt;
    }
    char text[96];
    snprintf(text, sizeof text, "vendor 0x%02X%02X, model 0x%02X%02X, ROM 0x%02X%02X", (*data)[0], (*data)[1],
             (*data)[2], (*data)[3], (*data)[4], (*data)[5]);
    return std::string(text);
}

std::optional<bool> read_focus_auto(CameraLink &link) {
    std::string ignored;
    const auto data = link.inquire({0x81, 0x09, 0x04, 0x38, 0xFF}, &ignored);
    if (!data || data->size() != 1 || ((*data)[0] != 2 && (*data)[0] != 3)) return std::nullopt;
    return (*data)[0] == 2;
}

visca::Bytes pan_tilt_drive(int axis, int dir, int speed) {
    return axis == 0 ? pan_tilt_drive_both(dir, speed, 0, 0) : pan_tilt_drive_both(0, 0, dir, speed);
}

visca::Bytes pan_tilt_drive_both(int pan_dir, int pan_speed, int tilt_dir, int tilt_speed) {
    // Pan 01 left, 02 right; tilt 01 up, 02 down; 03 holds the axis (speed byte 00).
    const uint8_t pan_code = pan_dir > 0 ? 0x02 : pan_dir < 0 ? 0x01 : 0x03;
    const uint8_t tilt_code = tilt_dir > 0 ? 0x01 : tilt_dir < 0 ? 0x02 : 0x03;
    const uint8_t pan_byte = static_cast<uint8_t>(pan_dir != 0 ? pan_speed : 0);
    const uint8_t tilt_byte = static_cast<uint8_t>(tilt_dir != 0 ? tilt_speed : 0);
    return {0x81, 0x01, 0x06, 0x01, pan_byte, tilt_byte, pan_code, tilt_code, 0xFF};
}

// Speed bytes 01 rather than 00: some cameras reject 00 even in a stop.
visca::Bytes pan_tilt_stop() { return {0x81, 0x01, 0x06, 0x01, 0x01, 0x01, 0x03, 0x03, 0xFF}; }

visca::Bytes lens_drive(bool zoom, int dir, int nibble) {
    // Zoom 2p tele, 3p wide; focus 2p far, 3p near (the driver's + is near).
    const uint8_t base = (dir > 0) == zoom ? 0x20 : 0x30;
    return {0x81, 0x01, 0x04, static_cast<uint8_t>(zoom ? 0x07 : 0x08), static_cast<uint8_t>(base | (nibble & 7)),
            0xFF};
}

visca::Bytes lens_stop(bool zoom) { return {0x81, 0x01, 0x04, static_cast<uint8_t>(zoom ? 0x07 : 0x08), 0x00, 0xFF}; }

visca::Bytes focus_mode(bool automatic) {
    return {0x81, 0x01, 0x04, 0x38, static_cast<uint8_t>(automatic ? 0x02 : 0x03), 0xFF};
}

}  // namespace calibrate
