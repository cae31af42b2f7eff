// Reading INI files with the INI library, whole lines only. The library reads
// a file through a fixed line buffer: a longer line is cut, and its rest is
// read as a line of its own (the tail of a long comment can become a key).
// Every desk program that reads an INI file reads it through here, which
// refuses such a file instead, naming the line.
#ifndef SIM_INI_LINES_H
#define SIM_INI_LINES_H

#include <ini.h>
#include <stddef.h>

#include <string>

namespace ini {

// The longest line, without its line end, that the library reads whole.
constexpr size_t max_line = INI_MAX_LINE - 1;

// 0, or the number of the first line the library would not read as written:
// one longer than max_line characters, or one holding a NUL byte. *why says
// which ("line longer than 199 characters").
int bad_line(const std::string &text, std::string *why);

// Reads FILE whole. False with the system's reason in *why.
bool read_file(const std::string &path, std::string *text, std::string *why);

// Parses TEXT with the library. Returns 0, or the number of the first bad
// line: *why says what is wrong with it when the library would misread it
// or when it is a second section naming one camera (see camera_section.h),
// and is left empty when the library or the handler found the fault.
int parse(const std::string &text, ini_handler handler, void *user, std::string *why);

// read_file + parse: -1 (with the system's reason in *why) when FILE cannot be read.
int parse_file(const std::string &path, ini_handler handler, void *user, std::string *why);

// One line as the library reads it, for readers that need more than its
// callback tells: section headers (also of sections without keys) and where
// a value stands in the line.
struct Line {
    enum Kind { Other, Section, Setting, Continuation } kind = Other;  // Other: blank, comment or bad
    std::string name;  // the section, or the key (a continuation's: the key it continues)
    size_t value_begin = 0, value_end = 0;  // Setting, Continuation
};

// Reads the lines of one text in order (each without its line end): the
// library's reading depends on the lines before (a byte order mark starts
// the first; an indented line after a key continues its value).
class LineReader {
public:
    Line read(const std::string &line);

private:
    bool first_ = true;
    std::string key_;  // the last key read; empty after a section header
};

}  // namespace ini

#endif
