// Network line addresses: "udp:HOST:PORT" (VISCA messages behind an
// 8-byte header), "udp-raw:HOST:PORT" and "tcp:HOST:PORT" (bare messages).
// A listening side may leave out the host ("udp:PORT"): it then binds to
// the loopback address. IPv6 hosts go in brackets: "udp:[::1]:52381".
#ifndef SIM_LINE_NET_ADDRESS_H
#define SIM_LINE_NET_ADDRESS_H

#include <optional>
#include <string>

namespace line {

enum class Transport { Udp, UdpRaw, Tcp };

struct NetAddress {
    Transport transport = Transport::Udp;
    std::string host;  // as given, without brackets
    std::string port;  // decimal digits; "0" lets a listening side take a free port

    bool datagrams() const { return transport != Transport::Tcp; }
    bool header() const { return transport == Transport::Udp; }
    // "udp:127.0.0.1:52381", "tcp:[::1]:5678"
    std::string text() const;
};

enum class Side { Client, Listening };

// True when the text names a network line rather than a device path.
bool is_net_address(const std::string &text);

// Parses an address; nullopt with an explanation when it is not one.
std::optional<NetAddress> parse_net_address(const std::string &text, Side side, std::string *error);

}  // namespace line

#endif
