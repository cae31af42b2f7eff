// Camera functions: presets, small queries and settings, focus/iris/backlight/
// IR-cut modes, auxiliary relays and the on-screen menu. Each takes the
// validated slot of the current camera.
#ifndef TAVRINODE_CAMERA_H
#define TAVRINODE_CAMERA_H

// Presets. Numbers outside 1..255 are refused with 0 before any host call.
int store_preset(int slot, int preset);
int recall_preset(int slot, int preset);
void preset_range(int slot, int *low, int *high);

// Queries and settings.
int set_move_speed(int slot, float speed);
float get_move_speed(int slot);
void bar_ranges(int slot, float *pan, float *tilt);
int pan_flipped(int slot);
int tilt_flipped(int slot);
void current_field_angle(int slot, float *angle);

// Modes: the result of the last write, or 1 when nothing had to be sent.
int set_autofocus(int slot, int on);
int set_autoiris(int slot, int on);
int set_backlight(int slot, int on);
int set_ircut_filter(int slot, int mode);

// Relays. send_relay_cmd is the only writer of relay_state.
int send_relay_cmd(int slot, unsigned relay, int on);
int auxiliary(int slot, const char *command);

// On-screen menu: exactly 1 when the open/close frame was written, else 0.
int osd_menu(int slot, int code);

#endif
