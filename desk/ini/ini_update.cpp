#include "ini_update.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "camera_section.h"
#include "ini_lines.h"
#include "stop_signals.h"

namespace ini {

namespace {

struct TextLine {
    std::string body;  // without the line end
    std::string end;   // "\n", "\r\n" or "" (last line without one)
};

std::vector<TextLine> split_lines(const std::string &text) {
    std::vector<TextLine> lines;
    size_t at = 0;
    while (at < text.size()) {
        const size_t nl = text.find('\n', at);
        TextLine l;
        if (nl == std::string::npos) {
            l.body = text.substr(at);
            at = text.size();
        } else {
            l.body = text.substr(at, nl - at);
            l.end = "\n";
            at = nl + 1;
        }
        if (!l.end.empty() && !l.body.empty() && l.body.back() == '\r') {
            l.body.pop_back();
            l.end = "\r" + l.end;
        }
        lines.push_back(l);
    }
    return lines;
}

bool same(const std::string &a, const std::string &b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

std::string folder_of(const std::string &path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool write_all(int fd, const std::string &text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool in_my_groups(gid_t gid) {
    if (gid == getegid()) return true;
    gid_t groups[NGROUPS_MAX];
    const int n = getgroups(NGROUPS_MAX, groups);
    for (int i = 0; i < n; ++i) {
        if (groups[i] == gid) return true;
    }
    return false;
}

int accept_all(void *, const char *, const char *, const char *) { return 1; }

// An exclusive lock for one update of FILE, so that two programs updating it
// at once each read the other's result: on FILE itself, or on its folder
// while there is no FILE. The rename replaces FILE's inode, so the lock is
// checked, once held, to be still on the file the path names, and taken
// again when not. Released when it goes.
class UpdateLock {
public:
    bool take(const std::string &file, const std::string &folder, std::string *error) {
        for (;;) {
            struct stat before;
            const bool there = stat(file.c_str(), &before) == 0;
            fd_ = there ? open(file.c_str(), O_RDONLY | O_CLOEXEC)
                        : open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd_ < 0) {
                if (errno == ENOENT) continue;  // renamed away meanwhile
                *error = "cannot lock " + (there ? file : folder) + " for the update: " + strerror(errno);
                return false;
            }
            // A stop signal ends the wait with EINTR: the wait goes on, it
            // is one other update's time at most.
            while (flock(fd_, LOCK_EX) != 0) {
                if (errno == EINTR) continue;
                *error = "cannot lock " + (there ? file : folder) + " for the update: " + strerror(errno);
                return false;
            }
            struct stat held, now;
            const bool now_there = stat(file.c_str(), &now) == 0;
            if (there ? now_there && fstat(fd_, &held) == 0 && held.st_dev == now.st_dev && held.st_ino == now.st_ino
                      : !now_there) {
                return true;
            }
            close(fd_);
            fd_ = -1;
        }
    }
    ~UpdateLock() {
        if (fd_ >= 0) close(fd_);
    }

private:
    int fd_ = -1;
};

}  // namespace

std::string update_ini_text(const std::string &text, int camera, const Settings &settings) {
    std::vector<TextLine> lines = split_lines(text);
    const std::string eol = !lines.empty() && lines[0].end == "\r\n" ? "\r\n" : "\n";

    std::vector<bool> done(settings.size(), false);
    std::vector<bool> dropped(lines.size(), false);
    bool found = false;
    size_t last_setting = 0;  // index after which missing keys go
    bool inside = false;
    bool replaced = false;  // the last key read was one set here
    ini::LineReader reader;
    for (size_t i = 0; i < lines.size(); ++i) {
        const ini::Line r = reader.read(lines[i].body);
        if (r.kind == ini::Line::Section) {
            inside = camera_of(r.name) == camera;
            replaced = false;
            if (inside) {
                found = true;
                last_setting = i;
            }
            continue;
        }
        if (r.kind == ini::Line::Other || !inside) continue;
        last_setting = i;
        if (r.kind == ini::Line::Continuation) {
            // More of a value that was replaced: it would be read as a second value.
            dropped[i] = replaced;
            continue;
        }
        replaced = false;
        for (size_t k = 0; k < settings.size(); ++k) {
            if (!same(r.name, settings[k].first)) continue;
            std::string &body = lines[i].body;
            // An empty value just before a comment: the comment needs its space back.
            const bool comment_next = r.value_end < body.size() && body[r.value_end] == ';';
            body = body.substr(0, r.value_begin) + std::to_string(settings[k].second) + (comment_next ? " " : "") +
                   body.substr(r.value_end);
            done[k] = true;
            replaced = true;
        }
    }

    std::vector<TextLine> added;
    for (size_t k = 0; k < settings.size(); ++k) {
        if (!done[k]) added.push_back({settings[k].first + " = " + std::to_string(settings[k].second), eol});
    }
    // After the keys added here, an indented line that follows (a section
    // header) would be read as more of their value: they go into a section
    // of their own at the end instead.
    for (size_t i = last_setting + 1; found && !added.empty() && i < lines.size(); ++i) {
        const std::string &body = lines[i].body;
        const size_t start = body.find_first_not_of(" \t\n\v\f\r");
        if (start == std::string::npos || body[start] == ';' || body[start] == '#') continue;
        found = start == 0;
        break;
    }
    if (!found) {
        if (!lines.empty() && lines.back().end.empty()) lines.back().end = eol;
        if (!lines.empty() && lines.back().body.find_first_not_of(" \t\n\v\f\r") != std::string::npos) {
            lines.push_back({"", eol});
        }
        lines.push_back({"[camera" + std::to_string(camera) + "]", eol});
        dropped.resize(lines.size(), false);
        last_setting = lines.size() - 1;
    } else if (!added.empty() && lines[last_setting].end.empty()) {
        lines[last_setting].end = eol;
    }

    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!dropped[i]) out += lines[i].body + lines[i].end;
        if (i == last_setting) {
            for (const TextLine &l : added) out += l.body + l.end;
        }
    }
    return out;
}

bool check_write_target(const std::string &path, std::string *error, std::string *target) {
    std::string file = path;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            // The link stays; the file it leads to is the one to update.
            char *real = realpath(path.c_str(), nullptr);
            if (real == nullptr) {
                *error = "cannot follow the symlink " + path + ": " + strerror(errno);
                return false;
            }
            file = real;
            free(real);
            if (stat(file.c_str(), &st) != 0) {
                *error = "cannot write " + path + ": " + strerror(errno);
                return false;
            }
        }
        if (S_ISDIR(st.st_mode)) {
            *error = path + " is a directory, not a file";
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            *error = path + " is not a regular file (a FIFO, a device or a socket)";
            return false;
        }
        if (access(file.c_str(), R_OK | W_OK) != 0) {
            *error = "cannot write " + path + ": " + strerror(errno);
            return false;
        }
        if (geteuid() != 0 && (st.st_uid != geteuid() || !in_my_groups(st.st_gid))) {
            *error = "cannot write " + path + " keeping its owner and group (only they, or root, can)";
            return false;
        }
    } else if (errno != ENOENT) {
        *error = "cannot write " + path + ": " + strerror(errno);
        return false;
    }
    const std::string folder = folder_of(file);
    struct stat fs;
    const char *why = stat(folder.c_str(), &fs) != 0               ? strerror(errno)
                      : !S_ISDIR(fs.st_mode)                      ? "not a directory"
                      : access(folder.c_str(), W_OK | X_OK) != 0 ? strerror(errno)
                                                                  : nullptr;
    if (why != nullptr) {
        *error = "cannot write " + path + ": cannot create files in " + folder + ": " + why;
        return false;
    }
    if (target != nullptr) *target = file;
    return true;
}

