#include "page.h"

#include <stdio.h>

#include <algorithm>

#include "html_escape.h"
#include "verify_plot.h"

namespace page {

using common::html_escape;

namespace {

// The verdict's first word: the class its row and badge are drawn with.
std::string kind(const Camera &c) {
    const std::string word = c.verdict.substr(0, c.verdict.find(' '));
    if (word == "drifted" || word == "ok" || word == "calibrated") return word;
    return "failed";
}

int rank(const Camera &c) {
    const std::string k = kind(c);
    return k == "drifted" ? 0 : k == "failed" ? 1 : 2;
}

std::string percent(double v) {
    char b[32];
    snprintf(b, sizeof b, "%.1f %%", v);
    return b;
}

// The verdict's word as a badge, the axes or the reason after it.
std::string verdict_html(const Camera &c) {
    const std::string v = c.verdict.empty() ? "failed (no verdict)" : c.verdict;
    const size_t space = v.find(' ');
    return "<span class='badge'>" + html_escape(v.substr(0, space)) + "</span>" +
           (space == std::string::npos ? "" : " <span class='why'>" + html_escape(v.substr(space + 1)) + "</span>");
}

// One line per axis: checked median and worst, then what they were held against.
std::string axes_cell(const Camera &c) {
    std::string out;
    for (const AxisRow &r : c.axes) {
        out += "<div" + std::string(r.drifted ? " class='off'" : "") + "><b>" + html_escape(r.axis) + "</b> ";
        if (r.moves == 0) {
            out += html_escape(r.against) + "</div>";
            continue;
        }
        out += "median " + percent(r.median) + ", worst " + percent(r.worst) + " <span class='was'>(" +
               html_escape(r.against) + ")</span>" + (r.drifted ? " drifted" : "") + "</div>";
    }
    return out.empty() ? "-" : out;
}

const char *const style =
    "body{font:14px/1.35 sans-serif;color:#222;margin:12px auto;max-width:1240px;padding:0 8px}"
    "h1{font-size:20px;margin:0 0 4px}h2{font-size:16px;margin:18px 0 4px}p{margin:4px 0 10px}"
    "table{border-collapse:collapse;width:100%;table-layout:fixed}"
    "th,td{text-align:left;vertical-align:top;padding:4px 6px;border-bottom:1px solid #ddd;overflow-wrap:anywhere}"
    "th{background:#f2f2f2}"
    "tr.drifted td{background:#fde8e8}tr.failed td{background:#fff3e0}"
    ".badge{display:inline-block;font-weight:bold;color:#fff;padding:1px 6px;border-radius:3px}"
    ".drifted .badge{background:#c62828}.failed .badge{background:#8d4a00}"
    ".ok .badge,.calibrated .badge{background:#2e7d32}"
    ".why{font-weight:bold}.off{color:#c62828;font-weight:bold}.was{color:#666}.values{font-size:12px;color:#444}"
    "section svg{display:block;max-width:100%;height:auto;border:1px solid #ddd}";

}  // namespace

std::vector<size_t> page_order(const std::vector<Camera> &cameras) {
    std::vector<size_t> order(cameras.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return rank(cameras[a]) < rank(cameras[b]); });
    return order;
}

std::string page_html(const Page &page) {
    const std::vector<size_t> order = page_order(page.cameras);
    size_t counts[3] = {0, 0, 0};
    for (const Camera &c : page.cameras) ++counts[rank(c)];
    std::string out = "<!DOCTYPE html>\n<html lang='en'><head><meta charset='utf-8'>\n<title>" +
                      html_escape(page.title + ": " + page.about) + "</title>\n<style>" + style + "</style></head>\n<body>\n";
    out += "<h1>" + html_escape(page.title) + ": " + html_escape(page.about) + "</h1>\n<p>" + html_escape(page.when) + ". " +
           std::to_string(page.cameras.size()) + " camera(s): " + std::to_string(counts[0]) + " drifted, " +
           std::to_string(counts[1]) + " failed, " + std::to_string(counts[2]) + " " +
           (page.title == "Site calibration" ? "calibrated" : "ok") + ".</p>\n";
    out += "<table id='cameras'>\n<colgroup><col style='width:17%'><col style='width:7%'><col style='width:15%'>"
           "<col style='width:39%'><col style='width:22%'></colgroup>\n"
           "<thead><tr><th>verdict</th><th>camera</th><th>line</th><th>landing per axis (against)</th>"
           "<th>values</th></tr></thead>\n<tbody>\n";
    for (size_t i : order) {
        const Camera &c = page.cameras[i];
        const std::string n = std::to_string(c.number);
        std::string values;
        for (const std::string &v : c.values) values += (values.empty() ? "" : " ") + html_escape(v);
        out += "<tr class='" + kind(c) + "' id='row" + n + "'><td>" + verdict_html(c) + "</td><td><a href='#camera" + n + "'>" + n + "</a></td><td>" + html_escape(c.line) + "</td><td>" +
               axes_cell(c) + (c.calibrated.empty() ? "" : "<div class='was'>calibrated " + html_escape(c.calibrated) +
                                                               "</div>") +
               "</td><td class='values'>" + (values.empty() ? "-" : values) + "</td></tr>\n";
    }
    out += "</tbody></table>\n";
    for (size_t i : order) {
        const Camera &c = page.cameras[i];
        out += "<section class='" + kind(c) + "' id='camera" + std::to_string(c.number) + "'>\n<h2>camera " +
               std::to_string(c.number) + " on " + html_escape(c.line) + ": " + verdict_html(c) + "</h2>\n";
        if (c.camera_time) {
            char b[64];
            snprintf(b, sizeof b, "<p>%zu moves landed in %.1f s of camera time.</p>\n", c.moves.size(),
                     *c.camera_time);
            out += b;
        }
        out += c.moves.empty() ? "<p>No move landed.</p>\n" : verify::plot_svg(c.moves);
        out += "</section>\n";
    }
    return out + "</body></html>\n";
}

}  // namespace page
