// The camera's on-screen menu: only open and close are supported; navigation
// is refused with an explanation for the host.
#include <syslog.h>

#include "camera.h"
#include "core/core.h"
#include "visca/visca.h"

namespace {

struct refusal {
    const char *logged;
    const char *message;
};

// Codes 2..7: up, down, left, right, select, back.
const refusal navigation[6] = {
    {"OSD-UP! Not supported OSD command!", "OSD-UP command not supported"},
    {"OSD-DOWN! Not supported OSD command!", "OSD-DOWN command not supported"},
    {"OSD-LEFT! Not supported OSD command!", "OSD-LEFT command not supported"},
    {"OSD-RIGHT! Not supported OSD command!", "OSD-RIGHT command not supported"},
    {"OSD-SELECT! Not supported OSD command!", "OSD-SELECT command not supported"},
    {"OSD-BACK! Not supported OSD command!", "OSD-BACK command not supported"},
};

}  // namespace

int osd_menu(int /*slot*/, int code) {
    const unsigned c = static_cast<unsigned>(code);  // negative codes count as large
    if (c <= 1) {
        const bool open = c == 1;
        if (send_short_frame(0x04, 0x15, open ? 0x02 : 0x03) != 0) {
            return 1;
        }
        syslog(LOG_WARNING, "%s", open ? "Command OSD-OPEN failed!" : "Command OSD-CLOSE failed!");
        set_drivermsg("failed");
        return 0;
    }
    if (c <= 7) {
        const refusal &r = navigation[c - 2];
        syslog(LOG_INFO, "%s", r.logged);
        set_drivermsg(r.message);
        return 0;
    }
    syslog(LOG_WARNING, "%s", "Not supported or implemented OSD command!");
    set_drivermsg("Not supported or implemented OSD command!");
    return 0;
}
