// Where each slot's frames go: the line given by --port or --pty, a camera
// section's own `port`, or, without a line, a built-in virtual camera per
// configured slot.
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <unistd.h>

#include <map>

#include "runtime.h"

namespace host {

namespace {

// The driver's port settings, as the line is to be opened.
bool line_settings(const Descriptor &d, line::Settings *s, std::string *error) {
    if (d.port == nullptr) {
        *error = "the driver gives no port settings";
        return false;
    }
    const std::string type = d.port->type ? d.port->type : "";
    const std::string parity = d.port->parity ? d.port->parity : "";
    if (type != "RS232") {
        *error = "unsupported line type '" + type + "'";
        return false;
    }
    s->baud = static_cast<long>(d.port->baud);
    s->data_bits = static_cast<int>(d.port->data_bits);
    s->stop_bits = static_cast<int>(d.port->stop_bits);
    if (parity == "None") {
        s->parity = 'N';
    } else if (parity == "Even") {
        s->parity = 'E';
    } else if (parity == "Odd") {
        s->parity = 'O';
    } else {
        *error = "unsupported parity '" + parity + "'";
        return false;
    }
    return true;
}

std::string seconds_text(double seconds) {
    char buf[32];
    snprintf(buf, sizeof buf, "%g s", seconds);
    return buf;
}

// Frames written before a program has opened the other side would be lost
// or arrive all at once, so the host waits. While no one holds the other
// side, the master reports a hang-up; that is what is watched.
bool wait_for_other_side(line::Pty *pty, double seconds, std::string *error) {
    close(pty->slave);
    pty->slave = -1;
    say("waiting up to " + seconds_text(seconds) + " for a program to open " + pty->path);
    const double deadline = line::monotonic_seconds() + seconds;
    while (true) {
        if (interrupts > 0) {
            *error = "interrupted while waiting for a program to open " + pty->path;
            return false;
        }
        // The hang-up is reported at once, so the look is immediate and
        // the wait between looks is a plain one.
        struct pollfd p = {pty->master, POLLIN, 0};
        const struct timespec now = {0, 0}, step = {0, 20000000};
        ppoll(&p, 1, &now, &wait_mask);
        if ((p.revents & POLLHUP) == 0 && interrupts == 0) break;
        ppoll(nullptr, 0, &step, &wait_mask);
        if (line::monotonic_seconds() > deadline) {
            *error = "no program opened " + pty->path + " within " + seconds_text(seconds) +
                     " (--pty-wait 0 does not wait)";
            return false;
        }
    }
    // Held from now on, so that the other program may close and reopen it.
    pty->slave = open(pty->path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    return true;
}

}  // namespace

Port *line_for(const Runtime &r, int slot) {
    if (slot < 0 || static_cast<size_t>(slot) >= r.lines.size()) return nullptr;
    return r.lines[static_cast<size_t>(slot)].get();
}

bool open_lines(Runtime &r, std::string *error) {
    const Options &o = r.options;
    bool any_line = o.pty || !o.port_device.empty();
    for (const std::string &p : r.config.ports) any_line = any_line || !p.empty();
    LineContext context;
    context.start = r.start;
    context.wait_mask = &wait_mask;
    context.reconnect = o.reconnect;
    if (o.trace) context.replies = [](const std::string &text) { say(text); };
    if (any_line && !line_settings(r.descriptor, &context.settings, error)) return false;

    // Lines by their text, so that slots naming the same device share it.
    std::map<std::string, std::shared_ptr<Port>> opened;
    std::shared_ptr<Port> common;
    if (o.pty) {
        line::Pty pty;
        if (!line::open_pty(context.settings, &pty, error)) return false;
        say("pty " + pty.path);
        if (o.pty_wait > 0 && !wait_for_other_side(&pty, o.pty_wait, error)) {
            close(pty.master);
            return false;
        }
        common = make_line_port(pty.master, pty.slave, "pseudo-terminal " + pty.path, "", context);
    } else if (!o.port_device.empty()) {
        common = open_line_port(o.port_device, context, error);
        if (!common) return false;
        opened[o.port_device] = common;
    }
    r.lines.assign(r.config.cameras, nullptr);
    for (size_t s = 0; s < r.config.cameras; ++s) {
        const std::string &device = s < r.config.ports.size() ? r.config.ports[s] : std::string();
        if (!device.empty()) {
            auto &line = opened[device];
            if (!line) {
                line = open_line_port(device, context, error);
                if (!line) {
                    *error = "camera " + std::to_string(s + 1) + ": " + *error;
                    return false;
                }
            }
            r.lines[s] = line;
        } else if (common) {
            r.lines[s] = common;
        } else if (r.config.configured[s]) {
            r.lines[s] = make_camera_port(o.camera_model, elapsed, context.replies);
        }
    }
    return true;
}

}  // namespace host
