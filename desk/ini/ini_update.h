// Sets keys in one [cameraN] section of a configuration file and keeps every
// other line, comment and blank byte for byte. Lines are classified as the
// INI library reads them (see desk/ini), so that what the updater sets is
// what every reader of the file gets.
#ifndef SIM_CALIBRATE_INI_UPDATE_H
#define SIM_CALIBRATE_INI_UPDATE_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace ini {

using Settings = std::vector<std::pair<std::string, long>>;

// The text with each key set in [cameraN]: an existing "key = value" line
// gets the new value (its spacing and trailing comment kept, continuation
// lines of its old value dropped), a missing key is added after the
// section's last setting, a missing section is added at the end. The section
// is the one that names the camera (camera_section.h: [Camera01] is camera
// 1); key names compare without regard to case. The text must be one the
// INI library reads without error.
std::string update_ini_text(const std::string &text, int camera, const Settings &settings);

// Whether FILE can be updated: it is a regular file (or a symlink to one)
// that can be read and written, or is missing in a folder that exists; its
// folder takes new files; its owner can be kept. False with the reason.
// `target`, when given, gets the file the update goes to (a symlink's target).
bool check_write_target(const std::string &path, std::string *error, std::string *target = nullptr);

// Reads FILE (a missing file counts as empty), updates it and replaces it in
// one step: the new text goes to a unique new file in the same folder, with
// FILE's mode and owner, is synced and renamed over FILE (over a symlink's
// target; the link stays), and the folder is synced. A file the INI reader
// would misread (a line too long, a bad line, two sections of one camera) is
// left as it was. False with
// the reason; FILE is then unchanged. Updates of one file by several
// programs at once take turns (an exclusive lock from the read to the
// rename), so none loses another's values.
// `go_ahead`, when given, is asked last, right before the rename, with the
// stop signals held (desk/common/stop_signals.h) until the rename is done: false leaves
// FILE unchanged, with the error "interrupted"; a stop signal that comes
// after the question is handled once FILE is replaced.
bool update_ini_file(const std::string &path, int camera, const Settings &settings, std::string *error,
                     const std::function<bool()> &go_ahead = {});

// The same for several cameras' sections at once: one replacement of FILE.
bool update_ini_file(const std::string &path, const std::vector<std::pair<int, Settings>> &cameras,
                     std::string *error, const std::function<bool()> &go_ahead = {});

}  // namespace ini

#endif
