#include "input.h"

#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <readline/history.h>
#include <readline/readline.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "config.h"
#include "console.h"
#include "runtime.h"

namespace host {

namespace {

// Script lines are echoed so that a transcript reads like a session; comment
// lines are shown as they are, blank lines dropped.
std::optional<std::string> echoed(const std::string &text, bool *skip) {
    const size_t first = text.find_first_not_of(" \t\r");
    *skip = first == std::string::npos || text[first] == '#';
    if (first != std::string::npos && text[first] == '#') say(text);
    if (*skip) return std::nullopt;
    say("> " + text);
    return text;
}

bool interrupted_between_lines() {
    if (take_interrupt()) {
        if (terminate_signal == 0) {
            say("interrupted; quitting");
            runtime().interrupted = true;
        }
        return true;
    }
    return false;
}

class ListSource : public LineSource {
public:
    explicit ListSource(std::vector<std::string> lines) : lines_(std::move(lines)) {}
    std::optional<std::string> next() override {
        while (next_ < lines_.size()) {
            if (interrupted_between_lines()) return std::nullopt;
            bool skip = false;
            auto text = echoed(lines_[next_++], &skip);
            if (!skip) return text;
        }
        return std::nullopt;
    }

private:
    std::vector<std::string> lines_;
    size_t next_ = 0;
};

// Standard input that is not a terminal: read with the same Ctrl-C handling
// as the host's sleeps. A line may hold at most max_input_line characters: a
// longer one is refused with an error and skipped up to its end, so that
// input without line ends cannot grow without bound.
class StreamSource : public LineSource {
public:
    std::optional<std::string> next() override {
        while (true) {
            const size_t nl = buffer_.find('\n', scanned_);
            // Only what arrives later is searched for a line end again.
            scanned_ = nl == std::string::npos ? buffer_.size() : 0;
            if (nl != std::string::npos || (eof_ && !buffer_.empty())) {
                const std::string text = buffer_.substr(0, nl);
                buffer_.erase(0, nl == std::string::npos ? std::string::npos : nl + 1);
                ++number_;
                if (skipping_) {
                    skipping_ = false;  // the end of a line already refused
                    continue;
                }
                if (text.size() > max_input_line) {
                    refuse();
                    continue;
                }
                bool skip = false;
                auto out = echoed(text, &skip);
                if (!skip) return out;
                continue;
            }
            if (buffer_.size() > max_input_line) {
                // A line end may still come: until then what arrives is dropped.
                if (!skipping_) refuse(number_ + 1);
                skipping_ = true;
                buffer_.clear();
                scanned_ = 0;
            }
            if (eof_) return std::nullopt;
            struct pollfd p = {0, POLLIN, 0};
            const int n = ppoll(&p, 1, nullptr, &wait_mask);
            if (interrupted_between_lines()) return std::nullopt;
            if (n <= 0) continue;
            char buf[512];
            const ssize_t got = read(0, buf, sizeof buf);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                eof_ = true;
                continue;
            }
            buffer_.append(buf, static_cast<size_t>(got));
        }
    }

private:
    void refuse() { refuse(number_); }
    void refuse(size_t number) {
        say("error: line " + std::to_string(number) + " of standard input is longer than " +
            std::to_string(max_input_line) + " characters; skipped");
        runtime().rejected = true;
    }

    std::string buffer_;
    size_t scanned_ = 0;  // buffer_[0, scanned_) holds no line end
    size_t number_ = 0;   // lines read so far
    bool skipping_ = false;
    bool eof_ = false;
};

// The interactive console: readline in its callback form, so that Ctrl-C at
// the prompt reaches us (the signal is let through only while we wait).
std::optional<std::string> *pending_line = nullptr;
bool line_done = false;

void on_line(char *text) {
    // Removed here, before readline would draw the next prompt.
    rl_callback_handler_remove();
    line_done = true;
    if (text != nullptr) {
        *pending_line = std::string(text);
        free(text);
    } else {
        *pending_line = std::nullopt;
    }
}

char *complete_command(const char *text, int state) {
    static size_t index;
    if (state == 0) index = 0;
    const size_t length = strlen(text);
    while (const char *name = command_name(index++)) {
        if (strncmp(name, text, length) == 0) return strdup(name);
    }
    return nullptr;
}

std::vector<std::string> argument_words;

char *complete_argument(const char *text, int state) {
    static size_t index;
    if (state == 0) index = 0;
    const size_t length = strlen(text);
    while (index < argument_words.size()) {
        const std::string &word = argument_words[index++];
        if (word.compare(0, length, text) == 0) return strdup(word.c_str());
    }
    return nullptr;
}

char **complete(const char *text, int start, int) {
    rl_attempted_completion_over = 1;
    std::istringstream before(std::string(rl_line_buffer, static_cast<size_t>(start)));
    std::vector<std::string> words;
    for (std::string w; before >> w;) words.push_back(w);
    if (words.empty()) return rl_completion_matches(text, complete_command);
    argument_words = argument_choices(words);
    return rl_completion_matches(text, complete_argument);
}

// A symlink followed to the file it names, a relative one from its own
// folder: readline replaces the file through a temporary one and would
// resolve a relative link from the current folder instead.
std::string link_target(std::string path) {
    namespace fs = std::filesystem;
    std::error_code error;
    // As many links as the system itself follows; a loop stays a link, and saving it fails.
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(path, error)); ++hops) {
        const fs::path target = fs::read_symlink(path, error);
        if (error) break;
        path = target.is_absolute() ? target.string() : (fs::path(path).parent_path() / target).string();
    }
    return path;
}

