// The controller's end of a network line, shared by the stand-in host and
// the calibration: it connects, resets the camera's numbering on udp:, sends
// each message (behind the header with the next sequence number on udp:)
// and turns what comes back into VISCA messages, each with the number of the
// request it answers when the line carries one.
#ifndef SIM_LINE_NET_CLIENT_H
#define SIM_LINE_NET_CLIENT_H

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net_address.h"
#include "visca.h"
#include "visca_ip.h"

namespace line {

// One thing a read brought from the camera.
struct NetInput {
    enum Kind {
        Piece,         // a message, or bytes outside one (`piece`)
        ControlReply,  // a control reply on udp: (its payload in `piece.bytes`)
        Dropped,       // a datagram that is no reply: malformed, oversized, of a wrong type (`note`)
        Failed,        // the socket reported an error, e.g. nobody listens there (`note`)
        Closed,        // the camera closed the stream (`note`)
    };
    Kind kind = Piece;
    visca::Assembler::Piece piece{visca::Assembler::Piece::Message, {}};
    std::optional<uint32_t> sequence;  // udp: the number of the request this answers
    std::string note;
};

class NetClient {
public:
    // Connects to the camera at `net` (a stream within `timeout` seconds);
    // on udp: sends the reset, under number 0, so that the messages that
    // follow count up from 1.
    static std::unique_ptr<NetClient> connect(const NetAddress &net, double timeout, std::string *error);
    ~NetClient();
    NetClient(const NetClient &) = delete;
    NetClient &operator=(const NetClient &) = delete;

    // The descriptor to wait on before read().
    int fd() const { return fd_; }
    const NetAddress &address() const { return net_; }

    // Sends one message, waiting at most `timeout` seconds for room. On udp:
    // `sequence` (if given) gets the number it went under. send() and read()
    // may be called from two threads, one each.
    bool send(const uint8_t *message, size_t length, double timeout, std::optional<uint32_t> *sequence,
              std::string *error);
    // Reads what is waiting (call when fd() is readable). Once the stream has
    // closed, only a Closed input comes back.
    std::vector<NetInput> read();

private:
    NetClient(NetAddress net, int fd) : net_(std::move(net)), fd_(fd) {}
    void datagram(const visca_ip::Bytes &bytes, size_t size, std::vector<NetInput> *out);

    NetAddress net_;
    int fd_;
    uint32_t next_sequence_ = 1;
    visca::Assembler stream_;
    bool closed_ = false;
};

}  // namespace line

#endif
