// The signals that stop a desk program's run: Ctrl-C, kill, a closed terminal or a
// dropped ssh session, and Ctrl-\. Each gets the paced safe stop, leaves a
// file being written as it was and ends the program with 128 + its number.
#ifndef DESK_COMMON_STOP_SIGNALS_H
#define DESK_COMMON_STOP_SIGNALS_H

#include <signal.h>

namespace common {

inline constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

inline sigset_t stop_signal_set() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : stop_signals) sigaddset(&set, s);
    return set;
}

// Every stop signal calls `handler`, which may only set a flag: no
// SA_RESTART, so that a wait in progress ends at once. A SIGHUP ignored
// from the start stays ignored: under nohup the run is meant to outlive
// the terminal.
inline void catch_stop_signals(void (*handler)(int)) {
    struct sigaction sa {}, was {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    for (int s : stop_signals) {
        if (s == SIGHUP && sigaction(s, nullptr, &was) == 0 && was.sa_handler == SIG_IGN) continue;
        sigaction(s, &sa, nullptr);
    }
}

// Holds the stop signals for its lifetime: one that comes meanwhile is
// handled when it ends.
class StopSignalsHeld {
public:
    StopSignalsHeld() {
        const sigset_t set = stop_signal_set();
        sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~StopSignalsHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
    StopSignalsHeld(const StopSignalsHeld &) = delete;
    StopSignalsHeld &operator=(const StopSignalsHeld &) = delete;

private:
    sigset_t old_;
};

}  // namespace common

#endif
