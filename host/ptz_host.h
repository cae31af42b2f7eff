/*
 * The host interface the driver is built against.
 *
 * The host (its driver-glue library) owns main, the serial line, the per-camera
 * configuration and the action bookkeeping. It defines the globals and services
 * below; the driver only declares them and defines the driver_* entry points,
 * which the host resolves by their plain names.
 *
 * Descriptor records are made of pointer-sized words: numbers are intptr_t and
 * texts are pointers, so every record has the same slots on any build and
 * exactly 32-bit words on the 32-bit target.
 */
#ifndef PTZ_HOST_H
#define PTZ_HOST_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- globals, defined by the host ---- */

extern uint32_t cameras;  /* number of camera slots */
extern int *camera_map;   /* one int per slot; nonzero = configured for this driver */
extern int camindex;      /* zero-based slot addressed by the current entry point */
extern int suspended;     /* nonzero asks a running operation to give up */
extern char drivermsg[];  /* failure text for the host, NUL-terminated */

/* ---- services, provided by the host ---- */

/* Nonzero when the whole frame was written. */
int ptz_write_port(const unsigned char *frame, int length);
/* Nonzero when the whole time passed, 0 when the host cut it short. */
int ptz_usleep(unsigned int usec);
void ptz_action_started(int camera);
void ptz_action_completed(int camera, int delay);
int ptz_set_status(int pan_state, int tilt_state, int zoom_state, int iris_state, int focus_state,
                   int zero, int pan_active, int tilt_active, int zoom_active, int iris_active,
                   int focus_active, int two, int iris_mode, int focus_mode);
/* Nonzero when a value was stored at *value. */
int ptz_get_int_param(const char *key, int mode, int *value, int camera);
int ptz_get_bool_param(const char *key, int mode, int *value, int camera);
void ptz_request_poll(int zero);

/* ---- records ---- */

/* A member not below 32765.0 (or a NaN) is absent from the request. */
typedef struct move_request {
    float pan, tilt, zoom, focus, iris;
} move_request;

/* One entry of a parameter table; the terminating entry has kind 0. */
typedef struct param_descriptor {
    intptr_t kind;       /* 3 integer, 4 boolean, 0 terminator */
    const char *key;     /* configuration key */
    const char *label;   /* display label ("" when none; NULL in the terminator) */
    const char *def;     /* default value as text */
    intptr_t word5;      /* 0x81 (0 in the terminator) */
    intptr_t word6;      /* 1 (0 in the terminator) */
    const char *range;   /* "low..high", "" for booleans, NULL in the terminator */
} param_descriptor;

/* Serial-line settings. */
typedef struct port_settings {
    intptr_t word1;      /* 1 */
    const char *type;    /* "RS232" */
    intptr_t baud;       /* 9600 */
    intptr_t data_bits;  /* 8 */
    intptr_t stop_bits;  /* 1 */
    const char *parity;  /* "None" */
    intptr_t reserved[4];
} port_settings;

/* The one-entry text item. */
typedef struct text_item {
    const char *text;    /* "-" */
    intptr_t zero;       /* 0 */
} text_item;

/* ---- entry points, defined by the driver ---- */

#if defined(__GNUC__)
#define PTZ_DRIVER_EXPORT __attribute__((visibility("default")))
#else
#define PTZ_DRIVER_EXPORT
#endif

PTZ_DRIVER_EXPORT void driver_get_info(const char **name, const char **version, const uint32_t **caps,
                                       const param_descriptor **pan, const param_descriptor **tilt,
                                       const param_descriptor **zoom, const param_descriptor **focus,
                                       const param_descriptor **iris,
                                       const param_descriptor **brightness,
                                       const param_descriptor **flips,
                                       const param_descriptor **params, int *count,
                                       const port_settings **port, const text_item **item,
                                       uint32_t **host_word);
PTZ_DRIVER_EXPORT int driver_setup(void);
PTZ_DRIVER_EXPORT void driver_poll(void);
PTZ_DRIVER_EXPORT void driver_teardown(void);
PTZ_DRIVER_EXPORT int driver_param_changed(void);
PTZ_DRIVER_EXPORT int driver_move_cont(const move_request *request);
PTZ_DRIVER_EXPORT int driver_stop(void);
PTZ_DRIVER_EXPORT int driver_move_rel(const move_request *request);
PTZ_DRIVER_EXPORT int driver_set_device_preset(int preset);
PTZ_DRIVER_EXPORT int driver_goto_device_preset(int preset);
PTZ_DRIVER_EXPORT void driver_device_preset_range(int *low, int *high);
PTZ_DRIVER_EXPORT int driver_set_speed(float speed);
PTZ_DRIVER_EXPORT float driver_get_speed(void);
PTZ_DRIVER_EXPORT void driver_bar_ranges(float *pan, float *tilt);
PTZ_DRIVER_EXPORT int driver_pan_flipped(void);
PTZ_DRIVER_EXPORT int driver_tilt_flipped(void);
PTZ_DRIVER_EXPORT int driver_zoom_compensation(void);
PTZ_DRIVER_EXPORT void driver_current_field_angle(float *angle);
PTZ_DRIVER_EXPORT int driver_autofocus(int on);
PTZ_DRIVER_EXPORT int driver_autoiris(int on);
PTZ_DRIVER_EXPORT int driver_backlight(int on);
PTZ_DRIVER_EXPORT int driver_ircutfilter(int mode);
PTZ_DRIVER_EXPORT int driver_auxiliary(const char *command);
PTZ_DRIVER_EXPORT int driver_osdmenu(int code);

#ifdef __cplusplus
}
#endif

#endif /* PTZ_HOST_H */
