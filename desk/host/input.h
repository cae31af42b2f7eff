// Where console commands come from: the program's arguments, a script file,
// or standard input (with line editing and history on a terminal).
#ifndef SIM_HOST_INPUT_H
#define SIM_HOST_INPUT_H

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
};

std::unique_ptr<LineSource> make_list_source(const std::vector<std::string> &commands);
std::unique_ptr<LineSource> make_file_source(const std::string &path, std::string *error);
std::unique_ptr<LineSource> make_stdin_source();

}  // namespace host

#endif
