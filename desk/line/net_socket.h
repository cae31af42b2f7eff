// Sockets for the network lines: the controller's connection to a camera,
// and a camera's listening endpoint, which answers whoever last spoke to it.
#ifndef SIM_LINE_NET_SOCKET_H
#define SIM_LINE_NET_SOCKET_H

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "net_address.h"
#include "visca_ip.h"

namespace line {

// A non-blocking socket connected to the camera at `net` (a UDP socket is
// connected too, so the kernel passes on only the camera's datagrams).
// A TCP connection must be made within `timeout` seconds. -1 on failure.
int connect_socket(const NetAddress &net, double timeout, std::string *error);

// Sends all bytes, waiting at most `timeout` seconds for room; a datagram
// socket sends them as one datagram.
bool send_bounded(int fd, const uint8_t *bytes, size_t length, double timeout, std::string *error);

// Reads one datagram into `out`; false when nothing was waiting or the read
// failed (`error` set then). `size` is its full length even when it did not
// fit, so oversized datagrams show as such.
bool receive_datagram(int fd, visca_ip::Bytes *out, size_t *size, std::string *error);

// "127.0.0.1:40123" for a socket address.
std::string address_text(const void *sockaddr, unsigned length);

// A camera's end of a network line.
class Listener {
public:
    // What one read brought.
    struct Input {
        visca_ip::Bytes bytes;   // messages for the camera (one datagram's, or a piece of a stream)
        bool datagram = false;   // the bytes are one whole datagram's worth
        bool ended = false;      // a stream closed: what is left of it will not be completed
        std::string note;        // what happened on the line besides, if anything
    };

    static std::unique_ptr<Listener> open(const NetAddress &net, std::string *error);
    ~Listener();
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;

    // The descriptor to wait on for the next read.
    int fd() const { return connection_ >= 0 ? connection_ : socket_; }
    // Call when fd() is readable. False only when the line itself failed.
    bool read(Input *in, std::string *error);
    // Sends a camera's reply to whoever it answers (nothing to send to: false).
    bool send(const uint8_t *bytes, size_t length, std::string *error);

    // The address as bound, with the port actually taken.
    std::string where() const { return net_.text(); }
    bool datagrams() const { return net_.datagrams(); }
    // Datagrams dropped as malformed, oversized or repeated.
    unsigned dropped() const { return dropped_; }

private:
    Listener(NetAddress net, int socket) : net_(std::move(net)), socket_(socket) {}
    bool read_datagram(Input *in, std::string *error);
    bool read_stream(Input *in, std::string *error);
    void drop(Input *in, const std::string &from, const std::string &why);

    NetAddress net_;
    int socket_ = -1;
    int connection_ = -1;
    std::vector<uint8_t> peer_;  // the sender of the last accepted datagram
    visca_ip::ReplySequencer sequencer_;
    bool have_sequence_ = false;
    uint32_t last_sequence_ = 0;
    unsigned dropped_ = 0;
};

}  // namespace line

#endif
