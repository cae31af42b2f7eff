#include "camera.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>

namespace sim {

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

bool has_end_stops(int axis) { return axis == zoom || axis == focus; }

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

VirtualCamera::VirtualCamera(const CameraModel &model) : model_(model) {}

void VirtualCamera::advance(double time) {
    const double dt = time - now_;
    if (!(dt > 0)) {
        return;
    }
    now_ = time;
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
        pos += vel * dt;
        if (has_end_stops(a)) {
            if (pos <= 0) {
                pos = 0;
                vel = 0;
            } else if (pos >= lens_span) {
                pos = lens_span;
                vel = 0;
            }
        }
    }
}

const CameraState &VirtualCamera::state_at(double time) {
    advance(time);
    return state_;
}

void VirtualCamera::seek(const Position &target) {
    const double full[axis_count] = {model_.pan_rate(0x12), model_.tilt_rate(0x0E),
                                     model_.zoom_rate(7), model_.focus_rate(7)};
    for (int a = 0; a < axis_count; ++a) {
        const double d = target.axis[a] - state_.position.axis[a];
        seek_goal_[a] = target.axis[a];
        if (d == 0) {
            state_.velocity[a] = 0;
            state_.seeking[a] = false;
        } else {
            state_.velocity[a] = d > 0 ? full[a] : -full[a];
            state_.seeking[a] = true;
        }
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

void VirtualCamera::schedule(const visca::Bytes &bytes, double time) {
    if (model_.replies) {
        pending_.push_back({time, bytes});
        std::stable_sort(pending_.begin(), pending_.end(),
                         [](const Reply &a, const Reply &b) { return a.time < b.time; });
    }
}

const Received &VirtualCamera::receive(const visca::Bytes &bytes, double time) {
    advance(time);
    Received r;
    r.time = std::max(time, now_);
    r.message = visca::decode(bytes);
    const visca::Message &m = r.message;

    if (!m.is_command()) {
        r.note = "not a command, ignored";
    } else if (m.kind == Kind::Unknown) {
        r.note = "not understood";
        schedule({0x90, 0x60, 0x02, 0xFF}, r.time);  // syntax error
    } else {
        int socket = 1;
        if (model_.buffer_limit) {
            socket = 0;
            for (int s = 0; s < 2 && socket == 0; ++s) {
                if (socket_busy_until_[s] <= r.time) {
                    socket = s + 1;
                }
            }
        }
        if (socket == 0) {
            r.dropped = true;
            r.note = "buffer full, dropped";
            schedule({0x90, 0x60, 0x03, 0xFF}, r.time);
        } else {
            schedule({0x90, static_cast<uint8_t>(0x40 | socket), 0xFF}, r.time);
            apply(r);
            // A recall is in execution until the camera arrives; anything
            // else for about one video frame.
            double done = r.time + model_.exec_ms / 1000.0;
            if (m.kind == Kind::Memory && m.code == 2) {
                done = std::max(done, recall_end());
            }
            if (model_.buffer_limit) {
                socket_busy_until_[socket - 1] = done;
            }
            schedule({0x90, static_cast<uint8_t>(0x50 | socket), 0xFF}, done);
        }
    }
    history_.push_back(r);
    return history_.back();
}

void VirtualCamera::apply(Received &r) {
    const visca::Message &m = r.message;
    CameraState &s = state_;
    switch (m.kind) {
    case Kind::PanTiltDrive:
        s.velocity[pan] = m.pan_dir * model_.pan_rate(m.pan_speed);
        s.velocity[tilt] = m.tilt_dir * model_.tilt_rate(m.tilt_speed);
        s.seeking[pan] = s.seeking[tilt] = false;
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
    case Kind::Ack:
    case Kind::Completion:
    case Kind::Error:
    case Kind::Unknown:
        break;
    }
}

std::vector<Reply> VirtualCamera::take_replies(double time) {
    std::vector<Reply> due;
    auto it = pending_.begin();
    while (it != pending_.end() && it->time <= time) {
        due.push_back(*it);
        ++it;
    }
    pending_.erase(pending_.begin(), it);
    return due;
}

double VirtualCamera::next_reply_time() const { return pending_.empty() ? -1 : pending_.front().time; }

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

}  // namespace sim
