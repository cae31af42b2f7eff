#include "net_link.h"

#include <poll.h>

#include "net_client.h"

namespace calibrate {

namespace {

constexpr double connect_timeout = 3.0;
// A message is sent at once unless the machine is very busy.
constexpr double send_timeout = 0.5;

class NetLink : public MessageLink {
public:
    explicit NetLink(std::unique_ptr<line::NetClient> client) : client_(std::move(client)) {}
    std::string describe() const override { return client_->address().text(); }

protected:
    bool send(const visca::Bytes &frame, std::optional<uint32_t> *sequence, std::string *error) override {
        return client_->send(frame.data(), frame.size(), send_timeout, sequence, error);
    }

    bool receive(double seconds, std::deque<Message> *messages, std::string *problem) override {
        if (closed_) {
            *problem = "the camera closed the connection";
            return false;
        }
        struct pollfd p = {client_->fd(), POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(seconds * 1000)) <= 0) return false;
        for (const line::NetInput &in : client_->read()) {
            if (in.kind == line::NetInput::Piece && in.piece.type == visca::Assembler::Piece::Message) {
                messages->push_back({in.piece.bytes, in.sequence});
            } else if (in.kind == line::NetInput::Failed || in.kind == line::NetInput::Closed) {
                // Said when no answer comes: nobody listens, or the camera hung up.
                *problem = in.note;
                closed_ = closed_ || in.kind == line::NetInput::Closed;
            }
        }
        return !closed_;
    }

private:
    std::unique_ptr<line::NetClient> client_;
    bool closed_ = false;
};

}  // namespace

std::unique_ptr<CameraLink> net_link(const line::NetAddress &net, std::string *error) {
    auto client = line::NetClient::connect(net, connect_timeout, error);
    if (!client) return nullptr;
    return std::make_unique<NetLink>(std::move(client));
}

}  // namespace calibrate
