#include "net_socket.h"

#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "line.h"

namespace line {

namespace {

// Largest datagram read whole; anything longer is oversized by far.
constexpr size_t receive_limit = 512;

struct AddrInfo {
    struct addrinfo *list = nullptr;
    ~AddrInfo() {
        if (list != nullptr) freeaddrinfo(list);
    }
};

bool resolve(const NetAddress &net, bool passive, AddrInfo *out, std::string *error) {
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = net.datagrams() ? SOCK_DGRAM : SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
    const int rc = getaddrinfo(net.host.c_str(), net.port.c_str(), &hints, &out->list);
    if (rc != 0) {
        *error = net.text() + ": cannot resolve " + net.host + ": " + gai_strerror(rc);
        return false;
    }
    return true;
}

bool wait_for(int fd, short events, double timeout) {
    const double end = monotonic_seconds() + timeout;
    while (true) {
        const double left = end - monotonic_seconds();
        if (left <= 0) return false;
        struct pollfd p = {fd, events, 0};
        const int n = poll(&p, 1, static_cast<int>(left * 1000) + 1);
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return false;
    }
}

// Connects one address, bounded by `timeout` for a stream.
int connect_one(const struct addrinfo *a, double timeout, std::string *why) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
        *why = strerror(errno);
        return -1;
    }
    if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) return fd;
    if (errno == EINPROGRESS) {
        int err = ETIMEDOUT;
        socklen_t len = sizeof err;
        if (wait_for(fd, POLLOUT, timeout) && getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) {
            return fd;
        }
        *why = strerror(err);
    } else {
        *why = strerror(errno);
    }
    close(fd);
    return -1;
}

}  // namespace

std::string address_text(const void *sockaddr, unsigned length) {
    char host[NI_MAXHOST], port[NI_MAXSERV];
    if (getnameinfo(static_cast<const struct sockaddr *>(sockaddr), length, host, sizeof host, port, sizeof port,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "an unknown address";
    }
    const bool bracket = strchr(host, ':') != nullptr;
    return (bracket ? "[" + std::string(host) + "]" : std::string(host)) + ":" + port;
}

int connect_socket(const NetAddress &net, double timeout, std::string *error) {
    AddrInfo addresses;
    if (!resolve(net, false, &addresses, error)) return -1;
    std::string why = "no address";
    for (const struct addrinfo *a = addresses.list; a != nullptr; a = a->ai_next) {
        const int fd = connect_one(a, timeout, &why);
        if (fd >= 0) return fd;
    }
    *error = net.text() + ": cannot connect: " + why;
    return -1;
}

bool send_bounded(int fd, const uint8_t *bytes, size_t length, double timeout, std::string *error) {
    const double end = monotonic_seconds() + timeout;
    size_t done = 0;
    bool refused = false;
    while (done < length) {
        const ssize_t n = send(fd, bytes + done, length - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (errno == EINTR) continue;
        // On a connected datagram socket this reports that an earlier
        // datagram found nobody listening; this one has not gone yet.
        if (errno == ECONNREFUSED && !refused) {
            refused = true;
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            *error = strerror(errno);
            return false;
        }
        if (!wait_for(fd, POLLOUT, end - monotonic_seconds())) {
            *error = "no room to send within " + std::to_string(static_cast<int>(timeout * 1000)) + " ms";
            return false;
        }
    }
    return true;
}

bool receive_datagram(int fd, visca_ip::Bytes *out, size_t *size, std::string *error) {
    uint8_t buf[receive_limit];
    const ssize_t n = recv(fd, buf, sizeof buf, MSG_TRUNC | MSG_DONTWAIT);
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) *error = strerror(errno);
        return false;
    }
    *size = static_cast<size_t>(n);
    out->assign(buf, buf + std::min(sizeof buf, *size));
    return true;
}

