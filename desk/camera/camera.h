// A virtual VISCA camera: it takes the driver's frames with the time they
// arrived and simulates what a pan/tilt/zoom camera does with them over time.
//
// How it moves comes from a camera profile (profile.h). The default,
// "proportional", is the desk's original model: pan and tilt turn at a rate
// proportional to the speed byte, zoom and focus proportional to the speed
// nibble + 1, scaled to the driver's default calibration, so a relative pan
// of 10 degrees at full speed, driven for 690 ms, ends 10 degrees away; every
// command acts the moment it arrives, axes start and stop at once, pan and
// tilt have no end stops, zoom and focus stop at 0 and 19998.
//
// Other profiles act on commands once per video frame: a command takes effect
// at the first frame boundary after it arrived (boundaries at whole multiples
// of the frame period on the camera's clock). A pan or tilt driven from rest
// starts moving start_latency_ms later; a stopped one slows down evenly to
// rest over coast_ms; pan and tilt stop at their end stops. A "standard
// speed" lens drive (02/03 without a nibble) runs at nibble 3. Inquiries are
// answered whether or not command replies are on, reply_ms after they take
// effect, with the position at that moment. Positions are a pure function of
// the arrival times.
//
// Time is whatever clock the caller passes (seconds); the camera only asks
// that it does not run backwards.
#ifndef SIM_CAMERA_H
#define SIM_CAMERA_H

#include <map>
#include <string>
#include <vector>

#include "profile.h"
#include "visca.h"

namespace camera {

constexpr double lens_span = 19998.0;
constexpr int brightness_max = 31;
constexpr int brightness_start = 15;

struct CameraModel {
    Profile profile = Profile::proportional();
    bool replies = false;             // send acknowledge / completion / error replies
    bool buffer_limit = false;        // two commands in execution at most (profiles with slots: always)
    double exec_ms = 30.0;            // how long an ordinary command is in execution

    double pan_rate(int byte) const { return profile.pan.speed.rate(byte); }
    double tilt_rate(int byte) const { return profile.tilt.speed.rate(byte); }
    double zoom_rate(int nibble) const { return profile.zoom.rate(nibble); }
    double focus_rate(int nibble) const { return profile.focus.rate(nibble); }
    // Commands held in execution at most; 0: no limit.
    int slots() const { return profile.slots > 0 ? profile.slots : buffer_limit ? 2 : 0; }
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
    bool coasting[axis_count] = {false, false, false, false};  // slowing down after a stop
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
    double effective = 0;  // when the camera acted on it (the next frame boundary)
    bool dropped = false;  // the command buffer was full, or the camera rejected it
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

    // Replies whose time has come by `time` (advancing to it), in order; each
    // is handed out once.
    std::vector<Reply> take_replies(double time);
    // Time of the next pending reply or of the next command still waiting for
    // its frame (which may bring one), or a negative value when there is none.
    double next_reply_time() const;

    const std::vector<Received> &history() const { return history_; }
    const CameraModel &model() const { return model_; }

    // One line: positions, modes, relays, menu, presets.
    std::string summary() const;
    // key=value lines, for scripts and tests.
    std::string state_lines() const;

private:
    // A pan or tilt drive waiting out the start latency.
    struct PendingStart {
        bool waiting = false;
        double at = 0;
        double velocity = 0;
    };

    void integrate(double time);
    void act(size_t index, int socket);
    void apply(Received &r);
    void answer(const Received &r);
    void drive(int axis, double velocity);
    void seek(const Position &target);
    double recall_end() const;
    double frame_after(double time) const;
    void schedule(const visca::Bytes &bytes, double time, bool always = false);

    CameraModel model_;
    CameraState state_;
    double now_ = 0;
    double seek_goal_[axis_count] = {0, 0, 0, 0};
    double decel_[axis_count] = {0, 0, 0, 0};
    PendingStart start_[2];
    std::vector<double> socket_busy_until_;
    // Commands waiting for their frame boundary: history index and socket.
    std::vector<std::pair<size_t, int>> queued_;
    std::vector<Received> history_;
    std::vector<Reply> pending_;
};

// Writes an SVG picture of a session: each axis over time, with a mark and
// a label for every frame received. Replays the history in a fresh camera.
bool write_timeline(const std::string &path, const CameraModel &model,
                    const std::vector<Received> &history, double end_time, std::string *error);

}  // namespace camera

#endif
