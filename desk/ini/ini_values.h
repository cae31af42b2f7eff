// The readers of INI values shared by the desk programs, so that a value
// means the same in every file and to every program.
#ifndef DESK_INI_VALUES_H
#define DESK_INI_VALUES_H

#include <string>

namespace ini {

// true/yes/on/1 or false/no/off/0, in any case; false for anything else.
bool read_bool(const std::string &text, bool *out);

// A whole decimal number that fits a long, nothing after it; false
// otherwise (also for an empty text).
bool read_long(const std::string &text, long *out);

}  // namespace ini

#endif
