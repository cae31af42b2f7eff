#include "builtin_link.h"

#include <algorithm>

#include "camera.h"
#include "line.h"

namespace calibrate {

namespace {

// As on the driver's line: 9600 baud 8N1.
const double byte_seconds = line::byte_seconds(line::Settings());

class BuiltinLink : public CameraLink {
public:
    explicit BuiltinLink(const camera::Profile &profile) : camera_(model(profile)), name_(profile.name) {}

    // A command arrives the moment it is sent, as the stand-in host's own
    // built-in camera takes it; inquiries and replies take their line time.
    bool command(const visca::Bytes &frame, std::string *) override {
        camera_.receive(frame, clock_);
        camera_.take_replies(clock_);  // replies to commands: nobody waits for them
        return true;
    }

    std::optional<visca::Bytes> inquire(const visca::Bytes &frame, std::string *error) override {
        clock_ += frame.size() * byte_seconds;
        camera_.take_replies(clock_);
        camera_.receive(frame, clock_);
        // The camera takes the inquiry at its next video frame and answers a
        // little later: step its clock until the reply is there (2 s at most).
        for (int i = 0; i < 400; ++i) {
            const double at = camera_.next_reply_time();
            clock_ = at >= 0 ? std::max(clock_, at) : clock_ + 0.005;
            camera_.advance(clock_);
            for (const camera::Reply &r : camera_.take_replies(clock_)) {
                clock_ += r.bytes.size() * byte_seconds;
                if (r.bytes.size() >= 3 && r.bytes[1] == 0x50) {
                    return visca::Bytes(r.bytes.begin() + 2, r.bytes.end() - 1);
                }
            }
        }
        *error = "the built-in camera did not answer " + visca::hex(frame);
        return std::nullopt;
    }

    bool command_done(const visca::Bytes &frame, double seconds, std::string *) override {
        camera_.take_replies(clock_);
        camera_.receive(frame, clock_);
        const double give_up = clock_ + seconds;
        while (clock_ < give_up) {
            const double at = camera_.next_reply_time();
            clock_ = at >= 0 ? std::min(give_up, std::max(clock_, at)) : std::min(give_up, clock_ + 0.005);
            camera_.advance(clock_);
            for (const camera::Reply &r : camera_.take_replies(clock_)) {
                const visca::Bytes &m = r.bytes;
                if (m.size() >= 3 && ((m[1] & 0xF0) == 0x60 || (m.size() == 3 && (m[1] & 0xF0) == 0x50))) return true;
            }
        }
        return false;
    }

    void wait(double seconds) override {
        if (seconds > 0) clock_ += seconds;
    }
    double now() override { return clock_; }
    std::string describe() const override { return "built-in virtual camera (" + name_ + ")"; }

private:
    static camera::CameraModel model(const camera::Profile &profile) {
        camera::CameraModel m;
        m.profile = profile;
        return m;
    }

    camera::VirtualCamera camera_;
    std::string name_;
    double clock_ = 0;
};

}  // namespace

std::unique_ptr<CameraLink> builtin_link(const camera::Profile &profile) {
    return std::make_unique<BuiltinLink>(profile);
}

}  // namespace calibrate
