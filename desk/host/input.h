// Where console commands come from: the program's arguments, a script file,
// or standard input (with line editing and history on a terminal).
#ifndef SIM_HOST_INPUT_H
#define SIM_HOST_INPUT_H

#include <stddef.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace host {

class LineSource {
public:
    virtual ~LineSource() = default;
    // The next command line, or nullopt to end the session (end of input,
    // or Ctrl-C: twice at an interactive prompt, once between script lines).
    virtual std::optional<std::string> next() = 0;
    // A person at a terminal: Ctrl-C cuts a command, and the session goes on.
    virtual bool interactive() const { return false; }
};

// The longest line read from piped standard input; a longer one is refused.
constexpr size_t max_input_line = 4096;

std::unique_ptr<LineSource> make_list_source(const std::vector<std::string> &commands);
std::unique_ptr<LineSource> make_file_source(const std::string &path, std::string *error);
// On a terminal, `on_ctrl_c` runs when Ctrl-C clears the prompt (the
// console stops a continuous move there). The interactive console keeps its
// history in $HOME/.tavrinode_history.
std::unique_ptr<LineSource> make_stdin_source(std::function<void()> on_ctrl_c);

}  // namespace host

#endif
