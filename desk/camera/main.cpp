// virtual_camera: the virtual VISCA camera on a serial line or the network.
//
// It serves a real serial device (--port), a pseudo-terminal it creates
// (--pty, whose path it prints first, for `tavrinode --port PATH`) or a
// network endpoint (--listen, whose address it prints first), prints one
// line per message received, and on exit (Ctrl-C or SIGTERM) prints the final
// state and, if asked, writes it to a file and draws the session.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>

#include "camera.h"
#include "line.h"
#include "net_address.h"
#include "net_socket.h"
#include "output_path.h"
#include "pacer.h"
#include "reply_gate.h"
#include "visca.h"

namespace {

volatile sig_atomic_t stop_requested = 0;

// How long beyond its wire time a reply may wait for the line to take it.
constexpr double write_margin = 0.2;

// The signal's number: the exit status says which one ended the session.
void on_stop_signal(int sig) { stop_requested = sig; }

struct Options {
    std::string port;
    bool pty = false;
    std::string listen;
    bool quiet = false;
    bool positions = false;
    std::string timeline;
    std::string state_file;
    camera::CameraModel model;
    // Scale overrides of a proportional profile, applied after --profile.
    double pan_dps = 0, tilt_dps = 0, zoom_ms = 0, focus_ms = 0;
};

void usage(FILE *out) {
    fputs(
        "usage: virtual_camera (--pty | --port DEVICE | --listen ADDRESS) [options]\n"
        "  --pty              create a pseudo-terminal and print its path\n"
        "  --port DEVICE      serve a real serial device (9600 8N1, raw)\n"
        "  --listen ADDRESS   be a network camera: udp:[HOST:]PORT (with the IP\n"
        "                     header), udp-raw:[HOST:]PORT or tcp:[HOST:]PORT; HOST\n"
        "                     defaults to 127.0.0.1, PORT 0 takes a free one; prints\n"
        "                     \"listen ADDRESS\"; tcp: serves up to 8 clients,\n"
        "                     replies to the one that spoke last\n"
        "  --profile NAME|FILE  camera profile: proportional (default), linear,\n"
        "                     geometric, stepped, or a profile file\n"
        "  --replies          send acknowledge, completion and error replies\n"
        "  --buffer-limit     two commands in execution at most; drop the rest\n"
        "  --exec-ms N        how long a command is in execution (default 30)\n"
        "  --pan-dps X        pan degrees per second at the full speed byte\n"
        "                     (default 14.4928 = 1000/69 at 0x12)\n"
        "  --tilt-dps X       tilt degrees per second at the full speed byte\n"
        "                     (default 14.7059 = 1000/68 at 0x0E)\n"
        "  --zoom-ms N        full zoom travel at speed 7, ms (default 10500)\n"
        "  --focus-ms N       full focus travel at speed 7, ms (default 1500)\n"
        "                     (these four: proportional profiles only)\n"
        "  --timeline FILE    write a picture of the session (SVG) on exit\n"
        "  --state FILE       write the final state as key=value lines on exit\n"
        "  --positions        after each message, print where the axes are\n"
        "  --quiet            do not print the messages received\n"
        "Runs until Ctrl-C or SIGTERM (exit status 128+N after signal N).\n",
        out);
}

bool parse_number(const char *text, double *out) {
    char *end = nullptr;
    errno = 0;
    const double v = strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(v > 0) || v > 1e7) {
        return false;
    }
    *out = v;
    return true;
}

