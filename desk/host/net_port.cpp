#include "net_port.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "net_client.h"
#include "reply_box.h"
#include "visca.h"

namespace host {

namespace {

// Room to send is normally there at once; this covers a busy machine.
constexpr double write_margin = 0.2;
constexpr double connect_timeout = 3.0;
// How long a camera may take to answer an inquiry, as on a serial line.
constexpr double reply_timeout = 1.0;

std::string reply_line(double time, const visca::Assembler::Piece &piece, const std::string &extra) {
    std::string what = piece.type == visca::Assembler::Piece::Message ? visca::describe(visca::decode(piece.bytes))
                                                                       : "bytes outside a message";
    return visca::format_time(time) + " <- " + visca::hex(piece.bytes) + "  " + what + extra;
}

class NetPort : public Port {
public:
    NetPort(std::unique_ptr<line::NetClient> client, const line::Settings &s, double start, TraceSink replies)
        : client_(std::move(client)), start_(start), replies_(std::move(replies)) {
        byte_seconds_ = line::byte_seconds(s);
    }

    bool open(std::string *error) {
        if (pipe2(wake_, O_CLOEXEC) != 0) {
            *error = std::string("cannot make a pipe: ") + strerror(errno);
            return false;
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
        for (int fd : {wake_[0], wake_[1]}) {
            if (fd >= 0) close(fd);
        }
        if (dropped_ > 0) {
            fprintf(stderr, "%s: %u datagrams from the camera dropped (malformed or oversized)\n", describe().c_str(),
                    dropped_.load());
        }
    }

    bool write(const uint8_t *frame, size_t length, std::string *, std::string *error) override {
        return send(frame, length, nullptr, error);
    }

    // The answer is the first inquiry or error reply after the inquiry; on
    // udp: it must also carry the inquiry's number, so that a late answer to
    // an earlier request is not taken for it.
    std::optional<visca::Bytes> inquire(const visca::Bytes &frame, std::string *error) override {
        box_.clear();
        std::optional<uint32_t> sequence;
        if (!send(frame.data(), frame.size(), &sequence, error)) return std::nullopt;
        std::string failure;
        const auto answer = box_.wait_answer(reply_timeout, sequence, &failure);
        if (!answer) {
            *error = "no answer to " + visca::hex(frame) + " on " + describe() +
                     (failure.empty() ? " within " + std::to_string(static_cast<int>(reply_timeout * 1000)) + " ms"
                                      : ": " + failure);
        } else if ((*answer)[1] != 0x50) {
            *error = "the camera answered " + visca::hex(frame) + " with " + visca::hex(*answer);
        } else {
            return visca::Bytes(answer->begin() + 2, answer->end() - 1);
        }
        return std::nullopt;
    }

    std::string describe() const override { return client_->address().text(); }

private:
    bool send(const uint8_t *frame, size_t length, std::optional<uint32_t> *sequence, std::string *error) {
        return client_->send(frame, length, static_cast<double>(length) * byte_seconds_ + write_margin, sequence,
                             error);
    }

    void trace(const std::string &text) {
        if (replies_) replies_(text);
    }

    // Traces what came and hands the messages to a waiting inquiry; false
    // once the stream has ended.
    bool take(double t, const std::vector<line::NetInput> &inputs) {
        for (const line::NetInput &in : inputs) {
            const std::string extra = in.sequence ? "  [sequence " + std::to_string(*in.sequence) + "]" : "";
            switch (in.kind) {
            case line::NetInput::Piece:
                if (in.piece.type == visca::Assembler::Piece::Message) box_.push(in.piece.bytes, in.sequence);
                trace(reply_line(t, in.piece, extra));
                break;
            case line::NetInput::ControlReply:
                trace(visca::format_time(t) + " <- control reply " + visca::hex(in.piece.bytes) +
                      (in.piece.bytes == visca_ip::Bytes{visca_ip::reset_done} ? ": reset done" : "") + extra);
                break;
            case line::NetInput::Dropped:
                ++dropped_;
                trace(visca::format_time(t) + " <- datagram dropped: " + in.note);
                break;
            case line::NetInput::Failed:
            case line::NetInput::Closed:
                box_.fail(in.note);
                trace(visca::format_time(t) + " <- " + describe() + ": " + in.note);
                if (in.kind == line::NetInput::Closed) return false;
                break;
            }
        }
        return true;
    }

    void read_loop() {
        bool watching = true;  // until a stream ends
        while (true) {
            struct pollfd p[2] = {{wake_[0], POLLIN, 0}, {client_->fd(), POLLIN, 0}};
            const int n = poll(p, watching ? 2 : 1, -1);
            if (n < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (p[0].revents != 0) return;
            if (p[1].revents == 0) continue;
            watching = take(line::monotonic_seconds() - start_, client_->read());
        }
    }

    std::unique_ptr<line::NetClient> client_;
    double start_;
    TraceSink replies_;
    double byte_seconds_ = 0;
    std::atomic<unsigned> dropped_{0};
    int wake_[2] = {-1, -1};
    ReplyBox box_;
    std::thread reader_;
};

}  // namespace

std::unique_ptr<Port> make_net_port(const line::NetAddress &net, const line::Settings &settings, double start,
                                    TraceSink replies, std::string *error) {
    auto client = line::NetClient::connect(net, connect_timeout, error);
    if (!client) return nullptr;
    auto port = std::make_unique<NetPort>(std::move(client), settings, start, std::move(replies));
    if (!port->open(error)) return nullptr;
    return port;
}

}  // namespace host
