#include "options.h"

#include <errno.h>
#include <stdlib.h>

#include <algorithm>
#include <iterator>
#include <sstream>

#include "driver_probe.h"

namespace calibrate {

void usage(FILE *out) {
    fputs(
        "usage: visca_calibrate (--port LINE | --profile NAME|FILE | --config FILE --all)\n"
        "                       [options]\n"
        "Measures the camera's speeds, chooses the driver's calibration values and\n"
        "prints them.\n"
        "  --port LINE        the camera's line: a serial device or pseudo-terminal\n"
        "                     (9600 8N1), or a network camera: udp:HOST:PORT (with\n"
        "                     the IP header), udp-raw:HOST:PORT or tcp:HOST:PORT\n"
        "  --profile NAME|FILE  the camera's profile: without --port, a built-in\n"
        "                     virtual camera running it; with --port, where its\n"
        "                     position units and ends are\n"
        "  --pan-units-per-degree U   pan position units per degree (datasheet)\n"
        "  --tilt-units-per-degree U  tilt position units per degree (default: pan's)\n"
        "                     (with --port and no --profile: needed for the axes\n"
        "                     calibrated)\n"
        "  --config FILE      the configuration now in use (default: the --write file)\n"
        "  --write FILE       set the chosen values in FILE's [cameraN] section\n"
        "  --twin FILE.ini    also measure what a camera profile needs and write the\n"
        "                     camera's profile (its twin for virtual_camera\n"
        "                     --profile) to FILE.ini\n"
        "  --camera N         the camera number of that section (default 1)\n"
        "  --axes LIST        comma-separated axes to calibrate\n"
        "                     (default pan,tilt,zoom,focus)\n"
        "  --quick            fewer drives: moves of 5 degrees and more,\n"
        "                     compensation kept\n"
        "  --no-check         skip the landing check of the chosen values (tests)\n"
        "  --lens-speed auto|keep|N  ZoomSpeed/FocusSpeed: the fastest that lands\n"
        "                     lens moves well, the configured ones, or nibble N\n"
        "                     (0..7); without it the configured ones where they\n"
        "                     are predicted within the bounds, else as auto\n"
        "  --all              every camera of --config FILE with its own port, lines\n"
        "                     in parallel; each one's values go into its section\n"
        "  --check            land the check with the values in use (--config's or\n"
        "                     the driver's) and say ok, drifted or failed per\n"
        "                     camera; moves and writes nothing else\n"
        "  --report FILE.html  with --check or --all: also write the cameras on one\n"
        "                     page, verdicts first, each camera's landed moves drawn\n"
        "  --wear PERCENT     the built-in camera PERCENT slower (-50..90): drift\n"
        "                     on a desk\n"
        "  --jobs N           with --all: at most N lines at a time (default 16,\n"
        "                     at most 255)\n"
        "Exit status: 0 ok; 1 failed run; 2 bad option or file, found before the\n"
        "line opens; 128+N after signal N.\n",
        out);
}

namespace {

bool positive(const char *text, double *out) {
    char *end = nullptr;
    errno = 0;
    const double v = strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(v > 0) || v > 1e6) return false;
    *out = v;
    return true;
}

// A whole number 1..255 (a camera number, a count of lines); false with a message.
bool one_to_255(const std::string &option, const char *text, const char *what, int *out) {
    char *end = nullptr;
    const long n = strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || n < 1 || n > 255) {
        fprintf(stderr, "visca_calibrate: %s: '%s' is not %s 1..255\n", option.c_str(), text, what);
        return false;
    }
    *out = static_cast<int>(n);
    return true;
}

}  // namespace