// $HOME/.tavrinode_history, or empty without a home folder.
std::string history_path() {
    const char *home = getenv("HOME");
    return home != nullptr && *home != '\0' ? link_target(std::string(home) + "/.tavrinode_history") : std::string();
}

class ConsoleSource : public LineSource {
public:
    explicit ConsoleSource(std::function<void()> on_ctrl_c) : on_ctrl_c_(std::move(on_ctrl_c)) {
        rl_catch_signals = 0;
        rl_readline_name = "tavrinode";
        rl_attempted_completion_function = complete;
        using_history();
        stifle_history(history_lines);
        // A missing history is the first session; other failures cost only the history.
        if (!history_.empty()) {
            const int error = read_history(history_.c_str());
            if (error != 0 && error != ENOENT) say("history not read from " + history_ + ": " + strerror(error));
        }
        say("type help for the commands; Ctrl-C stops a move and cuts a running command short, twice at the "
            "prompt quits");
    }

    ~ConsoleSource() override {
        if (history_.empty()) return;
        const int error = write_history(history_.c_str());
        if (error != 0) say("history not saved to " + history_ + ": " + strerror(error));
    }

    bool interactive() const override { return true; }

    std::optional<std::string> next() override {
        std::optional<std::string> line;
        pending_line = &line;
        line_done = false;
        const std::string prompt = "tavrinode[" + std::to_string(camindex + 1) + "]> ";
        rl_callback_handler_install(prompt.c_str(), on_line);
        while (!line_done) {
            struct pollfd p = {0, POLLIN, 0};
            const int n = ppoll(&p, 1, nullptr, &wait_mask);
            if (interrupts > 0) {
                interrupts = 0;
                if (terminate_signal != 0 || ++ctrl_c_ >= 2) {
                    if (terminate_signal == 0) runtime().interrupted = true;
                    rl_callback_handler_remove();
                    fputs("\n", stdout);
                    return std::nullopt;
                }
                rl_free_line_state();
                rl_callback_sigcleanup();
                rl_replace_line("", 0);
                rl_crlf();
                on_ctrl_c_();
                say("(Ctrl-C again to quit)");
                rl_on_new_line();
                rl_redisplay();
                continue;
            }
            if (n > 0) rl_callback_read_char();
        }
        if (!line) {
            fputs("\n", stdout);
            return std::nullopt;
        }
        ctrl_c_ = 0;
        // Without the space completion leaves, and repeats once.
        const std::string kept = line->substr(0, line->find_last_not_of(" \t") + 1);
        const HIST_ENTRY *last = history_length > 0 ? history_get(history_base + history_length - 1) : nullptr;
        if (!kept.empty() && (last == nullptr || kept != last->line)) add_history(kept.c_str());
        return line;
    }

private:
    static constexpr int history_lines = 1000;
    std::function<void()> on_ctrl_c_;
    std::string history_ = history_path();
    int ctrl_c_ = 0;
};

}  // namespace

std::unique_ptr<LineSource> make_list_source(const std::vector<std::string> &commands) {
    return std::make_unique<ListSource>(commands);
}

std::unique_ptr<LineSource> make_file_source(const std::string &path, std::string *error) {
    if (!readable_file(path, "script", error)) return nullptr;
    std::ifstream in(path);
    if (!in) {
        *error = "cannot open the script " + path;
        return nullptr;
    }
    std::vector<std::string> lines;
    for (std::string text; std::getline(in, text);) lines.push_back(text);
    return std::make_unique<ListSource>(lines);
}

std::unique_ptr<LineSource> make_stdin_source(std::function<void()> on_ctrl_c) {
    if (isatty(0) && isatty(1)) return std::make_unique<ConsoleSource>(std::move(on_ctrl_c));
    return std::make_unique<StreamSource>();
}

}  // namespace host
