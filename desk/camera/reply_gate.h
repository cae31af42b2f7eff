// What a camera's serial line gets of its replies when the line stalls: a
// reply the line has begun to take is finished before anything else, and a
// reply it has not begun is dropped whole, so that the other side never
// sees a cut frame joined to the next one.
#ifndef SIM_REPLY_GATE_H
#define SIM_REPLY_GATE_H

#include <stddef.h>

#include "visca.h"

namespace camera {

class ReplyGate {
public:
    // The bytes to write now: the rest of a reply the line has begun, then
    // `due` (less the rest of a reply being dropped).
    visca::Bytes next(const visca::Bytes &due);
    // How many of the last next() bytes the line took. What is left of a
    // reply begun goes first next time; the replies after it are dropped.
    void took(size_t count);

    // The line holds the start of a reply without its end.
    bool cut() const { return begun_; }
    // Bytes are owed to a reply begun: write them when the line has room.
    bool owing() const { return !owed_.empty(); }
    size_t bytes_dropped() const { return bytes_dropped_; }
    size_t replies_dropped() const { return replies_dropped_; }

private:
    visca::Bytes pending_;  // the last next()
    visca::Bytes owed_;
    bool begun_ = false;     // the last byte the line took was not a terminator
    bool dropping_ = false;  // the bytes to come are the rest of a dropped reply
    size_t bytes_dropped_ = 0, replies_dropped_ = 0;
};

}  // namespace camera

#endif
