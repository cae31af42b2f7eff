// Continuous (joystick) moves: axes are set running at the requested speeds
// and left running until a stop or a zero member for a moving axis.
#include <math.h>
#include <stdint.h>

#include "core/core.h"
#include "motion.h"
#include "visca/visca.h"

namespace {

enum member_class { ABSENT, ZERO, DRIVING };

member_class classify(float x) {
    if (!(x < 32765.0f)) {  // NaN included
        return ABSENT;
    }
    if (x > -1.0f && x < 1.0f) {  // dead band
        return ZERO;
    }
    return DRIVING;
}

void drive_pan(int slot, float speed) {
    cam_params[slot].axis_state[AXIS_PAN] = 3;
    send_pan_drive(slot, speed);
}

void drive_tilt(int slot, float speed) {
    cam_params[slot].axis_state[AXIS_TILT] = 3;
    send_tilt_drive(slot, speed);
}

void drive_zoom(int slot, float speed) {
    cam_params[slot].axis_state[AXIS_ZOOM] = 3;
    send_zoom_drive(slot, speed);
}

void drive_focus(int slot, float speed) {
    cam_params[slot].axis_state[AXIS_FOCUS] = 3;
    send_focus_drive(slot, speed);
}

void step_iris_continuous(int slot, float iris) {
    // Six iris units make one brightness step.
    const float steps = iris / 6.0f;
    if (!(steps >= -2147483648.0f && steps < 2147483648.0f)) {
        log_refusal(__LINE__, "driver_move_cont", "Refused iris, step count out of range");
        return;
    }
    cam_params[slot].axis_state[AXIS_IRIS] = 3;
    report_status(slot);
    step_iris(slot, static_cast<int>(steps));
    cam_params[slot].axis_state[AXIS_IRIS] = 0;
    report_status(slot);
}

}  // namespace

int move_continuous(int slot, const move_request &request) {
    const float member[5] = {request.pan, request.tilt, request.zoom, request.focus, request.iris};
    member_class cls[5];
    bool any_driving = false;
    for (int axis = 0; axis < 5; ++axis) {
        cls[axis] = classify(member[axis]);
        any_driving = any_driving || cls[axis] == DRIVING;
    }
    if (any_driving) {
        ptz_action_started(slot + 1);
    }

    // A zero member for a moving axis stops everything; the driving members
    // are then driven again below.
    for (int axis = 0; axis < 5; ++axis) {
        if (cls[axis] == ZERO && axis_moving(cam_params[slot].axis_speed[axis])) {
            stop_all_axes(slot);
            break;
        }
    }

    // Pan and tilt share one drive frame: only the larger one is driven.
    const float pan = member[AXIS_PAN];
    const float tilt = member[AXIS_TILT];
    if (cls[AXIS_PAN] == DRIVING && cls[AXIS_TILT] == DRIVING) {
        if (fabsf(pan) >= fabsf(tilt)) {
            drive_pan(slot, pan);
        } else {
            drive_tilt(slot, tilt);
        }
    } else if (cls[AXIS_PAN] == DRIVING) {
        drive_pan(slot, pan);
    } else if (cls[AXIS_TILT] == DRIVING) {
        drive_tilt(slot, tilt);
    }

    // At most one of zoom, focus and iris acts.
    const float zoom = member[AXIS_ZOOM];
    const float focus = member[AXIS_FOCUS];
    const float iris = member[AXIS_IRIS];
    if (cls[AXIS_ZOOM] == DRIVING && cls[AXIS_FOCUS] == DRIVING) {
        if (fabsf(zoom) >= fabsf(focus)) {
            drive_zoom(slot, zoom);
        } else {
            drive_focus(slot, focus);
        }
    } else if (cls[AXIS_ZOOM] == DRIVING) {
        drive_zoom(slot, zoom);
    } else if (cls[AXIS_FOCUS] == DRIVING) {
        drive_focus(slot, focus);
    } else if (cls[AXIS_IRIS] == DRIVING && (iris >= 6.0f || iris <= -6.0f)) {
        step_iris_continuous(slot, iris);
    }

    complete_if_idle(slot);
    if (cls[AXIS_PAN] != ABSENT || cls[AXIS_TILT] != ABSENT || cls[AXIS_ZOOM] != ABSENT ||
        cls[AXIS_FOCUS] != ABSENT) {
        report_status(slot);
    }
    return 1;
}

int stop_motion(int slot) {
    stop_all_axes(slot);
    report_status(slot);
    complete_if_idle(slot);
    return 1;
}
