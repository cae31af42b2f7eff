// Per-axis status for the host and the completion of idle actions.
#include "core/core.h"
#include "visca.h"

namespace {

// Only 1 and 3 are active states; any other byte is reported as idle.
int state_of(uint8_t s) { return (s == 1 || s == 3) ? s : 0; }
int active_of(uint8_t s) { return (s == 1 || s == 3) ? 1 : 0; }

}  // namespace

int report_status(int slot) {
    const camera_params &cam = cam_params[slot];
    const uint8_t *st = cam.axis_state;
    // The host takes iris before focus.
    return ptz_set_status(state_of(st[AXIS_PAN]), state_of(st[AXIS_TILT]), state_of(st[AXIS_ZOOM]),
                          state_of(st[AXIS_IRIS]), state_of(st[AXIS_FOCUS]), 0,
                          active_of(st[AXIS_PAN]), active_of(st[AXIS_TILT]),
                          active_of(st[AXIS_ZOOM]), active_of(st[AXIS_IRIS]),
                          active_of(st[AXIS_FOCUS]), 2, cam.autoiris_on != 0 ? 1 : 2,
                          cam.autofocus_on != 0 ? 1 : 2);
}

void complete_if_idle(int slot) {
    const camera_params &cam = cam_params[slot];
    for (float v : cam.axis_speed) {
        // Unlike the moving test there is no 32765 limit: any speed outside
        // the dead band keeps the action open.
        if (!(v > -1.0f && v < 1.0f)) {
            return;
        }
    }
    ptz_action_completed(slot + 1, 2);
}