bool parse_options(int argc, char **argv, Options *o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc) {
                fprintf(stderr, "visca_calibrate: %s needs a value\n", a.c_str());
                return nullptr;
            }
            return argv[++i];
        };
        const char *v = nullptr;
        if (a == "--help" || a == "-h") {
            usage(stdout);
            exit(0);
        } else if (a == "--quick") {
            o->quick = true;
        } else if (a == "--no-check") {
            o->landing_check = false;
        } else if (a == "--check") {
            o->check = true;
        } else if (a == "--wear") {
            if ((v = value()) == nullptr) return false;
            char *end = nullptr;
            errno = 0;
            const double w = strtod(v, &end);
            if (errno != 0 || end == v || *end != '\0' || !(w >= -50 && w <= 90)) {
                fprintf(stderr, "visca_calibrate: --wear: '%s' is not a percent -50..90\n", v);
                return false;
            }
            o->wear = w;
        } else if (a == "--all") {
            o->all = true;
        } else if (a == "--jobs") {
            if ((v = value()) == nullptr || !one_to_255(a, v, "a count", &o->jobs)) return false;
        } else if (a == "--port" || a == "--profile" || a == "--config" || a == "--write" ||
                   a == "--twin" || a == "--report") {
            if ((v = value()) == nullptr) return false;
            // An empty name (a script's unset variable) never means "none":
            // without a line the built-in camera would be calibrated instead.
            if (*v == '\0') {
                fprintf(stderr, "visca_calibrate: %s: the value is empty\n", a.c_str());
                return false;
            }
            (a == "--port"      ? o->port
             : a == "--profile" ? o->profile
             : a == "--config"  ? o->config
             : a == "--twin"    ? o->twin
             : a == "--report"  ? o->report
                                : o->write) = v;
        } else if (a == "--pan-units-per-degree" || a == "--tilt-units-per-degree") {
            if ((v = value()) == nullptr) return false;
            double u = 0;
            if (!positive(v, &u)) {
                fprintf(stderr, "visca_calibrate: %s: '%s' is not a positive number\n", a.c_str(), v);
                return false;
            }
            (a[2] == 'p' ? o->pan_units : o->tilt_units) = u;
        } else if (a == "--camera") {
            if ((v = value()) == nullptr || !one_to_255(a, v, "a camera number", &o->camera)) return false;
        } else if (a == "--axes") {
            if ((v = value()) == nullptr) return false;
            for (bool &b : o->axes) b = false;
            std::stringstream list(v);
            std::string name;
            while (std::getline(list, name, ',')) {
                int k = 0;
                while (k < 4 && name != axis_label(k)) ++k;
                if (k == 4) {
                    fprintf(stderr, "visca_calibrate: --axes: unknown axis '%s' (pan, tilt, zoom, focus)\n",
                            name.c_str());
                    return false;
                }
                o->axes[k] = true;
            }
            if (std::find(std::begin(o->axes), std::end(o->axes), true) == std::end(o->axes)) {
                fprintf(stderr, "visca_calibrate: --axes: name at least one axis (pan, tilt, zoom, focus)\n");
                return false;
            }
        } else if (a == "--lens-speed") {
            if ((v = value()) == nullptr) return false;
            const std::string s = v;
            if (s == "auto") {
                o->lens_speed.kind = LensSpeedChoice::Auto;
            } else if (s == "keep") {
                o->lens_speed.kind = LensSpeedChoice::Keep;
            } else if (s.size() == 1 && s[0] >= '0' && s[0] <= '7') {
                o->lens_speed = {LensSpeedChoice::Nibble, s[0] - '0'};
            } else {
                fprintf(stderr, "visca_calibrate: --lens-speed: '%s' is not auto, keep or a nibble 0..7\n", v);
                return false;
            }
        } else {
            fprintf(stderr, "visca_calibrate: unknown option '%s' (--help lists them)\n", a.c_str());
            return false;
        }
    }
    if (!o->all && o->port.empty() && o->profile.empty()) {
        fprintf(stderr, "visca_calibrate: give --port LINE or --profile NAME|FILE\n");
        return false;
    }
    if (o->wear && !o->port.empty()) {
        fprintf(stderr, "visca_calibrate: --wear wears the built-in camera; a camera on --port is as it is\n");
        return false;
    }
    if (o->check && (!o->write.empty() || !o->twin.empty())) {
        fprintf(stderr, "visca_calibrate: --check writes nothing: leave out --write and --twin\n");
        return false;
    }
    if (!o->report.empty() && !o->check && !o->all) {
        fprintf(stderr, "visca_calibrate: --report goes with --check or --all: the page shows a check's or a "
                        "site's cameras\n");
        return false;
    }
    if (o->all && !o->twin.empty()) {
        // Every camera's run would write the one file.
        fprintf(stderr, "visca_calibrate: --twin does not go with --all: one camera's twin at a time\n");
        return false;
    }
    // A camera on a line reports positions in its own units: said before the
    // line opens, and only for the axes calibrated (tilt may take pan's).
    const bool on_line = o->profile.empty() && (o->all || !o->port.empty());
    if (on_line && ((o->axes[0] && !o->pan_units) || (o->axes[1] && !o->tilt_units && !o->pan_units))) {
        fprintf(stderr, "visca_calibrate: give --profile or --%s-units-per-degree: the position reply counts "
                        "units, not degrees\n", o->axes[0] ? "pan" : "tilt");
        return false;
    }
    if (o->config.empty()) o->config = o->write;
    return true;
}

}  // namespace calibrate