bool update_ini_file(const std::string &path, int camera, const Settings &settings, std::string *error,
                     const std::function<bool()> &go_ahead) {
    return update_ini_file(path, {{camera, settings}}, error, go_ahead);
}

bool update_ini_file(const std::string &path, const std::vector<std::pair<int, Settings>> &cameras,
                     std::string *error, const std::function<bool()> &go_ahead) {
    std::string file;
    if (!check_write_target(path, error, &file)) return false;
    const std::string kept = "; " + path + " was left as it was";
    // Held from the read to the rename: no other update comes in between.
    UpdateLock lock;
    if (!lock.take(file, folder_of(file), error)) {
        *error += kept;
        return false;
    }
    std::string text, why;
    struct stat st;
    const bool exists = stat(file.c_str(), &st) == 0;
    if (exists && !ini::read_file(file, &text, &why)) {
        *error = "cannot read " + path + ": " + why;
        return false;
    }
    const int bad = ini::parse(text, accept_all, nullptr, &why);
    if (bad != 0) {
        *error = path + ":" + std::to_string(bad) + ": " + (why.empty() ? "not a valid INI line" : why) + kept;
        return false;
    }
    std::string updated = text;
    for (const auto &[camera, settings] : cameras) updated = update_ini_text(updated, camera, settings);
    const int long_line = ini::bad_line(updated, &why);
    if (long_line != 0) {
        *error = path + ":" + std::to_string(long_line) + ": the new value would make a " + why + kept;
        return false;
    }
    // Keys for a section whose next line is indented go into a section of
    // their own, which would be a second one of that camera: refused.
    const int repeated = ini::repeated_camera(updated, &why);
    if (repeated != 0) {
        *error = path + ":" + std::to_string(repeated) + ": the update would add " + why + kept;
        return false;
    }

    // A name of our own, created exclusively: nothing already there is
    // followed or consumed.
    const std::string folder = folder_of(file);
    std::string temp = folder + "/." + file.substr(file.find_last_of('/') + 1) + ".XXXXXX";
    const int fd = mkstemp(&temp[0]);
    if (fd < 0) {
        *error = "cannot create a new file in " + folder + ": " + strerror(errno) + kept;
        return false;
    }
    auto give_up = [&](const std::string &what) {
        const int saved = errno;
        close(fd);
        unlink(temp.c_str());
        *error = what + ": " + strerror(saved) + kept;
        return false;
    };
    if (exists) {
        // Owner first: a change of owner clears the set-id bits.
        if (fchown(fd, st.st_uid, st.st_gid) != 0) return give_up("cannot give the new " + path + " its owner");
        if (fchmod(fd, st.st_mode & 07777) != 0) return give_up("cannot give the new " + path + " its mode");
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        if (fchmod(fd, 0666 & ~mask) != 0) return give_up("cannot set the mode of " + path);
    }
    if (!write_all(fd, updated)) return give_up("cannot write " + temp);
    if (fsync(fd) != 0) return give_up("cannot sync " + temp);
    if (close(fd) != 0) {
        const int saved = errno;
        unlink(temp.c_str());
        *error = "cannot write " + temp + ": " + strerror(saved) + kept;
        return false;
    }
    {
        // Nothing between the last question and the rename: a stop signal
        // waits until the file is whole, either the old one or the new one.
        const common::StopSignalsHeld held;
        if (go_ahead && !go_ahead()) {
            unlink(temp.c_str());
            *error = "interrupted" + kept;
            return false;
        }
        if (rename(temp.c_str(), file.c_str()) != 0) {
            const int saved = errno;
            unlink(temp.c_str());
            *error = "cannot replace " + path + ": " + strerror(saved) + kept;
            return false;
        }
    }
    // The rename itself is durable once the folder is synced.
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0 || (fsync(dir) != 0 && errno != EINVAL)) {
        *error = "wrote " + path + ", but cannot sync its folder " + folder + ": " + strerror(errno);
        if (dir >= 0) close(dir);
        return false;
    }
    close(dir);
    return true;
}

}  // namespace ini
