// A virtual VISCA camera: it takes the driver's frames with the time they
// arrived and simulates what a pan/tilt/zoom camera does with them over time.
//
// Speed model. Pan and tilt turn at a rate proportional to the speed byte,
// zoom and focus at a rate proportional to the speed nibble + 1:
//   pan   degrees/s = pan_dps  * byte / 0x12      (byte 0x12 is the driver's full speed)
//   tilt  degrees/s = tilt_dps * byte / 0x0E      (byte 0x0E likewise)
//   zoom  steps/s   = 19998 / (zoom_ms / 1000)  * (nibble + 1) / 8
//   focus steps/s   = 19998 / (focus_ms / 1000) * (nibble + 1) / 8
// The defaults (pan 1000/69, tilt 1000/68 degrees/s, zoom 10500 ms, focus
// 1500 ms) are the driver's default calibration, so a relative pan of 10
// degrees at full speed, driven for 690 ms, ends 10 degrees away. A "standard
// speed" lens drive (02/03 without a nibble) runs at nibble 3. Pan and tilt
// have no end stops; zoom and focus stop at the ends of 0..19998.
//
// Time is whatever clock the caller passes (seconds); the camera only asks
// that it does not run backwards.
#ifndef SIM_CAMERA_H
#define SIM_CAMERA_H

#include <map>
#include <string>
#include <vector>

#include "visca.h"

namespace sim {

constexpr double lens_span = 19998.0;
constexpr int brightness_max = 31;
constexpr int brightness_start = 15;

struct CameraModel {
    double pan_dps = 1000.0 / 69.0;   // degrees per second at pan byte 0x12
    double tilt_dps = 1000.0 / 68.0;  // degrees per second at tilt byte 0x0E
    double zoom_ms = 10500.0;         // full zoom travel at nibble 7
    double focus_ms = 1500.0;         // full focus travel at nibble 7
    bool replies = false;             // send acknowledge / completion / error replies
    bool buffer_limit = false;        // two commands in execution at most
    double exec_ms = 30.0;            // how long an ordinary command is in execution

    double pan_rate(int byte) const { return pan_dps * byte / 0x12; }
    double tilt_rate(int byte) const { return tilt_dps * byte / 0x0E; }
    double zoom_rate(int nibble) const { return lens_span / (zoom_ms / 1000.0) * (nibble + 1) / 8.0; }
    double focus_rate(int nibble) const { return lens_span / (focus_ms / 1000.0) * (nibble + 1) / 8.0; }
};

enum class AxisId { Pan, Tilt, Zoom, Focus };
constexpr int axis_count = 4;
const char *axis_name(AxisId axis);

struct Position {
    double axis[axis_count] = {0, 0, 0, lens_span / 2};
};

struct CameraState {
    Position position;
    double velocity[axis_count] = {0, 0, 0, 0};  // units per second, signed
    bool seeking[axis_count] = {false, false, false, false};  // preset recall in progress
    int brightness = brightness_start;
    bool focus_auto = false;
    int ae_mode = 0x00;           // 00 full auto, 0D bright, ...
    bool backlight = false;
    bool ircut_auto = false;
    bool ircut_removed = false;   // night
    bool relay[3] = {false, false, false};
    bool menu_open = false;
    std::map<int, Position> memory;

    bool moving() const;
};

// What became of one received message.
struct Received {
    double time = 0;
    visca::Message message;
    bool dropped = false;  // the command buffer was full
    std::string note;      // what the camera made of it beyond the decoding, if anything
};

struct Reply {
    double time = 0;
    visca::Bytes bytes;
};

class VirtualCamera {
public:
    explicit VirtualCamera(const CameraModel &model = CameraModel());

    // A complete message arrived at `time`.
    const Received &receive(const visca::Bytes &bytes, double time);
    // Moves the simulation forward to `time`.
    void advance(double time);
    // The state at `time` (advancing to it).
    const CameraState &state_at(double time);
    const CameraState &state() const { return state_; }
    double now() const { return now_; }

    // Replies whose time has come by `time`, in order; each is handed out once.
    std::vector<Reply> take_replies(double time);
    // Time of the next pending reply, or a negative value when none is pending.
    double next_reply_time() const;

    const std::vector<Received> &history() const { return history_; }
    const CameraModel &model() const { return model_; }

    // One line: positions, modes, relays, menu, presets.
    std::string summary() const;
    // key=value lines, for scripts and tests.
    std::string state_lines() const;

private:
    void apply(Received &r);
    void seek(const Position &target);
    double recall_end() const;
    void schedule(const visca::Bytes &bytes, double time);

    CameraModel model_;
    CameraState state_;
    double now_ = 0;
    double seek_goal_[axis_count] = {0, 0, 0, 0};
    double socket_busy_until_[2] = {-1, -1};
    std::vector<Received> history_;
    std::vector<Reply> pending_;
};

// Writes an SVG picture of a session: each axis over time, with a mark and
// a label for every frame received. Replays the history in a fresh camera.
bool write_timeline(const std::string &path, const CameraModel &model,
                    const std::vector<Received> &history, double end_time, std::string *error);

}  // namespace sim

#endif
