// The calibration's side of a camera: commands out, inquiries answered. A
// desk line (serial device, pseudo-terminal, ...), a network camera, or a
// built-in virtual camera that runs on simulated time.
#ifndef SIM_CALIBRATE_CAMERA_LINK_H
#define SIM_CALIBRATE_CAMERA_LINK_H

#include <stdint.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "visca.h"

namespace calibrate {

class CameraLink {
public:
    virtual ~CameraLink() = default;
    // Writes a command; it has reached the camera when this returns.
    virtual bool command(const visca::Bytes &frame, std::string *error) = 0;
    // Sends an inquiry and returns the data bytes of its 90 50 .. FF reply
    // (acknowledge and completion replies of earlier commands are skipped).
    virtual std::optional<visca::Bytes> inquire(const visca::Bytes &frame, std::string *error) = 0;
    // Writes a command and waits, at most `seconds`, for the camera to say
    // it is done with it (completion or error reply): a camera holding few
    // commands then has room for the next. True when it said so in time.
    virtual bool command_done(const visca::Bytes &frame, double seconds, std::string *error) = 0;
    // Lets camera time pass.
    virtual void wait(double seconds) = 0;
    // Camera time in seconds.
    virtual double now() = 0;
    virtual std::string describe() const = 0;
};

// A real camera on some line, on the wall clock: what the serial and the
// network links share. Replies are read and matched the same way on both.
class MessageLink : public CameraLink {
public:
    bool command(const visca::Bytes &frame, std::string *error) override;
    std::optional<visca::Bytes> inquire(const visca::Bytes &frame, std::string *error) override;
    bool command_done(const visca::Bytes &frame, double seconds, std::string *error) override;
    void wait(double seconds) override;
    double now() override;

protected:
    struct Message {
        visca::Bytes bytes;
        std::optional<uint32_t> sequence;  // the request it answers, on a line that says so
    };
    // Sends one message; `sequence` gets the number it went under, on a line
    // that numbers them.
    virtual bool send(const visca::Bytes &frame, std::optional<uint32_t> *sequence, std::string *error) = 0;
    // Reads what arrives within `seconds` into `messages`; false when nothing
    // came, with `problem` set when the line itself reported one.
    virtual bool receive(double seconds, std::deque<Message> *messages, std::string *problem) = 0;

private:
    // Replies to commands we did not wait for: keep only what is new.
    void drain_input();

    std::deque<Message> messages_;
};

// A line the caller has opened; the link owns `fd` from then on.
std::unique_ptr<CameraLink> line_link(int fd, std::string name);

// Inquiries and what their replies mean.
struct PanTiltUnits {
    int pan = 0, tilt = 0;  // signed 16-bit position counters
};
std::optional<PanTiltUnits> read_pan_tilt(CameraLink &link, std::string *error);
std::optional<int> read_lens(CameraLink &link, bool zoom, std::string *error);
// "vendor 0x0070, model 0x0203, ROM 0x0105"
std::optional<std::string> read_version(CameraLink &link, std::string *error);
// true auto, false manual; nullopt when the camera does not say.
std::optional<bool> read_focus_auto(CameraLink &link);

// Command frames the calibration sends.
visca::Bytes pan_tilt_drive(int axis, int dir, int speed);  // axis 0 pan, 1 tilt
// Both at once (direction 0: that axis holds still).
visca::Bytes pan_tilt_drive_both(int pan_dir, int pan_speed, int tilt_dir, int tilt_speed);
visca::Bytes pan_tilt_stop();
visca::Bytes lens_drive(bool zoom, int dir, int nibble);
visca::Bytes lens_stop(bool zoom);
visca::Bytes focus_mode(bool automatic);

}  // namespace calibrate

#endif
