// Sockets for the network lines: the controller's connection to a camera,
// and a camera's listening endpoint, which answers whoever last spoke to it.
#ifndef SIM_LINE_NET_SOCKET_H
#define SIM_LINE_NET_SOCKET_H

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "net_address.h"
#include "visca.h"
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

// A camera's end of a network line. On tcp: it serves up to `max_clients`
// connections at once, each cut into messages of its own; replies go to the
// client whose message came last (as on udp:, to whoever spoke last). A
// client that does not take its replies is dropped, and when all places are
// taken a new connection takes the place of the client silent the longest
// other than the one replies go to, so no client can lock out the others or
// push out the controller in use.
class Listener {
public:
    static constexpr size_t max_clients = 8;
    // How long a tcp client may leave a reply untaken before it is dropped.
    static constexpr double reply_timeout = 0.5;

    // What one read brought.
    struct Input {
        visca_ip::Bytes bytes;   // one datagram's messages for the camera
        bool datagram = false;   // `bytes` holds a whole datagram's worth
        std::vector<visca::Assembler::Piece> pieces;  // a stream's, cut into messages (tcp:)
        std::string note;        // what happened on the line besides, if anything
    };

    static std::unique_ptr<Listener> open(const NetAddress &net, std::string *error);
    ~Listener();
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;

    // The descriptor to wait on for the next read.
    int fd() const { return events_ >= 0 ? events_ : socket_; }
    // Call when fd() is readable. False only when the line itself failed.
    bool read(Input *in, std::string *error);
    // Sends a camera's reply to whoever it answers (nothing to send to: false).
    bool send(const uint8_t *bytes, size_t length, std::string *error);

    // The address as bound, with the port actually taken.
    std::string where() const { return net_.text(); }
    bool datagrams() const { return net_.datagrams(); }
    // Datagrams dropped as malformed, oversized or repeated.
    unsigned dropped() const { return dropped_; }
    // tcp: clients connected now.
    size_t clients() const { return clients_.size(); }

private:
    struct Client {
        std::string from;
        double last_heard = 0;
        visca::Assembler assembler;
    };

    Listener(NetAddress net, int socket) : net_(std::move(net)), socket_(socket) {}
    bool read_datagram(Input *in, std::string *error);
    bool read_stream(Input *in, std::string *error);
    bool accept_client(Input *in, std::string *error);
    void close_client(int fd);
    void drop(Input *in, const std::string &from, const std::string &why);

    NetAddress net_;
    int socket_ = -1;
    int events_ = -1;            // tcp: epoll set of the socket and the clients
    std::map<int, Client> clients_;  // by descriptor
    int answer_ = -1;            // tcp: the client replies go to
    std::vector<uint8_t> peer_;  // the sender of the last accepted datagram
    visca_ip::ReplySequencer sequencer_;
    bool have_sequence_ = false;
    uint32_t last_sequence_ = 0;
    unsigned dropped_ = 0;
};

}  // namespace line

#endif
