// Frames to a camera on the network (udp:, udp-raw: or tcp:), beside the
// built-in camera and the serial lines of port.h.
#ifndef SIM_HOST_NET_PORT_H
#define SIM_HOST_NET_PORT_H

#include <memory>
#include <string>

#include "line.h"
#include "net_address.h"
#include "port.h"

namespace host {

// Connects to the camera at `net`. Each write goes out as one message
// (behind the header, with the next sequence number, on udp:) and may wait
// for room no longer than the frame's time on the serial line `settings`
// describes, plus a margin. Replies are read and traced like a serial line's.
std::unique_ptr<Port> make_net_port(const line::NetAddress &net, const line::Settings &settings, double start,
                                    TraceSink replies, std::string *error);

}  // namespace host

#endif
