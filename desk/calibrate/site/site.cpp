// Site mode: reads the site, runs the cameras' runs, draws the table and
// writes every calibrated camera's values back in one update.
#include "site.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>

#include "config_in_use.h"
#include "ini_lines.h"
#include "ini_update.h"
#include "runs.h"
#include "check_table.h"
#include "site_page.h"
#include "table.h"

namespace site {

namespace {

double now() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// A private folder for the runs and, in it, the snapshot of CONFIG that every
// camera starts from, whatever is edited in the file while they run.
bool snapshot(const std::string &config, Run *run) {
    const char *tmp = getenv("TMPDIR");
    run->dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/visca_calibrate.XXXXXX";
    if (mkdtemp(&run->dir[0]) == nullptr) {
        fprintf(stderr, "visca_calibrate: cannot make a folder for the cameras' runs: %s\n", strerror(errno));
        return false;
    }
    run->config = run->dir + "/config.ini";
    std::string text, why;
    const bool read = ini::read_file(config, &text, &why);
    std::ofstream copy(run->config, std::ios::binary);
    copy << text;
    copy.close();
    if (!read || !copy) {
        fprintf(stderr, "visca_calibrate: cannot copy %s to %s%s\n", config.c_str(), run->config.c_str(),
                read ? "" : (": " + why).c_str());
        std::error_code ignored;
        std::filesystem::remove_all(run->dir, ignored);
        return false;
    }
    return true;
}

// The values of every camera calibrated, into CONFIG in one update.
bool write_back(const std::string &config, const std::vector<Camera> &cameras, const std::vector<Outcome> &outcomes) {
    std::vector<std::pair<int, ini::Settings>> values;
    ini::Records records;  // each camera's calibration record replaces its last one
    for (size_t i = 0; i < cameras.size(); ++i) {
        if (!outcomes[i].ok) continue;
        values.emplace_back(cameras[i].number, outcomes[i].values);
        if (!outcomes[i].record.empty()) records.emplace_back(cameras[i].number, outcomes[i].record);
    }
    if (values.empty()) return true;
    std::string error;
    if (!ini::update_ini_file(config, values, &error, {}, records)) {
        fprintf(stderr, "visca_calibrate: %s; no camera's values were written\n", error.c_str());
        return false;
    }
    printf("wrote the values of %zu camera(s) into %s\n", values.size(), config.c_str());
    return true;
}

// What a single run checks before its camera moves, for every camera of
// the site: the file can be updated, and each camera's section reads as
// the host reads it and is one of the host's cameras.
// A check writes nothing: its file need only be read.
bool sound(const std::string &config, const std::vector<Camera> &cameras, bool check, std::string *error) {
    if (!check && !ini::check_write_target(config, error)) return false;
    for (const Camera &c : cameras) {
        calibrate::Config in_use = calibrate::driver_defaults();
        std::optional<long> host_cameras;
        if (!calibrate::read_config(config, c.number, &in_use, &host_cameras, error)) return false;
        if (host_cameras && c.number > *host_cameras) {
            *error = config + ": camera " + std::to_string(c.number) + " has a port but is beyond [host] cameras = " +
                     std::to_string(*host_cameras);
            return false;
        }
    }
    return true;
}

// The runs' folder goes, but for the logs of the cameras that failed.
void clean_up(const Run &run, const std::vector<Camera> &cameras, const std::vector<Outcome> &outcomes) {
    std::error_code ignored;
    bool kept = false;
    for (const auto &entry : std::filesystem::directory_iterator(run.dir, ignored)) {
        const std::string name = entry.path().filename().string();
        bool keep = false;
        for (size_t i = 0; i < cameras.size(); ++i) {
            keep = keep || (!outcomes[i].ok && name == "camera" + std::to_string(cameras[i].number) + ".log");
        }
        if (keep) {
            kept = true;
        } else {
            std::filesystem::remove(entry.path(), ignored);
        }
    }
    if (kept) {
        printf("the failed cameras' logs are in %s\n", run.dir.c_str());
    } else {
        std::filesystem::remove(run.dir, ignored);
    }
}

// A site check: the verdicts, nothing written; 0 only when every camera is ok.
int check_ended(const std::vector<Camera> &cameras, const std::vector<Outcome> &outcomes, int signal, double seconds,
                const Run &run, const std::string &config, const std::string &report) {
    printf("\n%s", check_table(cameras, outcomes).c_str());
    std::vector<page::Camera> shown;
    if (!report.empty()) shown = page_cameras(run, cameras, outcomes);
    clean_up(run, cameras, outcomes);
    const size_t good = static_cast<size_t>(std::count_if(outcomes.begin(), outcomes.end(),
                                                          [](const Outcome &o) { return o.ok; }));
    printf("%zu of %zu camera(s) ok in %.0f s\n", good, cameras.size(), seconds);
    if (signal != 0) {
        fprintf(stderr, "visca_calibrate: interrupted\n");
        return 128 + signal;
    }
    if (!report.empty() && !write_page(report, config, true, shown)) return 1;
    return good == cameras.size() ? 0 : 1;
}

}  // namespace

int calibrate_all(int argc, char **argv, const std::string &config, int jobs, const std::string &report) {
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
    std::vector<Camera> cameras;
    if (!read_cameras(config, &cameras, &error)) {
        fprintf(stderr, "visca_calibrate: %s\n", error.c_str());
        return 2;
    }
    if (cameras.empty()) {
        fprintf(stderr, "visca_calibrate: %s: no camera has its own port; nothing to calibrate\n", config.c_str());
        return 2;
    }
    // Checked before any line opens, as a single run checks its file: a file
    // the values cannot go to is a bad option value, said now rather than
    // after every camera was calibrated.
    run.check = std::find(run.options.begin(), run.options.end(), "--check") != run.options.end();
    if (!sound(config, cameras, run.check, &error)) {
        fprintf(stderr, "visca_calibrate: %s; no camera was moved\n", error.c_str());
        return 2;
    }
    if (!snapshot(config, &run)) return 1;

    const double began = now();
    int signal = 0;
    const std::vector<Outcome> outcomes = run_cameras(run, cameras, jobs, &signal);
    if (run.check) return check_ended(cameras, outcomes, signal, now() - began, run, config, report);
    printf("\n%s", table(cameras, outcomes).c_str());
    std::vector<page::Camera> shown;
    if (!report.empty()) shown = page_cameras(run, cameras, outcomes);
    clean_up(run, cameras, outcomes);
    const size_t good = static_cast<size_t>(std::count_if(outcomes.begin(), outcomes.end(),
                                                          [](const Outcome &o) { return o.ok; }));
    printf("%zu of %zu camera(s) calibrated in %.0f s\n", good, cameras.size(), now() - began);
    if (signal != 0) {
        fprintf(stderr, "visca_calibrate: interrupted; the configuration file was left as it was\n");
        return 128 + signal;
    }
    const bool written = write_back(config, cameras, outcomes);
    if (!written) {
        // The page must not say calibrated where nothing went into the file.
        for (page::Camera &c : shown) {
            if (c.verdict == "calibrated") c.verdict = "failed (its values were not written)";
        }
    }
    if (!report.empty() && !write_page(report, config, false, shown)) return 1;
    return written && good == cameras.size() ? 0 : 1;
}

}  // namespace site
