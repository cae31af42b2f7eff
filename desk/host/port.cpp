#include "port.h"

#include "reply_box.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "net_port.h"

namespace host {

namespace {

std::string reply_line(double time, const visca::Assembler::Piece &piece) {
    std::string what = piece.type == visca::Assembler::Piece::Message ? visca::describe(visca::decode(piece.bytes))
                                                                       : "bytes outside a message";
    return visca::format_time(time) + " <- " + visca::hex(piece.bytes) + "  " + what;
}

class CameraPort : public Port {
public:
    CameraPort(const camera::CameraModel &model, std::function<double()> clock, TraceSink replies)
        : camera_(model), clock_(std::move(clock)), replies_(std::move(replies)) {}

    bool write(const uint8_t *frame, size_t length, std::string *note, std::string *) override {
        const double t = clock_();
        for (const auto &piece : assembler_.feed(frame, length)) {
            if (piece.type != visca::Assembler::Piece::Message) {
                append(note, "camera saw bytes outside a frame: " + visca::hex(piece.bytes));
                continue;
            }
            const camera::Received &r = camera_.receive(piece.bytes, t);
            if (!r.note.empty()) append(note, "camera: " + r.note);
        }
        // Replies are discarded, as from a real line; shown when traced.
        for (const camera::Reply &reply : camera_.take_replies(t)) {
            if (replies_) replies_(reply_line(reply.time, {visca::Assembler::Piece::Message, reply.bytes}));
        }
        return true;
    }

    camera::VirtualCamera *camera() override { return &camera_; }
    std::string describe() const override { return "built-in virtual camera"; }

private:
    static void append(std::string *note, const std::string &text) {
        if (note == nullptr) return;
        *note += note->empty() ? text : "; " + text;
    }

    camera::VirtualCamera camera_;
    visca::Assembler assembler_;
    std::function<double()> clock_;
    TraceSink replies_;
};

class LinePort : public Port {
public:
    LinePort(int fd, int keep_open, std::string name, std::string device, const LineContext &context)
        : fd_(fd), keep_open_(keep_open), name_(std::move(name)), device_(std::move(device)), context_(context) {
        if (pipe2(wake_, O_CLOEXEC) != 0) {
            wake_[0] = wake_[1] = -1;
        }
        start_reader();
    }

    ~LinePort() override {
        // Closing our pseudo-terminal hangs up its other side, which drops
        // what that side has not read yet: give it up to a second to do so
        // (the bytes reach its input queue a little after our write), but
        // not when nothing has been read for 100 ms (no one reads it).
        if (keep_open_ >= 0) usleep(100000);
        int before = -1, idle = 0;
        for (int i = 0; i < 100 && keep_open_ >= 0 && idle < 10; ++i) {
            int unread = 0;
            if (ioctl(keep_open_, FIONREAD, &unread) != 0 || unread == 0) break;
            idle = unread == before ? idle + 1 : 0;
            before = unread;
            usleep(10000);
        }
        stop_reader();
        stop_reopener();
        for (int fd : {wake_[0], wake_[1], keep_open_, fd_}) {
            if (fd >= 0) close(fd);
        }
    }

    bool write(const uint8_t *frame, size_t length, std::string *note, std::string *error) override {
        if (lost_) {
            // Only a device the reopener has already opened is taken up
            // here: an open may wait, a write must not.
            const int fd = reopened_.exchange(-1);
            if (fd < 0) return false;
            stop_reopener();
            fd_ = fd;
            lost_ = false;
            start_reader();
            if (note != nullptr) *note = "line back: " + name_ + " reopened";
        }
        // A line that has just let a frame time out gets no margin until it
        // takes one again, so a stalled line costs a wire time per frame.
        const double deadline = line::monotonic_seconds() +
                                static_cast<double>(length) * line::byte_seconds(context_.settings) +
                                (stalled_ ? 0.0 : context_.margin);
        std::string why;
        const line::WriteResult result = line::write_bounded(fd_, frame, length, deadline, context_.wait_mask, &why);
        stalled_ = result == line::WriteResult::TimedOut;
        switch (result) {
        case line::WriteResult::Done: return true;
        case line::WriteResult::Lost:
            // Let go of the device, so that a re-plugged adapter (or a new
            // pseudo-terminal) can take its name again.
            stop_reader();
            close(fd_);
            fd_ = -1;
            lost_ = true;
            ever_lost_ = true;
            lost_reason_ = why;
            if (reconnect_possible()) start_reopener();
            *error = "line lost: " + name_ + ": " + why + "; later frames to it fail" +
                     (reconnect_possible() ? " until it comes back" : "");
            return false;
        default: *error = name_ + ": " + why; return false;
        }
    }

