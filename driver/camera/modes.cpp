// Focus and exposure modes (remembered, since the status carries them),
// backlight compensation and the IR-cut filter (not remembered).
#include <stdint.h>

#include "camera.h"
#include "core/core.h"
#include "visca/visca.h"

namespace {

constexpr uint8_t category_camera = 0x04;

// Switches a remembered automatic mode; repeated requests send nothing.
int switch_mode(int slot, int32_t camera_params::*flag, uint8_t command, uint8_t auto_param,
                uint8_t manual_param, int on) {
    camera_params &cam = cam_params[slot];
    int result = 1;
    if (on == 1 && cam.*flag == 0) {
        ptz_action_started(slot + 1);
        cam.*flag = 1;
        result = send_short_frame(category_camera, command, auto_param);
    } else if (on == 0 && cam.*flag == 1) {
        ptz_action_started(slot + 1);
        cam.*flag = 0;
        result = send_short_frame(category_camera, command, manual_param);
    }
    report_status(slot);
    complete_if_idle(slot);
    return result;
}

}  // namespace

int set_autofocus(int slot, int on) {
    return switch_mode(slot, &camera_params::autofocus_on, 0x38, 0x02, 0x03, on);
}

int set_autoiris(int slot, int on) {
    return switch_mode(slot, &camera_params::autoiris_on, 0x39, 0x00, 0x0D, on);
}

int set_backlight(int slot, int on) {
    ptz_action_started(slot + 1);
    const uint8_t param = on != 0 ? 0x02 : 0x03;
    complete_if_idle(slot);
    return send_short_frame(category_camera, 0x33, param);
}

int set_ircut_filter(int slot, int mode) {
    ptz_action_started(slot + 1);
    int result;
    switch (mode) {
    case 0:  // automatic switching off, filter removed (night)
        send_short_frame(category_camera, 0x51, 0x03);
        result = send_short_frame(category_camera, 0x01, 0x02);
        break;
    case 1:  // automatic switching off, filter in place (day)
        send_short_frame(category_camera, 0x51, 0x03);
        result = send_short_frame(category_camera, 0x01, 0x03);
        break;
    case 2:  // automatic switching on
        result = send_short_frame(category_camera, 0x51, 0x02);
        break;
    default:  // filter removed, automatic switching left alone
        result = send_short_frame(category_camera, 0x01, 0x02);
        break;
    }
    complete_if_idle(slot);
    return result;
}
