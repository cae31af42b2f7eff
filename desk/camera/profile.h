// A camera profile: how one model of camera turns, zooms, focuses, reports
// its position and takes commands. Profiles are INI files (see
// docs/camera-profiles.md); the virtual camera runs them and the calibration
// reads them, so this reader depends on nothing else of the desk programs.
#ifndef SIM_PROFILE_H
#define SIM_PROFILE_H

#include <string>
#include <vector>

namespace camera {

// Speed against speed byte (pan, tilt) or nibble (zoom, focus).
struct SpeedCurve {
    // Proportional: rate = full_rate * code / full_code, for any code.
    // Table: rate = table[code - first_code]; codes below the table take its
    // first entry, codes above it its last (the camera's top speed).
    bool proportional = true;
    double full_rate = 0;
    int full_code = 1;
    std::vector<double> table;
    int first_code = 0;

    double rate(int code) const;
    // The top speed: at full_code, or the table's last entry.
    double top() const { return proportional ? rate(full_code) : table.back(); }
};

struct PanTiltAxis {
    SpeedCurve speed;              // degrees per second against speed byte
    double units_per_degree = 1;   // position units in the position reply
    int sign = 1;                  // -1: the reply counts the other way
    bool end_stops = false;        // false: turns without limit
    double min_degrees = 0, max_degrees = 0;

    // Signed 16-bit reply value for a position in degrees (wraps like the camera's counter).
    int reply_units(double degrees) const;
};

struct LensAxis {
    // Full travel time, ms, against speed nibble: proportional means
    // full_travel_ms at nibble 7, faster in proportion to nibble + 1.
    bool proportional = true;
    double full_travel_ms = 1000;
    std::vector<double> travel_ms;  // table: one entry per nibble 0..7
    double min = 0, max = 19998;    // position range, in reply units
    double start = 0;               // where it stands at power-up

    double rate(int nibble) const;  // units per second
};

struct Profile {
    std::string name;
    std::string description;
    PanTiltAxis pan, tilt;
    LensAxis zoom, focus;
    double frame_ms = 0;          // video frame period; 0: commands act on arrival
    double start_latency_ms = 0;  // from a drive taking effect to motion, from rest
    double coast_ms = 0;          // a stopped axis slows to rest over this time
    double reply_ms = 0;          // from an inquiry taking effect to the first reply byte
    int slots = 0;                // commands in execution at most; 0: no limit
    bool rejects_zero_speed = false;  // a pan-tilt frame with a 00 speed byte is a syntax error
    int vendor = 0, model = 0, rom = 0;  // version reply

    // Today's virtual camera: proportional speeds calibrated to the driver's defaults.
    static Profile proportional();
};

// Reads a profile file. On failure returns false with "FILE:LINE: what".
bool read_profile(const std::string &path, Profile *out, std::string *error);

// NAME (a built-in profile, looked up in `folder`) or a file path (anything
// with a '/' or ending in ".ini").
std::string profile_path(const std::string &name_or_file, const std::string &folder);

// The folder of the built-in profiles: $PTZ_PROFILE_DIR if set, else the
// source folder this program was built from.
std::string builtin_profile_folder();

// The names of the profiles in `folder`, sorted.
std::vector<std::string> builtin_profile_names(const std::string &folder);

// profile_path + read_profile with the built-in folder. A name that is no
// built-in profile gets the list of those there are.
bool load_profile(const std::string &name_or_file, Profile *out, std::string *error);

}  // namespace camera

#endif
