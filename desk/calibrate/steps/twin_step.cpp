#include "twin_step.h"

#include "output_path.h"

#include <stdio.h>
#include <time.h>
#include <unistd.h>

#include <fstream>

namespace calibrate {

namespace {

TwinSetup setup_of(const Session &s) {
    TwinSetup t;
    for (int axis = 0; axis < 4; ++axis) t.geometry[axis] = s.geometry[axis];
    t.time_step = s.step_or_frame();
    return t;
}

// The time step is the calibration's (its staircase); said when assumed.
TwinSetup final_setup(const Session &s, const TwinMeasurement &m, std::vector<std::string> *notes) {
    TwinSetup t = setup_of(s);
    char text[160];
    if (!s.time_step) {
        snprintf(text, sizeof text, "frame_ms: the time step was not measured; assumed %.3f", 1000 * t.time_step);
        notes->push_back(text);
    } else if (const auto fine = refine_time_step(m.reply_times, *s.time_step)) {
        // The staircase is coarse; the replies of the whole run tell the step finely.
        snprintf(text, sizeof text, "frame_ms: %.3f from the timing of %zu replies (the staircase said %.3f)",
                 1000 * *fine, m.reply_times.size(), 1000 * *s.time_step);
        notes->push_back(text);
        t.time_step = *fine;
    }
    return t;
}

std::string today() {
    char text[40];
    const time_t now = time(nullptr);
    struct tm utc {};
    gmtime_r(&now, &utc);
    strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &utc);
    return text;
}

}  // namespace

bool twin_ready(const Options &o, std::string *error) {
    if (o.twin.empty()) return true;
    if (o.quick) {
        *error = "--twin: a twin needs the full measurement; leave out --quick";
        return false;
    }
    for (int axis = 0; axis < 4; ++axis) {
        if (!o.axes[axis]) {
            *error = std::string("--twin: ") + axis_label(axis) + " would not be measured (--axes); a twin needs every axis";
            return false;
        }
    }
    std::string why;
    if (!files::can_write(o.twin, &why)) {
        *error = "--twin: " + why;
        return false;
    }
    return true;
}

bool measure_twin_step(Session &s, TwinMeasurement *m) {
    if (s.o.twin.empty()) return true;
    if (!measure_twin(*s.link, setup_of(s), s.stop, m, &s.error)) return false;
    // Zoom and focus began where the calibration found them.
    for (int axis = Zoom; axis <= Focus; ++axis) m->lens_start[axis - Zoom] = s.raw_start[axis];
    // An axis the format cannot describe fails the run here, before any file is written.
    camera::Profile p;
    std::vector<std::string> notes;
    return twin_profile(*m, final_setup(s, *m, &notes), &p, &notes, &s.error);
}

bool write_twin_step(Session &s, const TwinMeasurement &m) {
    if (s.o.twin.empty()) return true;
    camera::Profile p;
    std::vector<std::string> notes;
    const TwinSetup setup = final_setup(s, m, &notes);
    if (!twin_profile(m, setup, &p, &notes, &s.error)) return false;
    char identity[80];
    snprintf(identity, sizeof identity, "vendor 0x%04X, model 0x%04X, ROM 0x%04X", p.vendor, p.model, p.rom);
    p.description = std::string("twin of the camera ") + identity;
    std::vector<std::string> comment = {"Twin of the camera " + std::string(identity) + ", measured by visca_calibrate --twin",
                                        "on " + s.link->describe() + ", " + today() + ".",
                                        "Not measured, assumed, or beyond the format:"};
    for (const std::string &n : notes) {
        printf("twin: %s\n", n.c_str());
        comment.push_back("  " + n);
    }
    const std::string temporary = s.o.twin + ".part";
    {
        std::ofstream out(temporary);
        out << profile_text(p, comment);
        out.close();
        if (!out) {
            s.error = "cannot write " + temporary;
            unlink(temporary.c_str());
            return false;
        }
    }
    if (rename(temporary.c_str(), s.o.twin.c_str()) != 0) {
        s.error = "cannot write " + s.o.twin;
        unlink(temporary.c_str());
        return false;
    }
    printf("twin written to %s (%.1f s of camera time for it)\n", s.o.twin.c_str(), m.camera_seconds);
    return true;
}

}  // namespace calibrate
