// Writing a finished output file in one step: a reader (a browser, a
// person) sees the old file or the new one, never half of it.
#ifndef DESK_FILES_WRITE_WHOLE_H
#define DESK_FILES_WRITE_WHOLE_H

#include <string>

namespace files {

// Writes TEXT to a temporary file beside PATH, then renames it over PATH;
// false with the reason in *error, nothing left behind and PATH as it was.
bool write_whole(const std::string &path, const std::string &text, std::string *error);

}  // namespace files

#endif
