// Verification: a plan of relative moves run through the driver, with the
// camera's position read by the host between moves (the driver itself never
// reads). One line per move, a summary, and optionally a picture.
#ifndef SIM_HOST_VERIFY_H
#define SIM_HOST_VERIFY_H

#include <functional>
#include <string>
#include <vector>

#include "runtime.h"
#include "verify_summary.h"

namespace host {

// Runs every driver call through `call` (the console's wrapper). `quick`:
// pan moves of 5 and 10 degrees only. Returns false when a position could
// not be read (the reason has been printed).
bool run_verify(Runtime &r, const std::function<void(const std::function<void()> &)> &call,
                const std::string &plot_path, bool quick);

// requested against reached (pan and tilt), and the error per move size.
bool write_verify_plot(const std::string &path, const std::vector<verify::VerifiedMove> &moves, std::string *error);

}  // namespace host

#endif