std::unique_ptr<Listener> Listener::open(const NetAddress &net, std::string *error) {
    AddrInfo addresses;
    if (!resolve(net, true, &addresses, error)) return nullptr;
    std::string why = "no address";
    for (const struct addrinfo *a = addresses.list; a != nullptr; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            why = strerror(errno);
            continue;
        }
        const int on = 1;
        if (!net.datagrams()) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        struct sockaddr_storage bound;
        socklen_t length = sizeof bound;
        if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 ||
            (!net.datagrams() && listen(fd, static_cast<int>(max_clients)) != 0) ||
            getsockname(fd, reinterpret_cast<struct sockaddr *>(&bound), &length) != 0) {
            why = strerror(errno);
            close(fd);
            continue;
        }
        NetAddress actual = net;
        char port[NI_MAXSERV];
        if (getnameinfo(reinterpret_cast<struct sockaddr *>(&bound), length, nullptr, 0, port, sizeof port,
                        NI_NUMERICSERV) == 0) {
            actual.port = port;
        }
        std::unique_ptr<Listener> listener(new Listener(actual, fd));
        if (!net.datagrams()) {
            listener->events_ = epoll_create1(EPOLL_CLOEXEC);
            struct epoll_event ev = {};
            ev.events = EPOLLIN;
            ev.data.fd = fd;
            if (listener->events_ < 0 || epoll_ctl(listener->events_, EPOLL_CTL_ADD, fd, &ev) != 0) {
                *error = net.text() + ": cannot watch the connections: " + strerror(errno);
                return nullptr;
            }
        }
        return listener;
    }
    *error = net.text() + ": cannot listen: " + why;
    return nullptr;
}

Listener::~Listener() {
    for (const auto &client : clients_) close(client.first);
    if (events_ >= 0) close(events_);
    if (socket_ >= 0) close(socket_);
}

bool Listener::read(Input *in, std::string *error) {
    *in = Input();
    return net_.datagrams() ? read_datagram(in, error) : read_stream(in, error);
}

void Listener::drop(Input *in, const std::string &from, const std::string &why) {
    ++dropped_;
    in->note = "datagram from " + from + " dropped: " + why;
}

bool Listener::read_datagram(Input *in, std::string *error) {
    uint8_t buf[receive_limit];
    struct sockaddr_storage from;
    socklen_t from_length = sizeof from;
    const ssize_t n = recvfrom(socket_, buf, sizeof buf, MSG_TRUNC | MSG_DONTWAIT,
                               reinterpret_cast<struct sockaddr *>(&from), &from_length);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNREFUSED) return true;
        *error = where() + ": " + strerror(errno);
        return false;
    }
    const size_t size = static_cast<size_t>(n);
    const std::string sender = address_text(&from, from_length);
    const size_t limit = visca_ip::max_payload + (net_.header() ? visca_ip::header_size : 0);
    if (size > limit) {
        drop(in, sender, "oversized, " + std::to_string(size) + " bytes (at most " + std::to_string(limit) + ")");
        return true;
    }
    if (size == 0) {
        drop(in, sender, "empty");
        return true;
    }
    const std::vector<uint8_t> address(reinterpret_cast<uint8_t *>(&from),
                                       reinterpret_cast<uint8_t *>(&from) + from_length);
    auto accept_sender = [&] {
        if (address != peer_) in->note = "controller at " + sender;
        peer_ = address;
    };
    if (!net_.header()) {
        accept_sender();
        in->bytes.assign(buf, buf + size);
        in->datagram = true;
        return true;
    }
    visca_ip::Datagram d;
    std::string why;
    if (!visca_ip::decode(buf, size, &d, &why)) {
        drop(in, sender, why);
        return true;
    }
    if (d.type == visca_ip::ControlCommand) {
        if (d.payload != visca_ip::Bytes{visca_ip::reset_payload}) {
            drop(in, sender, "unknown control command");
            return true;
        }
        accept_sender();
        sequencer_.reset();
        have_sequence_ = false;
        const visca_ip::Bytes answer =
            visca_ip::encode(visca_ip::ControlReply, d.sequence, &visca_ip::reset_done, 1);
        sendto(socket_, answer.data(), answer.size(), MSG_DONTWAIT, reinterpret_cast<struct sockaddr *>(&from),
               from_length);
        in->note += (in->note.empty() ? "" : "; ") + std::string("reset: sequence numbers start again");
        return true;
    }
    if (d.type == visca_ip::Reply || d.type == visca_ip::ControlReply) {
        drop(in, sender, "a " + visca_ip::type_name(d.type) + " sent to the camera");
        return true;
    }
    if (have_sequence_ && d.sequence == last_sequence_) {
        drop(in, sender, "repeated sequence number " + std::to_string(d.sequence) + ", already acted on");
        return true;
    }
    accept_sender();
    have_sequence_ = true;
    last_sequence_ = d.sequence;
    sequencer_.request(d.type, d.sequence);
    in->bytes = std::move(d.payload);
    in->datagram = true;
    return true;
}

