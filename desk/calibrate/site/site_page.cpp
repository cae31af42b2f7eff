#include "site_page.h"

#include <stdio.h>

#include "drift.h"
#include "ini_lines.h"
#include "write_whole.h"

namespace site {

std::vector<page::Camera> page_cameras(const Run &run, const std::vector<Camera> &cameras,
                                       const std::vector<Outcome> &outcomes) {
    std::vector<page::Camera> out;
    for (size_t i = 0; i < cameras.size(); ++i) {
        const Outcome &o = outcomes[i];
        std::string text, why;
        ini::read_file(run.file(cameras[i].number, ".out"), &text, &why);  // a run never started printed nothing
        page::Camera c = page::read_printed(cameras[i].number, cameras[i].port, page::split_lines(text));
        if (run.check) {
            c.verdict = o.verdict.empty() ? "failed (" + o.why + ")" : o.verdict;
        } else {
            c.verdict = o.ok ? "calibrated" : "failed (" + o.why + ")";
            c.values.clear();
            for (const auto &[key, value] : o.values) c.values.push_back(key + "=" + std::to_string(value));
        }
        out.push_back(c);
    }
    return out;
}

bool write_page(const std::string &path, const std::string &config, bool check, std::vector<page::Camera> cameras) {
    const page::Page p{check ? "Site check" : "Site calibration", config, calibrate::now_utc(), std::move(cameras)};
    std::string error;
    if (!files::write_whole(path, page::page_html(p), &error)) {
        fprintf(stderr, "visca_calibrate: %s\n", error.c_str());
        return false;
    }
    printf("page written to %s\n", path.c_str());
    return true;
}

}  // namespace site
