// The closing table of a site run, one row per camera.
#ifndef DESK_CALIBRATE_SITE_TABLE_H
#define DESK_CALIBRATE_SITE_TABLE_H

#include <string>
#include <vector>

#include "runs.h"
#include "site.h"

namespace site {

std::string table(const std::vector<Camera> &cameras, const std::vector<Outcome> &outcomes);

}  // namespace site

#endif
