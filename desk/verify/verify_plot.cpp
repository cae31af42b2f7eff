// The verification picture: on the left requested against reached for pan
// and tilt (the diagonal is a perfect landing), on the right the error of
// every move against its size, both on log scales, with the accuracy goals.
// One colour per axis throughout; every axis has rounded ticks and a title.
#include "verify_plot.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>
#include <sstream>

#include "plot_ticks.h"

namespace verify {

using camera::nice_step;
using camera::tick_label;

namespace {

const char *const colours[4] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd"};
const char *const names[4] = {"pan", "tilt", "zoom", "focus"};

// Tilt and focus land where pan and zoom do (the same sizes): they get
// rings, so that a dot under a ring still shows.
void marker(std::ostringstream &svg, int axis, double x, double y) {
    svg << "<circle cx='" << x << "' cy='" << y << "' ";
    if (axis % 2 == 0) {
        svg << "r='3.5' fill='" << colours[axis] << "'/>\n";
    } else {
        svg << "r='5' fill='none' stroke-width='1.5' stroke='" << colours[axis] << "'/>\n";
    }
}

// The accuracy goals over the move sizes they cover:
// pan and tilt in degrees, zoom and focus in steps. Sizes and errors as the
// verification summary groups them.
struct Goal {
    double from, to;  // move size
    double error;     // relative
    bool median;      // false: every move (the worst)
};
const Goal goals[] = {
    {1, 5, goal_short_median, true},         {5, 90, goal_long_median, true},
    {5, 90, goal_long_worst, false},         {200, 10000, goal_lens_median, true},
    {200, 10000, goal_lens_worst, false},
};

// Panel geometry: each panel is a square plot with room for ticks and titles.
const double panel_w = 470, plot = 330, left = 80, top = 50, height = 500;

void text(std::ostringstream &svg, double x, double y, const std::string &s, const char *anchor = "middle",
          const char *extra = "") {
    svg << "<text x='" << x << "' y='" << y << "' text-anchor='" << anchor << "'" << extra << ">" << s << "</text>\n";
}

// Ticks, grid and both titles of one plot square at (x0, top).
void frame(std::ostringstream &svg, double x0, const std::string &title, const std::string &x_title,
           const std::string &y_title) {
    text(svg, x0 + plot / 2, 24, title, "middle", " font-size='14' font-weight='bold'");
    svg << "<rect x='" << x0 << "' y='" << top << "' width='" << plot << "' height='" << plot
        << "' fill='none' stroke='#666'/>\n";
    text(svg, x0 + plot / 2, top + plot + 38, x_title);
    svg << "<text transform='translate(" << x0 - 52 << "," << top + plot / 2
        << ") rotate(-90)' text-anchor='middle'>" << y_title << "</text>\n";
}

void tick_x(std::ostringstream &svg, double x, const std::string &s) {
    svg << "<line x1='" << x << "' y1='" << top << "' x2='" << x << "' y2='" << top + plot
        << "' stroke='#e4e4e4'/>\n";
    text(svg, x, top + plot + 16, s);
}

void tick_y(std::ostringstream &svg, double x0, double y, const std::string &s) {
    svg << "<line x1='" << x0 << "' y1='" << y << "' x2='" << x0 + plot << "' y2='" << y
        << "' stroke='#e4e4e4'/>\n";
    text(svg, x0 - 6, y + 4, s, "end");
}

// A legend row under a plot: a sample (circle or line) and a name per entry.
struct Entry {
    std::string name, colour;
    const char *dash;  // nullptr: the marker of axis `axis`
    int axis;
};
void legend(std::ostringstream &svg, double x0, const std::vector<Entry> &entries) {
    double x = x0, y = top + plot + 62;
    for (const Entry &e : entries) {
        const double w = 34 + 7 * static_cast<double>(e.name.size());
        if (x + w > x0 + panel_w - left) x = x0, y += 18;
        if (e.dash == nullptr) {
            marker(svg, e.axis, x + 8, y - 4);
        } else {
            svg << "<line x1='" << x << "' y1='" << y - 4 << "' x2='" << x + 18 << "' y2='" << y - 4 << "' stroke='"
                << e.colour << "' stroke-width='2' stroke-dasharray='" << e.dash << "'/>\n";
        }
        text(svg, x + 22, y, e.name, "start");
        x += w;
    }
}

}  // namespace

std::string plot_svg(const std::vector<VerifiedMove> &moves) {
    std::ostringstream svg;
    // The view box lets a page scale the picture down to its column.
    svg << "<svg xmlns='http://www.w3.org/2000/svg' width='" << 2 * panel_w << "' height='" << height
        << "' viewBox='0 0 " << 2 * panel_w << " " << height
        << "' font-family='sans-serif' font-size='12'>\n<rect width='100%' height='100%' fill='white'/>\n";
    bool present[4] = {false, false, false, false};
    for (const VerifiedMove &v : moves) present[v.axis] = true;

    // Left: requested against reached, degrees, the same rounded scale both ways.
    double reach = 1;
    for (const VerifiedMove &v : moves) {
        if (v.axis <= 1) reach = std::max({reach, fabs(v.requested), fabs(v.reached)});
    }
    const double step = nice_step(2 * reach), span = ceil(reach / step) * step;
    auto lx = [&](double d) { return left + (d + span) / (2 * span) * plot; };
    auto ly = [&](double d) { return top + plot - (d + span) / (2 * span) * plot; };
    frame(svg, left, "Where pan and tilt moves landed", "requested (degrees)", "reached (degrees)");
    for (double d = -span; d <= span + step / 2; d += step) {
        tick_x(svg, lx(d), tick_label(d));
        tick_y(svg, left, ly(d), tick_label(d));
    }
    svg << "<line x1='" << lx(-span) << "' y1='" << ly(-span) << "' x2='" << lx(span) << "' y2='" << ly(span)
        << "' stroke='#888' stroke-dasharray='4,3'/>\n";
    for (const VerifiedMove &v : moves) {
        if (v.axis > 1) continue;
        marker(svg, v.axis, lx(v.requested), ly(v.reached));
    }
    std::vector<Entry> pan_tilt;
    for (int a = 0; a <= 1; ++a) {
        if (present[a]) pan_tilt.push_back({names[a], colours[a], nullptr, a});
    }
    pan_tilt.push_back({"perfect landing", "#888", "4,3", 0});
    legend(svg, left, pan_tilt);

    // Right: error against move size, both log. Errors outside 0.01 % to
    // 1000 % sit on the plot's edge.
    const double x0 = panel_w + left;
    const double size_lo = 0.5, size_hi = 20000, err_lo = 1e-4, err_hi = 10;
    auto rx = [&](double size) {
        const double s = std::min(std::max(size, size_lo), size_hi);
        return x0 + (log10(s) - log10(size_lo)) / (log10(size_hi) - log10(size_lo)) * plot;
    };
    auto ry = [&](double e) {
        const double c = std::min(std::max(e, err_lo), err_hi);
        return top + plot - (log10(c) - log10(err_lo)) / (log10(err_hi) - log10(err_lo)) * plot;
    };
    frame(svg, x0, "Error of every move against its size",
          "move size (degrees for pan and tilt, steps for zoom and focus)", "error (%, log scale)");
    for (double size : {1.0, 10.0, 100.0, 1000.0, 10000.0}) tick_x(svg, rx(size), tick_label(size));
    for (double e : {0.001, 0.01, 0.1, 1.0}) tick_y(svg, x0, ry(e), tick_label(100 * e) + " %");
    for (const Goal &g : goals) {
        svg << "<line x1='" << rx(g.from) << "' y1='" << ry(g.error) << "' x2='" << rx(g.to) << "' y2='"
            << ry(g.error) << "' stroke='#333' stroke-width='2' stroke-dasharray='" << (g.median ? "8,3" : "2,3")
            << "'/>\n";
    }
    for (const VerifiedMove &v : moves) {
        marker(svg, v.axis, rx(fabs(v.requested)), ry(v.error()));
    }
    std::vector<Entry> all;
    for (int a = 0; a < 4; ++a) {
        if (present[a]) all.push_back({names[a], colours[a], nullptr, a});
    }
    all.push_back({"goal: median", "#333", "8,3", 0});
    all.push_back({"goal: worst move", "#333", "2,3", 0});
    legend(svg, x0, all);
    if (moves.empty()) text(svg, panel_w, height / 2, "no moves", "middle", " font-size='20'");
    svg << "</svg>\n";
    return svg.str();
}

}  // namespace verify
