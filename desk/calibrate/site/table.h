// The closing table of a site run, one row per camera: the camera, its
// line, its camera time, then its predicted errors and values (or why it
// failed) wrapped to lines of at most `width` characters.
#ifndef DESK_CALIBRATE_SITE_TABLE_H
#define DESK_CALIBRATE_SITE_TABLE_H

#include <string>
#include <vector>

#include "runs.h"
#include "site.h"

namespace site {

std::string table(const std::vector<Camera> &cameras, const std::vector<Outcome> &outcomes, size_t width = 80);

}  // namespace site

#endif
