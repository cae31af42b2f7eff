// The session picture: one panel per axis (position over time), a dashed
// mark across all panels for every frame received, labelled with what the
// frame means. Drive frames are green, stops red, dropped frames black; a
// legend under the time axis says so. Positions and times have rounded ticks.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "camera.h"
#include "html_escape.h"
#include "plot_ticks.h"

namespace camera {

namespace {

struct Sample {
    double t;
    double v[axis_count];
};

const char *mark_colour(const Received &r) {
    if (r.dropped) return "#000000";
    const visca::Message &m = r.message;
    const bool stop = (m.kind == visca::Kind::PanTiltDrive && m.pan_dir == 0 && m.tilt_dir == 0) ||
                      ((m.kind == visca::Kind::ZoomDrive || m.kind == visca::Kind::FocusDrive) &&
                       m.lens_dir == 0);
    if (stop) return "#c0392b";
    if (m.kind == visca::Kind::PanTiltDrive || m.kind == visca::Kind::ZoomDrive ||
        m.kind == visca::Kind::FocusDrive || (m.kind == visca::Kind::Memory && m.code == 2)) {
        return "#1e8449";
    }
    return "#7f8c8d";
}

std::string number(double v) {
    char buf[32];
    snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

}  // namespace

bool write_timeline(const std::string &path, const CameraModel &model,
                    const std::vector<Received> &history, double end_time, std::string *error) {
    // Replay the session in a fresh camera and sample it.
    CameraModel quiet = model;
    quiet.replies = false;
    VirtualCamera replay(quiet);
    std::vector<Sample> samples;
    const double start = history.empty() ? 0.0 : std::max(0.0, history.front().time - 0.2);
    const double end = std::max(end_time, start + 0.5);
    const double step = std::max((end - start) / 3000.0, 0.001);
    auto sample = [&](double t) {
        const CameraState &s = replay.state_at(t);
        Sample x{t, {}};
        for (int a = 0; a < axis_count; ++a) x.v[a] = s.position.axis[a];
        samples.push_back(x);
    };
    size_t next = 0;
    for (double t = start; t <= end + 1e-9; t += step) {
        while (next < history.size() && history[next].time <= t) {
            sample(history[next].time);
            replay.receive(history[next].message.bytes, history[next].time);
            sample(history[next].time);
            ++next;
        }
        sample(t);
    }
    // With the buffer limit the replay drops what the session dropped,
    // since it sees the same frames at the same times.

    // A title line, the band of frame labels, the panels, the time axis
    // with its title and the legend: 1200 x 865, so a 1200 x 900 window
    // shows it whole.
    const double left = 90, plot_w = 1070, width = 1200, label_band = 330, panel = 100, gap = 16;
    const double axis_y = label_band + axis_count * (panel + gap) + 5;
    const double height = axis_y + 66;
    auto x_of = [&](double t) { return left + (t - start) / (end - start) * plot_w; };

    std::ostringstream svg;
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" font-family=\"sans-serif\" font-size=\"11\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
        << "<text x=\"8\" y=\"20\" font-size=\"14\" font-weight=\"bold\">Session: where each axis was, and "
           "every frame the camera received</text>\n";

    const char *units[axis_count] = {"degrees", "degrees", "steps", "steps"};
    const PanTiltAxis *turns[2] = {&model.profile.pan, &model.profile.tilt};
    const LensAxis *lenses[2] = {&model.profile.zoom, &model.profile.focus};
    for (int a = 0; a < axis_count; ++a) {
        const double top = label_band + a * (panel + gap);
        double lo = samples.front().v[a], hi = lo;
        for (const Sample &s : samples) {
            lo = std::min(lo, s.v[a]);
            hi = std::max(hi, s.v[a]);
        }
        if (hi - lo < 1e-9) {
            // An axis that never moved: its travel (or 10 degrees either
            // side of a turn without end stops), so the line shows where in
            // it the axis stood rather than ticks a unit apart.
            const double at = lo;
            if (a >= 2) {
                lo = std::min(at, lenses[a - 2]->min);
                hi = std::max(at, lenses[a - 2]->max);
            } else if (turns[a]->end_stops) {
                lo = std::min(at, turns[a]->min_degrees);
                hi = std::max(at, turns[a]->max_degrees);
            }
            if (hi - lo < 1e-9) {
                lo = at - 10;
                hi = at + 10;
            }
        }
        const double pad = (hi - lo) * 0.08;
        lo -= pad;
        hi += pad;
        auto y_of = [&](double v) { return top + panel - (v - lo) / (hi - lo) * panel; };
        svg << "<rect x=\"" << left << "\" y=\"" << top << "\" width=\"" << plot_w << "\" height=\""
            << panel << "\" fill=\"#fbfcfc\" stroke=\"#bdc3c7\"/>\n";
        svg << "<text x=\"8\" y=\"" << top + 14 << "\" font-weight=\"bold\">"
            << axis_name(static_cast<AxisId>(a)) << "</text>\n";
        svg << "<text x=\"8\" y=\"" << top + 28 << "\" fill=\"#555\">" << units[a] << "</text>\n";
        const double step = nice_step(hi - lo);
        for (double v = ceil(lo / step) * step; v <= hi; v += step) {
            svg << "<line x1=\"" << left << "\" x2=\"" << left + plot_w << "\" y1=\"" << y_of(v) << "\" y2=\""
                << y_of(v) << "\" stroke=\"#e5e8e8\"/>\n";
            svg << "<text x=\"" << left - 4 << "\" y=\"" << y_of(v) + 4 << "\" text-anchor=\"end\">"
                << tick_label(v) << "</text>\n";
        }
        svg << "<polyline fill=\"none\" stroke=\"#2471a3\" stroke-width=\"1.5\" points=\"";
        for (const Sample &s : samples) {
            svg << number(x_of(s.t)) << "," << number(y_of(s.v[a])) << " ";
        }
        svg << "\"/>\n";
    }

    // Time axis.
    const double tick = nice_step(end - start, 10);
    for (double t = ceil(start / tick) * tick; t <= end; t += tick) {
        svg << "<line x1=\"" << x_of(t) << "\" x2=\"" << x_of(t) << "\" y1=\"" << label_band
            << "\" y2=\"" << axis_y << "\" stroke=\"#ecf0f1\"/>\n";
        svg << "<text x=\"" << x_of(t) << "\" y=\"" << axis_y + 14 << "\" text-anchor=\"middle\">"
            << tick_label(t) << " s</text>\n";
    }
    svg << "<text x=\"" << left + plot_w / 2 << "\" y=\"" << axis_y + 32
        << "\" text-anchor=\"middle\">session time (s)</text>\n";
    const struct {
        const char *name, *colour, *dash;
    } legend[] = {{"position", "#2471a3", ""},          {"drive frame", "#1e8449", "3,3"},
                  {"stop frame", "#c0392b", "3,3"},     {"other frame", "#7f8c8d", "3,3"},
                  {"dropped frame (buffer full)", "#000000", "3,3"}};
    double lx = left;
    for (const auto &e : legend) {
        svg << "<line x1=\"" << lx << "\" x2=\"" << lx + 24 << "\" y1=\"" << axis_y + 52 << "\" y2=\"" << axis_y + 52
            << "\" stroke=\"" << e.colour << "\" stroke-width=\"2\" stroke-dasharray=\"" << e.dash << "\"/>\n";
        svg << "<text x=\"" << lx + 30 << "\" y=\"" << axis_y + 56 << "\" fill=\"" << e.colour << "\">" << e.name
            << "</text>\n";
        lx += 60 + 7 * strlen(e.name);
    }

    // Frame marks and labels. Labels stand upright, one line height apart
    // at least: frames that arrive close together get their labels moved
    // along, with a leader line, but never far from their mark nor out of
    // the picture; a label that would be is left out (its mark stays) and
    // counted in the top corner.
    const double label_size = 10, label_step = 13, max_shift = 6 * label_step;
    const size_t label_chars = 58;  // what the band holds at that size
    double next_label_x = 0;
    size_t left_out = 0;
    for (const Received &r : history) {
        const double x = x_of(r.time);
        const double label_x = std::max(x, next_label_x);
        const char *colour = mark_colour(r);
        svg << "<line x1=\"" << x << "\" x2=\"" << x << "\" y1=\"" << label_band - 10 << "\" y2=\""
            << axis_y << "\" stroke=\"" << colour << "\" stroke-dasharray=\"3,3\"/>\n";
        if (label_x - x > max_shift || label_x + label_step > width) {
            ++left_out;
            continue;
        }
        next_label_x = label_x + label_step;
        std::string label = visca::describe(r.message);
        if (r.dropped) label = "DROPPED (buffer full): " + label;
        char time_text[32];
        snprintf(time_text, sizeof time_text, "%.3f s  ", r.time);
        label = time_text + label;
        if (label.size() > label_chars) label = label.substr(0, label_chars - 3) + "...";
        svg << "<line x1=\"" << x << "\" x2=\"" << label_x << "\" y1=\"" << label_band - 10 << "\" y2=\""
            << label_band - 22 << "\" stroke=\"" << colour << "\"/>\n";
        svg << "<text transform=\"translate(" << label_x + 4 << "," << label_band - 24
            << ") rotate(-90)\" font-size=\"" << label_size << "\" fill=\"" << colour << "\">" << common::html_escape(label)
            << "</text>\n";
    }
    if (left_out > 0) {
        svg << "<text x=\"" << width - 8 << "\" y=\"20\" text-anchor=\"end\" fill=\"#555\">" << left_out
            << " frame label(s) left out: frames too close together</text>\n";
    }
    svg << "</svg>\n";

    std::ofstream out(path);
    if (!out) {
        if (error != nullptr) *error = "cannot write " + path;
        return false;
    }
    out << svg.str();
    out.close();
    if (!out) {
        if (error != nullptr) *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace camera
