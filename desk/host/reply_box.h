// Messages a line's reader thread has received, for the one place where the
// host waits for an answer: the position inquiries of a verification run.
#ifndef SIM_HOST_REPLY_BOX_H
#define SIM_HOST_REPLY_BOX_H

#include <stdint.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "visca.h"

namespace host {

class ReplyBox {
public:
    // `sequence`: the number of the request the message answers, on a line
    // that says so.
    void push(const visca::Bytes &message, std::optional<uint32_t> sequence = std::nullopt) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (messages_.size() < 64) messages_.emplace_back(message, sequence);
        ready_.notify_all();
    }

    // The line reported a fault (nobody listens, the connection closed):
    // a waiting inquiry ends with it rather than at its timeout.
    void fail(const std::string &why) {
        std::lock_guard<std::mutex> lock(mutex_);
        failure_ = why;
        ready_.notify_all();
    }

    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.clear();
        failure_.clear();
    }

    // The first inquiry reply (90 50 .. FF) or error reply (9x 6y .. FF)
    // within `seconds`; acknowledge and completion replies are passed over,
    // and with `sequence` so is every reply that answers another request.
    // Without an answer, `failure` gets the line's fault if one was reported.
    std::optional<visca::Bytes> wait_answer(double seconds, std::optional<uint32_t> sequence = std::nullopt,
                                            std::string *failure = nullptr) {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (true) {
            while (!messages_.empty()) {
                auto [m, answers] = messages_.front();
                messages_.pop_front();
                if (sequence && answers && *answers != *sequence) continue;
                if (m.size() >= 3 && (m[0] & 0xF0) == 0x90 && (m[1] == 0x50 || (m[1] & 0xF0) == 0x60)) return m;
            }
            if (!failure_.empty()) {
                if (failure != nullptr) *failure = failure_;
                return std::nullopt;
            }
            if (ready_.wait_until(lock, until) == std::cv_status::timeout && messages_.empty()) return std::nullopt;
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::pair<visca::Bytes, std::optional<uint32_t>>> messages_;
    std::string failure_;
};

}  // namespace host

#endif
