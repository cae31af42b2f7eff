// Timed open-loop relative moves: the cameras report no position, so each axis
// is driven at a known speed for a time worked out from its calibration and
// then stopped, one axis after another.
#include <math.h>
#include <stdint.h>

#include "core/core.h"
#include "motion.h"
#include "visca/visca.h"

namespace {

const char entry[] = "driver_move_rel";

enum axis_outcome { AXIS_DONE, AXIS_REFUSED, AXIS_SUSPENDED };

// Longest drive whose sleep still fits the host's 32-bit microsecond count.
constexpr uint32_t max_drive_ms = 4294967u;

bool takes_part(float x) { return x < 32765.0f && x != 0.0f; }

axis_outcome refuse(int line, const char *reason) {
    log_refusal(line, entry, reason);
    return AXIS_REFUSED;
}

// Sleeps the drive time, then stops the camera and publishes the idle state.
// stop_all_axes only stops what is recorded as moving; a zoom or focus driven
// by a member below 1, or a pan or tilt driven at a speed of 32765 or more
// (a MoveSpeed far out of range), is not, so it gets its own stop frame first.
axis_outcome finish_axis(int slot, int axis, uint32_t ms) {
    ptz_usleep(ms * 1000u);
    const bool cut_short = suspended != 0;
    if (!axis_moving(cam_params[slot].axis_speed[axis])) {
        send_axis_stop(axis);
    }
    stop_all_axes(slot);
    report_status(slot);
    return cut_short ? AXIS_SUSPENDED : AXIS_DONE;
}

axis_outcome move_pan_tilt(int slot, int axis, float degrees) {
    const camera_params &cam = cam_params[slot];
    const bool pan = axis == AXIS_PAN;
    if (cam.move_speed <= 0) {
        return refuse(__LINE__, pan ? "Refused pan, MoveSpeed is 0 or less"
                                    : "Refused tilt, MoveSpeed is 0 or less");
    }
    const int32_t per_degree = pan ? cam.pan_time_per_degree : cam.tilt_time_per_degree;
    const float product = static_cast<float>(per_degree) * degrees;
    const double divisor = (static_cast<double>(cam.move_speed) / 100.0) * 10.0;
    const double exact_ms = fabs(static_cast<double>(product) / divisor);
    if (!(exact_ms < static_cast<double>(max_drive_ms) + 1.0)) {
        return refuse(__LINE__, pan ? "Refused pan, drive time out of range"
                                    : "Refused tilt, drive time out of range");
    }
    uint32_t ms = static_cast<uint32_t>(exact_ms);
    if (ms == 0) {
        return AXIS_DONE;
    }

    // Moves shorter than 150 ms keep their time and drop their speed instead.
    int32_t speed = cam.move_speed;
    if (ms <= 149) {
        const uint64_t p = static_cast<uint64_t>(ms) * static_cast<uint32_t>(speed);
        const uint64_t q = p / 150;
        if (p <= 149) {
            speed = 1;
            ms = 0;
        } else {
            speed = q < 100 ? static_cast<int32_t>(q) : 100;
            if (p > 15149) {
                const uint64_t again = (q * 150) / static_cast<uint64_t>(speed);
                if (again > max_drive_ms) {
                    return refuse(__LINE__, pan ? "Refused pan, drive time out of range"
                                                : "Refused tilt, drive time out of range");
                }
                ms = static_cast<uint32_t>(again);
            }
        }
    }

    cam_params[slot].axis_state[axis] = 3;
    report_status(slot);
    const int32_t comp = pan ? cam.pan_speed_comp : cam.tilt_speed_comp;
    const int32_t v = speed + speed_compensation(slot, speed, comp);
    const float drive = degrees > 0.0f ? static_cast<float>(v) : static_cast<float>(-v);
    if (pan) {
        send_pan_drive(slot, drive);
    } else {
        send_tilt_drive(slot, drive);
    }
    return finish_axis(slot, axis, ms);
}

axis_outcome move_lens(int slot, int axis, float amount) {
    const camera_params &cam = cam_params[slot];
    const bool zoom = axis == AXIS_ZOOM;
    const int32_t speed = zoom ? cam.zoom_speed : cam.focus_speed;
    const int32_t calibration = zoom ? cam.zoom_time : cam.focus_time;
    if (speed <= 0) {
        return refuse(__LINE__, zoom ? "Refused zoom, ZoomSpeed is 0 or less"
                                     : "Refused focus, FocusSpeed is 0 or less");
    }
    // Whole steps, half-way values away from zero.
    const double rounded = amount > 0.0f ? static_cast<double>(amount) + 0.5
                                         : static_cast<double>(amount) - 0.5;
    if (!(rounded > -2147483648.0 && rounded < 2147483648.0)) {
        return refuse(__LINE__, zoom ? "Refused zoom, step count out of range"
                                     : "Refused focus, step count out of range");
    }
    int32_t steps = static_cast<int32_t>(rounded);
    if (steps < 0) {
        steps = -steps;
    }
    // 19998 steps take the calibration time at speed 100; the product can
    // leave 32 bits inside the configured ranges, so it is formed in 64.
    const int64_t divisor = (int64_t{19998} * speed) / 100;
    const int64_t ms = (static_cast<int64_t>(steps) * calibration) / divisor;
    if (ms < 0 || ms > static_cast<int64_t>(max_drive_ms)) {
        return refuse(__LINE__, zoom ? "Refused zoom, drive time out of range"
                                     : "Refused focus, drive time out of range");
    }

    cam_params[slot].axis_state[axis] = 3;
    report_status(slot);
    if (zoom) {
        send_zoom_drive(slot, amount);
    } else {
        send_focus_drive(slot, amount);
    }
    return finish_axis(slot, axis, static_cast<uint32_t>(ms));
}

}  // namespace

int move_relative(int slot, const move_request &request) {
    const float member[5] = {request.pan, request.tilt, request.zoom, request.focus, request.iris};
    bool any = false;
    for (float m : member) {
        any = any || takes_part(m);
    }
    if (any) {
        ptz_action_started(slot + 1);
    }

    bool refused = false;
    for (int axis = AXIS_PAN; axis <= AXIS_FOCUS; ++axis) {
        if (!takes_part(member[axis])) {
            continue;
        }
        const axis_outcome outcome = axis <= AXIS_TILT ? move_pan_tilt(slot, axis, member[axis])
                                                       : move_lens(slot, axis, member[axis]);
        if (outcome == AXIS_SUSPENDED) {
            ptz_action_completed(slot + 1, 2);
            return 0;
        }
        refused = refused || outcome == AXIS_REFUSED;
    }

    int result = 1;
    const float iris = member[AXIS_IRIS];
    if (takes_part(iris)) {
        // 624 iris units make one brightness step.
        int32_t steps = 0;
        bool iris_refused = false;
        if (iris >= 624.0f || iris <= -624.0f) {
            const float k = iris / 624.0f;
            if (k >= -2147483648.0f) {
                steps = static_cast<int32_t>(k);
            } else {
                refuse(__LINE__, "Refused iris, step count out of range");
                iris_refused = true;
            }
        }
        if (iris_refused) {
            refused = true;
        } else {
            cam_params[slot].axis_state[AXIS_IRIS] = 3;
            report_status(slot);
            const int r = step_iris(slot, steps);
            cam_params[slot].axis_state[AXIS_IRIS] = 0;
            report_status(slot);
            result = r != 0 ? 1 : 0;
        }
    }

    ptz_action_completed(slot + 1, 2);
    return refused ? 0 : result;
}
