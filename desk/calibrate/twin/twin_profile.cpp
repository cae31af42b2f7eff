// From a twin's measurement to a camera profile, and the profile's text.
#include <math.h>
#include <stdio.h>

#include <algorithm>
#include <sstream>

#include "median.h"
#include "twin.h"

namespace calibrate {

namespace {

template <typename... A>
std::string format(const char *fmt, A... a) {
    char text[240];
    snprintf(text, sizeof text, fmt, a...);
    return text;
}

// For each code that moved, the mean of the ways it was driven (both, or
// the one a camera the same both ways was driven); the difference between
// the two ways, relative, at the code where it goes furthest beyond the
// readings' resolution and more than 1 % (else 0), with that code. `each_way`:
// whether the axis moved measurably both ways at some code.
std::map<int, double> both_ways(const TwinMeasurement &m, int axis, double *asymmetry, int *at, bool *each_way) {
    std::map<int, double> rates;
    *asymmetry = 0;
    double most = 0;
    *each_way = !m.holds[axis][0].empty() && !m.holds[axis][1].empty();
    for (const auto &side : m.holds[axis]) {
        for (const auto &[code, hold] : side) rates[code] = hold.rate;
    }
    for (const auto &[code, up] : m.holds[axis][0]) {
        const auto down = m.holds[axis][1].find(code);
        if (down == m.holds[axis][1].end()) continue;
        const double mean = (up.rate + down->second.rate) / 2;
        rates[code] = mean;
        // Counted by how far it goes beyond the resolution of the readings;
        // said as measured.
        const double d = fabs(up.rate - down->second.rate) / mean;
        const double beyond = d - std::max(up.resolution, down->second.resolution);
        if (beyond > 0.01 && beyond > most) most = beyond, *asymmetry = d, *at = code;
    }
    return rates;
}

// Rates growing in proportion to `code + shift` within `tolerance`: the
// factor, else 0. Measured rates carry the noise of the readings; a
// proportional camera's twin should not.
double proportional_factor(const std::map<int, double> &rates, int shift, double tolerance) {
    double sxy = 0, sxx = 0;
    for (const auto &[code, rate] : rates) {
        const double x = code + shift;
        if (x <= 0) return 0;
        sxy += x * rate;
        sxx += x * x;
    }
    if (!(sxx > 0)) return 0;
    const double k = sxy / sxx;
    for (const auto &[code, rate] : rates) {
        if (fabs(rate - k * (code + shift)) > tolerance * k * (code + shift)) return 0;
    }
    return k;
}

}  // namespace

bool twin_profile(const TwinMeasurement &m, const TwinSetup &setup, camera::Profile *out, std::vector<std::string> *notes,
                  std::string *error) {
    camera::Profile p;
    if (m.version.size() == 7) {
        p.vendor = (m.version[0] << 8 | m.version[1]) & 0x7F7F;
        p.model = (m.version[2] << 8 | m.version[3]) & 0x7F7F;
        p.rom = (m.version[4] << 8 | m.version[5]) & 0x7F7F;
        p.slots = std::min<int>(m.version[6], 16);
        notes->push_back(format("slots: the camera's version reply says %d (a camera without a limit may say 2)",
                                p.slots));
    }
    p.frame_ms = 1000 * setup.time_step;
    p.reply_ms = 1000 * m.reply_seconds;
    p.rejects_zero_speed = false;
    notes->push_back("rejects_zero_speed: false (the pan drives carry 00 as the tilt speed, and pan moved)");

    // Pan and tilt.
    std::vector<double> latencies, coasts, lens_latencies, lens_coasts;
    camera::PanTiltAxis *pt[2] = {&p.pan, &p.tilt};
    for (int axis = Pan; axis <= Tilt; ++axis) {
        const std::string name = axis_label(axis);
        double asym = 0;
        int asym_at = 0;
        bool each_way = false;
        const std::map<int, double> rates = both_ways(m, axis, &asym, &asym_at, &each_way);
        if (rates.empty() || !each_way) {
            *error = name + ": no speed byte moved it measurably both ways; a twin needs every axis";
            return false;
        }
        camera::PanTiltAxis &a = *pt[axis];
        a.units_per_degree = setup.geometry[axis].units_per_unit;
        a.sign = setup.geometry[axis].sign == 0 ? 1 : setup.geometry[axis].sign;
        notes->push_back(format("units_per_degree: not measurable (the reply counts units), %.6g taken as given",
                                a.units_per_degree));
        notes->back().insert(0, name + " ");
        const int first = rates.begin()->first, top = setup.top_code[axis];
        a.speed.proportional = false;
        a.speed.first_code = first;
        const double k = first >= 1 ? proportional_factor(rates, 0, 0.015) : 0;
        for (int code = first; code <= top; ++code) {
            const auto r = rates.find(code);
            if (k > 0) {
                a.speed.table.push_back(k * code);
            } else if (r != rates.end()) {
                a.speed.table.push_back(r->second);
            } else {
                // A code between that did not move measurably: its neighbour's speed.
                a.speed.table.push_back(a.speed.table.empty() ? rates.begin()->second : a.speed.table.back());
                notes->push_back(name + format(" byte 0x%02X: not measured; assumed as the byte below", code));
            }
        }
        // Bytes above the top speed take it anyway: the table ends there.
        std::vector<double> &table = a.speed.table;
        while (k == 0 && table.size() > 1 && fabs(table.back() - table[table.size() - 2]) <= 0.003 * table.back()) {
            table.pop_back();
        }
        if (k > 0) notes->push_back(name + format(": speed proportional to the byte within 1.5 %%, %.4f deg/s per byte", k));
        if (first > 0) notes->push_back(name + format(" bytes below 0x%02X: did not move; taken as 0x%02X", first, first));
        notes->push_back(name + format(" bytes above 0x%02X: not measured; taken as 0x%02X", top, top));
        if (asym > 0.01) {
            notes->push_back(name + format(": the two ways differ by up to %.1f %% (byte 0x%02X); the format has one "
                                           "speed per byte: their mean is written",
                                           100 * asym, asym_at));
        }
        if (m.min[axis] && m.max[axis] && *m.min[axis] < 0 && *m.max[axis] > 0 && fabs(*m.min[axis]) <= 360 &&
            fabs(*m.max[axis]) <= 360) {
            a.end_stops = true;
            a.min_degrees = *m.min[axis];
            a.max_degrees = *m.max[axis];
        } else if (m.min[axis] || m.max[axis]) {
            notes->push_back(name + ": only one end found, or ends not around the counter's zero; written without end stops");
        } else {
            notes->push_back(name + format(": no end stop within %.0f s at the top speed each way; written without end stops",
                                           setup.end_search_seconds));
        }
        for (const auto &side : m.holds[axis]) {
            for (const auto &[code, h] : side) {
                if (h.latency) latencies.push_back(*h.latency);
                if (h.coast) coasts.push_back(*h.coast);
            }
        }
    }
    p.start_latency_ms = std::clamp(1000 * common::median(latencies), 0.0, 10000.0);
    p.coast_ms = std::clamp(1000 * common::median(coasts), 0.0, 10000.0);

    // Zoom and focus.
    camera::LensAxis *lens[2] = {&p.zoom, &p.focus};
    for (int axis = Zoom; axis <= Focus; ++axis) {
        const std::string name = axis_label(axis);
        camera::LensAxis &a = *lens[axis - Zoom];
        double asym = 0;
        int asym_at = 0;
        bool each_way = false;
        const std::map<int, double> rates = both_ways(m, axis, &asym, &asym_at, &each_way);
        if (rates.size() != 8 || !each_way) {
            *error = name + format(": %zu of the 8 speed nibbles moved it measurably%s; a twin needs every nibble",
                                   rates.size(), each_way ? "" : ", and not both ways");
            return false;
        }
        if (!m.min[axis] || !m.max[axis] || !(*m.min[axis] < *m.max[axis]) || *m.min[axis] < 0 || *m.max[axis] > 0xFFFF) {
            *error = name + ": its ends were not found within 60 s at the top nibble";
            return false;
        }
        a.min = *m.min[axis];
        a.max = *m.max[axis];
        const double travel = a.max - a.min;
        const double k = proportional_factor(rates, 1, 0.02);
        if (k > 0) {
            a.proportional = true;
            a.full_travel_ms = std::min(600000.0, 1000 * travel / (8 * k));
            notes->push_back(name + ": speed proportional to nibble + 1 within 2 %");
        } else {
            a.proportional = false;
            a.travel_ms.clear();
            for (const auto &[nibble, rate] : rates) a.travel_ms.push_back(std::min(600000.0, 1000 * travel / rate));
        }
        if (asym > 0.01) {
            notes->push_back(name + format(": the two ways differ by up to %.1f %% (nibble %d); their mean is written",
                                           100 * asym, asym_at));
        }
        a.start = std::clamp(m.lens_start[axis - Zoom].value_or(a.min), a.min, a.max);
        notes->push_back(name + format(" start: the power-up position is not measurable; where it stood when the "
                                       "run began, %.0f",
                                       a.start));
        for (const auto &side : m.holds[axis]) {
            for (const auto &[code, h] : side) {
                if (h.latency) lens_latencies.push_back(*h.latency);
                if (h.coast) lens_coasts.push_back(*h.coast);
            }
        }
    }
    // The format's latency and coast are pan and tilt's; a lens starts and
    // stops at once. Say so when the lens measured otherwise.
    const double lens_latency = common::median(lens_latencies), lens_coast = common::median(lens_coasts);
    if (fabs(lens_latency) > std::max(0.01, setup.time_step) || fabs(lens_coast) > std::max(0.01, setup.time_step)) {
        notes->push_back(format("zoom/focus: start latency %.0f ms and coast %.0f ms measured; the format has "
                                "neither for the lens (written: none)",
                                1000 * lens_latency, 1000 * lens_coast));
    }
    *out = p;
    return true;
}

std::string profile_text(const camera::Profile &p, const std::vector<std::string> &comment) {
    std::ostringstream o;
    for (const std::string &c : comment) o << "; " << c << "\n";
    auto hex4 = [](int v) { return format("0x%04X", v); };
    o << "[camera]\n";
    if (!p.name.empty()) o << "name = " << p.name << "\n";
    if (!p.description.empty()) o << "description = " << p.description << "\n";
    o << format("frame_ms = %.3f\n", p.frame_ms) << format("start_latency_ms = %.1f\n", p.start_latency_ms)
      << format("coast_ms = %.1f\n", p.coast_ms) << format("reply_ms = %.1f\n", p.reply_ms) << "slots = " << p.slots
      << "\n"
      << "rejects_zero_speed = " << (p.rejects_zero_speed ? "true" : "false") << "\n"
      << "vendor = " << hex4(p.vendor) << "\nmodel = " << hex4(p.model) << "\nrom = " << hex4(p.rom) << "\n";
    const char *names[2] = {"pan", "tilt"};
    const camera::PanTiltAxis *pt[2] = {&p.pan, &p.tilt};
    for (int i = 0; i < 2; ++i) {
        const camera::PanTiltAxis &a = *pt[i];
        o << "\n[" << names[i] << "]\n";
        if (a.speed.proportional) {
            o << format("full_speed = %.6g\n", a.speed.full_rate) << format("full_byte = 0x%02X\n", a.speed.full_code);
        } else {
            o << format("first_byte = 0x%02X\n", a.speed.first_code) << "speeds =";
            // Eight numbers a line: the reader's lines are short.
            for (size_t k = 0; k < a.speed.table.size(); ++k) {
                if (k > 0 && k % 8 == 0) o << "\n        ";
                o << format(" %.5g", a.speed.table[k]);
            }
            o << "\n";
        }
        o << format("units_per_degree = %.6g\n", a.units_per_degree) << "sign = " << a.sign << "\n";
        if (a.end_stops) o << format("min = %.3f\nmax = %.3f\n", a.min_degrees, a.max_degrees);
    }
    const char *lens_names[2] = {"zoom", "focus"};
    const camera::LensAxis *lens[2] = {&p.zoom, &p.focus};
    for (int i = 0; i < 2; ++i) {
        const camera::LensAxis &a = *lens[i];
        o << "\n[" << lens_names[i] << "]\n";
        if (a.proportional) {
            o << format("full_travel_ms = %.1f\n", a.full_travel_ms);
        } else {
            o << "travel_ms =";
            for (double t : a.travel_ms) o << format(" %.1f", t);
            o << "\n";
        }
        o << format("min = %.0f\nmax = %.0f\nstart = %.0f\n", a.min, a.max, a.start);
    }
    return o.str();
}

}  // namespace calibrate
