// Sends replies the way a serial line carries them: a reply starts no
// earlier than its time and its bytes follow one another at the line's
// byte time (10 bits at 9600 baud: 1.0417 ms), however many are queued.
#ifndef SIM_PACER_H
#define SIM_PACER_H

#include <deque>
#include <utility>

#include "visca.h"

namespace camera {

class Pacer {
public:
    explicit Pacer(double byte_seconds) : byte_seconds_(byte_seconds) {}

    void push(const visca::Bytes &bytes, double time);
    // The bytes whose time has come by `now`, in order; each handed out once.
    visca::Bytes due(double now);
    // When the next byte is due; negative when nothing is queued.
    double next_time() const { return queue_.empty() ? -1 : queue_.front().first; }

private:
    double byte_seconds_;
    double line_free_ = 0;
    std::deque<std::pair<double, uint8_t>> queue_;
};

}  // namespace camera

#endif
