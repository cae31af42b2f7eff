// The stand-in host's command console: sets the driver up, runs commands
// (from the arguments, a script file or standard input, interactively with
// line editing on a terminal) and tears the driver down.
#ifndef SIM_HOST_CONSOLE_H
#define SIM_HOST_CONSOLE_H

#include <string>
#include <vector>

#include "runtime.h"

namespace host {

// The whole session; returns the program's exit status.
int run_session(Runtime &r);

// Runs one command line; false when it asks to quit. Bad commands print a
// one-line error and return true.
bool run_command(Runtime &r, const std::string &line);

// The command names, for completion.
const char *command_name(size_t index);

// For completion: what the next argument may be, given the words before it
// (the command first); empty when anything goes.
std::vector<std::string> argument_choices(const std::vector<std::string> &before);

}  // namespace host

#endif
