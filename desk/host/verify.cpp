#include "verify.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>
#include <fstream>
#include <optional>

#include "verify_plot.h"

namespace host {

namespace {

const char *const axis_names[4] = {"pan", "tilt", "zoom", "focus"};
const char *const units[4] = {"deg", "deg", "steps", "steps"};

// Where the axis is, in degrees or steps; read once the camera has come to
// rest (two equal readings in a row).
std::optional<double> read_axis(Runtime &r, int axis, std::string *error) {
    const camera::Profile &profile = r.options.camera_model.profile;
    Port *port = line_for(r, camindex);
    if (port == nullptr) {
        *error = "camera " + std::to_string(camindex + 1) + " has no line";
        return std::nullopt;
    }
    std::optional<double> last;
    for (int i = 0; i < 60; ++i) {
        if (!interruptible_sleep(i == 0 ? 0.1 : 0.04)) {
            interrupts = 0;
            r.interrupted = true;
            *error = "interrupted";
            return std::nullopt;
        }
        std::optional<double> now;
        if (camera::VirtualCamera *cam = port->camera()) {
            const camera::CameraState &s = cam->state_at(elapsed());
            if (s.moving()) continue;
            return s.position.axis[axis];
        }
        const visca::Bytes inquiry = axis <= 1 ? visca::Bytes{0x81, 0x09, 0x06, 0x12, 0xFF}
                                               : visca::Bytes{0x81, 0x09, 0x04, uint8_t(axis == 2 ? 0x47 : 0x48), 0xFF};
        const auto data = port->inquire(inquiry, error);
        if (!data) return std::nullopt;
        const camera::PanTiltAxis &a = axis == 0 ? profile.pan : profile.tilt;
        now = verify::decode_position(axis, *data, a.units_per_degree, a.sign);
        if (!now) {
            *error = "unexpected position reply 90 50 " + visca::hex(*data) + " FF";
            return std::nullopt;
        }
        if (last && *last == *now) return now;
        last = now;
    }
    if (last) return last;
    *error = "the camera did not come to rest";
    return std::nullopt;
}

}  // namespace

bool write_verify_plot(const std::string &path, const std::vector<verify::VerifiedMove> &moves, std::string *error) {
    std::ofstream out(path);
    out << verify::plot_svg(moves);
    out.close();
    if (!out) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

bool run_verify(Runtime &r, const std::function<void(const std::function<void()> &)> &call,
                const std::string &plot_path, bool quick) {
    const camera::Profile &profile = r.options.camera_model.profile;
    // The calibration's own plan, and (apart from it in the summary) sizes
    // it never chooses by.
    const std::vector<double> angles = quick ? std::vector<double>{5, 10} : verify::plan_sizes(false, false);
    const std::vector<double> steps = verify::plan_sizes(true, false);
    std::vector<double> held_angles = quick ? std::vector<double>{} : verify::plan_sizes(false, true);
    const std::vector<double> held_steps = verify::plan_sizes(true, true);
    std::vector<verify::VerifiedMove> done;
    for (int axis = 0; axis < (quick ? 1 : 4) && !r.interrupted; ++axis) {
        std::string error;
        auto here = read_axis(r, axis, &error);
        if (r.interrupted) break;
        if (!here) {
            say("error: verify: " + std::string(axis_names[axis]) + " position: " + error);
            return false;
        }
        // Room on either side, from the profile's ends.
        double low = -1e9, high = 1e9;
        if (axis <= 1) {
            const camera::PanTiltAxis &a = axis == 0 ? profile.pan : profile.tilt;
            if (a.end_stops) low = a.min_degrees, high = a.max_degrees;
        } else {
            const camera::LensAxis &a = axis == 2 ? profile.zoom : profile.focus;
            low = a.min, high = a.max;
        }
        std::vector<double> sizes = axis <= 1 ? angles : steps;
        const std::vector<double> &held = axis <= 1 ? held_angles : held_steps;
        sizes.insert(sizes.end(), held.begin(), held.end());
        std::sort(sizes.begin(), sizes.end());
        for (double size : sizes) {
            const bool held_out = std::find(held.begin(), held.end(), size) != held.end();
            if (r.interrupted) break;
            // Out and back, out towards the side with more room.
            const int first = high - *here >= *here - low ? 1 : -1;
            if (size > 0.95 * std::max(high - *here, *here - low)) continue;
            for (int dir : {first, -first}) {
                float v[5] = {32765.0f, 32765.0f, 32765.0f, 32765.0f, 32765.0f};
                v[axis] = static_cast<float>(dir * size);
                const move_request req{v[0], v[1], v[2], v[3], v[4]};
                call([&] { r.api.move_rel(&req); });
                const auto after = read_axis(r, axis, &error);
                // A cut move (or reading) is no result; the moves before it are.
                if (r.interrupted) break;
                if (!after) {
                    say("error: verify: " + std::string(axis_names[axis]) + " position: " + error);
                    return false;
                }
                verify::VerifiedMove m{axis, dir * size, *after - *here, held_out};
                char line[160];
                snprintf(line, sizeof line, "verify %s %+.0f %s: reached %+.3f %s, error %.2f %%%s", axis_names[axis],
                         m.requested, units[axis], m.reached, units[axis], 100 * m.error(),
                         held_out ? " (held out)" : "");
                say(line);
                done.push_back(m);
                here = after;
            }
        }
    }
    if (r.interrupted) say("verify: interrupted; " + std::to_string(done.size()) + " completed move(s) counted");
    say(verify::verify_summary(done));
    if (!quick) say(verify::verify_held_out_summary(done));
    if (r.interrupted) return false;
    if (!plot_path.empty()) {
        std::string error;
        if (!write_verify_plot(plot_path, done, &error)) {
            say("error: " + error);
            return false;
        }
        say("verify plot written to " + plot_path);
    }
    return true;
}

}  // namespace host
