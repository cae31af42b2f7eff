#include "net_client.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net_socket.h"
#include "visca_ip.h"

namespace line {

namespace {

// The reset goes out at once on a fresh socket; this covers a busy machine.
constexpr double reset_timeout = 0.2;

NetInput noted(NetInput::Kind kind, std::string note) {
    NetInput in;
    in.kind = kind;
    in.note = std::move(note);
    return in;
}

}  // namespace

std::unique_ptr<NetClient> NetClient::connect(const NetAddress &net, double timeout, std::string *error) {
    const int fd = connect_socket(net, timeout, error);
    if (fd < 0) return nullptr;
    std::unique_ptr<NetClient> client(new NetClient(net, fd));
    if (net.header()) {
        const visca_ip::Bytes reset = visca_ip::encode(visca_ip::ControlCommand, 0, &visca_ip::reset_payload, 1);
        std::string why;
        if (!send_bounded(fd, reset.data(), reset.size(), reset_timeout, &why)) {
            *error = net.text() + ": reset not sent: " + why;
            return nullptr;
        }
    }
    return client;
}

NetClient::~NetClient() { close(fd_); }

bool NetClient::send(const uint8_t *message, size_t length, double timeout, std::optional<uint32_t> *sequence,
                     std::string *error) {
    visca_ip::Bytes out(message, message + length);
    if (net_.header()) {
        const uint32_t number = next_sequence_++;
        out = visca_ip::encode(visca_ip::request_type(message, length), number, message, length);
        if (sequence != nullptr) *sequence = number;
    }
    std::string why;
    if (!send_bounded(fd_, out.data(), out.size(), timeout, &why)) {
        *error = net_.text() + ": " + why;
        return false;
    }
    return true;
}

void NetClient::datagram(const visca_ip::Bytes &bytes, size_t size, std::vector<NetInput> *out) {
    const size_t limit = visca_ip::max_payload + (net_.header() ? visca_ip::header_size : 0);
    if (size > limit) {
        out->push_back(noted(NetInput::Dropped, "oversized, " + std::to_string(size) + " bytes"));
        return;
    }
    visca::Assembler assembler;  // a datagram holds whole messages
    std::optional<uint32_t> sequence;
    const visca_ip::Bytes *payload = &bytes;
    visca_ip::Datagram d;
    if (net_.header()) {
        std::string why;
        if (!visca_ip::decode(bytes.data(), bytes.size(), &d, &why)) {
            out->push_back(noted(NetInput::Dropped, why));
            return;
        }
        sequence = d.sequence;
        if (d.type == visca_ip::ControlReply) {
            NetInput in;
            in.kind = NetInput::ControlReply;
            in.piece.bytes = d.payload;
            in.sequence = sequence;
            out->push_back(in);
            return;
        }
        if (d.type != visca_ip::Reply) {
            out->push_back(noted(NetInput::Dropped, "a " + visca_ip::type_name(d.type) + " from the camera"));
            return;
        }
        payload = &d.payload;
    }
    auto pieces = assembler.feed(payload->data(), payload->size());
    for (auto &piece : assembler.finish()) pieces.push_back(std::move(piece));
    for (auto &piece : pieces) {
        NetInput in;
        in.piece = std::move(piece);
        in.sequence = sequence;
        out->push_back(std::move(in));
    }
}

std::vector<NetInput> NetClient::read() {
    std::vector<NetInput> out;
    if (closed_) {
        out.push_back(noted(NetInput::Closed, "the camera closed the connection"));
        return out;
    }
    if (net_.datagrams()) {
        visca_ip::Bytes bytes;
        size_t size = 0;
        std::string error;
        if (receive_datagram(fd_, &bytes, &size, &error)) {
            datagram(bytes, size, &out);
        } else if (!error.empty()) {
            // Nothing listens there (yet): the kernel says so once per datagram.
            out.push_back(noted(NetInput::Failed, error));
        }
        return out;
    }
    uint8_t buf[256];
    const ssize_t got = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (got > 0) {
        for (auto &piece : stream_.feed(buf, static_cast<size_t>(got))) {
            NetInput in;
            in.piece = std::move(piece);
            out.push_back(std::move(in));
        }
    } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        closed_ = true;
        out.push_back(noted(NetInput::Closed, "the camera closed the connection"));
    }
    return out;
}

}  // namespace line