bool parse_options(int argc, char **argv, Options *o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char *what) -> const char * {
            if (i + 1 >= argc) {
                fprintf(stderr, "virtual_camera: %s needs %s\n", a.c_str(), what);
                return nullptr;
            }
            // An empty value (a script's unset variable) names nothing.
            if (*argv[i + 1] == '\0') {
                fprintf(stderr, "virtual_camera: %s: the value is empty\n", a.c_str());
                return nullptr;
            }
            return argv[++i];
        };
        auto number = [&](double *out) {
            const char *v = value("a number");
            if (v == nullptr) return false;
            if (!parse_number(v, out)) {
                fprintf(stderr, "virtual_camera: %s: '%s' is not a positive number\n", a.c_str(), v);
                return false;
            }
            return true;
        };
        if (a == "--pty") {
            o->pty = true;
        } else if (a == "--port") {
            const char *v = value("a device");
            if (v == nullptr) return false;
            o->port = v;
        } else if (a == "--listen") {
            const char *v = value("a network line (udp:PORT, udp-raw:PORT, tcp:PORT)");
            if (v == nullptr) return false;
            o->listen = v;
        } else if (a == "--replies") {
            o->model.replies = true;
        } else if (a == "--buffer-limit") {
            o->model.buffer_limit = true;
        } else if (a == "--exec-ms") {
            if (!number(&o->model.exec_ms)) return false;
        } else if (a == "--profile") {
            const char *v = value("a profile name or file");
            if (v == nullptr) return false;
            std::string error;
            if (!camera::load_profile(v, &o->model.profile, &error)) {
                fprintf(stderr, "virtual_camera: %s\n", error.c_str());
                return false;
            }
        } else if (a == "--pan-dps") {
            if (!number(&o->pan_dps)) return false;
        } else if (a == "--tilt-dps") {
            if (!number(&o->tilt_dps)) return false;
        } else if (a == "--zoom-ms") {
            if (!number(&o->zoom_ms)) return false;
        } else if (a == "--focus-ms") {
            if (!number(&o->focus_ms)) return false;
        } else if (a == "--timeline") {
            const char *v = value("a file name");
            if (v == nullptr) return false;
            o->timeline = v;
        } else if (a == "--state") {
            const char *v = value("a file name");
            if (v == nullptr) return false;
            o->state_file = v;
        } else if (a == "--positions") {
            o->positions = true;
        } else if (a == "--quiet") {
            o->quiet = true;
        } else if (a == "--help" || a == "-h") {
            usage(stdout);
            exit(0);
        } else {
            fprintf(stderr, "virtual_camera: unknown option '%s' (virtual_camera --help lists the options)\n",
                    a.c_str());
            return false;
        }
    }
    camera::Profile &p = o->model.profile;
    const struct {
        const char *option;
        double value;
        bool proportional;
        double *field;
    } scales[] = {{"--pan-dps", o->pan_dps, p.pan.speed.proportional, &p.pan.speed.full_rate},
                  {"--tilt-dps", o->tilt_dps, p.tilt.speed.proportional, &p.tilt.speed.full_rate},
                  {"--zoom-ms", o->zoom_ms, p.zoom.proportional, &p.zoom.full_travel_ms},
                  {"--focus-ms", o->focus_ms, p.focus.proportional, &p.focus.full_travel_ms}};
    for (const auto &s : scales) {
        if (s.value == 0) continue;
        if (!s.proportional) {
            fprintf(stderr, "virtual_camera: %s: profile '%s' has a table there, not a proportional speed\n",
                    s.option, p.name.c_str());
            return false;
        }
        *s.field = s.value;
    }
    if (int(o->pty) + int(!o->port.empty()) + int(!o->listen.empty()) != 1) {
        fprintf(stderr, "virtual_camera: give one of --pty, --port DEVICE and --listen ADDRESS (--help lists the "
                        "options)\n");
        return false;
    }
    // A bad address or an output that cannot be written is said now, not
    // when the session ends.
    std::string error;
    if (!o->listen.empty() && !line::parse_net_address(o->listen, line::Side::Listening, &error)) {
        fprintf(stderr, "virtual_camera: %s\n", error.c_str());
        return false;
    }
    for (const std::string *path : {&o->timeline, &o->state_file}) {
        if (!path->empty() && !files::can_write(*path, &error)) {
            fprintf(stderr, "virtual_camera: %s\n", error.c_str());
            return false;
        }
    }
    return true;
}

void print_received(const camera::Received &r) {
    std::string line = visca::format_time(r.time) + "  " + visca::hex(r.message.bytes) + "  " +
                       visca::describe(r.message);
    if (!r.note.empty()) {
        line += "  [" + r.note + "]";
    }
    puts(line.c_str());
}

}  // namespace

