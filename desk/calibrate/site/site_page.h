// --report with --all: the site's page, read from what each camera's run
// printed (its moves, its checked lines) and what the site run made of it
// (its verdict, the values it wrote). A camera that failed, or never
// started, still gets its row.
#ifndef DESK_CALIBRATE_SITE_SITE_PAGE_H
#define DESK_CALIBRATE_SITE_SITE_PAGE_H

#include <string>
#include <vector>

#include "page.h"
#include "runs.h"
#include "site.h"

namespace site {

// Read before the runs' folder is cleaned up.
std::vector<page::Camera> page_cameras(const Run &run, const std::vector<Camera> &cameras,
                                       const std::vector<Outcome> &outcomes);

// Writes the page to PATH whole; false with the reason printed.
bool write_page(const std::string &path, const std::string &config, bool check, std::vector<page::Camera> cameras);

}  // namespace site

#endif
