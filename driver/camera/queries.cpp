// Small queries and the run-time move speed setting.
#include "camera.h"
#include "core/core.h"

int set_move_speed(int slot, float speed) {
    double d = speed;
    d = d >= 0.0 ? d + 0.5 : d - 0.5;  // -0.0 counts as non-negative
    // The magnitude must fit a signed 32-bit speed; a NaN never does.
    if (!(d > -2147483648.0 && d < 2147483648.0)) {
        log_refusal(__LINE__, "driver_set_speed", "Refused, speed is not a number or out of range");
        return 0;
    }
    int32_t value = static_cast<int32_t>(d);
    if (value < 0) {
        value = -value;
    }
    cam_params[slot].move_speed = value;
    return 1;
}

float get_move_speed(int slot) { return static_cast<float>(cam_params[slot].move_speed); }

void bar_ranges(int slot, float *pan, float *tilt) {
    if (pan != nullptr) {
        *pan = static_cast<float>(cam_params[slot].pan_bar_range);
    }
    if (tilt != nullptr) {
        *tilt = static_cast<float>(cam_params[slot].tilt_bar_range);
    }
}

int pan_flipped(int slot) { return cam_params[slot].flip_pan; }

int tilt_flipped(int slot) { return cam_params[slot].flip_tilt; }

void current_field_angle(int slot, float *angle) {
    if (angle != nullptr) {
        // Tenths of a degree to degrees.
        *angle = static_cast<float>(static_cast<double>(cam_params[slot].field_angle) / 10.0);
    }
}
