// The driver's exported entry points. The host resolves them by their plain
// names and calls them one at a time; each works on the camera named by
// camindex, which is checked against the record array before anything else.
#include "camera/camera.h"
#include "core/core.h"
#include "motion/motion.h"
#include "ptz_host.h"

#define CURRENT_SLOT() current_slot(__func__, __LINE__)

extern "C" {

void driver_get_info(const char **name, const char **version, const uint32_t **caps,
                     const param_descriptor **pan, const param_descriptor **tilt,
                     const param_descriptor **zoom, const param_descriptor **focus,
                     const param_descriptor **iris, const param_descriptor **brightness,
                     const param_descriptor **flips, const param_descriptor **params, int *count,
                     const port_settings **port, const text_item **item, uint32_t **host_word) {
    descriptor_get_info(name, version, caps, pan, tilt, zoom, focus, iris, brightness, flips, params,
                        count, port, item, host_word);
}

int driver_setup(void) { return core_setup(); }

void driver_poll(void) {}

void driver_teardown(void) { core_teardown(); }

int driver_param_changed(void) { return core_param_changed(); }

int driver_move_cont(const move_request *request) {
    const int slot = CURRENT_SLOT();
    if (slot < 0) {
        return 0;
    }
    if (request == nullptr) {
        log_refusal(__LINE__, __func__, "Refused, no move request");
        return 0;
    }
    return move_continuous(slot, *request);
}

int driver_stop(void) {
    const int slot = CURRENT_SLOT();
    return slot < 0 ? 0 : stop_motion(slot);
}

int driver_move_rel(const move_request *request) {
    const int slot = CURRENT_SLOT();
    if (slot < 0) {
        return 0;
    }
    if (request == nullptr) {
        log_refusal(__LINE__, __func__, "Refused, no move request");
        return 0;
    }
    return move_relative(slot, *request);
}

int driver_set_device_preset(int preset) {
    const int slot = CURRENT_SLOT();
    return slot < 0 ? 0 : store_preset(slot, preset);
}

int driver_goto_device_preset(int preset) {
    const int slot = CURRENT_SLOT();
    return slot < 0 ? 0 : recall_preset(slot, preset);
}

void driver_device_preset_range(int *low, int *high) {
    const int slot = CURRENT_SLOT();
    if (slot >= 0) {
        preset_range(slot, low, high);
    }
}

int driver_set_speed(float speed) {
    const int slot = CURRENT_SLOT();
    return slot < 0 ? 0 : set_move_speed(slot, speed);
}

float driver_get_speed(void) {
    const int slot = CURRENT_SLOT();
    return slot < 0 ? 0.0f : get_move_speed(slot);
}

void driver_bar_ranges(float *pan, float *tilt) {
    const int slot = CURRENT_SLOT();
    if (slot >= 0) {
        bar_ranges(slot, pan, tilt);
    }
}

int driver_pan_flipped(void) {
    const int slot = CURRENT_SLOT();
    return slot < 0 ? 0 : pan_flipped(slot);
}

int driver_tilt_flipped(void) {
    const int slot = CURRENT_SLOT();
    return slot < 0 ? 0 : tilt_flipped(slot);
}

int driver_zoom_compensation(void) {
    CURRENT_SLOT();  // logs a call for a camera without a record; the answer is 0 either way
    return 0;
}

void driver_current_field_angle(float *angle) {
    const int slot = CURRENT_SLOT();
    if (slot >= 0) {
        current_field_angle(slot, angle);
    }
}

int driver_autofocus(int on) {
    const int slot = CURRENT_SLOT();
    return slot < 0 ? 0 : set_autofocus(slot, on);
}

int driver_autoiris(int on) {
    const int slot = CURRENT_SLOT();
    return slot < 0 ? 0 : set_autoiris(slot, on);
}

int driver_backlight(int on) {
    const int slot = CURRENT_SLOT();
    return slot < 0 ? 0 : set_backlight(slot, on);
}

int driver_ircutfilter(int mode) {
    const int slot = CURRENT_SLOT();
    return slot < 0 ? 0 : set_ircut_filter(slot, mode);
}

int driver_auxiliary(const char *command) {
    const int slot = CURRENT_SLOT();
    return slot < 0 ? 0 : auxiliary(slot, command);
}

int driver_osdmenu(int code) {
    // The frame would go to a camera the host cannot name.
    const int slot = CURRENT_SLOT();
    return slot < 0 ? 0 : osd_menu(slot, code);
}

}  // extern "C"
