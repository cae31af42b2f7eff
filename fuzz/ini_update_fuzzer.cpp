// libFuzzer target: the calibrator's file update, a round trip through the
// INI library. The input is a configuration text (after a first byte that
// picks the camera and the keys); for every text the library reads without
// error, the library's reading of the updated text must give the chosen
// values for the chosen keys in [cameraN] and, apart from them, exactly the
// entries of the original, in order.
#include <stddef.h>
#include <stdint.h>
#include <strings.h>

#include <string>
#include <tuple>
#include <vector>

#include "fuzz_check.h"
#include "camera_section.h"
#include "ini_lines.h"
#include "ini_update.h"

namespace {

using Entry = std::tuple<std::string, std::string, std::string>;  // section, key, value

struct Reading {
    std::vector<Entry> entries;
};

int collect(void *user, const char *section, const char *key, const char *value) {
    static_cast<Reading *>(user)->entries.emplace_back(section, key, value);
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    static const char *const keys[] = {"MoveSpeed", "PanMoveTimePerDegree", "ZoomTime", "FocusSpeed"};
    const int camera = 1 + (data[0] & 3);
    ini::Settings chosen;
    for (int k = 0; k < 4; ++k) {
        if ((data[0] >> (2 + k) & 1) != 0) chosen.emplace_back(keys[k], (k * 37 + data[0]) * (data[0] & 0x40 ? -1 : 1));
    }
    const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    Reading before;
    std::string why;
    if (ini::parse(text, collect, &before, &why) != 0) return 0;  // the file update refuses it

    const std::string updated = ini::update_ini_text(text, camera, chosen);
    if (ini::bad_line(updated, &why) != 0) return 0;  // refused too: a value made a line too long
    if (ini::repeated_camera(updated, &why) != 0) return 0;  // refused too: a second section of the camera
    Reading after;
    const int bad = ini::parse(updated, collect, &after, &why);
    FUZZ_CHECK(bad == 0, "the update made line %d unreadable (%s)", bad, why.c_str());

    auto set_here = [&](const Entry &e, std::string *value) {
        if (ini::camera_of(std::get<0>(e)) != camera) return false;
        for (const auto &c : chosen) {
            if (strcasecmp(std::get<1>(e).c_str(), c.first.c_str()) == 0) return *value = std::to_string(c.second), true;
        }
        return false;
    };
    std::vector<Entry> kept_before, kept_after;
    std::string value;
    for (const Entry &e : before.entries) {
        if (!set_here(e, &value)) kept_before.push_back(e);
    }
    std::vector<bool> seen(chosen.size(), false);
    for (const Entry &e : after.entries) {
        if (!set_here(e, &value)) {
            kept_after.push_back(e);
            continue;
        }
        FUZZ_CHECK(std::get<2>(e) == value, "%s = '%s', chosen %s", std::get<1>(e).c_str(), std::get<2>(e).c_str(),
                   value.c_str());
        for (size_t k = 0; k < chosen.size(); ++k) seen[k] = seen[k] || strcasecmp(std::get<1>(e).c_str(), chosen[k].first.c_str()) == 0;
    }
    for (size_t k = 0; k < chosen.size(); ++k) FUZZ_CHECK(seen[k], "%s not set", chosen[k].first.c_str());
    FUZZ_CHECK(kept_before == kept_after, "other entries changed: %zu before, %zu after", kept_before.size(),
               kept_after.size());
    return 0;
}
