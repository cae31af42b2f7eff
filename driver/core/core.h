// Driver core: the per-camera record, the record array, configuration loading,
// setup/teardown and the refusal log line. Everything here is hidden from the host.
#ifndef TAVRINODE_CORE_H
#define TAVRINODE_CORE_H

#include <stdint.h>

#include "ptz_host.h"

// One record per host camera slot. Field order and types are fixed: on the
// 32-bit target the record packs to 112 bytes.
struct camera_params {
    int32_t move_speed;            // "MoveSpeed"; also written by driver_set_speed
    int32_t pan_time_per_degree;   // "PanMoveTimePerDegree"
    int32_t tilt_time_per_degree;  // "TiltMoveTimePerDegree"
    int32_t zoom_time;             // "ZoomTime"
    int32_t zoom_speed;            // "ZoomSpeed"
    int32_t focus_time;            // "FocusTime"
    int32_t focus_speed;           // "FocusSpeed"
    int32_t pan_speed_comp;        // "PanSpeedCompensation"
    int32_t tilt_speed_comp;       // "TiltSpeedCompensation"
    int32_t field_angle;           // "CurrentFieldAngle", tenths of a degree
    int32_t pan_bar_range;         // "PanBarRange"
    int32_t tilt_bar_range;        // "TiltBarRange"
    int32_t max_preset;            // "MaxDevicePresetnbr"
    int32_t goto_preset_delay;     // "GoToPresetDelay"
    int32_t autofocus_on;          // runtime: camera last put into automatic focus
    int32_t autoiris_on;           // runtime: camera last put into full-automatic exposure
    int32_t flip_pan;              // "FlipPan"
    int32_t flip_tilt;             // "FlipTilt"
    uint8_t relay_state;           // runtime: bit 0 relay 1, bit 1 relay 2, bit 2 relay 3
    int32_t relay1_on_time;        // "Relay1OnTime", ms
    int32_t relay2_on_time;        // "Relay2OnTime", ms
    float axis_speed[5];           // runtime: pan, tilt, zoom, focus, iris
    uint8_t axis_state[5];         // runtime: 0 idle, 3 driving
};

enum axis_index { AXIS_PAN = 0, AXIS_TILT = 1, AXIS_ZOOM = 2, AXIS_FOCUS = 3, AXIS_IRIS = 4 };

// The driver-wide record array, or null when none exists, and the slot count
// it was made for (the host's `cameras` may change afterwards).
extern camera_params *cam_params;
extern uint32_t cam_count;

// Reads every configuration key of every configured slot; 1 when every
// requested key was read (also when none was requested), otherwise 0.
int load_parameters();

// Fills the host's descriptor outputs; a null output is skipped.
void descriptor_get_info(const char **name, const char **version, const uint32_t **caps,
                         const param_descriptor **pan, const param_descriptor **tilt,
                         const param_descriptor **zoom, const param_descriptor **focus,
                         const param_descriptor **iris, const param_descriptor **brightness,
                         const param_descriptor **flips, const param_descriptor **params, int *count,
                         const port_settings **port, const text_item **item, uint32_t **word);

int core_setup();
void core_teardown();
int core_param_changed();

// The slot of the current camera (camindex) when a record exists for it,
// otherwise -1 after logging the refusal for `entry`.
int current_slot(const char *entry, int line);

// The one log line of a refused request: "Error: tavrinode[line]entry(): reason!".
void log_refusal(int line, const char *entry, const char *reason);

// Copies a NUL-terminated text, terminator included, into the host's drivermsg.
void set_drivermsg(const char *text);

#endif
