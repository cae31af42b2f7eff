// The closing lines of a site check: one per camera, the verdict first,
// drifted cameras on top, then failed ones, then those ok; under each the
// axes' checked lines.
#ifndef DESK_CALIBRATE_SITE_CHECK_TABLE_H
#define DESK_CALIBRATE_SITE_CHECK_TABLE_H

#include <string>
#include <vector>

#include "runs.h"
#include "site.h"

namespace site {

// The order the cameras are shown in: drifted, failed, ok; camera order within each.
std::vector<size_t> check_order(const std::vector<Outcome> &outcomes);

std::string check_table(const std::vector<Camera> &cameras, const std::vector<Outcome> &outcomes);

}  // namespace site

#endif
