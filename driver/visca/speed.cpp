// Host speed to VISCA speed mappings and the relative-move speed compensation.
// The arithmetic (single vs double precision, truncation) is the camera
// calibration's own and must not be "simplified".
#include <math.h>
#include <stdint.h>

#include "core/core.h"
#include "visca.h"

namespace {

// Largest byte a pan or tilt speed may take: the top bit would clash with the
// frame header and 0xFF is the terminator.
constexpr uint8_t max_speed_byte = 0x7F;

uint8_t drive_speed_byte(float speed, double factor) {
    const float m = fabsf(speed);
    if (m != m) {
        return 0;
    }
    // Far above 100 the byte is capped anyway; stopping here keeps the double
    // to float narrowing below inside the float range.
    if (m >= 1000.0f) {
        return max_speed_byte;
    }
    const float x = static_cast<float>((static_cast<double>(m) - 1.0) * factor);
    float y = x / 99.0f;
    y = y + 1.0f;
    if (!(y > 0.0f)) {
        return 0;
    }
    if (y >= static_cast<float>(max_speed_byte)) {
        return max_speed_byte;
    }
    return static_cast<uint8_t>(static_cast<uint32_t>(y));
}

}  // namespace

uint8_t pan_speed_byte(float speed) { return drive_speed_byte(speed, 17.0); }

uint8_t tilt_speed_byte(float speed) { return drive_speed_byte(speed, 13.0); }

uint8_t lens_speed_nibble(int32_t configured) {
    // Formed in 64 bits: a configured value far out of range must not wrap.
    const int64_t i = (static_cast<int64_t>(configured) - 1) * 7;
    if (i <= 0) {
        return 0;
    }
    float f = static_cast<float>(i) / 99.0f;
    f = f + 0.0f;
    // From 115 on the nibble would pass 7 and, further up, reach the
    // direction nibble of the parameter byte.
    if (f >= 7.0f) {
        return 7;
    }
    return static_cast<uint8_t>(static_cast<uint32_t>(f));
}

int32_t speed_compensation(int slot, int32_t speed, int32_t comp) {
    if (speed <= 4) {
        return 0;
    }
    if (cam_params[slot].move_speed <= 4 || speed >= 98) {
        return 0;
    }
    // speed is 5..97 here; comp is whatever the configuration holds, so the
    // product is formed in 64 bits.
    int64_t t = ((static_cast<int64_t>(speed) - 4) * comp) * (98 - static_cast<int64_t>(speed));
    t = t / 5000;
    int64_t s = speed + t;
    if (s >= 98) {
        s = 98;
    }
    if (s >= 4) {
        return static_cast<int32_t>(s - speed);
    }
    return 4 - speed;
}
