#include "site.h"

#include "ini_lines.h"
#include "ini_update.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace site {

namespace {

// "camera12" -> 12; 0 when the section is no camera's.
int camera_of(const char *section) {
    if (strncasecmp(section, "camera", 6) != 0 || section[6] == '\0') return 0;
    char *end = nullptr;
    const long n = strtol(section + 6, &end, 10);
    return *end == '\0' && n >= 1 && n <= 255 ? static_cast<int>(n) : 0;
}

struct Sections {
    std::map<int, std::string> ports;
    std::map<int, bool> configured;
    std::string error;
};

bool is_false(const char *v) {
    return strcasecmp(v, "false") == 0 || strcasecmp(v, "no") == 0 || strcasecmp(v, "off") == 0 ||
           strcmp(v, "0") == 0;
}

std::vector<std::string> lines_of(const std::string &path) {
    std::string text, why;
    ini::read_file(path, &text, &why);  // a file not there: no lines
    std::istringstream in(text);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

}  // namespace

bool read_cameras(const std::string &path, std::vector<Camera> *cameras, std::string *error) {
    if (access(path.c_str(), R_OK) != 0) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    Sections s;
    // Through the reader that refuses lines the library would cut: the tail
    // of a long comment must not become a camera's port.
    std::string why;
    const int line = ini::parse_file(
        path,
        [](void *user, const char *section, const char *key, const char *value) -> int {
            auto *s = static_cast<Sections *>(user);
            const int n = camera_of(section);
            if (n == 0) return 1;
            if (strcasecmp(key, "port") == 0) {
                if (*value == '\0') {
                    s->error = "[" + std::string(section) + "] port = needs a line";
                    return 0;
                }
                s->ports[n] = value;
            } else if (strcasecmp(key, "configured") == 0) {
                s->configured[n] = !is_false(value);
            }
            return 1;
        },
        &s, &why);
    if (line != 0) {
        if (s.error.empty()) s.error = why;
        *error = path + (line > 0 ? ":" + std::to_string(line) + ": " + (s.error.empty() ? "syntax error" : s.error)
                                  : ": cannot read it: " + s.error);
        return false;
    }
    cameras->clear();
    for (const auto &[n, port] : s.ports) {
        const auto c = s.configured.find(n);
        if (c == s.configured.end() || c->second) cameras->push_back({n, port});
    }
    return true;
}

namespace {

// What one child run left behind.
struct Outcome {
    bool ok = false;
    std::string why;           // when not ok
    calib::Settings values;    // the chosen keys
    double camera_time = -1;   // seconds, < 0: not reported
    std::string errors;        // predicted error per axis, "pan 1.2 % (worst 7.8 %)"
};

// The child's result from its exit status, its output and its --write file.
Outcome read_outcome(int status, const std::string &out_path, const std::string &err_path,
                     const std::string &ini_path, int camera) {
    Outcome o;
    std::string axis;
    for (const std::string &l : lines_of(out_path)) {
        double a = 0, b = 0;
        char name[16];
        if (sscanf(l.c_str(), "measured in %lf s of camera time", &a) == 1) {
            o.camera_time = a;
        } else if (sscanf(l.c_str(), "%15[a-z]: distance", name) == 1 && l.find(": distance") != std::string::npos) {
            axis = name;
        } else if (sscanf(l.c_str(), " predicted median error %lf %%, worst %lf %%", &a, &b) == 2) {
            char text[96];
            snprintf(text, sizeof text, "%s%s %.1f %% (worst %.1f %%)", o.errors.empty() ? "" : ", ", axis.c_str(),
                     a, b);
            o.errors += text;
        }
    }
    // The child says why it stopped on its last "visca_calibrate: " line.
    const std::string prefix = "visca_calibrate: ";
    const std::string kept = "; the configuration file was left as it was";
    for (const std::string &l : lines_of(err_path)) {
        if (l.compare(0, prefix.size(), prefix) != 0) continue;
        o.why = l.substr(prefix.size());
        if (o.why.size() > kept.size() && o.why.compare(o.why.size() - kept.size(), kept.size(), kept) == 0) {
            o.why.resize(o.why.size() - kept.size());
        }
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        struct Read {
            std::string section;
            calib::Settings *values;
            std::string bad;
        } r{"camera" + std::to_string(camera), &o.values, ""};
        std::string why;
        const int line = ini::parse_file(
            ini_path,
            [](void *user, const char *section, const char *key, const char *value) -> int {
                auto *r = static_cast<Read *>(user);
                if (strcasecmp(section, r->section.c_str()) != 0) return 1;
                char *end = nullptr;
                const long v = strtol(value, &end, 10);
                if (*value == '\0' || *end != '\0') {
                    r->bad = std::string(key) + " = " + value;
                    return 0;
                }
                r->values->emplace_back(key, v);
                return 1;
            },
            &r, &why);
        if (line != 0) {
            o.values.clear();
            o.why = line < 0 ? "wrote no values" : "wrote a value that is no number: " + r.bad;
        } else if (o.values.empty()) {
            o.why = "wrote no values";
        } else {
            o.ok = true;
            o.why.clear();
        }
    } else if (o.why.empty()) {
        o.why = WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                    : "exited with status " + std::to_string(WEXITSTATUS(status));
    }
    return o;
}

// The closing table, one row per camera.
std::string table(const std::vector<Camera> &cameras, const std::vector<Outcome> &outcomes) {
    std::vector<std::vector<std::string>> rows = {{"camera", "line", "camera time", "predicted error", "values"}};
    for (size_t i = 0; i < cameras.size(); ++i) {
        const Outcome &o = outcomes[i];
        char time[32] = "-";
        if (o.ok && o.camera_time >= 0) snprintf(time, sizeof time, "%.1f s", o.camera_time);
        std::string values;
        for (const auto &[key, v] : o.values) values += (values.empty() ? "" : ", ") + key + " = " + std::to_string(v);
        rows.push_back({std::to_string(cameras[i].number), cameras[i].port, time,
                        o.ok ? (o.errors.empty() ? "-" : o.errors) : "-", o.ok ? values : "failed: " + o.why});
    }
    size_t width[4] = {0, 0, 0, 0};
    for (const auto &r : rows) {
        for (size_t c = 0; c < 4; ++c) width[c] = std::max(width[c], r[c].size());
    }
    std::string out;
    for (const auto &r : rows) {
        for (size_t c = 0; c < 4; ++c) out += r[c] + std::string(width[c] + 2 - r[c].size(), ' ');
        out += r[4] + "\n";
    }
    return out;
}

constexpr int max_jobs = 255;
volatile sig_atomic_t interrupted = 0;
// The children running now, for the signal handler to pass Ctrl-C on.
volatile pid_t running[max_jobs];

void on_interrupt(int sig) {
    interrupted = sig;
    for (int i = 0; i < max_jobs; ++i) {
        if (running[i] > 0) kill(running[i], SIGINT);
    }
}

double now() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// The options every camera's run gets: argv without the site's own.
bool forwarded(int argc, char **argv, std::vector<std::string> *out, std::string *error) {
    static const char *const with_value[] = {"--profile", "--pan-units-per-degree", "--tilt-units-per-degree",
                                             "--axes", "--lens-speed"};
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--all") continue;
        if (a == "--config" || a == "--jobs") {
            ++i;
            continue;
        }
        if (a == "--port" || a == "--write" || a == "--camera") {
            *error = a + " does not go with --all: each camera's line and section come from the --config file";
            return false;
        }
        out->push_back(a);
        if (std::find(std::begin(with_value), std::end(with_value), a) != std::end(with_value) && i + 1 < argc) {
            out->push_back(argv[++i]);
        }
    }
    return true;
}

struct Run {
    std::string dir;
    std::string config;  // the private copy every child reads
    std::vector<std::string> options;

