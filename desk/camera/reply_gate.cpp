#include "reply_gate.h"

#include <algorithm>

namespace camera {

namespace {

constexpr uint8_t terminator = 0xFF;

// Past the first terminator from `from`, or the end.
visca::Bytes::const_iterator past_end(visca::Bytes::const_iterator from, visca::Bytes::const_iterator end) {
    const auto ff = std::find(from, end, terminator);
    return ff == end ? end : ff + 1;
}

}  // namespace

visca::Bytes ReplyGate::next(const visca::Bytes &due) {
    auto from = due.begin();
    if (dropping_) {
        from = past_end(due.begin(), due.end());
        dropping_ = from == due.end() && (due.empty() || due.back() != terminator);
        bytes_dropped_ += static_cast<size_t>(from - due.begin());
    }
    pending_ = owed_;
    pending_.insert(pending_.end(), from, due.end());
    owed_.clear();
    return pending_;
}

void ReplyGate::took(size_t count) {
    count = std::min(count, pending_.size());
    if (count > 0) begun_ = pending_[count - 1] != terminator;
    auto rest = pending_.cbegin() + static_cast<long>(count);
    if (begun_) {
        const auto end = past_end(rest, pending_.cend());
        owed_.assign(rest, end);
        rest = end;
    }
    // From here on whole replies, the last perhaps not all due yet.
    const size_t dropped = static_cast<size_t>(pending_.cend() - rest);
    if (dropped > 0) {
        bytes_dropped_ += dropped;
        replies_dropped_ += static_cast<size_t>(std::count(rest, pending_.cend(), terminator));
        dropping_ = pending_.back() != terminator;
        if (dropping_) ++replies_dropped_;
    }
    pending_.clear();
}

}  // namespace camera