int main(int argc, char **argv) {
    Options o;
    // The reason alone: the usage would push it off the screen.
    if (!parse_options(argc, argv, &o)) return 2;
    setvbuf(stdout, nullptr, _IOLBF, 0);

    // Signals are taken only inside ppoll, so a stop request never lands
    // half-way through handling a message.
    sigset_t stop_signals, wait_mask;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop_signals, &wait_mask);
    sigdelset(&wait_mask, SIGINT);
    sigdelset(&wait_mask, SIGTERM);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_stop_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    line::Settings settings;  // 9600 8N1, as the driver's port settings say
    std::string error;
    line::Pty pty;
    int fd = -1;
    std::unique_ptr<line::Listener> listener;
    if (!o.listen.empty()) {
        const auto net = line::parse_net_address(o.listen, line::Side::Listening, &error);
        if (net) listener = line::Listener::open(*net, &error);
        if (!listener) {
            fprintf(stderr, "virtual_camera: %s\n", error.c_str());
            return 1;
        }
        printf("listen %s\n", listener->where().c_str());
    } else if (o.pty) {
        if (!line::open_pty(settings, &pty, &error)) {
            fprintf(stderr, "virtual_camera: %s\n", error.c_str());
            return 1;
        }
        fd = pty.master;
        printf("pty %s\n", pty.path.c_str());
    } else {
        fd = line::open_serial(o.port, settings, &error);
        if (fd < 0) {
            fprintf(stderr, "virtual_camera: %s\n", error.c_str());
            return 1;
        }
        printf("port %s\n", o.port.c_str());
    }

    // Writes wait in ppoll, never in write(): a line nobody reads must not
    // hold the camera up.
    if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);

    camera::VirtualCamera camera(o.model);
    camera::Pacer pacer(line::byte_seconds(settings));
    visca::Assembler assembler;
    const double start = line::monotonic_seconds();
    auto now = [&] { return line::monotonic_seconds() - start; };
    int status = 0;
    bool stalled = false;    // the line did not take the last bytes
    bool said_dropped = false;  // during this stall
    camera::ReplyGate gate;
    visca::Kind last_inquiry = visca::Kind::Unknown;  // names a lens position reply

    auto handle = [&](const std::vector<visca::Assembler::Piece> &pieces, double t) {
        for (const auto &piece : pieces) {
            if (piece.type == visca::Assembler::Piece::Message) {
                const camera::Received &r = camera.receive(piece.bytes, t);
                if (r.message.is_inquiry()) last_inquiry = r.message.kind;
                if (!o.quiet) print_received(r);
                if (o.positions) {
                    const double *p = camera.state().position.axis;
                    printf("%11s  at pan %.4f tilt %.4f zoom %.2f focus %.2f\n", "", p[0], p[1], p[2], p[3]);
                }
            } else if (!o.quiet) {
                const char *what = piece.type == visca::Assembler::Piece::Stray ? "stray bytes outside a frame"
                                   : piece.type == visca::Assembler::Piece::Overlong
                                       ? "no terminator within 16 bytes, discarded"
                                       : "unterminated frame";
                printf("%s  %s  %s\n", visca::format_time(t).c_str(), visca::hex(piece.bytes).c_str(), what);
            }
        }
    };

    while (!stop_requested) {
        struct timespec timeout;
        struct timespec *wait = nullptr;
        double next = camera.next_reply_time();
        if (pacer.next_time() >= 0) next = next < 0 ? pacer.next_time() : std::min(next, pacer.next_time());
        if (next >= 0) {
            const double in = std::max(0.0, next - now());
            timeout.tv_sec = static_cast<time_t>(in);
            timeout.tv_nsec = static_cast<long>((in - static_cast<double>(timeout.tv_sec)) * 1e9);
            wait = &timeout;
        }
        // A reply the line has begun is finished as soon as it has room.
        const short events = static_cast<short>(POLLIN | (gate.owing() ? POLLOUT : 0));
        struct pollfd p = {listener ? listener->fd() : fd, events, 0};
        const int n = ppoll(&p, 1, wait, &wait_mask);
        if (n < 0 && errno != EINTR) {
            fprintf(stderr, "virtual_camera: waiting for the line failed: %s\n", strerror(errno));
            status = 1;
            break;
        }
        // A stop signal that came while the line kept ppoll busy is still
        // pending: ppoll only lets it through when it has to wait.
        const struct timespec zero = {0, 0};
        const int pending = sigtimedwait(&stop_signals, nullptr, &zero);
        if (pending > 0) stop_requested = pending;
        if (n > 0 && listener && p.revents != 0) {
            line::Listener::Input in;
            if (!listener->read(&in, &error)) {
                fprintf(stderr, "virtual_camera: %s\n", error.c_str());
                status = 1;
                break;
            }
            if (!in.note.empty() && !o.quiet) printf("%s  %s\n", visca::format_time(now()).c_str(), in.note.c_str());
            if (in.datagram) {
                visca::Assembler one;  // a datagram holds whole messages
                handle(one.feed(in.bytes.data(), in.bytes.size()), now());
                handle(one.finish(), now());
            }
            handle(in.pieces, now());
            continue;
        }
        if (n > 0 && (p.revents & POLLIN) != 0) {
            uint8_t buf[256];
            const ssize_t got = read(fd, buf, sizeof buf);
            if (got < 0 && errno != EINTR && errno != EAGAIN && errno != EIO) {
                fprintf(stderr, "virtual_camera: reading the line failed: %s\n", strerror(errno));
                status = 1;
                break;
            }
            if (got > 0) {
                handle(assembler.feed(buf, static_cast<size_t>(got)), now());
                continue;
            }
        }
        if (n > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            // A pseudo-terminal whose other side has gone: the session is over.
            printf("the other end closed the line\n");
            break;
        }
        const double t = now();
        for (const camera::Reply &reply : camera.take_replies(t)) {
            // A network camera sends each reply whole when it is due; on a
            // serial line the bytes follow at the line's pace.
            if (listener && !listener->send(reply.bytes.data(), reply.bytes.size(), &error)) {
                fprintf(stderr, "virtual_camera: reply not sent: %s\n", error.c_str());
                continue;
            }
            if (!listener) pacer.push(reply.bytes, reply.time);
            if (!o.quiet) {
                printf("%s  -> %s  %s\n", visca::format_time(reply.time).c_str(),
                       visca::hex(reply.bytes).c_str(), visca::describe(visca::decode(reply.bytes), last_inquiry).c_str());
            }
        }
        const visca::Bytes out = gate.next(pacer.due(t));
        if (!out.empty()) {
            // Replies the line does not take in time are dropped, as a real
            // camera's are lost on a wire nobody listens to. While it stalls,
            // each write gets its wire time only, so the camera keeps pace.
            const double deadline = line::monotonic_seconds() +
                                    static_cast<double>(out.size()) * line::byte_seconds(settings) +
                                    (stalled ? 0.0 : write_margin);
            size_t written = 0;
            const bool done = line::write_bounded(fd, out.data(), out.size(), deadline, &wait_mask, &error,
                                                  &written) == line::WriteResult::Done;
            const size_t dropped_before = gate.replies_dropped();
            gate.took(written);
            // Said once per stall each.
            if (!done && !stalled && gate.owing()) {
                fprintf(stderr, "virtual_camera: the line stopped inside a reply: %s; the rest goes first\n",
                        error.c_str());
            }
            if (!done && !said_dropped && gate.replies_dropped() > dropped_before) {
                fprintf(stderr, "virtual_camera: replies dropped: %s\n", error.c_str());
                said_dropped = true;
            }
            stalled = !done;
            if (done) said_dropped = false;
        }
    }

    const double end = now();
    handle(assembler.finish(), end);
    camera.advance(end);
    printf("final: %s\n", camera.summary().c_str());
    if (gate.bytes_dropped() > 0) {
        printf("reply bytes dropped: %zu (the line did not take them; %zu whole replies)\n", gate.bytes_dropped(),
               gate.replies_dropped());
    }
    if (gate.cut()) printf("reply cut: the line took the start of the last reply and not its end\n");
    if (listener && listener->datagrams()) printf("datagrams dropped: %u\n", listener->dropped());
    if (!o.state_file.empty()) {
        std::ofstream out(o.state_file);
        out << camera.state_lines();
        if (listener && listener->datagrams()) out << "datagrams_dropped=" << listener->dropped() << "\n";
        if (!out) {
            fprintf(stderr, "virtual_camera: cannot write %s\n", o.state_file.c_str());
            status = 1;
        }
    }
    if (!o.timeline.empty()) {
        if (!camera::write_timeline(o.timeline, o.model, camera.history(), end, &error)) {
            fprintf(stderr, "virtual_camera: %s\n", error.c_str());
            status = 1;
        } else {
            printf("timeline written to %s\n", o.timeline.c_str());
        }
    }
    if (pty.slave >= 0) close(pty.slave);
    if (fd >= 0) close(fd);
    // As for every desk program: a signal's status wins, the state and the
    // picture written all the same.
    return stop_requested != 0 ? 128 + stop_requested : status;
}
