// The site on one page: a self-contained HTML file (inline CSS and SVG, no
// script, nothing fetched) with a table of the cameras, the verdict first
// and the cameras to look at on top, then each camera's landing picture in
// the style of the verification plot.
#ifndef DESK_CALIBRATE_PAGE_PAGE_H
#define DESK_CALIBRATE_PAGE_PAGE_H

#include <string>
#include <vector>

#include "page_camera.h"

namespace page {

struct Page {
    std::string title;  // "Site check", "Site calibration", "Camera check"
    std::string about;  // the configuration file, or the camera
    std::string when;   // the date and time of the run
    std::vector<Camera> cameras;
};

// The order the cameras are shown in: drifted, then failed (anything that
// is neither ok nor calibrated), then the rest; camera order within each.
std::vector<size_t> page_order(const std::vector<Camera> &cameras);

std::string page_html(const Page &page);

}  // namespace page

#endif
