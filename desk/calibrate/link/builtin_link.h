// A virtual camera inside the calibration, on simulated time: the same
// frames and inquiries as over a line, with no wall-clock waiting.
#ifndef SIM_CALIBRATE_BUILTIN_LINK_H
#define SIM_CALIBRATE_BUILTIN_LINK_H

#include <memory>

#include "camera_link.h"
#include "profile.h"

namespace calibrate {

std::unique_ptr<CameraLink> builtin_link(const camera::Profile &profile);

}  // namespace calibrate

#endif