bool Listener::read_stream(Input *in, std::string *error) {
    // One ready descriptor a call; a level-triggered set hands them out in turn.
    struct epoll_event ev;
    const int n = epoll_wait(events_, &ev, 1, 0);
    if (n < 0 && errno != EINTR) {
        *error = where() + ": " + strerror(errno);
        return false;
    }
    if (n <= 0) return true;
    if (ev.data.fd == socket_) return accept_client(in, error);
    const auto it = clients_.find(ev.data.fd);
    if (it == clients_.end()) return true;
    Client &client = it->second;
    uint8_t buf[4096];
    const ssize_t got = recv(it->first, buf, sizeof buf, MSG_DONTWAIT);
    if (got > 0) {
        client.last_heard = monotonic_seconds();
        in->pieces = client.assembler.feed(buf, static_cast<size_t>(got));
        for (const auto &piece : in->pieces) {
            if (piece.type != visca::Assembler::Piece::Message || answer_ == it->first) continue;
            if (answer_ >= 0) in->note = "replies go to " + client.from + " now";
            answer_ = it->first;
        }
        return true;
    }
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
    in->pieces = client.assembler.finish();
    in->note = got == 0 ? "connection closed by " + client.from
                        : "connection lost (" + client.from + ": " + strerror(errno) + ")";
    close_client(it->first);
    if (clients_.empty()) in->note += "; listening again";
    return true;
}

bool Listener::accept_client(Input *in, std::string *error) {
    struct sockaddr_storage from;
    socklen_t from_length = sizeof from;
    const int fd = accept4(socket_, reinterpret_cast<struct sockaddr *>(&from), &from_length,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) return true;
        *error = where() + ": " + strerror(errno);
        return false;
    }
    const std::string who = address_text(&from, from_length);
    const double now = monotonic_seconds();
    if (clients_.size() >= max_clients) {
        // The client silent the longest goes, never the one replies go to:
        // opening connections must not push out the controller in use.
        auto idle = clients_.end();
        for (auto it = clients_.begin(); it != clients_.end(); ++it) {
            if (it->first == answer_) continue;
            if (idle == clients_.end() || it->second.last_heard < idle->second.last_heard) idle = it;
        }
        if (idle == clients_.end()) {
            in->note = "connection from " + who + " refused: all " + std::to_string(max_clients) + " places taken";
            close(fd);
            return true;
        }
        char silent[32];
        snprintf(silent, sizeof silent, "%.1f", now - idle->second.last_heard);
        in->note = "all " + std::to_string(max_clients) + " places taken: " + idle->second.from + " (silent for " +
                   silent + " s) dropped; ";
        close_client(idle->first);
    }
    struct epoll_event ev = {};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    if (epoll_ctl(events_, EPOLL_CTL_ADD, fd, &ev) != 0) {
        in->note += "connection from " + who + " refused: " + strerror(errno);
        close(fd);
        return true;
    }
    Client &client = clients_[fd];
    client.from = who;
    client.last_heard = now;
    in->note += "connection from " + who;
    return true;
}

void Listener::close_client(int fd) {
    epoll_ctl(events_, EPOLL_CTL_DEL, fd, nullptr);
    close(fd);
    clients_.erase(fd);
    if (answer_ == fd) answer_ = -1;
}

bool Listener::send(const uint8_t *bytes, size_t length, std::string *error) {
    if (!net_.datagrams()) {
        if (answer_ < 0) {
            *error = "no connection to answer";
            return false;
        }
        std::string why;
        if (send_bounded(answer_, bytes, length, reply_timeout, &why)) return true;
        // A client that does not read its replies would hold the camera up
        // at every reply; it goes, the others stay.
        *error = clients_[answer_].from + ": " + why + "; connection dropped";
        close_client(answer_);
        return false;
    }
    if (peer_.empty()) {
        *error = "nobody to answer";
        return false;
    }
    visca_ip::Bytes datagram(bytes, bytes + length);
    if (net_.header()) {
        datagram = visca_ip::encode(visca_ip::Reply, sequencer_.reply(bytes, length), bytes, length);
    }
    struct sockaddr_storage to;
    memcpy(&to, peer_.data(), std::min(peer_.size(), sizeof to));
    if (sendto(socket_, datagram.data(), datagram.size(), MSG_DONTWAIT, reinterpret_cast<struct sockaddr *>(&to),
               static_cast<socklen_t>(peer_.size())) < 0) {
        *error = strerror(errno);
        return false;
    }
    return true;
}

}  // namespace line
