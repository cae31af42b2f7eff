// --realtime: a real-time scheduling class and locked memory, so that the
// host's sleeps end on time while other programs load the machine.
#include <errno.h>
#include <sched.h>
#include <string.h>
#include <sys/mman.h>

#include "runtime.h"

namespace host {

void go_realtime() {
    std::string refused;
    // Below the kernel's own real-time threads; the line readers inherit it.
    struct sched_param param;
    memset(&param, 0, sizeof param);
    param.sched_priority = sched_get_priority_min(SCHED_FIFO) + 9;
    if (sched_setscheduler(0, SCHED_FIFO, &param) != 0) {
        refused += std::string("real-time scheduling refused (") + strerror(errno) + ")";
    }
    if (mlockall(MCL_CURRENT | MCL_FUTURE) != 0) {
        refused += (refused.empty() ? "" : "; ") + std::string("locking memory refused (") + strerror(errno) + ")";
    }
    say(refused.empty() ? "realtime: SCHED_FIFO priority " + std::to_string(param.sched_priority) +
                              ", memory locked"
                        : "realtime: " + refused + "; running without it");
}

}  // namespace host
