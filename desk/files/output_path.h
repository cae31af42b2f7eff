// Whether a program can write a file it will produce only at the end of a
// long run: asked before anything opens or moves, so a bad path costs
// nothing but a line.
#ifndef DESK_FILES_OUTPUT_PATH_H
#define DESK_FILES_OUTPUT_PATH_H

#include <string>

namespace files {

// True when PATH is a file that can be written, or can be created in its
// folder; false with the reason in *error. Nothing is left behind.
bool can_write(const std::string &path, std::string *error);

}  // namespace files

#endif
