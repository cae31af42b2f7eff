// Messages a line's reader thread has received, for the one place where the
// host waits for an answer: the position inquiries of a verification run.
#ifndef SIM_HOST_REPLY_BOX_H
#define SIM_HOST_REPLY_BOX_H

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "visca.h"

namespace host {

class ReplyBox {
public:
    void push(const visca::Bytes &message) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (messages_.size() < 64) messages_.push_back(message);
        ready_.notify_all();
    }

    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.clear();
    }

    // The first inquiry reply (90 50 .. FF) or error reply (9x 6y .. FF)
    // within `seconds`; acknowledge and completion replies are passed over.
    std::optional<visca::Bytes> wait_answer(double seconds) {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (true) {
            while (!messages_.empty()) {
                visca::Bytes m = messages_.front();
                messages_.pop_front();
                if (m.size() >= 3 && (m[0] & 0xF0) == 0x90 && (m[1] == 0x50 || (m[1] & 0xF0) == 0x60)) return m;
            }
            if (ready_.wait_until(lock, until) == std::cv_status::timeout && messages_.empty()) return std::nullopt;
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<visca::Bytes> messages_;
};

}  // namespace host

#endif
