// Shared vocabulary of the motion tests: request members, the fake host's
// log lines of frames, sleeps and status, and the request builder.
#ifndef MOTION_LINES_H
#define MOTION_LINES_H

#include <stdio.h>

#include <limits>
#include <string>

#include "ptz_host.h"

namespace motion_lines {

constexpr float A = 32765.0f;  // absent member
inline const float NaN = std::numeric_limits<float>::quiet_NaN();
inline const float Inf = std::numeric_limits<float>::infinity();

inline const char PT_STOP[] = "write 81 01 06 01 00 00 03 03 FF";
inline const char ZOOM_STOP[] = "write 81 01 04 07 00 FF";
inline const char FOCUS_STOP[] = "write 81 01 04 08 00 FF";
inline const char AE_BRIGHT[] = "write 81 01 04 39 0D FF";
inline const char BRIGHT_UP[] = "write 81 01 04 0D 02 FF";
inline const char BRIGHT_DOWN[] = "write 81 01 04 0D 03 FF";
inline const char FOCUS_MANUAL[] = "write 81 01 04 38 03 FF";
inline const char SETTLE[] = "sleep 50000";
inline const char STEP[] = "sleep 200000";
inline const char SUSPENDED[] = "syslog 4 Suspended!";

// The status line as the host receives it; the arguments are the axis
// states (0 or 3) in the host's order pan, tilt, zoom, iris, focus.
inline std::string status(int pan, int tilt, int zoom, int iris, int focus, int iris_mode = 2,
                          int focus_mode = 2) {
    auto active = [](int s) { return s != 0 ? 1 : 0; };
    return "status " + std::to_string(pan) + " " + std::to_string(tilt) + " " + std::to_string(zoom) +
           " " + std::to_string(iris) + " " + std::to_string(focus) + " 0 " +
           std::to_string(active(pan)) + " " + std::to_string(active(tilt)) + " " +
           std::to_string(active(zoom)) + " " + std::to_string(active(iris)) + " " +
           std::to_string(active(focus)) + " 2 " + std::to_string(iris_mode) + " " +
           std::to_string(focus_mode);
}

inline const std::string IDLE = status(0, 0, 0, 0, 0);

inline std::string hex2(int byte) {
    char buf[3];
    snprintf(buf, sizeof buf, "%02X", byte);
    return buf;
}

// Pan drive: byte 6 is 01 left, 02 right; tilt direction 03 (stop).
inline std::string pan_frame(int speed_byte, bool left) {
    return "write 81 01 06 01 " + hex2(speed_byte) + " 00 " + (left ? "01" : "02") + " 03 FF";
}

// Tilt drive: byte 7 is 01 up, 02 down; pan direction 03 (stop).
inline std::string tilt_frame(int speed_byte, bool down) {
    return "write 81 01 06 01 00 " + hex2(speed_byte) + " 03 " + (down ? "02" : "01") + " FF";
}

inline move_request req(float pan, float tilt = A, float zoom = A, float focus = A, float iris = A) {
    return move_request{pan, tilt, zoom, focus, iris};
}

}  // namespace motion_lines

#endif
