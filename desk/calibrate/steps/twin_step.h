// The twin as steps of a calibration run (main.cpp): checked before
// anything moves, measured after the calibration's drives, written once the
// camera is back at its start (a calibration refused later keeps it).
#ifndef SIM_CALIBRATE_TWIN_STEP_H
#define SIM_CALIBRATE_TWIN_STEP_H

#include <string>

#include "session.h"
#include "twin.h"

namespace calibrate {

// --twin needs every axis and the full measurement, and a file it can write.
bool twin_ready(const Options &o, std::string *error);
bool measure_twin_step(Session &s, TwinMeasurement *m);
// Prints what was not measured and what was assumed; writes the profile.
bool write_twin_step(Session &s, const TwinMeasurement &m);

}  // namespace calibrate

#endif
