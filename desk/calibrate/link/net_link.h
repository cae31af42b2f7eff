// A camera on the network (udp:, udp-raw: or tcp:) for the calibration.
#ifndef SIM_CALIBRATE_NET_LINK_H
#define SIM_CALIBRATE_NET_LINK_H

#include <memory>
#include <string>

#include "camera_link.h"
#include "net_address.h"

namespace calibrate {

// Connects to the camera; nullptr with the reason when that fails.
std::unique_ptr<CameraLink> net_link(const line::NetAddress &net, std::string *error);

}  // namespace calibrate

#endif
