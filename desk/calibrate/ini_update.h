// Sets keys in one [cameraN] section of a configuration file and keeps every
// other line, comment and blank byte for byte.
#ifndef SIM_CALIBRATE_INI_UPDATE_H
#define SIM_CALIBRATE_INI_UPDATE_H

#include <string>
#include <utility>
#include <vector>

namespace calib {

using Settings = std::vector<std::pair<std::string, long>>;

// The text with each key set in [cameraN]: an existing "key = value" line
// gets the new value (its spacing and trailing comment kept), a missing key
// is added after the section's last setting, a missing section is added at
// the end. Section and key names compare without regard to case.
std::string update_ini_text(const std::string &text, int camera, const Settings &settings);

// Reads FILE (a missing file counts as empty), updates it and replaces it
// in one step (a new file renamed over the old one). False with a reason.
bool update_ini_file(const std::string &path, int camera, const Settings &settings, std::string *error);

// The same for several cameras' sections at once: one replacement of FILE.
bool update_ini_file(const std::string &path, const std::vector<std::pair<int, Settings>> &cameras,
                     std::string *error);

}  // namespace calib

#endif
