#include "camera.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>

namespace camera {

using visca::Kind;

const char *axis_name(AxisId axis) {
    switch (axis) {
    case AxisId::Pan: return "pan";
    case AxisId::Tilt: return "tilt";
    case AxisId::Zoom: return "zoom";
    case AxisId::Focus: return "focus";
    }
    return "?";
}

bool CameraState::moving() const {
    for (double v : velocity) {
        if (v != 0) return true;
    }
    return false;
}

namespace {

constexpr int pan = static_cast<int>(AxisId::Pan);
constexpr int tilt = static_cast<int>(AxisId::Tilt);
constexpr int zoom = static_cast<int>(AxisId::Zoom);
constexpr int focus = static_cast<int>(AxisId::Focus);

const char *on_off(bool on) { return on ? "on" : "off"; }

std::string ae_name(int code) {
    switch (code) {
    case 0x00: return "full-auto";
    case 0x03: return "manual";
    case 0x0A: return "shutter-priority";
    case 0x0B: return "iris-priority";
    case 0x0D: return "bright";
    }
    return "?";
}

}  // namespace

VirtualCamera::VirtualCamera(const CameraModel &model)
    : model_(model), socket_busy_until_(static_cast<size_t>(model.slots()), -1.0) {
    state_.position.axis[zoom] = model_.profile.zoom.start;
    state_.position.axis[focus] = model_.profile.focus.start;
}

double VirtualCamera::frame_after(double time) const {
    const double period = model_.profile.frame_ms / 1000.0;
    return period > 0 ? (floor(time / period) + 1) * period : time;
}

void VirtualCamera::advance(double time) {
    // Events up to `time` in order: commands reaching their frame boundary,
    // and drives coming out of their start latency (commands first on a tie,
    // so a stop in the same frame cancels the start).
    while (true) {
        double next = time;
        int event = -1;  // -1 none, 0 queued command, 1 + axis: a pending start
        if (!queued_.empty() && history_[queued_.front().first].effective <= next) {
            next = history_[queued_.front().first].effective;
            event = 0;
        }
        for (int a : {pan, tilt}) {
            if (start_[a].waiting && (event == 0 ? start_[a].at < next : start_[a].at <= next)) {
                next = start_[a].at;
                event = 1 + a;
            }
        }
        if (event < 0) {
            integrate(time);
            return;
        }
        integrate(next);
        if (event == 0) {
            const auto command = queued_.front();
            queued_.erase(queued_.begin());
            act(command.first, command.second);
        } else {
            const int a = event - 1;
            start_[a].waiting = false;
            state_.velocity[a] = start_[a].velocity;
        }
    }
}

void VirtualCamera::integrate(double time) {
    const double dt = time - now_;
    if (!(dt > 0)) {
        return;
    }
    now_ = time;
    const Profile &p = model_.profile;
    for (int a = 0; a < axis_count; ++a) {
        double &pos = state_.position.axis[a];
        double &vel = state_.velocity[a];
        if (vel == 0) {
            continue;
        }
        if (state_.seeking[a]) {
            // Preset recall: head for the stored position and stop there.
            // The velocity then holds the signed rate towards it.
            const double target = pos + vel * dt;
            const double &goal = seek_goal_[a];
            if ((vel > 0 && target >= goal) || (vel < 0 && target <= goal)) {
                pos = goal;
                vel = 0;
                state_.seeking[a] = false;
            } else {
                pos = target;
            }
            continue;
        }
        if (state_.coasting[a]) {
            // Even deceleration to rest.
            const double dir = vel > 0 ? 1 : -1;
            const double rest_in = fabs(vel) / decel_[a];
            if (dt >= rest_in) {
                pos += vel * rest_in / 2;
                vel = 0;
                state_.coasting[a] = false;
            } else {
                pos += vel * dt - dir * decel_[a] * dt * dt / 2;
                vel -= dir * decel_[a] * dt;
            }
        } else {
            pos += vel * dt;
        }
        const PanTiltAxis *pt = a == pan ? &p.pan : a == tilt ? &p.tilt : nullptr;
        if (pt != nullptr && !pt->end_stops) {
            continue;
        }
        const double lo = pt != nullptr ? pt->min_degrees : a == zoom ? p.zoom.min : p.focus.min;
        const double hi = pt != nullptr ? pt->max_degrees : a == zoom ? p.zoom.max : p.focus.max;
        if (pos <= lo || pos >= hi) {
            pos = pos <= lo ? lo : hi;
            vel = 0;
            state_.coasting[a] = false;
        }
    }
}

const CameraState &VirtualCamera::state_at(double time) {
    advance(time);
    return state_;
}

void VirtualCamera::seek(const Position &target) {
    const Profile &p = model_.profile;
    const double full[axis_count] = {p.pan.speed.top(), p.tilt.speed.top(), model_.zoom_rate(7),
                                     model_.focus_rate(7)};
    for (int a = 0; a < axis_count; ++a) {
        const double d = target.axis[a] - state_.position.axis[a];
        seek_goal_[a] = target.axis[a];
        state_.coasting[a] = false;
        if (a == pan || a == tilt) start_[a].waiting = false;
        if (d == 0) {
            state_.velocity[a] = 0;
            state_.seeking[a] = false;
        } else {
            state_.velocity[a] = d > 0 ? full[a] : -full[a];
            state_.seeking[a] = true;
        }
    }
}

void VirtualCamera::drive(int a, double velocity) {
    CameraState &s = state_;
    const bool was_moving = s.velocity[a] != 0;
    s.seeking[a] = false;
    if (velocity == 0) {
        start_[a].waiting = false;  // a stop cancels a start not yet begun
        if (was_moving && model_.profile.coast_ms > 0) {
            if (!s.coasting[a]) {
                s.coasting[a] = true;
                decel_[a] = fabs(s.velocity[a]) / (model_.profile.coast_ms / 1000.0);
            }
        } else {
            s.velocity[a] = 0;
            s.coasting[a] = false;
        }
    } else if (!was_moving && model_.profile.start_latency_ms > 0) {
        if (!start_[a].waiting) {
            start_[a].waiting = true;
            start_[a].at = now_ + model_.profile.start_latency_ms / 1000.0;
        }
        start_[a].velocity = velocity;
    } else {
        s.velocity[a] = velocity;
        s.coasting[a] = false;
    }
}

double VirtualCamera::recall_end() const {
    double end = now_;
    for (int a = 0; a < axis_count; ++a) {
        if (state_.seeking[a] && state_.velocity[a] != 0) {
            end = std::max(end, now_ + (seek_goal_[a] - state_.position.axis[a]) / state_.velocity[a]);
        }
    }
    return end;
}

void VirtualCamera::schedule(const visca::Bytes &bytes, double time, bool always) {
    if (model_.replies || always) {
        pending_.push_back({time, bytes});
        std::stable_sort(pending_.begin(), pending_.end(),
                         [](const Reply &a, const Reply &b) { return a.time < b.time; });
    }
}

const Received &VirtualCamera::receive(const visca::Bytes &bytes, double time) {
    advance(time);
    Received r;
    r.time = std::max(time, now_);
    r.effective = frame_after(r.time);
    r.message = visca::decode(bytes);
    const visca::Message &m = r.message;
    const visca::Bytes syntax_error = {0x90, 0x60, 0x02, 0xFF};

    int socket = -1;  // acted on: 0 an inquiry, else the socket holding the command
    if (m.is_inquiry()) {
        if (m.kind == Kind::Unknown) {
            r.note = "not understood";
            schedule(syntax_error, r.time, true);
        } else {
            socket = 0;
        }
    } else if (!m.is_command()) {
        r.note = "not a command, ignored";
    } else if (m.kind == Kind::Unknown) {
        r.note = "not understood";
        schedule(syntax_error, r.time);
    } else if (model_.profile.rejects_zero_speed && m.kind == Kind::PanTiltDrive &&
               (m.pan_speed == 0 || m.tilt_speed == 0)) {
        r.note = "rejected: speed byte 00";
        schedule(syntax_error, r.time);
    } else {
        socket = 1;
        if (!socket_busy_until_.empty()) {
            socket = 0;
            for (size_t s = 0; s < socket_busy_until_.size() && socket == 0; ++s) {
                if (socket_busy_until_[s] <= r.time) {
                    socket = static_cast<int>(s) + 1;
                    socket_busy_until_[s] = r.effective + model_.exec_ms / 1000.0;
                }
            }
        }
        if (socket == 0) {
            socket = -1;
            r.dropped = true;
            r.note = "buffer full, dropped";
            schedule({0x90, 0x60, 0x03, 0xFF}, r.time);
        } else {
            schedule({0x90, static_cast<uint8_t>(0x40 | socket), 0xFF}, r.time);
        }
    }
    history_.push_back(r);
    const size_t index = history_.size() - 1;
    if (socket >= 0) {
        if (r.effective <= now_) {
            act(index, socket);
        } else {
            queued_.emplace_back(index, socket);
        }
    }
    return history_[index];
}

void VirtualCamera::act(size_t index, int socket) {
    Received &r = history_[index];
    if (socket == 0) {
        answer(r);
        return;
    }
    apply(r);
    // A recall is in execution until the camera arrives; anything else for
    // about one video frame.
    double done = r.effective + model_.exec_ms / 1000.0;
    if (r.message.kind == Kind::Memory && r.message.code == 2) {
        done = std::max(done, recall_end());
    }
    if (!socket_busy_until_.empty()) {
        socket_busy_until_[static_cast<size_t>(socket - 1)] = done;
    }
    schedule({0x90, static_cast<uint8_t>(0x50 | socket), 0xFF}, done);
}

void VirtualCamera::answer(const Received &r) {
    const Profile &p = model_.profile;
    const CameraState &s = state_;
    const double *at = s.position.axis;
    visca::Bytes reply;
    switch (r.message.kind) {
    case Kind::PanTiltPositionInquiry:
        reply = visca::position_reply({p.pan.reply_units(at[pan]), p.tilt.reply_units(at[tilt])});
        break;
    case Kind::ZoomPositionInquiry:
        reply = visca::position_reply({static_cast<int>(lround(at[zoom]))});
        break;
    case Kind::FocusPositionInquiry:
        reply = visca::position_reply({static_cast<int>(lround(at[focus]))});
        break;
    case Kind::PanTiltStatusInquiry: {
        const bool moving = s.velocity[pan] != 0 || s.velocity[tilt] != 0 || start_[pan].waiting ||
                            start_[tilt].waiting;
        int ends = 0;
        if (p.pan.end_stops && at[pan] <= p.pan.min_degrees) ends |= visca::end_pan_left;
        if (p.pan.end_stops && at[pan] >= p.pan.max_degrees) ends |= visca::end_pan_right;
        if (p.tilt.end_stops && at[tilt] <= p.tilt.min_degrees) ends |= visca::end_tilt_down;
        if (p.tilt.end_stops && at[tilt] >= p.tilt.max_degrees) ends |= visca::end_tilt_up;
        reply = {0x90, 0x50, static_cast<uint8_t>(moving ? visca::status_moving : visca::status_stopped),
                 static_cast<uint8_t>(ends), 0xFF};
        break;
    }
    case Kind::VersionInquiry: {
        const int sockets = model_.slots() > 0 ? model_.slots() : 2;
        reply = {0x90, 0x50, static_cast<uint8_t>(p.vendor >> 8), static_cast<uint8_t>(p.vendor & 0xFF),
                 static_cast<uint8_t>(p.model >> 8), static_cast<uint8_t>(p.model & 0xFF),
                 static_cast<uint8_t>(p.rom >> 8), static_cast<uint8_t>(p.rom & 0xFF),
                 static_cast<uint8_t>(sockets), 0xFF};
        break;
    }
    case Kind::FocusModeInquiry:
        reply = {0x90, 0x50, static_cast<uint8_t>(s.focus_auto ? visca::focus_auto : visca::focus_manual), 0xFF};
        break;
    default:
        return;
    }
    schedule(reply, r.effective + p.reply_ms / 1000.0, true);
}

void VirtualCamera::apply(Received &r) {
    const visca::Message &m = r.message;
    CameraState &s = state_;
    switch (m.kind) {
    case Kind::PanTiltDrive:
        drive(pan, m.pan_dir * model_.pan_rate(m.pan_speed));
        drive(tilt, m.tilt_dir * model_.tilt_rate(m.tilt_speed));
        break;
    case Kind::ZoomDrive:
        s.velocity[zoom] = m.lens_dir * model_.zoom_rate(m.lens_speed < 0 ? 3 : m.lens_speed);
        s.seeking[zoom] = false;
        break;
    case Kind::FocusDrive:
        if (s.focus_auto && m.lens_dir != 0) {
            r.note = "ignored: focus is in auto mode";
            break;
        }
        s.velocity[focus] = m.lens_dir * model_.focus_rate(m.lens_speed < 0 ? 3 : m.lens_speed);
        s.seeking[focus] = false;
        break;
    case Kind::FocusMode:
        s.focus_auto = m.code == 0x02 ? true : m.code == 0x03 ? false : !s.focus_auto;
        if (s.focus_auto && !s.seeking[focus]) {
            s.velocity[focus] = 0;
        }
        break;
    case Kind::AeMode:
        s.ae_mode = m.code;
        break;
    case Kind::Bright:
        if (m.code == 0x00) {
            s.brightness = brightness_start;
        } else if (s.ae_mode != 0x0D) {
            r.note = "ignored: exposure mode is not bright";
        } else if (m.code == 0x02) {
            s.brightness = std::min(brightness_max, s.brightness + 1);
        } else {
            s.brightness = std::max(0, s.brightness - 1);
        }
        break;
    case Kind::Memory:
        if (m.code == 0) {
            s.memory.erase(m.number);
        } else if (m.code == 1) {
            s.memory[m.number] = s.position;
        } else if (s.memory.count(m.number) == 0) {
            r.note = "memory " + std::to_string(m.number) + " is empty";
        } else {
            seek(s.memory[m.number]);
        }
        break;
    case Kind::Backlight:
        s.backlight = m.on;
        break;
    case Kind::AutoIrCut:
        s.ircut_auto = m.on;
        break;
    case Kind::IrCutFilter:
        s.ircut_removed = m.on;
        break;
    case Kind::Relay:
        s.relay[m.number - 1] = m.on;
        break;
    case Kind::Menu:
        s.menu_open = m.on;
        break;
    default:
        break;
    }
}

std::vector<Reply> VirtualCamera::take_replies(double time) {
    advance(time);  // commands whose frame has come may answer
    std::vector<Reply> due;
    auto it = pending_.begin();
    while (it != pending_.end() && it->time <= time) {
        due.push_back(*it);
        ++it;
    }
    pending_.erase(pending_.begin(), it);
    return due;
}

double VirtualCamera::next_reply_time() const {
    double next = pending_.empty() ? -1 : pending_.front().time;
    if (!queued_.empty()) {
        const double acts = history_[queued_.front().first].effective;
        next = next < 0 ? acts : std::min(next, acts);
    }
    return next;
}

std::string VirtualCamera::summary() const {
    const CameraState &s = state_;
    char buf[512];
    snprintf(buf, sizeof buf,
             "pan %.3f, tilt %.3f, zoom %.0f, focus %.0f, brightness %d, focus %s, exposure %s, "
             "backlight %s, IR-cut %s%s, relays %s %s %s, menu %s, presets stored %zu%s",
             s.position.axis[pan], s.position.axis[tilt], s.position.axis[zoom], s.position.axis[focus],
             s.brightness, s.focus_auto ? "auto" : "manual", ae_name(s.ae_mode).c_str(),
             on_off(s.backlight), s.ircut_removed ? "removed" : "in place",
             s.ircut_auto ? " (auto)" : "", on_off(s.relay[0]), on_off(s.relay[1]), on_off(s.relay[2]),
             s.menu_open ? "open" : "closed", s.memory.size(), s.moving() ? ", moving" : "");
    return buf;
}

std::string VirtualCamera::state_lines() const {
    const CameraState &s = state_;
    char buf[1024];
    snprintf(buf, sizeof buf,
             "pan=%.4f\ntilt=%.4f\nzoom=%.2f\nfocus=%.2f\nbrightness=%d\nfocus_mode=%s\nae_mode=%s\n"
             "backlight=%s\nircut_auto=%s\nircut_filter=%s\nrelay1=%s\nrelay2=%s\nrelay3=%s\n"
             "menu=%s\npresets=%zu\nmoving=%s\nframes=%zu\n",
             s.position.axis[pan], s.position.axis[tilt], s.position.axis[zoom], s.position.axis[focus],
             s.brightness, s.focus_auto ? "auto" : "manual", ae_name(s.ae_mode).c_str(), on_off(s.backlight),
             on_off(s.ircut_auto), s.ircut_removed ? "removed" : "in", on_off(s.relay[0]),
             on_off(s.relay[1]), on_off(s.relay[2]), s.menu_open ? "open" : "closed", s.memory.size(),
             s.moving() ? "yes" : "no", history_.size());
    std::string out = buf;
    size_t dropped = 0;
    for (const Received &r : history_) {
        dropped += r.dropped ? 1 : 0;
    }
    out += "dropped=" + std::to_string(dropped) + "\n";
    return out;
}

}  // namespace camera
