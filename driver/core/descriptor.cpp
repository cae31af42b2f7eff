// What the driver tells the host about itself: identity, capabilities, the
// parameter tables with defaults and ranges, and the serial-line settings.
// All of it is constant data; handing it out touches no camera state.
#include <stdint.h>

#include "core.h"

namespace {

#define PARAM_INT(key, label, def, range) {3, key, label, def, 0x81, 1, range}
#define PARAM_BOOL(key, def) {4, key, "", def, 0x81, 1, ""}
#define PARAM_END {0, "", nullptr, "", 0, 0, nullptr}

const param_descriptor pan_table[] = {
    PARAM_INT("MinPan", "Left", "-180", "-180..180"),
    PARAM_INT("MaxPan", "Right", "180", "-180..180"),
    PARAM_END,
};

const param_descriptor tilt_table[] = {
    PARAM_INT("MinTilt", "Down", "-180", "-180..180"),
    PARAM_INT("MaxTilt", "Up", "180", "-180..180"),
    PARAM_END,
};

const param_descriptor zoom_table[] = {
    PARAM_INT("MinZoom", "Zoom Wide", "1", "1..19999"),
    PARAM_INT("MaxZoom", "Zoom Tele", "9999", "1..19999"),
    PARAM_INT("MinFieldAngle", "", "1", "1..1000"),
    PARAM_INT("MaxFieldAngle", "", "30", "1..1000"),
    PARAM_END,
};

const param_descriptor focus_table[] = {
    PARAM_INT("MinFocus", "Focus Near", "1", "1..9999"),
    PARAM_INT("MaxFocus", "Focus Far", "9999", "1..9999"),
    PARAM_END,
};

const param_descriptor iris_table[] = {
    PARAM_INT("MinIris", "Iris Min", "1", "1..9999"),
    PARAM_INT("MaxIris", "Iris Max", "9999", "1..9999"),
    PARAM_END,
};

const param_descriptor brightness_table[] = {
    PARAM_INT("MinBrightness", "Brightness Min", "1", "1..9999"),
    PARAM_INT("MaxBrightness", "Brightness Max", "9999", "1..9999"),
    PARAM_END,
};

const param_descriptor flip_table[] = {
    PARAM_BOOL("FlipPan", "false"),
    PARAM_BOOL("FlipTilt", "false"),
    PARAM_END,
};

const param_descriptor driver_table[] = {
    PARAM_INT("MoveSpeed", "", "100", "1..100"),
    PARAM_INT("PanMoveTimePerDegree", "", "690", "1..50000"),
    PARAM_INT("TiltMoveTimePerDegree", "", "680", "1..50000"),
    PARAM_INT("CurrentFieldAngle", "", "450", "1..1800"),
    PARAM_INT("PanBarRange", "", "48", "1..720"),
    PARAM_INT("TiltBarRange", "", "78", "1..720"),
    PARAM_INT("ZoomSpeed", "", "100", "1..100"),
    PARAM_INT("ZoomTime", "", "10500", "1..150000"),
    PARAM_INT("FocusSpeed", "", "100", "1..100"),
    PARAM_INT("FocusTime", "", "1500", "1..150000"),
    PARAM_INT("Relay1OnTime", "", "1000", "0..5000"),
    PARAM_INT("Relay2OnTime", "", "1000", "0..5000"),
    PARAM_INT("MaxDevicePresetnbr", "", "6", "1..255"),
    PARAM_INT("PanSpeedCompensation", "", "-50", "-100..100"),
    PARAM_INT("TiltSpeedCompensation", "", "-25", "-100..100"),
    PARAM_INT("GoToPresetDelay", "", "5", "0..60"),
    PARAM_END,
};

#undef PARAM_INT
#undef PARAM_BOOL
#undef PARAM_END

const char driver_name[] = "Tavrinode";
const char driver_version[] = "4.04";

// The two capability words, followed by the number of driver parameters.
const uint32_t capability_words[3] = {0x03C771B6u, 0x0000C133u, 16u};

const port_settings serial_port = {1, "RS232", 9600, 8, 1, "None", {0, 0, 0, 0}};

const text_item one_item = {"-", 0};

// Set aside for the host; the driver never reads or writes it.
uint32_t host_word = 0;

template <typename T, typename V>
void put(T *out, V value) {
    if (out != nullptr) {
        *out = value;
    }
}

}  // namespace

void descriptor_get_info(const char **name, const char **version, const uint32_t **caps,
                         const param_descriptor **pan, const param_descriptor **tilt,
                         const param_descriptor **zoom, const param_descriptor **focus,
                         const param_descriptor **iris, const param_descriptor **brightness,
                         const param_descriptor **flips, const param_descriptor **params, int *count,
                         const port_settings **port, const text_item **item, uint32_t **word) {
    put(name, &driver_name[0]);
    put(version, &driver_version[0]);
    put(caps, &capability_words[0]);
    put(pan, &pan_table[0]);
    put(tilt, &tilt_table[0]);
    put(zoom, &zoom_table[0]);
    put(focus, &focus_table[0]);
    put(iris, &iris_table[0]);
    put(brightness, &brightness_table[0]);
    put(flips, &flip_table[0]);
    put(params, &driver_table[0]);
    put(count, static_cast<int>(capability_words[2]));
    put(port, &serial_port);
    put(item, &one_item);
    put(word, &host_word);
}