    std::string file(int camera, const char *ext) const {
        return dir + "/camera" + std::to_string(camera) + ext;
    }
};

// Starts one camera's run; -1 with a reason when it cannot.
pid_t start(const Run &run, const Camera &c, std::string *error) {
    std::vector<std::string> args = {"visca_calibrate"};
    args.insert(args.end(), run.options.begin(), run.options.end());
    for (const std::string &a : {std::string("--port"), c.port, std::string("--camera"), std::to_string(c.number),
                                 std::string("--config"), run.config, std::string("--write"), run.file(c.number, ".ini")}) {
        args.push_back(a);
    }
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const std::string out = run.file(c.number, ".out"), err = run.file(c.number, ".err");
    fflush(stdout);
    fflush(stderr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        *error = std::string("cannot start a calibration: ") + strerror(errno);
        return -1;
    }
    if (pid == 0) {
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        // A site run that dies does not leave cameras turning.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        const int in = open("/dev/null", O_RDONLY);
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (in < 0 || o < 0 || e < 0 || dup2(in, 0) < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0) _exit(127);
        execv("/proc/self/exe", argv.data());
        dprintf(2, "visca_calibrate: cannot run /proc/self/exe: %s\n", strerror(errno));
        _exit(127);
    }
    return pid;
}

void show_output(const Camera &c, const Run &run) {
    printf("camera %d on %s failed; its output:\n", c.number, c.port.c_str());
    for (const char *ext : {".out", ".err"}) {
        for (const std::string &l : lines_of(run.file(c.number, ext))) printf("  | %s\n", l.c_str());
    }
}

}  // namespace

