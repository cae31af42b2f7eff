// Presets live in the camera's own memory; the driver only stores and recalls.
#include <stdint.h>

#include "camera.h"
#include "core/core.h"
#include "visca/visca.h"

namespace {

// The camera's memory numbers count from 0. Preset 0 would put the
// terminator 0xFF inside the frame, and numbers above 255 would wrap.
bool preset_valid(int preset, const char *entry, int line) {
    if (preset < 1 || preset > 255) {
        log_refusal(line, entry, "Refused, preset number outside 1..255");
        return false;
    }
    return true;
}

int write_memory_frame(uint8_t action, int preset) {
    const unsigned char frame[7] = {0x81, 0x01, 0x04, 0x3F, action,
                                    static_cast<unsigned char>(preset - 1), 0xFF};
    return ptz_write_port(frame, static_cast<int>(sizeof frame));
}

}  // namespace

int store_preset(int /*slot*/, int preset) {
    if (!preset_valid(preset, "driver_set_device_preset", __LINE__)) {
        return 0;
    }
    // The camera stores wherever it stands when the frame arrives; a move in
    // progress is not stopped.
    write_memory_frame(0x01, preset);
    return 1;
}

int recall_preset(int slot, int preset) {
    if (!preset_valid(preset, "driver_goto_device_preset", __LINE__)) {
        return 0;
    }
    ptz_action_started(slot + 1);
    stop_all_axes(slot);
    const int written = write_memory_frame(0x02, preset);
    ptz_action_completed(slot + 1, cam_params[slot].goto_preset_delay);
    return written;
}

void preset_range(int slot, int *low, int *high) {
    if (low != nullptr) {
        *low = 1;
    }
    if (high != nullptr) {
        *high = cam_params[slot].max_preset;
    }
}
