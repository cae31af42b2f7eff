#include "net_address.h"

#include <string.h>

namespace line {

namespace {

const struct {
    const char *prefix;
    Transport transport;
} transports[] = {{"udp:", Transport::Udp}, {"udp-raw:", Transport::UdpRaw}, {"tcp:", Transport::Tcp}};

const char *prefix_of(Transport t) {
    for (const auto &row : transports) {
        if (row.transport == t) return row.prefix;
    }
    return "";
}

bool valid_port(const std::string &port, Side side) {
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
    const long value = std::stol(port);
    return value <= 65535 && (value > 0 || side == Side::Listening);
}

}  // namespace

std::string NetAddress::text() const {
    const bool bracket = host.find(':') != std::string::npos;
    return prefix_of(transport) + (bracket ? "[" + host + "]" : host) + ":" + port;
}

bool is_net_address(const std::string &text) {
    for (const auto &row : transports) {
        if (text.compare(0, strlen(row.prefix), row.prefix) == 0) return true;
    }
    return false;
}

std::optional<NetAddress> parse_net_address(const std::string &text, Side side, std::string *error) {
    NetAddress net;
    std::string rest;
    bool known = false;
    for (const auto &row : transports) {
        if (text.compare(0, strlen(row.prefix), row.prefix) == 0) {
            net.transport = row.transport;
            rest = text.substr(strlen(row.prefix));
            known = true;
        }
    }
    const std::string form = side == Side::Client ? "HOST:PORT" : "[HOST:]PORT";
    if (!known) {
        *error = "'" + text + "' is not udp:" + form + ", udp-raw:" + form + " or tcp:" + form;
        return std::nullopt;
    }
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            *error = "'" + text + "': a bracketed host is written [ADDRESS]:PORT";
            return std::nullopt;
        }
        net.host = rest.substr(1, close - 1);
        net.port = rest.substr(close + 2);
    } else {
        const size_t colon = rest.rfind(':');
        if (colon != std::string::npos) {
            net.host = rest.substr(0, colon);
            net.port = rest.substr(colon + 1);
            if (net.host.find(':') != std::string::npos) {
                *error = "'" + text + "': write an IPv6 address in brackets, as [::1]:PORT";
                return std::nullopt;
            }
        } else if (side == Side::Client) {
            *error = "'" + text + "': give the camera as " + prefix_of(net.transport) + form;
            return std::nullopt;
        } else {
            net.port = rest;
        }
    }
    if (net.host.empty()) {
        if (side == Side::Client || rest.find(':') != std::string::npos) {
            *error = "'" + text + "': the host is missing (" + prefix_of(net.transport) + form + ")";
            return std::nullopt;
        }
        net.host = "127.0.0.1";  // a listening side stays on this machine unless told otherwise
    }
    if (!valid_port(net.port, side)) {
        *error = "'" + text + "': '" + net.port + "' is not a port number (" +
                 (side == Side::Client ? "1" : "0") + "..65535)";
        return std::nullopt;
    }
    return net;
}

}  // namespace line
