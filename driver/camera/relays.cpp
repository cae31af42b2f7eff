// The three auxiliary relays, with their interlocks and the timed pulse of
// relays 1 and 2. relay_state is the driver's belief, never a reading.
#include <stdint.h>
#include <string.h>
#include <syslog.h>
#include <time.h>

#include "camera.h"
#include "core/core.h"
#include "visca/visca.h"

namespace {

constexpr long ns_per_s = 1000000000L;

uint8_t relay_mask(unsigned relay) { return static_cast<uint8_t>(1u << (relay - 1)); }

bool relay_on(int slot, unsigned relay) { return (cam_params[slot].relay_state & relay_mask(relay)) != 0; }

// Keeps relay N on for t ms, in half-second sleeps while whole seconds remain
// so that the host can cut the pulse short, then switches it off.
int relay_pulse(int slot, unsigned relay, int32_t t) {
    if (t <= 0) {
        return 1;  // no pulse configured: the relay stays on
    }
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    timespec deadline = now;
    deadline.tv_sec += t / 1000;
    deadline.tv_nsec += static_cast<long>(t % 1000) * 1000000L;
    if (deadline.tv_nsec > ns_per_s - 1) {
        deadline.tv_nsec -= ns_per_s;
        deadline.tv_sec += 1;
    }
    timespec remaining = {};
    remaining.tv_sec = t / 1000;
    remaining.tv_nsec = static_cast<long>(t % 1000) * 1000000L;

    bool cut_short = false;
    while (remaining.tv_sec > 0) {
        const int slept = ptz_usleep(500000);
        clock_gettime(CLOCK_MONOTONIC, &now);
        remaining.tv_sec = deadline.tv_sec - now.tv_sec;
        remaining.tv_nsec = deadline.tv_nsec - now.tv_nsec;
        if (remaining.tv_nsec < 0) {
            remaining.tv_nsec += ns_per_s;
            remaining.tv_sec -= 1;
        }
        if (slept == 0) {
            cut_short = true;
            break;
        }
    }
    // Once the deadline has passed there is nothing left to sleep.
    if (!cut_short && remaining.tv_sec >= 0 && remaining.tv_nsec >= 1000) {
        if (ptz_usleep(static_cast<unsigned>(remaining.tv_nsec / 1000)) == 0) {
            cut_short = true;
        }
    }
    if (cut_short) {
        syslog(LOG_INFO, relay == 1 ? "Suspended while activating relay 1!"
                                    : "Suspended while activating relay 2!");
        send_relay_cmd(slot, relay, 0);
        return 0;
    }
    return send_relay_cmd(slot, relay, 0) != 0 ? 1 : 0;
}

// Switches each listed relay off where it is believed on; 0 as soon as one
// frame fails, so the command goes no further.
bool interlock_off(int slot, unsigned first, unsigned second) {
    const unsigned relays[2] = {first, second};
    for (unsigned relay : relays) {
        if (relay != 0 && relay_on(slot, relay) && send_relay_cmd(slot, relay, 0) == 0) {
            return false;
        }
    }
    return true;
}

struct relay_command {
    const char *text;
    unsigned relay;
    int on;
    unsigned interlock_first;   // 0 = none
    unsigned interlock_second;  // 0 = none
};

const relay_command relay_commands[] = {
    {"relay1:on", 1, 1, 2, 0},  {"relay1:off", 1, 0, 0, 0}, {"relay2:on", 2, 1, 1, 0},
    {"relay2:off", 2, 0, 0, 0}, {"relay3:on", 3, 1, 1, 2},      {"relay3:off", 3, 0, 1, 2},
};

}  // namespace

int send_relay_cmd(int slot, unsigned relay, int on) {
    const uint8_t codes[3] = {0xA0, 0xB0, 0xC0};
    const unsigned char frame[6] = {0x81, 0x01, 0x06, 0x00,
                                    static_cast<unsigned char>(codes[relay - 1] | (on != 0 ? 0x02 : 0x03)),
                                    0xFF};
    const uint8_t before = cam_params[slot].relay_state;
    if (ptz_write_port(frame, static_cast<int>(sizeof frame)) != 0) {
        const uint8_t mask = relay_mask(relay);
        cam_params[slot].relay_state = static_cast<uint8_t>(on != 0 ? (before | mask) : (before & ~mask));
        return 1;
    }
    syslog(LOG_ERR, "Error: %s[%d]%s(): Failed sending relay command(relay=%u, state=%s)!", "tavrinode",
           1860, "send_relay_cmd", relay, on != 0 ? "ON" : "OFF");
    return 0;
}

int auxiliary(int slot, const char *command) {
    const relay_command *match = nullptr;
    if (command != nullptr) {
        for (const relay_command &c : relay_commands) {
            if (strcmp(command, c.text) == 0) {
                match = &c;
                break;
            }
        }
    }
    if (match == nullptr) {
        syslog(LOG_ERR, "Error: %s[%d]%s(): Command not recognized!", "tavrinode", 1243, "driver_auxiliary");
        return 0;
    }
    // Asking for the state the driver believes in sends nothing.
    if (relay_on(slot, match->relay) == (match->on != 0)) {
        return 1;
    }
    if (!interlock_off(slot, match->interlock_first, match->interlock_second)) {
        return 0;
    }
    if (send_relay_cmd(slot, match->relay, match->on) == 0) {
        return 0;
    }
    if (match->on == 0 || match->relay == 3) {
        return 1;
    }
    const int32_t t = match->relay == 1 ? cam_params[slot].relay1_on_time : cam_params[slot].relay2_on_time;
    return relay_pulse(slot, match->relay, t);
}