int calibrate_all(int argc, char **argv, const std::string &config, int jobs) {
    std::string error;
    Run run;
    if (!forwarded(argc, argv, &run.options, &error)) {
        fprintf(stderr, "visca_calibrate: %s\n", error.c_str());
        return 2;
    }
    if (config.empty()) {
        fprintf(stderr, "visca_calibrate: --all needs --config FILE, the host's configuration\n");
        return 2;
    }
    jobs = std::min(jobs, max_jobs);
    std::vector<Camera> cameras;
    // The file is read and its values' destination checked before any line
    // opens: a bad file is a bad option value.
    if (!read_cameras(config, &cameras, &error) || !calib::check_write_target(config, &error)) {
        fprintf(stderr, "visca_calibrate: %s\n", error.c_str());
        return 2;
    }
    if (cameras.empty()) {
        fprintf(stderr, "visca_calibrate: %s: no camera has its own port; nothing to calibrate\n", config.c_str());
        return 2;
    }

    const char *tmp = getenv("TMPDIR");
    run.dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/visca_calibrate.XXXXXX";
    if (mkdtemp(&run.dir[0]) == nullptr) {
        fprintf(stderr, "visca_calibrate: cannot make a folder for the cameras' runs: %s\n", strerror(errno));
        return 1;
    }
    // Every camera starts from the same snapshot of the file, whatever is
    // edited in it while they run.
    run.config = run.dir + "/config.ini";
    std::string text, why;
    const bool read = ini::read_file(config, &text, &why);
    std::ofstream copy(run.config, std::ios::binary);
    copy << text;
    copy.close();
    if (!read || !copy) {
        fprintf(stderr, "visca_calibrate: cannot copy %s to %s%s\n", config.c_str(), run.config.c_str(),
                read ? "" : (": " + why).c_str());
        std::error_code ignored;
        std::filesystem::remove_all(run.dir, ignored);
        return 1;
    }

    // Cameras sharing a line take turns on it; the lines run in parallel.
    std::map<std::string, std::deque<size_t>> by_line;
    std::vector<std::string> line_order;
    for (size_t i = 0; i < cameras.size(); ++i) {
        if (by_line[cameras[i].port].empty()) line_order.push_back(cameras[i].port);
        by_line[cameras[i].port].push_back(i);
    }
    std::deque<std::string> waiting(line_order.begin(), line_order.end());

    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigset_t stop_signals, old;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);

    std::vector<Outcome> outcomes(cameras.size());
    std::map<pid_t, std::pair<size_t, int>> children;  // pid -> camera, slot in `running`
    std::map<size_t, double> began;
    const double site_began = now();
    fprintf(stderr, "calibrating %zu camera(s) on %zu line(s), %d at a time\n", cameras.size(), line_order.size(),
            jobs);

    // Starts the next camera of `port` in `slot`; a camera that cannot be
    // started fails at once and the next one on the line is tried.
    auto start_next = [&](const std::string &port, int slot) {
        std::deque<size_t> &queue = by_line[port];
        while (!queue.empty() && !interrupted) {
            const size_t i = queue.front();
            queue.pop_front();
            sigprocmask(SIG_BLOCK, &stop_signals, &old);
            const pid_t pid = start(run, cameras[i], &error);
            if (pid > 0) {
                running[slot] = pid;
                children[pid] = {i, slot};
                began[i] = now();
            }
            sigprocmask(SIG_SETMASK, &old, nullptr);
            if (pid > 0) {
                fprintf(stderr, "camera %d on %s: calibrating\n", cameras[i].number, port.c_str());
                return true;
            }
            outcomes[i].why = error;
        }
        return false;
    };
    auto fill = [&]() {
        for (int slot = 0; slot < jobs && !waiting.empty() && !interrupted; ++slot) {
            if (running[slot] > 0) continue;
            while (!waiting.empty() && !start_next(waiting.front(), slot)) waiting.pop_front();
            if (!waiting.empty()) waiting.pop_front();
        }
    };
    fill();
    while (!children.empty()) {
        int status = 0;
        const pid_t pid = waitpid(-1, &status, 0);
        if (pid < 0) {
            if (errno == EINTR) continue;
            fprintf(stderr, "visca_calibrate: waiting for the cameras' runs: %s\n", strerror(errno));
            break;
        }
        const auto child = children.find(pid);
        if (child == children.end()) continue;
        const auto [i, slot] = child->second;
        sigprocmask(SIG_BLOCK, &stop_signals, &old);
        running[slot] = 0;
        children.erase(child);
        sigprocmask(SIG_SETMASK, &old, nullptr);
        const Camera &c = cameras[i];
        outcomes[i] = read_outcome(status, run.file(c.number, ".out"), run.file(c.number, ".err"),
                                   run.file(c.number, ".ini"), c.number);
        if (outcomes[i].ok) {
            fprintf(stderr, "camera %d on %s: calibrated in %.0f s\n", c.number, c.port.c_str(), now() - began[i]);
        } else {
            show_output(c, run);
        }
        // The line is free: its next camera, or another line.
        if (!start_next(c.port, slot)) fill();
    }
    for (size_t i = 0; i < cameras.size(); ++i) {
        if (!outcomes[i].ok && outcomes[i].why.empty()) outcomes[i].why = "not started (interrupted)";
    }

    printf("\n%s", table(cameras, outcomes).c_str());
    std::error_code ignored;
    std::filesystem::remove_all(run.dir, ignored);
    const size_t good = static_cast<size_t>(std::count_if(outcomes.begin(), outcomes.end(),
                                                          [](const Outcome &o) { return o.ok; }));
    printf("%zu of %zu camera(s) calibrated in %.0f s\n", good, cameras.size(), now() - site_began);
    if (interrupted) {
        fprintf(stderr, "visca_calibrate: interrupted; the configuration file was left as it was\n");
        return 128 + interrupted;
    }
    std::vector<std::pair<int, calib::Settings>> values;
    for (size_t i = 0; i < cameras.size(); ++i) {
        if (outcomes[i].ok) values.emplace_back(cameras[i].number, outcomes[i].values);
    }
    if (!values.empty()) {
        if (!calib::update_ini_file(config, values, &error)) {
            fprintf(stderr, "visca_calibrate: %s; no camera's values were written\n", error.c_str());
            return 1;
        }
        printf("wrote the values of %zu camera(s) into %s\n", values.size(), config.c_str());
    }
    return good == cameras.size() ? 0 : 1;
}

}  // namespace site
