#include "pacer.h"

#include <algorithm>

namespace camera {

void Pacer::push(const visca::Bytes &bytes, double time) {
    double at = std::max(time, line_free_);
    for (uint8_t b : bytes) {
        queue_.emplace_back(at, b);
        at += byte_seconds_;
    }
    line_free_ = at;
}

visca::Bytes Pacer::due(double now) {
    visca::Bytes out;
    while (!queue_.empty() && queue_.front().first <= now) {
        out.push_back(queue_.front().second);
        queue_.pop_front();
    }
    return out;
}

}  // namespace camera
