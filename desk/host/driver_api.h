// The driver's entry points, found by name in the running program (the
// driver program exports them), and what its descriptor says.
#ifndef SIM_HOST_DRIVER_API_H
#define SIM_HOST_DRIVER_API_H

#include <string>
#include <vector>

#include "ptz_host.h"

namespace host {

struct DriverApi {
    decltype(&driver_get_info) get_info = nullptr;
    decltype(&driver_setup) setup = nullptr;
    decltype(&driver_poll) poll = nullptr;
    decltype(&driver_teardown) teardown = nullptr;
    decltype(&driver_param_changed) param_changed = nullptr;
    decltype(&driver_move_cont) move_cont = nullptr;
    decltype(&driver_stop) stop = nullptr;
    decltype(&driver_move_rel) move_rel = nullptr;
    decltype(&driver_set_device_preset) set_device_preset = nullptr;
    decltype(&driver_goto_device_preset) goto_device_preset = nullptr;
    decltype(&driver_device_preset_range) device_preset_range = nullptr;
    decltype(&driver_set_speed) set_speed = nullptr;
    decltype(&driver_get_speed) get_speed = nullptr;
    decltype(&driver_bar_ranges) bar_ranges = nullptr;
    decltype(&driver_pan_flipped) pan_flipped = nullptr;
    decltype(&driver_tilt_flipped) tilt_flipped = nullptr;
    decltype(&driver_zoom_compensation) zoom_compensation = nullptr;
    decltype(&driver_current_field_angle) current_field_angle = nullptr;
    decltype(&driver_autofocus) autofocus = nullptr;
    decltype(&driver_autoiris) autoiris = nullptr;
    decltype(&driver_backlight) backlight = nullptr;
    decltype(&driver_ircutfilter) ircutfilter = nullptr;
    decltype(&driver_auxiliary) auxiliary = nullptr;
    decltype(&driver_osdmenu) osdmenu = nullptr;
};

// Looks up every entry point by its plain name. On failure `error` names
// each one that is missing.
bool resolve_driver(DriverApi *api, std::string *error);

struct Descriptor {
    const char *name = nullptr;
    const char *version = nullptr;
    const uint32_t *caps = nullptr;
    const param_descriptor *tables[8] = {};
    int count = 0;
    const port_settings *port = nullptr;
    const text_item *item = nullptr;
    uint32_t *host_word = nullptr;
};

extern const char *const table_names[8];

Descriptor read_descriptor(const DriverApi &api);

// One configuration key as the descriptor offers it.
struct ParamInfo {
    std::string key;
    std::string label;
    std::string def;
    std::string range;  // "low..high" or "" for booleans
    bool boolean = false;
    long low = 0, high = 0;
    int table = 0;
};

// Every key of the eight tables, in table order. Entries that cannot be
// understood are reported in `problems` and left out.
std::vector<ParamInfo> param_entries(const Descriptor &d, std::vector<std::string> *problems);

// The multi-line description printed by the console's "info".
std::string describe_descriptor(const Descriptor &d);

}  // namespace host

#endif
