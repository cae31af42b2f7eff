// A do-nothing host for measuring the driver: every service only counts its
// calls (writes also count bytes), sleeps return at once, and the parameter
// getters answer the descriptor's defaults. Nothing is logged or allocated.
#ifndef NULL_HOST_H
#define NULL_HOST_H

#include <stdint.h>

#include "ptz_host.h"

namespace null_host {

struct Counters {
    uint64_t writes = 0;
    uint64_t bytes = 0;
    uint64_t sleeps = 0;
    uint64_t other = 0;  // action start/completion, status, getters, poll
};

extern Counters counters;

// `cameras` = slots, every slot configured, camindex 0, suspended 0.
void reset(uint32_t slots);

// Every host call counted so far.
uint64_t host_calls();

}  // namespace null_host

#endif
