// VISCA command layer: the frames that drive and stop each axis, the mapping of
// host speeds to VISCA speed bytes, the speed compensation of relative moves,
// and the per-axis status published to the host.
//
// Every frame goes out whole through one ptz_write_port call from a fixed
// buffer on the sender's stack; nothing is read back or retried. The functions
// take the zero-based slot of the camera they act on; entry points pass the
// slot they validated from camindex.
#ifndef TAVRINODE_VISCA_H
#define TAVRINODE_VISCA_H

#include <stdint.h>

// Speed mappings. Host speeds are on the 1..100 scale; the sign is ignored.
// Pan bytes run 0x01..0x12 and tilt bytes 0x01..0x0E for magnitudes 1..100;
// both are capped at 0x7F. The lens nibble is 0..7.
uint8_t pan_speed_byte(float speed);
uint8_t tilt_speed_byte(float speed);
uint8_t lens_speed_nibble(int32_t configured);

// Correction added to a relative pan or tilt drive speed; the camera's
// move_speed decides whether it applies at all.
int32_t speed_compensation(int slot, int32_t speed, int32_t comp);

// An axis_speed entry counts as moving below 32765 and outside (-1, 1).
bool axis_moving(float speed);

// Writes the six-byte frame 81 01 category command param FF.
int send_short_frame(uint8_t category, uint8_t command, uint8_t param);

// Drive senders: write the drive frame, record `speed` in the axis's
// axis_speed entry and return the write's result.
int send_pan_drive(int slot, float speed);
int send_tilt_drive(int slot, float speed);
int send_zoom_drive(int slot, float speed);
int send_focus_drive(int slot, float speed);

// Writes the stop frame of one axis (pan and tilt share the pan/tilt stop);
// no bookkeeping.
int send_axis_stop(int axis);

// Stop frames for the moving ones of pan/tilt, zoom and focus; clears their
// speeds and states (iris entries untouched).
void stop_all_axes(int slot);

// Exposure mode bright, 50 ms, then one brightness step per 200 ms;
// 1 when all steps were made, 0 when the host suspended the driver.
int step_iris(int slot, int steps);

// Publishes the slot's axis states and focus/iris modes via ptz_set_status.
int report_status(int slot);

// Completes the host's action when every axis_speed entry lies inside (-1, 1).
void complete_if_idle(int slot);

#endif
