// The calibration record of a camera: comment lines in its [cameraN] section
// that the host's reader skips, beginning "; calibrated". One record per
// camera: setting it replaces the lines of the one before.
#ifndef SIM_INI_RECORD_H
#define SIM_INI_RECORD_H

#include <string>
#include <vector>

namespace ini {

// What begins every record line, after "; ".
constexpr const char *record_mark = "calibrated";

// TEXT with camera's record lines (each given without "; ", each beginning
// with record_mark) replacing those it had, right after the section's
// header. A text without the section is returned as it is (the values'
// update adds the section first).
std::string set_record(const std::string &text, int camera, const std::vector<std::string> &record);

// The record lines of camera's section, without "; ", in file order.
std::vector<std::string> read_record(const std::string &text, int camera);

}  // namespace ini

#endif
