// Drift: how a camera's landing now compares with its calibration. The
// figures a calibration records (date, values, predicted and checked landing
// per axis) as record lines, and the verdict of a check against them or,
// without them, against the accuracy goals.
#ifndef SIM_CALIBRATE_DRIFT_H
#define SIM_CALIBRATE_DRIFT_H

#include <optional>
#include <string>
#include <vector>

#include "ini_update.h"

namespace calibrate {

// One axis's landing figures (relative errors).
struct AxisFigures {
    double predicted = 0;  // median the values predict
    double median = 0, worst = 0;
};

// What a calibration recorded; axes without a landing have none.
struct Record {
    std::string date;
    std::optional<AxisFigures> axes[4];
};

// The record lines (without "; "): the date, the values (a few per line,
// lines stay short), then one line per landed axis.
std::vector<std::string> record_lines(const std::string &date, const ini::Settings &values,
                                      const std::optional<AxisFigures> (&axes)[4]);
// Reads them back; nullopt when there are none, or no date line.
std::optional<Record> parse_record(const std::vector<std::string> &lines);

// How far past the recorded median a checked one may land.
constexpr double drift_slack = 0.02;
// The goal for an axis's landing median where there is no record.
double median_goal(int axis);

// Whether an axis landing `median` now has drifted: more than drift_slack
// past the recorded median, or, without a record, past the goal.
bool drifted(int axis, double median, const std::optional<AxisFigures> &recorded);
// The median beyond which an axis has drifted.
double drift_limit(int axis, const std::optional<AxisFigures> &recorded);

// The date and time now, UTC: "2026-12-10 16:58 UTC".
std::string now_utc();

}  // namespace calibrate

#endif
