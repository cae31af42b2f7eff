// The verification picture: on the left requested against reached for pan
// and tilt (the diagonal is a perfect landing), on the right the error of
// every move against its size on a log scale, one colour per axis.
#include <math.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "verify.h"

namespace host {

namespace {

const char *const colours[4] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd"};
const char *const names[4] = {"pan (deg)", "tilt (deg)", "zoom (steps)", "focus (steps)"};

}  // namespace

bool write_verify_plot(const std::string &path, const std::vector<VerifiedMove> &moves, std::string *error) {
    const double w = 420, h = 360, m = 50;
    std::ostringstream svg;
    svg << "<svg xmlns='http://www.w3.org/2000/svg' width='" << 2 * w << "' height='" << h
        << "' font-family='sans-serif' font-size='11'>\n<rect width='100%' height='100%' fill='white'/>\n";

    // Left: requested against reached, degrees.
    double span = 1;
    for (const VerifiedMove &v : moves) {
        if (v.axis <= 1) span = std::max({span, fabs(v.requested), fabs(v.reached)});
    }
    auto lx = [&](double d) { return m + (d + span) / (2 * span) * (w - 2 * m); };
    auto ly = [&](double d) { return h - m - (d + span) / (2 * span) * (h - 2 * m); };
    svg << "<text x='" << m << "' y='20'>requested (x) against reached (y), degrees</text>\n";
    svg << "<rect x='" << m << "' y='" << m << "' width='" << w - 2 * m << "' height='" << h - 2 * m
        << "' fill='none' stroke='#999'/>\n";
    svg << "<line x1='" << lx(-span) << "' y1='" << ly(-span) << "' x2='" << lx(span) << "' y2='" << ly(span)
        << "' stroke='#bbb'/>\n";
    svg << "<text x='" << m << "' y='" << h - m + 15 << "'>" << -span << "</text><text x='" << w - m - 20 << "' y='"
        << h - m + 15 << "'>" << span << "</text>\n";
    for (const VerifiedMove &v : moves) {
        if (v.axis > 1) continue;
        svg << "<circle cx='" << lx(v.requested) << "' cy='" << ly(v.reached) << "' r='3' fill='" << colours[v.axis]
            << "'/>\n";
    }

    // Right: error per move size, log x (0.5 .. 20000), linear y.
    double top = 0.05;
    for (const VerifiedMove &v : moves) top = std::max(top, v.error());
    top = std::min(top, 1.5);
    const double x0 = w + m, x1 = 2 * w - m;
    auto rx = [&](double size) { return x0 + (log10(size) - log10(0.5)) / (log10(20000) - log10(0.5)) * (x1 - x0); };
    auto ry = [&](double e) { return h - m - std::min(e, top) / top * (h - 2 * m); };
    svg << "<text x='" << x0 << "' y='20'>error per move size (log scale), up to " << round(top * 100)
        << " %</text>\n";
    svg << "<rect x='" << x0 << "' y='" << m << "' width='" << x1 - x0 << "' height='" << h - 2 * m
        << "' fill='none' stroke='#999'/>\n";
    for (double size : {1.0, 10.0, 100.0, 1000.0, 10000.0}) {
        svg << "<text x='" << rx(size) - 8 << "' y='" << h - m + 15 << "'>" << size << "</text>\n";
    }
    for (double e : {0.02, 0.06}) {
        if (e < top) {
            svg << "<line x1='" << x0 << "' y1='" << ry(e) << "' x2='" << x1 << "' y2='" << ry(e)
                << "' stroke='#ddd'/><text x='" << x1 + 3 << "' y='" << ry(e) + 4 << "'>" << e * 100 << "%</text>\n";
        }
    }
    for (const VerifiedMove &v : moves) {
        svg << "<circle cx='" << rx(std::max(0.5, fabs(v.requested))) << "' cy='" << ry(v.error())
            << "' r='3' fill='" << colours[v.axis] << "'/>\n";
    }
    for (int a = 0; a < 4; ++a) {
        svg << "<circle cx='" << x0 + 10 + a * 90 << "' cy='" << h - 12 << "' r='4' fill='" << colours[a]
            << "'/><text x='" << x0 + 17 + a * 90 << "' y='" << h - 8 << "'>" << names[a] << "</text>\n";
    }
    svg << "</svg>\n";

    std::ofstream out(path);
    out << svg.str();
    if (!out) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace host
