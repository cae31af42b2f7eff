#include "line.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

namespace line {

namespace {

bool baud_constant(long baud, speed_t *out) {
    static const struct {
        long baud;
        speed_t constant;
    } table[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
                 {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};
    for (const auto &row : table) {
        if (row.baud == baud) {
            *out = row.constant;
            return true;
        }
    }
    return false;
}

bool configure(int fd, const Settings &s, std::string *error) {
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0) {
        *error = std::string("cannot read the line settings: ") + strerror(errno);
        return false;
    }
    cfmakeraw(&tio);
    speed_t speed;
    if (!baud_constant(s.baud, &speed)) {
        *error = "unsupported baud rate " + std::to_string(s.baud);
        return false;
    }
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
    switch (s.data_bits) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    case 8: tio.c_cflag |= CS8; break;
    default:
        *error = "unsupported data bits " + std::to_string(s.data_bits);
        return false;
    }
    if (s.stop_bits == 2) {
        tio.c_cflag |= CSTOPB;
    } else if (s.stop_bits != 1) {
        *error = "unsupported stop bits " + std::to_string(s.stop_bits);
        return false;
    }
    if (s.parity == 'E') {
        tio.c_cflag |= PARENB;
    } else if (s.parity == 'O') {
        tio.c_cflag |= PARENB | PARODD;
    } else if (s.parity != 'N') {
        *error = std::string("unsupported parity ") + s.parity;
        return false;
    }
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        *error = std::string("cannot apply the line settings: ") + strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

int open_serial(const std::string &device, const Settings &settings, std::string *error) {
    // Without O_NONBLOCK the open of a port whose carrier detect is low
    // waits for the carrier; it is cleared once CLOCAL is set.
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *error = "cannot open " + device + ": " + strerror(errno);
        return -1;
    }
    auto fail = [&](const std::string &why) {
        *error = why;
        close(fd);
        return -1;
    };
    if (!isatty(fd)) return fail(device + " is not a serial device");
    // One program a line: two writing one line would garble each other's frames.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return fail(errno == EWOULDBLOCK ? device + ": the line is in use by another program (it holds the lock)"
                                         : "cannot lock " + device + ": " + strerror(errno));
    }
    std::string why;
    if (!configure(fd, settings, &why)) return fail(device + ": " + why);
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return fail(device + ": cannot make it blocking: " + strerror(errno));
    }
    return fd;
}

bool open_pty(const Settings &settings, Pty *pty, std::string *error) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        *error = std::string("cannot create a pseudo-terminal: ") + strerror(errno);
        if (master >= 0) close(master);
        return false;
    }
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0) {
        *error = std::string("cannot name the pseudo-terminal: ") + strerror(errno);
        close(master);
        return false;
    }
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    std::string why;
    if (slave < 0 || !configure(slave, settings, &why)) {
        *error = std::string("cannot set up ") + name + ": " + (slave < 0 ? strerror(errno) : why);
        if (slave >= 0) close(slave);
        close(master);
        return false;
    }
    pty->master = master;
    pty->slave = slave;
    pty->path = name;
    return true;
}

bool write_all(int fd, const uint8_t *bytes, size_t length, std::string *error) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = write(fd, bytes + done, length - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            *error = std::string("write failed: ") + strerror(errno);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (isatty(fd)) {
        while (tcdrain(fd) != 0) {
            if (errno != EINTR) {
                *error = std::string("waiting for the line failed: ") + strerror(errno);
                return false;
            }
        }
    }
    return true;
}

namespace {

bool is_lost(int error) { return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE; }

// Waits for `events` on `fd` until `deadline`; 1 ready, 0 deadline, -1
// interrupted, -2 hang-up or error on the descriptor.
int wait_until(int fd, short events, double deadline, const sigset_t *wait_mask) {
    const double left = deadline - monotonic_seconds();
    if (left <= 0) return 0;
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(left);
    ts.tv_nsec = static_cast<long>((left - static_cast<double>(ts.tv_sec)) * 1e9);
    struct pollfd p = {fd, events, 0};
    const int n = ppoll(&p, 1, &ts, wait_mask);
    if (n < 0) return errno == EINTR ? -1 : -2;
    if (n == 0) return 0;
    if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return -2;
    return 1;
}

}  // namespace

WriteResult write_bounded(int fd, const uint8_t *bytes, size_t length, double deadline, const sigset_t *wait_mask,
                          std::string *error, size_t *written) {
    size_t done = 0, unused = 0;
    size_t &taken = written != nullptr ? *written : unused;
    taken = 0;
    while (done < length) {
        const ssize_t n = write(fd, bytes + done, length - done);
        if (n >= 0) {
            done += static_cast<size_t>(n);
            taken = done;
            continue;
        }
        if (is_lost(errno)) {
            *error = strerror(errno);
            return WriteResult::Lost;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            *error = std::string("write failed: ") + strerror(errno);
            return WriteResult::Failed;
        }
        const int w = wait_until(fd, POLLOUT, deadline, wait_mask);
        if (w == 0) {
            *error = "the line took " + std::to_string(done) + " of " + std::to_string(length) +
                     " bytes in time (nothing reads it?)";
            return WriteResult::TimedOut;
        }
        if (w == -1) {
            *error = "interrupted while the line was not taking bytes";
            return WriteResult::Interrupted;
        }
        if (w == -2) {
            *error = "hang-up";
            return WriteResult::Lost;
        }
    }
    if (!isatty(fd)) return WriteResult::Done;
    // tcdrain cannot be bounded, so the output queue is watched instead; a
    // pseudo-terminal's queue is empty at once.
    while (true) {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0) {
            if (is_lost(errno)) {
                *error = strerror(errno);
                return WriteResult::Lost;
            }
            // A device that cannot tell its queue: the bytes were handed over.
            return WriteResult::Done;
        }
        if (queued <= 0) return WriteResult::Done;
        const double now = monotonic_seconds();
        if (now >= deadline) {
            *error = std::to_string(queued) + " bytes still waiting to leave (flow stopped?)";
            return WriteResult::TimedOut;
        }
        const double step = std::min(deadline - now, 0.001);
        struct timespec ts = {0, static_cast<long>(step * 1e9)};
        if (ppoll(nullptr, 0, &ts, wait_mask) < 0 && errno == EINTR) {
            *error = "interrupted while the bytes were leaving";
            return WriteResult::Interrupted;
        }
    }
}

double byte_seconds(const Settings &s) {
    const int bits = 1 + s.data_bits + (s.parity == 'N' ? 0 : 1) + s.stop_bits;
    return s.baud > 0 ? bits / static_cast<double>(s.baud) : 0;
}

double monotonic_seconds() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace line
