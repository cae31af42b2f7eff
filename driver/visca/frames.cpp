// Axis drive frames, stop-all and iris stepping.
#include <stdint.h>
#include <syslog.h>

#include "core/core.h"
#include "visca.h"

namespace {

constexpr uint8_t category_camera = 0x04;
constexpr uint8_t category_pan_tilt = 0x06;

constexpr uint8_t cmd_zoom = 0x07;
constexpr uint8_t cmd_focus = 0x08;
constexpr uint8_t cmd_bright = 0x0D;
constexpr uint8_t cmd_focus_mode = 0x38;
constexpr uint8_t cmd_ae_mode = 0x39;

// The one pan-tilt drive command carries both axes: a drive of one axis sends
// the stop code (03) and speed 00 for the other.
int send_pan_tilt_frame(uint8_t pan_speed, uint8_t tilt_speed, uint8_t pan_dir, uint8_t tilt_dir) {
    const unsigned char frame[9] = {0x81, 0x01, category_pan_tilt, 0x01, pan_speed,
                                    tilt_speed, pan_dir, tilt_dir, 0xFF};
    return ptz_write_port(frame, static_cast<int>(sizeof frame));
}

}  // namespace

bool axis_moving(float speed) { return speed < 32765.0f && (speed <= -1.0f || speed >= 1.0f); }

int send_short_frame(uint8_t category, uint8_t command, uint8_t param) {
    const unsigned char frame[6] = {0x81, 0x01, category, command, param, 0xFF};
    return ptz_write_port(frame, static_cast<int>(sizeof frame));
}

int send_pan_drive(int slot, float speed) {
    const uint8_t dir = speed < 0.0f ? 0x01 : 0x02;  // left : right
    const int written = send_pan_tilt_frame(pan_speed_byte(speed), 0x00, dir, 0x03);
    cam_params[slot].axis_speed[AXIS_PAN] = speed;
    return written;
}

int send_tilt_drive(int slot, float speed) {
    const uint8_t dir = speed < 0.0f ? 0x02 : 0x01;  // down : up
    const int written = send_pan_tilt_frame(0x00, tilt_speed_byte(speed), 0x03, dir);
    cam_params[slot].axis_speed[AXIS_TILT] = speed;
    return written;
}

int send_zoom_drive(int slot, float speed) {
    // The zoom runs at the configured speed; the request only gives the sense.
    const uint8_t p = lens_speed_nibble(cam_params[slot].zoom_speed);
    const uint8_t param = speed < 0.0f ? (0x30 | p) : (0x20 | p);  // wide : tele
    const int written = send_short_frame(category_camera, cmd_zoom, param);
    cam_params[slot].axis_speed[AXIS_ZOOM] = speed;
    return written;
}

int send_focus_drive(int slot, float speed) {
    const uint8_t p = lens_speed_nibble(cam_params[slot].focus_speed);
    if (cam_params[slot].autofocus_on != 0) {
        // A focus drive only acts in manual focus.
        cam_params[slot].autofocus_on = 0;
        send_short_frame(category_camera, cmd_focus_mode, 0x03);
    }
    cam_params[slot].axis_speed[AXIS_FOCUS] = speed;
    const uint8_t param = speed < 0.0f ? (0x20 | p) : (0x30 | p);  // far : near
    return send_short_frame(category_camera, cmd_focus, param);
}

int send_axis_stop(int axis) {
    switch (axis) {
    case AXIS_PAN:
    case AXIS_TILT:
        return send_pan_tilt_frame(0x00, 0x00, 0x03, 0x03);
    case AXIS_ZOOM:
        return send_short_frame(category_camera, cmd_zoom, 0x00);
    case AXIS_FOCUS:
        return send_short_frame(category_camera, cmd_focus, 0x00);
    default:
        return 0;  // the iris is stepped, never driven
    }
}

void stop_all_axes(int slot) {
    camera_params &cam = cam_params[slot];
    // One pan/tilt stop serves both axes.
    if (axis_moving(cam.axis_speed[AXIS_PAN]) || axis_moving(cam.axis_speed[AXIS_TILT])) {
        send_axis_stop(AXIS_PAN);
    }
    if (axis_moving(cam.axis_speed[AXIS_ZOOM])) {
        send_axis_stop(AXIS_ZOOM);
    }
    if (axis_moving(cam.axis_speed[AXIS_FOCUS])) {
        send_axis_stop(AXIS_FOCUS);
    }
    for (int axis = AXIS_PAN; axis <= AXIS_FOCUS; ++axis) {
        cam.axis_speed[axis] = 0.0f;
        cam.axis_state[axis] = 0;
    }
}

int step_iris(int slot, int steps) {
    if (cam_params[slot].autoiris_on != 0) {
        cam_params[slot].autoiris_on = 0;
    }
    // Brightness steps act only in the bright exposure mode.
    send_short_frame(category_camera, cmd_ae_mode, 0x0D);
    ptz_usleep(50000);
    if (steps == 0) {
        return 1;
    }
    const uint8_t param = steps > 0 ? 0x02 : 0x03;  // up : down
    // Magnitude taken in unsigned arithmetic so that INT_MIN has one too.
    const uint32_t count = steps > 0 ? static_cast<uint32_t>(steps) : 0u - static_cast<uint32_t>(steps);
    for (uint32_t i = 0; i < count; ++i) {
        send_short_frame(category_camera, cmd_bright, param);
        ptz_usleep(200000);
        if (suspended != 0) {
            syslog(LOG_WARNING, "Suspended!");
            return 0;
        }
    }
    return 1;
}
