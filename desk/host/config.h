// The stand-in host's configuration: an INI file with one section per camera.
//
//   [host]
//   cameras = 2            ; number of camera slots (default: the highest [cameraN], or 1)
//
//   [camera1]              ; camera number 1 is slot 0; a section makes the slot
//   MoveSpeed = 80         ; configured for this driver
//   FlipPan = true
//
//   port = /dev/ttyUSB1    ; this camera's own line (the host's key, not the driver's)
//
//   [camera2]
//   configured = false     ; the slot exists but belongs to another driver
//
// Every key of the driver's descriptor tables may be set; a key the file does
// not set takes the descriptor's default. Integers must lie inside the
// descriptor's range; booleans are true/false, yes/no, on/off or 1/0. An
// empty value ("MoveSpeed =") leaves the key unset, so the driver's request
// for it fails as it would on a host whose store lacks the key. Without a
// file there is one slot, configured, with every default.
#ifndef SIM_HOST_CONFIG_H
#define SIM_HOST_CONFIG_H

#include <stdint.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "driver_api.h"

namespace host {

constexpr uint32_t max_cameras = 16;

struct Config {
    std::string path;  // empty: built-in defaults
    uint32_t cameras = 1;
    std::vector<int> configured;  // one entry per slot, 1 = configured
    std::vector<std::string> ports;  // per slot: its own line ("port = DEVICE"), empty: the common one
    // Per slot: key -> value; nullopt = deliberately unset.
    std::vector<std::map<std::string, std::optional<long>>> values;
};

// Whether `path` names something to read as a file (not a directory);
// otherwise `error` says what it is, naming the `what` ("configuration").
bool readable_file(const std::string &path, const char *what, std::string *error);

// Reads `path` (or, when it is empty, builds the default configuration).
// On failure `error` names the file, the line and the key.
bool load_config(const std::string &path, const std::vector<ParamInfo> &params, Config *config,
                 std::string *error);

}  // namespace host

#endif
