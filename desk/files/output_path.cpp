#include "output_path.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

bool can_write(const std::string &path, std::string *error) {
    auto refuse = [&](const std::string &why) {
        *error = "cannot write " + path + ": " + why;
        return false;
    };
    if (path.empty()) return refuse("no file name");
    // Opened or created for real (root passes every permission check, yet
    // not a read-only or virtual file system); a new file is removed again.
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return refuse("it is a folder");
        if (!S_ISREG(st.st_mode)) return access(path.c_str(), W_OK) == 0 || refuse(strerror(errno));
        const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return refuse(strerror(errno));
        close(fd);
        return true;
    }
    if (errno != ENOENT) return refuse(strerror(errno));
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return refuse(strerror(errno));
    close(fd);
    unlink(path.c_str());
    return true;
}

}  // namespace files
