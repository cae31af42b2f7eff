#include "port.h"

#include "reply_box.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace host {

namespace {

std::string reply_line(double time, const visca::Assembler::Piece &piece) {
    std::string what = piece.type == visca::Assembler::Piece::Message ? visca::describe(visca::decode(piece.bytes))
                                                                       : "bytes outside a message";
    return visca::format_time(time) + " <- " + visca::hex(piece.bytes) + "  " + what;
}

class CameraPort : public Port {
public:
    CameraPort(const sim::CameraModel &model, double start, TraceSink replies)
        : camera_(model), start_(start), replies_(std::move(replies)) {}

    bool write(const uint8_t *frame, size_t length, std::string *note, std::string *) override {
        const double t = line::monotonic_seconds() - start_;
        for (const auto &piece : assembler_.feed(frame, length)) {
            if (piece.type != visca::Assembler::Piece::Message) {
                append(note, "camera saw bytes outside a frame: " + visca::hex(piece.bytes));
                continue;
            }
            const sim::Received &r = camera_.receive(piece.bytes, t);
            if (!r.note.empty()) append(note, "camera: " + r.note);
        }
        // Replies are discarded, as from a real line; shown when traced.
        for (const sim::Reply &reply : camera_.take_replies(t)) {
            if (replies_) replies_(reply_line(reply.time, {visca::Assembler::Piece::Message, reply.bytes}));
        }
        return true;
    }

    sim::VirtualCamera *camera() override { return &camera_; }
    std::string describe() const override { return "built-in virtual camera"; }

private:
    static void append(std::string *note, const std::string &text) {
        if (note == nullptr) return;
        *note += note->empty() ? text : "; " + text;
    }

    sim::VirtualCamera camera_;
    visca::Assembler assembler_;
    double start_;
    TraceSink replies_;
};

class LinePort : public Port {
public:
    LinePort(int fd, int keep_open, std::string name, double start, TraceSink replies)
        : fd_(fd), keep_open_(keep_open), name_(std::move(name)), start_(start), replies_(std::move(replies)) {
        if (pipe2(wake_, O_CLOEXEC) != 0) {
            wake_[0] = wake_[1] = -1;
        }
        reader_ = std::thread([this] { read_loop(); });
    }

    ~LinePort() override {
        // Closing our pseudo-terminal hangs up its other side, which drops
        // what that side has not read yet: give it up to a second to do so
        // (the bytes reach its input queue a little after our write).
        if (keep_open_ >= 0) usleep(100000);
        for (int i = 0; i < 100 && keep_open_ >= 0; ++i) {
            int unread = 0;
            if (ioctl(keep_open_, FIONREAD, &unread) != 0 || unread == 0) break;
            usleep(10000);
        }
        if (wake_[1] >= 0) {
            const char c = 'q';
            ssize_t ignored = ::write(wake_[1], &c, 1);
            (void)ignored;
        }
        reader_.join();
        for (int fd : {wake_[0], wake_[1], keep_open_, fd_}) {
            if (fd >= 0) close(fd);
        }
    }

    bool write(const uint8_t *frame, size_t length, std::string *, std::string *error) override {
        return line::write_all(fd_, frame, length, error);
    }

    std::string describe() const override { return name_; }

    std::optional<visca::Bytes> inquire(const visca::Bytes &frame, std::string *error) override {
        replies_box_.clear();
        if (!line::write_all(fd_, frame.data(), frame.size(), error)) return std::nullopt;
        const auto answer = replies_box_.wait_answer(1.0);
        if (!answer) {
            *error = "no answer to " + visca::hex(frame) + " on " + name_;
        } else if ((*answer)[1] != 0x50) {
            *error = "the camera answered " + visca::hex(frame) + " with " + visca::hex(*answer);
        } else {
            return visca::Bytes(answer->begin() + 2, answer->end() - 1);
        }
        return std::nullopt;
    }

private:
    void read_loop() {
        visca::Assembler assembler;
        while (true) {
            struct pollfd p[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
            const int n = poll(p, wake_[0] >= 0 ? 2 : 1, -1);
            if (n < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (p[1].revents != 0) return;
            if ((p[0].revents & POLLIN) != 0) {
                uint8_t buf[256];
                const ssize_t got = read(fd_, buf, sizeof buf);
                if (got > 0) {
                    const double t = line::monotonic_seconds() - start_;
                    for (const auto &piece : assembler.feed(buf, static_cast<size_t>(got))) {
                        if (piece.type == visca::Assembler::Piece::Message) replies_box_.push(piece.bytes);
                        if (replies_) replies_(reply_line(t, piece));
                    }
                    continue;
                }
                if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            }
            if ((p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 || (p[0].revents & POLLIN) != 0) {
                // The other end went away (a pseudo-terminal nobody holds);
                // look again a little later rather than spin.
                struct pollfd w = {wake_[0], POLLIN, 0};
                if (poll(&w, wake_[0] >= 0 ? 1 : 0, 100) > 0) return;
            }
        }
    }

    int fd_;
    int keep_open_;
    std::string name_;
    double start_;
    TraceSink replies_;
    int wake_[2] = {-1, -1};
    ReplyBox replies_box_;
    std::thread reader_;
};

}  // namespace

std::unique_ptr<Port> make_camera_port(const sim::CameraModel &model, double start, TraceSink replies) {
    return std::make_unique<CameraPort>(model, start, std::move(replies));
}

std::unique_ptr<Port> make_line_port(int fd, int keep_open, std::string name, double start, TraceSink replies) {
    return std::make_unique<LinePort>(fd, keep_open, std::move(name), start, std::move(replies));
}

}  // namespace host
