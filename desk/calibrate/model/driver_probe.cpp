#include "driver_probe.h"

#include <stdlib.h>
#include <string.h>

#include <stdexcept>

#include "ptz_host.h"
#include "visca.h"

// ---- the recording host: globals and services the driver links against ----

uint32_t cameras = 1;
static int one_slot[1] = {1};
int *camera_map = one_slot;
int camindex = 0;
int suspended = 0;
char drivermsg[256];

namespace {

struct Recorder {
    const calibrate::Config *config = nullptr;
    std::vector<visca::Bytes> frames;
    std::vector<unsigned> sleeps;  // microseconds, in order with the frames
    std::vector<int> order;        // 0 frame, 1 sleep
};

Recorder recorder;

}  // namespace

extern "C" {

int ptz_write_port(const unsigned char *frame, int length) {
    recorder.frames.emplace_back(frame, frame + length);
    recorder.order.push_back(0);
    return 1;
}

int ptz_usleep(unsigned int usec) {
    recorder.sleeps.push_back(usec);
    recorder.order.push_back(1);
    return 1;
}

void ptz_action_started(int) {}
void ptz_action_completed(int, int) {}
int ptz_set_status(int, int, int, int, int, int, int, int, int, int, int, int, int, int) { return 1; }

int ptz_get_int_param(const char *key, int, int *value, int) {
    if (recorder.config == nullptr) return 0;
    const auto it = recorder.config->find(key);
    if (it == recorder.config->end()) return 0;
    *value = static_cast<int>(it->second);
    return 1;
}

int ptz_get_bool_param(const char *key, int mode, int *value, int camera) {
    return ptz_get_int_param(key, mode, value, camera);
}

void ptz_request_poll(int) {}

}  // extern "C"

namespace calibrate {

const char *axis_label(int axis) {
    static const char *const names[] = {"pan", "tilt", "zoom", "focus"};
    return axis >= 0 && axis < 4 ? names[axis] : "?";
}

namespace {

// Every parameter table of the driver's descriptor, each ending in kind 0.
std::vector<const param_descriptor *> descriptor_tables() {
    const char *name = nullptr, *version = nullptr;
    const uint32_t *caps = nullptr;
    const param_descriptor *tables[8] = {};
    const param_descriptor *params = nullptr;
    int count = 0;
    const port_settings *port = nullptr;
    const text_item *item = nullptr;
    uint32_t *host_word = nullptr;
    driver_get_info(&name, &version, &caps, &tables[0], &tables[1], &tables[2], &tables[3], &tables[4],
                    &tables[5], &tables[6], &params, &count, &port, &item, &host_word);
    tables[7] = params;
    return std::vector<const param_descriptor *>(tables, tables + 8);
}

}  // namespace

bool driver_range(const std::string &key, long *low, long *high) {
    for (const param_descriptor *table : descriptor_tables()) {
        for (const param_descriptor *p = table; p != nullptr && p->kind != 0; ++p) {
            if (p->kind != 3 || key != p->key || p->range == nullptr) continue;
            char *end = nullptr;
            const long a = strtol(p->range, &end, 10);
            if (end == p->range || strncmp(end, "..", 2) != 0) return false;
            const char *rest = end + 2;
            const long b = strtol(rest, &end, 10);
            if (end == rest || *end != '\0') return false;
            *low = a;
            *high = b;
            return true;
        }
    }
    return false;
}

Config driver_defaults() {
    Config config;
    for (const param_descriptor *table : descriptor_tables()) {
        for (const param_descriptor *p = table; p != nullptr && p->kind != 0; ++p) {
            const std::string def = p->def != nullptr ? p->def : "";
            if (p->kind == 4) {
                config[p->key] = def == "true" ? 1 : 0;
            } else {
                config[p->key] = strtol(def.c_str(), nullptr, 10);
            }
        }
    }
    return config;
}

DriverProbe::DriverProbe(const Config &config) : config_(config) {
    recorder.config = &config_;
    cameras = 1;
    camindex = 0;
    suspended = 0;
    if (driver_setup() != 1) {
        throw std::runtime_error(std::string("the driver refused the configuration: ") + drivermsg);
    }
}

DriverProbe::~DriverProbe() {
    driver_teardown();
    recorder = Recorder();
}

void DriverProbe::set(const std::string &key, long value) {
    auto it = config_.find(key);
    if (it != config_.end() && it->second == value) return;
    config_[key] = value;
    dirty_ = true;
}

std::vector<Drive> DriverProbe::move(int axis, double amount) {
    if (dirty_) {
        driver_param_changed();
        dirty_ = false;
    }
    recorder.frames.clear();
    recorder.sleeps.clear();
    recorder.order.clear();
    move_request request{32765.0f, 32765.0f, 32765.0f, 32765.0f, 32765.0f};
    float *member[4] = {&request.pan, &request.tilt, &request.zoom, &request.focus};
    *member[axis] = static_cast<float>(amount);
    driver_move_rel(&request);

    // drive frame, sleep, stop frame(s): each sleep belongs to the drive before it.
    std::vector<Drive> drives;
    size_t frame = 0, sleep = 0;
    bool pending = false;
    for (int what : recorder.order) {
        if (what == 0) {
            const visca::Message m = visca::decode(recorder.frames[frame++]);
            Drive d;
            d.axis = axis;
            if (m.kind == visca::Kind::PanTiltDrive && axis == Pan && m.pan_dir != 0) {
                d.dir = m.pan_dir;
                d.speed = m.pan_speed;
            } else if (m.kind == visca::Kind::PanTiltDrive && axis == Tilt && m.tilt_dir != 0) {
                d.dir = m.tilt_dir;
                d.speed = m.tilt_speed;
            } else if ((m.kind == visca::Kind::ZoomDrive && axis == Zoom) ||
                       (m.kind == visca::Kind::FocusDrive && axis == Focus)) {
                if (m.lens_dir == 0) continue;
                d.dir = m.lens_dir;
                d.speed = m.lens_speed;
            } else {
                continue;
            }
            drives.push_back(d);
            pending = true;
        } else {
            const unsigned usec = recorder.sleeps[sleep++];
            if (pending) {
                drives.back().seconds = usec / 1e6;
                pending = false;
            }
        }
    }
    return drives;
}

}  // namespace calibrate
