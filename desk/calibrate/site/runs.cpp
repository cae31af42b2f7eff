#include "runs.h"

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
#include <fstream>
#include <map>
#include <sstream>

#include "camera_section.h"
#include "ini_lines.h"
#include "ini_record.h"
#include "ini_values.h"
#include "stop_signals.h"

namespace site {

namespace {

std::vector<std::string> lines_of(const std::string &path) {
    std::string text, why;
    ini::read_file(path, &text, &why);  // a file not there: no lines
    std::istringstream in(text);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

// The child's summary lines: camera time, each axis's predicted error, the
// check's verdict and its per-axis lines.
void read_summary(const std::string &out_path, Outcome *o) {
    std::string axis;
    for (const std::string &l : lines_of(out_path)) {
        double a = 0, b = 0;
        char name[16];
        // The landing check's total comes after the measuring's and includes it.
        if (sscanf(l.c_str(), "measured in %lf s of camera time", &a) == 1 ||
            sscanf(l.c_str(), "camera time with the landing check: %lf s", &a) == 1) {
            o->camera_time = a;
        } else if (sscanf(l.c_str(), "%15[a-z]: distance", name) == 1 && l.find(": distance") != std::string::npos) {
            axis = name;
        } else if (l.compare(0, 15, "verdict camera ") == 0 && l.find(": ") != std::string::npos) {
            o->verdict = l.substr(l.find(": ") + 2);
        } else if (l.find(" checked: ") != std::string::npos) {
            o->checked.push_back(l);
        } else if (sscanf(l.c_str(), " predicted median error %lf %%, worst %lf %%", &a, &b) == 2) {
            char text[96];
            snprintf(text, sizeof text, "%s%s %.1f %% (worst %.1f %%)", o->errors.empty() ? "" : ", ", axis.c_str(),
                     a, b);
            o->errors += text;
        }
    }
}

// The child says why it stopped on its last "visca_calibrate: " line.
std::string read_why(const std::string &err_path) {
    const std::string prefix = "visca_calibrate: ";
    const std::string kept = "; the configuration file was left as it was";
    std::string why;
    for (const std::string &l : lines_of(err_path)) {
        if (l.compare(0, prefix.size(), prefix) != 0) continue;
        why = l.substr(prefix.size());
        if (why.size() > kept.size() && why.compare(why.size() - kept.size(), kept.size(), kept) == 0) {
            why.resize(why.size() - kept.size());
        }
    }
    return why;
}

// The values a successful child wrote into its --write file, with its record.
void read_written(const std::string &ini_path, int camera, Outcome *o) {
    struct Read {
        int camera;
        ini::Settings *values;
        std::string bad;
    } r{camera, &o->values, ""};
    std::string why;
    const int line = ini::parse_file(
        ini_path,
        [](void *user, const char *section, const char *key, const char *value) -> int {
            auto *r = static_cast<Read *>(user);
            if (ini::camera_of(section) != r->camera) return 1;
            long v = 0;
            if (!ini::read_long(value, &v)) {
                r->bad = std::string(key) + " = " + value;
                return 0;
            }
            r->values->emplace_back(key, v);
            return 1;
        },
        &r, &why);
    if (line != 0) {
        o->values.clear();
        o->why = line < 0 ? "wrote no values" : "wrote a value that is no number: " + r.bad;
    } else if (o->values.empty()) {
        o->why = "wrote no values";
    } else {
        o->ok = true;
        o->why.clear();
        std::string text;
        if (ini::read_file(ini_path, &text, &why)) o->record = ini::read_record(text, camera);
    }
}

// The child's result from its exit status, its output and its --write file.
Outcome read_outcome(int status, const std::string &out_path, const std::string &err_path,
                     const std::string &ini_path, int camera, bool check) {
    Outcome o;
    read_summary(out_path, &o);
    o.why = read_why(err_path);
    if (check) {
        // A check writes nothing: its verdict is the outcome.
        o.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && o.verdict == "ok";
        if (o.verdict.empty()) o.verdict = "failed (" + (o.why.empty() ? std::string("no verdict") : o.why) + ")";
        if (!o.ok) o.why = o.verdict;
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        read_written(ini_path, camera, &o);
    } else if (o.why.empty()) {
        o.why = WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                    : "exited with status " + std::to_string(WEXITSTATUS(status));
    } else if (o.why == "interrupted" && WIFEXITED(status)) {
        // Which stop signal the run had (its status is 128 + its number).
        static const std::pair<int, const char *> names[] = {
            {SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}, {SIGQUIT, "SIGQUIT"}};
        for (const auto &[n, name] : names) {
            if (WEXITSTATUS(status) == 128 + n) o.why += std::string(" (") + name + ")";
        }
    }
    return o;
}

constexpr int max_jobs = 255;
volatile sig_atomic_t interrupted = 0;
// The children running now, for the signal handler to pass a stop signal
// on. A slot is cleared, with the signals held, before its child is reaped:
// a pid is never signalled once it may belong to another process.
volatile pid_t running[max_jobs];

void on_interrupt(int sig) {
    interrupted = sig;
    for (int i = 0; i < max_jobs; ++i) {
        if (running[i] > 0) kill(running[i], sig);
    }
}

double now() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Starts one camera's run; -1 with a reason when it cannot.
pid_t start(const Run &run, const Camera &c, std::string *error) {
    std::vector<std::string> args = {"visca_calibrate"};
    args.insert(args.end(), run.options.begin(), run.options.end());
    for (const std::string &a : {std::string("--port"), c.port, std::string("--camera"), std::to_string(c.number),
                                 std::string("--config"), run.config}) {
        args.push_back(a);
    }
    // A check writes nothing, not even a file of its own.
    if (!run.check) {
        args.push_back("--write");
        args.push_back(run.file(c.number, ".ini"));
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
        // The stop signals are held here (see start_next): back to what the
        // site run was given (a SIGHUP ignored under nohup stays ignored),
        // then a stop that came before the fork ends the child before it
        // runs, and one that comes after reaches it, held or not.
        struct sigaction dfl {}, was {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        for (int s : common::stop_signals) {
            if (sigaction(s, nullptr, &was) == 0 && was.sa_handler != SIG_IGN) sigaction(s, &dfl, nullptr);
        }
        if (interrupted) _exit(128 + interrupted);
        // A site run that dies does not leave cameras turning.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
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

// A failed camera's output and messages go into one log, kept after the
// run; its last lines are shown here, where the reason usually stands.
void show_failure(const Camera &c, const Run &run) {
    std::vector<std::string> lines = lines_of(run.file(c.number, ".out"));
    for (const std::string &l : lines_of(run.file(c.number, ".err"))) lines.push_back(l);
    const std::string log = run.file(c.number, ".log");
    std::ofstream out(log, std::ios::binary);
    for (const std::string &l : lines) out << l << '\n';
    out.close();
    printf("camera %d on %s failed; its last lines:\n", c.number, c.port.c_str());
    constexpr size_t shown = 5;
    for (size_t k = lines.size() > shown ? lines.size() - shown : 0; k < lines.size(); ++k) {
        // Cut to the width of a terminal; the log has it whole.
        const std::string &l = lines[k];
        printf("  | %s\n", l.size() > 76 ? (l.substr(0, 73) + "...").c_str() : l.c_str());
    }
    printf("  %s: %s\n", out ? "full log" : "cannot keep its log", log.c_str());
}

}  // namespace

bool forwarded(int argc, char **argv, std::vector<std::string> *out, std::string *error) {
    static const char *const with_value[] = {"--profile", "--pan-units-per-degree", "--tilt-units-per-degree",
                                             "--axes", "--lens-speed", "--wear"};
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--all") continue;
        if (a == "--config" || a == "--jobs" || a == "--report") {
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

namespace {

// The cameras' runs under way: cameras sharing a line take turns on it; the
// lines run in parallel.
class Scheduler {
public:
    Scheduler(const Run &run, const std::vector<Camera> &cameras, int jobs)
        : run_(run), cameras_(cameras), jobs_(jobs), outcomes_(cameras.size()) {
        for (size_t i = 0; i < cameras.size(); ++i) {
            if (by_line_[cameras[i].port].empty()) line_order_.push_back(cameras[i].port);
            by_line_[cameras[i].port].push_back(i);
        }
        waiting_.assign(line_order_.begin(), line_order_.end());
        stop_signals_ = common::stop_signal_set();
    }

    size_t lines() const { return line_order_.size(); }

    // Starts the next camera of `port` in `slot`; a camera that cannot be
    // started fails at once and the next one on the line is tried.
    bool start_next(const std::string &port, int slot) {
        std::deque<size_t> &queue = by_line_[port];
        while (!queue.empty() && !interrupted) {
            const size_t i = queue.front();
            queue.pop_front();
            std::string error;
            sigset_t old;
            sigprocmask(SIG_BLOCK, &stop_signals_, &old);
            // A stop that came after the look above: no new run.
            if (interrupted) {
                sigprocmask(SIG_SETMASK, &old, nullptr);
                queue.push_front(i);
                return false;
            }
            const pid_t pid = start(run_, cameras_[i], &error);
            if (pid > 0) {
                running[slot] = pid;
                children_[pid] = {i, slot};
                began_[i] = now();
            }
            sigprocmask(SIG_SETMASK, &old, nullptr);
            if (pid > 0) {
                fprintf(stderr, "camera %d on %s: %s\n", cameras_[i].number, port.c_str(),
                        run_.check ? "checking" : "calibrating");
                return true;
            }
            outcomes_[i].why = error;
        }
        return false;
    }

    // Fills every free slot with a line that has cameras waiting.
    void fill() {
        for (int slot = 0; slot < jobs_ && !waiting_.empty() && !interrupted; ++slot) {
            if (running[slot] > 0) continue;
            while (!waiting_.empty() && !start_next(waiting_.front(), slot)) waiting_.pop_front();
            if (!waiting_.empty()) waiting_.pop_front();
        }
    }

    // Waits for every run, starting the next ones as lines come free.
    std::vector<Outcome> wait_all() {
        while (!children_.empty()) {
            // Which child ended, without reaping it yet: its slot is
            // cleared first, so that a stop signal meanwhile cannot reach a
            // pid that is no longer ours.
            siginfo_t info{};
            if (waitid(P_ALL, 0, &info, WEXITED | WNOWAIT) != 0) {
                if (errno == EINTR) continue;
                fprintf(stderr, "visca_calibrate: waiting for the cameras' runs: %s\n", strerror(errno));
                break;
            }
            const pid_t pid = info.si_pid;
            const auto child = children_.find(pid);
            sigset_t old;
            sigprocmask(SIG_BLOCK, &stop_signals_, &old);
            if (child != children_.end()) running[child->second.second] = 0;
            sigprocmask(SIG_SETMASK, &old, nullptr);
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            if (child == children_.end()) continue;
            const auto [i, slot] = child->second;
            children_.erase(child);
            finished(i, status);
            // The line is free: its next camera, or another line.
            if (!start_next(cameras_[i].port, slot)) fill();
        }
        for (Outcome &o : outcomes_) {
            if (!o.ok && o.why.empty()) o.why = "not started (interrupted)";
        }
        return outcomes_;
    }

private:
    void finished(size_t i, int status) {
        const Camera &c = cameras_[i];
        outcomes_[i] = read_outcome(status, run_.file(c.number, ".out"), run_.file(c.number, ".err"),
                                    run_.file(c.number, ".ini"), c.number, run_.check);
        if (run_.check) {
            fprintf(stderr, "camera %d on %s: %s in %.0f s\n", c.number, c.port.c_str(), outcomes_[i].verdict.c_str(),
                    now() - began_[i]);
        } else if (outcomes_[i].ok) {
            fprintf(stderr, "camera %d on %s: calibrated in %.0f s\n", c.number, c.port.c_str(), now() - began_[i]);
        } else {
            show_failure(c, run_);
        }
    }

    const Run &run_;
    const std::vector<Camera> &cameras_;
    const int jobs_;
    std::map<std::string, std::deque<size_t>> by_line_;
    std::vector<std::string> line_order_;
    std::deque<std::string> waiting_;
    sigset_t stop_signals_;
    std::vector<Outcome> outcomes_;
    std::map<pid_t, std::pair<size_t, int>> children_;  // pid -> camera, slot in `running`
    std::map<size_t, double> began_;
};

}  // namespace

std::vector<Outcome> run_cameras(const Run &run, const std::vector<Camera> &cameras, int jobs, int *signal) {
    jobs = std::min(jobs, max_jobs);
    Scheduler scheduler(run, cameras, jobs);
    // A SIGCHLD ignored by whoever started us would have the children
    // reaped unseen, and their results lost.
    ::signal(SIGCHLD, SIG_DFL);
    common::catch_stop_signals(on_interrupt);
    fprintf(stderr, "%s %zu camera(s) on %zu line(s), %d at a time\n", run.check ? "checking" : "calibrating",
            cameras.size(), scheduler.lines(), jobs);
    scheduler.fill();
    std::vector<Outcome> outcomes = scheduler.wait_all();
    *signal = interrupted;
    return outcomes;
}

}  // namespace site
