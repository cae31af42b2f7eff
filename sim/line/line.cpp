#include "line.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

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
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot open " + device + ": " + strerror(errno);
        return -1;
    }
    if (!isatty(fd)) {
        *error = device + " is not a serial device";
        close(fd);
        return -1;
    }
    std::string why;
    if (!configure(fd, settings, &why)) {
        *error = device + ": " + why;
        close(fd);
        return -1;
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

double monotonic_seconds() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace line
