// The driver itself, run against a recording host of our own: for a given
// configuration and relative move it tells which speed byte or nibble the
// driver sends and how long it sleeps before the stop. The calibration never
// works out the driver's speed and time arithmetic itself.
#ifndef SIM_CALIBRATE_DRIVER_PROBE_H
#define SIM_CALIBRATE_DRIVER_PROBE_H

#include <map>
#include <string>
#include <vector>

namespace calibrate {

enum Axis { Pan = 0, Tilt = 1, Zoom = 2, Focus = 3 };
const char *axis_label(int axis);

// One drive of a relative move: direction +1/-1 in the driver's convention,
// the pan/tilt speed byte or the lens speed nibble, and the sleep before the
// stop frame.
struct Drive {
    int axis = Pan;
    int dir = 0;
    int speed = 0;
    double seconds = 0;
};

// Configuration keys and values, every key of the driver's descriptor.
using Config = std::map<std::string, long>;

// The descriptor's defaults, read from the driver.
Config driver_defaults();

// The range the descriptor declares for an integer key ("low..high");
// false for a key it does not have or a range it does not give.
bool driver_range(const std::string &key, long *low, long *high);

// Sets the configuration (only one probe may exist at a time: the driver
// keeps its records in globals) and runs moves through driver_move_rel.
class DriverProbe {
public:
    explicit DriverProbe(const Config &config);
    ~DriverProbe();
    DriverProbe(const DriverProbe &) = delete;
    DriverProbe &operator=(const DriverProbe &) = delete;

    void set(const std::string &key, long value);
    const Config &config() const { return config_; }

    // The drives of a relative move of `amount` on one axis (degrees or
    // steps); empty when the driver sends nothing for it (or refuses it).
    std::vector<Drive> move(int axis, double amount);

private:
    Config config_;
    bool dirty_ = false;
};

}  // namespace calibrate

#endif
