// The configuration in use: the [cameraN] values of a file over the
// driver's defaults, and how many cameras its [host] section declares.
#ifndef SIM_CALIBRATE_CONFIG_IN_USE_H
#define SIM_CALIBRATE_CONFIG_IN_USE_H

#include <optional>
#include <string>

#include "driver_probe.h"

namespace calibrate {

// A missing file (or no path) leaves `config` as it is; false with "FILE:LINE: what" otherwise.
bool read_config(const std::string &path, int camera, Config *config, std::optional<long> *host_cameras,
                 std::string *error);

}  // namespace calibrate

#endif
