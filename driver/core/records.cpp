// The camera record array: creation, configuration loading, release.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <syslog.h>

#include "core.h"
#include "visca/visca.h"

camera_params *cam_params = nullptr;
uint32_t cam_count = 0;

namespace {

struct param_key {
    const char *key;
    size_t offset;
    bool boolean;
};

// Request order of the configuration keys (not the descriptor table's order).
const param_key param_keys[] = {
    {"MoveSpeed", offsetof(camera_params, move_speed), false},
    {"PanMoveTimePerDegree", offsetof(camera_params, pan_time_per_degree), false},
    {"TiltMoveTimePerDegree", offsetof(camera_params, tilt_time_per_degree), false},
    {"ZoomTime", offsetof(camera_params, zoom_time), false},
    {"ZoomSpeed", offsetof(camera_params, zoom_speed), false},
    {"FocusTime", offsetof(camera_params, focus_time), false},
    {"FocusSpeed", offsetof(camera_params, focus_speed), false},
    {"CurrentFieldAngle", offsetof(camera_params, field_angle), false},
    {"PanBarRange", offsetof(camera_params, pan_bar_range), false},
    {"TiltBarRange", offsetof(camera_params, tilt_bar_range), false},
    {"MaxDevicePresetnbr", offsetof(camera_params, max_preset), false},
    {"PanSpeedCompensation", offsetof(camera_params, pan_speed_comp), false},
    {"TiltSpeedCompensation", offsetof(camera_params, tilt_speed_comp), false},
    {"GoToPresetDelay", offsetof(camera_params, goto_preset_delay), false},
    {"Relay1OnTime", offsetof(camera_params, relay1_on_time), false},
    {"Relay2OnTime", offsetof(camera_params, relay2_on_time), false},
    {"FlipPan", offsetof(camera_params, flip_pan), true},
    {"FlipTilt", offsetof(camera_params, flip_tilt), true},
};

// The host may lower `cameras` at any time; it must not raise it, and if it
// does, the array still ends where it was made to end.
bool slot_in_range(uint32_t slot) { return slot < cameras && slot < cam_count; }

bool slot_configured(uint32_t slot) { return camera_map != nullptr && camera_map[slot] != 0; }

}  // namespace

void log_refusal(int line, const char *entry, const char *reason) {
    syslog(LOG_ERR, "Error: %s[%d]%s(): %s!", "tavrinode", line, entry, reason);
}

void set_drivermsg(const char *text) { memcpy(drivermsg, text, strlen(text) + 1); }

int current_slot(const char *entry, int line) {
    if (cam_params == nullptr) {
        log_refusal(line, entry, "Refused, no camera records");
        return -1;
    }
    const int slot = camindex;
    if (slot < 0 || static_cast<uint32_t>(slot) >= cam_count) {
        log_refusal(line, entry, "Refused, camindex outside the camera records");
        return -1;
    }
    return slot;
}

int load_parameters() {
    int result = 1;
    for (uint32_t slot = 0; slot_in_range(slot); ++slot) {
        if (!slot_configured(slot)) {
            continue;
        }
        auto *base = reinterpret_cast<unsigned char *>(&cam_params[slot]);
        const int camera = static_cast<int>(slot) + 1;
        for (const param_key &p : param_keys) {
            int *field = reinterpret_cast<int *>(base + p.offset);
            const int ok = p.boolean ? ptz_get_bool_param(p.key, 0, field, camera)
                                     : ptz_get_int_param(p.key, 1, field, camera);
            if (ok == 0) {
                result = 0;
            }
        }
    }
    return result;
}

int core_setup() {
    // A repeated setup would otherwise leak the old array.
    if (cam_params != nullptr) {
        free(cam_params);
        cam_params = nullptr;
        cam_count = 0;
    }
    const uint32_t n = cameras;
    // On the 32-bit target n records can exceed the address space; refuse
    // instead of allocating a wrapped, too small block.
    // The size is formed in 64 bits, where it cannot wrap, and compared with
    // what size_t holds (a test that is always true on 64-bit hosts).
    void *block = nullptr;
    const uint64_t wanted = static_cast<uint64_t>(n) * sizeof(camera_params);
    if (wanted <= SIZE_MAX) {
        const size_t bytes = static_cast<size_t>(wanted);
        // An empty array is still an array: ask for one byte so that no slots
        // cannot be mistaken for a failed allocation.
        block = malloc(bytes != 0 ? bytes : 1);
    }
    cam_params = static_cast<camera_params *>(block);
    if (cam_params == nullptr) {
        set_drivermsg("Error allocating memory for camera parameters");
        return 0;
    }
    cam_count = n;
    // Value-initialised rather than memset: zero bits are not 0.0 by the
    // language's rules, a zero-initialised record is.
    for (uint32_t slot = 0; slot < n; ++slot) {
        cam_params[slot] = camera_params{};
    }
    if (load_parameters() != 0) {
        return 1;
    }
    set_drivermsg("Error refresh of parameters failed!");
    return 0;
}

int core_param_changed() {
    if (cam_params == nullptr) {
        log_refusal(__LINE__, "driver_param_changed", "Refused, no camera records");
        return 0;
    }
    return load_parameters();
}

void core_teardown() {
    if (cam_params == nullptr) {
        return;
    }
    for (uint32_t slot = 0; slot_in_range(slot); ++slot) {
        if (slot_configured(slot)) {
            stop_all_axes(static_cast<int>(slot));
            report_status(static_cast<int>(slot));
        }
    }
    ptz_request_poll(0);
    free(cam_params);
    cam_params = nullptr;
    cam_count = 0;
}
