// libFuzzer target: the stand-in host's configuration reader. A file that
// loads gives every slot its values inside the keys' ranges; one that does
// not says where and why; a line the INI library would cut is refused.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "config.h"
#include "fuzz_file.h"
#include "ini_lines.h"

namespace {

std::vector<host::ParamInfo> params() {
    std::vector<host::ParamInfo> out(3);
    out[0].key = "MoveSpeed", out[0].def = "80", out[0].low = 1, out[0].high = 100;
    out[1].key = "FlipPan", out[1].def = "false", out[1].boolean = true, out[1].high = 1;
    out[2].key = "PanSpeedCompensation", out[2].def = "x", out[2].low = -50, out[2].high = 50;
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::vector<host::ParamInfo> keys = params();
    const std::string path = fuzz_file(data, size, ".conf");
    host::Config c;
    std::string error;
    const bool loaded = host::load_config(path, keys, &c, &error);
    std::string why;
    if (ini::bad_line(std::string(reinterpret_cast<const char *>(data), size), &why) != 0) {
        FUZZ_CHECK(!loaded && error.find(why) != std::string::npos, "a line the library cuts was read: %s",
                   error.c_str());
    }
    if (!loaded) {
        FUZZ_CHECK(error.find(path) != std::string::npos, "error without the file: %s", error.c_str());
        return 0;
    }
    FUZZ_CHECK(c.cameras >= 1 && c.cameras <= host::max_cameras, "%u cameras", c.cameras);
    FUZZ_CHECK(c.configured.size() == c.cameras && c.ports.size() == c.cameras && c.values.size() == c.cameras,
               "slot tables of the wrong size");
    for (const auto &slot : c.values) {
        for (const host::ParamInfo &k : keys) {
            const auto v = slot.find(k.key);
            if (v == slot.end() || !v->second) continue;
            FUZZ_CHECK(*v->second >= k.low && *v->second <= k.high, "%s = %ld", k.key.c_str(), *v->second);
        }
    }
    return 0;
}