    std::string describe() const override {
        return lost_ ? name_ + " (lost: " + lost_reason_ + ")" : name_;
    }

    bool was_lost() const override { return ever_lost_; }

    std::optional<visca::Bytes> inquire(const visca::Bytes &frame, std::string *error) override {
        replies_box_.clear();
        if (!write(frame.data(), frame.size(), nullptr, error)) return std::nullopt;
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
    bool reconnect_possible() const { return context_.reconnect && !device_.empty(); }

    // With --reconnect a lost device is tried again twice a second, beside
    // the writes, until it opens; the first failure was said, later ones
    // are silent. Frames written meanwhile fail.
    void start_reopener() {
        quit_reopener_ = false;
        reopener_ = std::thread([this] {
            std::unique_lock<std::mutex> lock(reopener_mutex_);
            while (!reopener_wakes_.wait_for(lock, std::chrono::milliseconds(500), [this] { return quit_reopener_; })) {
                std::string why;
                const int fd = line::open_serial(device_, context_.settings, &why);
                if (fd >= 0) {
                    reopened_ = fd;
                    return;
                }
            }
        });
    }

    void stop_reopener() {
        {
            std::lock_guard<std::mutex> lock(reopener_mutex_);
            quit_reopener_ = true;
        }
        reopener_wakes_.notify_all();
        if (reopener_.joinable()) reopener_.join();
        const int fd = reopened_.exchange(-1);
        if (fd >= 0) close(fd);
    }

    void start_reader() {
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
        reader_ = std::thread([this] { read_loop(); });
    }

    void stop_reader() {
        if (wake_[1] >= 0) {
            const char c = 'q';
            ssize_t ignored = ::write(wake_[1], &c, 1);
            (void)ignored;
        }
        if (reader_.joinable()) reader_.join();
        char c;
        while (wake_[0] >= 0 && poll_one(wake_[0], 0) && ::read(wake_[0], &c, 1) == 1) {
        }
    }

    static bool poll_one(int fd, int ms) {
        struct pollfd p = {fd, POLLIN, 0};
        return poll(&p, 1, ms) > 0;
    }

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
                    const double t = line::monotonic_seconds() - context_.start;
                    for (const auto &piece : assembler.feed(buf, static_cast<size_t>(got))) {
                        if (piece.type == visca::Assembler::Piece::Message) replies_box_.push(piece.bytes);
                        if (context_.replies) context_.replies(reply_line(t, piece));
                    }
                    continue;
                }
                if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            }
            if ((p[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 || (p[0].revents & POLLIN) != 0) {
                // The other end went away (a pseudo-terminal nobody holds);
                // look again a little later rather than spin.
                if (wake_[0] >= 0 && poll_one(wake_[0], 100)) return;
            }
        }
    }

    int fd_;
    int keep_open_;
    std::string name_;
    std::string device_;
    LineContext context_;
    bool lost_ = false;
    bool stalled_ = false;
    bool ever_lost_ = false;
    std::string lost_reason_;
    std::thread reopener_;
    std::mutex reopener_mutex_;
    std::condition_variable reopener_wakes_;
    bool quit_reopener_ = false;
    std::atomic<int> reopened_{-1};  // a device the reopener opened, not yet taken up
    int wake_[2] = {-1, -1};
    ReplyBox replies_box_;
    std::thread reader_;
};

}  // namespace

std::unique_ptr<Port> make_camera_port(const camera::CameraModel &model, std::function<double()> clock,
                                       TraceSink replies) {
    return std::make_unique<CameraPort>(model, std::move(clock), std::move(replies));
}

std::unique_ptr<Port> make_line_port(int fd, int keep_open, std::string name, std::string device,
                                     const LineContext &context) {
    return std::make_unique<LinePort>(fd, keep_open, std::move(name), std::move(device), context);
}

std::unique_ptr<Port> open_line_port(const std::string &device, const LineContext &context,
                                     std::string *error) {
    if (line::is_net_address(device)) {
        const auto net = line::parse_net_address(device, line::Side::Client, error);
        if (!net) return nullptr;
        return make_net_port(*net, context.settings, context.start, context.replies, error);
    }
    const int fd = line::open_serial(device, context.settings, error);
    if (fd < 0) return nullptr;
    return make_line_port(fd, -1, device, device, context);
}

}  // namespace host
