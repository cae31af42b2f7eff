// libFuzzer target: the camera profile reader. A profile that loads must be
// one the virtual camera can run: finite rates at every speed byte and
// nibble, a top speed, and a camera that recalls a preset and drives on it
// without breaking. One that does not load must say where and why; a line
// the INI library would cut must be refused.
#include <math.h>
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "camera.h"
#include "fuzz_file.h"
#include "ini_lines.h"
#include "profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string path = fuzz_file(data, size, ".ini");
    camera::Profile p;
    std::string error;
    const bool loaded = camera::read_profile(path, &p, &error);
    std::string why;
    if (ini::bad_line(std::string(reinterpret_cast<const char *>(data), size), &why) != 0) {
        FUZZ_CHECK(!loaded && error.find(why) != std::string::npos, "a line the library cuts was read: %s",
                   error.c_str());
    }
    if (!loaded) {
        FUZZ_CHECK(error.compare(0, path.size() + 1, path + ":") == 0, "error without the file: %s", error.c_str());
        return 0;
    }
    for (const camera::PanTiltAxis *a : {&p.pan, &p.tilt}) {
        FUZZ_CHECK(a->speed.proportional || !a->speed.table.empty(), "an empty speed table");
        FUZZ_CHECK(isfinite(a->speed.top()) && a->speed.top() > 0, "top speed %g", a->speed.top());
        for (int code = 0; code < 0x80; ++code) {
            FUZZ_CHECK(isfinite(a->speed.rate(code)) && a->speed.rate(code) >= 0, "rate at %d", code);
        }
        a->reply_units(a->max_degrees);
    }
    for (const camera::LensAxis *a : {&p.zoom, &p.focus}) {
        for (int nibble = 0; nibble < 8; ++nibble) FUZZ_CHECK(isfinite(a->rate(nibble)) && a->rate(nibble) > 0, "lens");
    }

    camera::CameraModel model;
    model.profile = p;
    model.replies = true;
    camera::VirtualCamera camera(model);
    const visca::Bytes commands[] = {
        {0x81, 0x01, 0x04, 0x3F, 0x01, 0x01, 0xFF},                    // preset 1 set
        {0x81, 0x01, 0x06, 0x01, 0x18, 0x14, 0x01, 0x01, 0xFF},        // up-left, full speed
        {0x81, 0x01, 0x04, 0x07, 0x27, 0xFF},                          // zoom tele
        {0x81, 0x01, 0x06, 0x01, 0x01, 0x01, 0x03, 0x03, 0xFF},        // stop
        {0x81, 0x01, 0x04, 0x3F, 0x02, 0x01, 0xFF},                    // preset 1 recall
        {0x81, 0x09, 0x06, 0x12, 0xFF},                                // position inquiry
    };
    double t = 0;
    for (const visca::Bytes &c : commands) {
        camera.receive(c, t);
        t += 0.7;
        camera.take_replies(t);
    }
    const camera::CameraState &s = camera.state_at(t + 60);
    for (int axis = 0; axis < camera::axis_count; ++axis) FUZZ_CHECK(isfinite(s.position.axis[axis]), "axis %d", axis);
    return 0;
}
