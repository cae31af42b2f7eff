// One camera's part of the site page, read from the lines its run printed
// (the check's or the calibration's): its verdict, the values it landed
// with, each axis's checked figures and what they were held against, and
// every landed move. Those lines are the stable output of a camera's run,
// so the page reads a single run and a site's children alike.
#ifndef DESK_CALIBRATE_PAGE_PAGE_CAMERA_H
#define DESK_CALIBRATE_PAGE_PAGE_CAMERA_H

#include <optional>
#include <string>
#include <vector>

#include "verify_summary.h"

namespace page {

// An axis's "AXIS checked: ..." line.
struct AxisRow {
    std::string axis;
    int moves = 0;  // 0: none fitted (`against` says why)
    double median = 0, worst = 0;  // percent
    std::string against;  // "recorded median 0.4% worst 1.0%", "goal median 1.0%", "predicted median 0.3%"
    bool drifted = false;
};

struct Camera {
    int number = 0;
    std::string line;
    std::string verdict;     // "ok", "drifted (pan)", "failed (why)", "calibrated"
    std::string calibrated;  // the record's date; empty: no record
    std::vector<std::string> values;  // "MoveSpeed=100", ...
    std::vector<AxisRow> axes;
    std::vector<verify::VerifiedMove> moves;
    std::optional<double> camera_time;  // seconds
};

// Reads PRINTED (a run's standard output, line by line) into camera NUMBER
// on LINE. Lines it does not know are passed over; a run that printed no
// verdict gets none (the caller knows why it ended).
Camera read_printed(int number, const std::string &line, const std::vector<std::string> &printed);

// The text's lines.
std::vector<std::string> split_lines(const std::string &text);

}  // namespace page

#endif
