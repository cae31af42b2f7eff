#include "table.h"

#include <stdio.h>

#include <algorithm>

namespace site {

std::string table(const std::vector<Camera> &cameras, const std::vector<Outcome> &outcomes) {
    std::vector<std::vector<std::string>> rows = {{"camera", "line", "camera time", "predicted error", "values"}};
    for (size_t i = 0; i < cameras.size(); ++i) {
        const Outcome &o = outcomes[i];
        char time[32] = "-";
        if (o.ok && o.camera_time >= 0) snprintf(time, sizeof time, "%.1f s", o.camera_time);
        std::string values;
        for (const auto &[key, v] : o.values) values += (values.empty() ? "" : ", ") + key + " = " + std::to_string(v);
        rows.push_back({std::to_string(cameras[i].number), cameras[i].port, time,
                        o.ok ? (o.errors.empty() ? "-" : o.errors) : "-", o.ok ? values : "failed: " + o.why});
    }
    size_t width[4] = {0, 0, 0, 0};
    for (const auto &r : rows) {
        for (size_t c = 0; c < 4; ++c) width[c] = std::max(width[c], r[c].size());
    }
    std::string out;
    for (const auto &r : rows) {
        for (size_t c = 0; c < 4; ++c) out += r[c] + std::string(width[c] + 2 - r[c].size(), ' ');
        out += r[4] + "\n";
    }
    return out;
}

}  // namespace site
