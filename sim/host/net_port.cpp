#include "net_port.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "net_socket.h"
#include "visca.h"
#include "visca_ip.h"

namespace host {

namespace {

// Room to send is normally there at once; this covers a busy machine.
constexpr double write_margin = 0.2;
constexpr double connect_timeout = 3.0;

std::string reply_line(double time, const visca::Assembler::Piece &piece, const std::string &extra) {
    std::string what = piece.type == visca::Assembler::Piece::Message ? visca::describe(visca::decode(piece.bytes))
                                                                       : "bytes outside a message";
    return visca::format_time(time) + " <- " + visca::hex(piece.bytes) + "  " + what + extra;
}

class NetPort : public Port {
public:
    NetPort(line::NetAddress net, int fd, const line::Settings &s, double start, TraceSink replies)
        : net_(std::move(net)), fd_(fd), start_(start), replies_(std::move(replies)) {
        const int parity = s.parity == 'N' ? 0 : 1;
        byte_seconds_ = (1.0 + s.data_bits + s.stop_bits + parity) / static_cast<double>(s.baud);
    }

    bool open(std::string *error) {
        if (pipe2(wake_, O_CLOEXEC) != 0) {
            *error = std::string("cannot make a pipe: ") + strerror(errno);
            return false;
        }
        if (net_.header()) {
            // The camera numbers from the controller's reset on; ours is 0,
            // the messages that follow count up from 1.
            const visca_ip::Bytes reset = visca_ip::encode(visca_ip::ControlCommand, 0, &visca_ip::reset_payload, 1);
            std::string why;
            if (!line::send_bounded(fd_, reset.data(), reset.size(), write_margin, &why)) {
                *error = net_.text() + ": reset not sent: " + why;
                return false;
            }
        }
        reader_ = std::thread([this] { read_loop(); });
        return true;
    }

    ~NetPort() override {
        if (reader_.joinable()) {
            const char c = 'q';
            ssize_t ignored = ::write(wake_[1], &c, 1);
            (void)ignored;
            reader_.join();
        }
        for (int fd : {wake_[0], wake_[1], fd_}) {
            if (fd >= 0) close(fd);
        }
        if (dropped_ > 0) {
            fprintf(stderr, "%s: %u datagrams from the camera dropped (malformed or oversized)\n",
                    net_.text().c_str(), dropped_.load());
        }
    }

    bool write(const uint8_t *frame, size_t length, std::string *, std::string *error) override {
        visca_ip::Bytes out(frame, frame + length);
        if (net_.header()) {
            out = visca_ip::encode(visca_ip::request_type(frame, length), next_sequence_++, frame, length);
        }
        std::string why;
        if (!line::send_bounded(fd_, out.data(), out.size(), static_cast<double>(length) * byte_seconds_ + write_margin,
                                &why)) {
            *error = net_.text() + ": " + why;
            return false;
        }
        return true;
    }

    std::string describe() const override { return net_.text(); }

private:
    void trace(const std::string &text) {
        if (replies_) replies_(text);
    }

    void drop(double t, const std::string &why) {
        ++dropped_;
        trace(visca::format_time(t) + " <- datagram dropped: " + why);
    }

    void messages(double t, const uint8_t *bytes, size_t length, visca::Assembler &assembler, const std::string &extra) {
        for (const auto &piece : assembler.feed(bytes, length)) trace(reply_line(t, piece, extra));
    }

    void datagram(double t, const visca_ip::Bytes &bytes, size_t size) {
        const size_t limit = visca_ip::max_payload + (net_.header() ? visca_ip::header_size : 0);
        if (size > limit) {
            drop(t, "oversized, " + std::to_string(size) + " bytes");
            return;
        }
        visca::Assembler assembler;  // a datagram holds whole messages
        if (!net_.header()) {
            messages(t, bytes.data(), bytes.size(), assembler, "");
        } else {
            visca_ip::Datagram d;
            std::string why;
            if (!visca_ip::decode(bytes.data(), bytes.size(), &d, &why)) {
                drop(t, why);
                return;
            }
            const std::string extra = "  [sequence " + std::to_string(d.sequence) + "]";
            if (d.type == visca_ip::ControlReply) {
                trace(visca::format_time(t) + " <- control reply " + visca::hex(d.payload) +
                      (d.payload == visca_ip::Bytes{visca_ip::reset_done} ? ": reset done" : "") + extra);
                return;
            }
            if (d.type != visca_ip::Reply) {
                drop(t, "a " + visca_ip::type_name(d.type) + " from the camera");
                return;
            }
            messages(t, d.payload.data(), d.payload.size(), assembler, extra);
        }
        for (const auto &piece : assembler.finish()) trace(reply_line(t, piece, ""));
    }

    void read_loop() {
        visca::Assembler stream;
        bool watching = true;  // until a stream ends
        while (true) {
            struct pollfd p[2] = {{wake_[0], POLLIN, 0}, {fd_, POLLIN, 0}};
            const int n = poll(p, watching ? 2 : 1, -1);
            if (n < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (p[0].revents != 0) return;
            if (p[1].revents == 0) continue;
            const double t = line::monotonic_seconds() - start_;
            if (net_.datagrams()) {
                visca_ip::Bytes bytes;
                size_t size = 0;
                std::string error;
                if (line::receive_datagram(fd_, &bytes, &size, &error)) {
                    datagram(t, bytes, size);
                } else if (!error.empty()) {
                    // Nothing listens there (yet): the kernel says so once per datagram.
                    trace(visca::format_time(t) + " <- " + net_.text() + ": " + error);
                }
                continue;
            }
            uint8_t buf[256];
            const ssize_t got = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
            if (got > 0) {
                messages(t, buf, static_cast<size_t>(got), stream, "");
            } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                trace(visca::format_time(t) + " <- " + net_.text() + ": the camera closed the connection");
                watching = false;
            }
        }
    }

    line::NetAddress net_;
    int fd_;
    double start_;
    TraceSink replies_;
    double byte_seconds_ = 0;
    uint32_t next_sequence_ = 1;
    std::atomic<unsigned> dropped_{0};
    int wake_[2] = {-1, -1};
    std::thread reader_;
};

}  // namespace

std::unique_ptr<Port> make_net_port(const line::NetAddress &net, const line::Settings &settings, double start,
                                    TraceSink replies, std::string *error) {
    const int fd = line::connect_socket(net, connect_timeout, error);
    if (fd < 0) return nullptr;
    auto port = std::make_unique<NetPort>(net, fd, settings, start, std::move(replies));
    if (!port->open(error)) return nullptr;
    return port;
}

}  // namespace host
