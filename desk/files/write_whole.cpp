#include "write_whole.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

bool write_whole(const std::string &path, const std::string &text, std::string *error) {
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(&temp[0]);
    if (fd < 0) {
        *error = "cannot write " + path + ": " + strerror(errno);
        return false;
    }
    // mkstemp makes the file private; a page is for others to read.
    int why = fchmod(fd, 0644) == 0 ? 0 : errno;
    for (size_t done = 0; why == 0 && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            why = n == 0 ? EIO : errno;
        }
    }
    if (close(fd) != 0 && why == 0) why = errno;
    if (why == 0 && rename(temp.c_str(), path.c_str()) != 0) why = errno;
    if (why == 0) return true;
    *error = "cannot write " + path + ": " + strerror(why);
    unlink(temp.c_str());
    return false;
}

}  // namespace files
